#pragma once
// Version numbers of the form a.b.c.d: the database's version and each phase's target.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tarvolen {

class TVersione {
  public:
    TVersione() = default;
    // A version read from text with Parse.
    static std::unique_ptr<TVersione> CreateFromText(std::string_view text);

    // Overwrites all four components from a.b.c.d text. Never fails: a piece that does not
    // read as a number gives 0.
    void Parse(std::string_view text);
    // "%d.%d.%d.%d"
    std::string AsText() const;
    // -1, 0 or +1 as this version is below, equal to or above `other`.
    int CompareTo(const TVersione& other) const;
    int CompareToText(std::string_view text) const;
    void Assign(const TVersione& other);

    int32_t Major = 0;
    int32_t Minor = 0;
    int32_t Release = 0;
    int32_t Build = 0;
};

}  // namespace tarvolen
