#pragma once
// A phase the database holds whose done-mark reached neither the journal nor the plan file: the
// walk ends, and the one line it logs says what the next run will do with the phase.

#include <stdexcept>
#include <string>

namespace tarvolen {

class MarkNotSaved : public std::runtime_error {
  public:
    // `logLine` as MarkNotSavedLine makes it.
    explicit MarkNotSaved(const std::string& logLine) : std::runtime_error(logLine) {}
};

}  // namespace tarvolen
