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

// True when the text is exactly four decimal numbers joined by dots ("1.2.0.0"), each within
// 0..2147483647: text that Parse reads as written. Blanks, signs, hexadecimal, missing or extra
// pieces ("1.1", "v1.2.0.0", "1.2.3.4 ") are not clean, although Parse never refuses them.
bool IsCleanVersionText(std::string_view text);

}  // namespace tarvolen
