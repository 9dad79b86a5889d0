#pragma once
// What the layout of one packet may hold in all: at most 65535 field and dataset attributes
// together, and 262144 numbers in their arrays (the change log apart, which is held compactly).
// Each attribute takes a hundred bytes or so in memory however few it takes in a file, so these
// bounds are what keeps a packet's layout within a few megabytes whatever its file says. Both
// readers count against them as they read and refuse more with "Invalid parameter.".

#include <cstddef>

#include "plan/Errors.h"

namespace tarvolen {

class LayoutBudget {
  public:
    static constexpr size_t kMaxAttributes = 65535;
    static constexpr size_t kMaxArrayElements = 262144;

    void addAttribute() {
        if (++m_attributes > kMaxAttributes) throw dberr::invalidParameter();
    }
    void addArrayElements(size_t count) {
        if (count > kMaxArrayElements - m_elements) throw dberr::invalidParameter();
        m_elements += count;
    }

  private:
    size_t m_attributes = 0;
    size_t m_elements = 0;
};

}  // namespace tarvolen
