#pragma once
// Text rules shared by every layer. Text inside the program is 8-bit Windows-1252: letter case
// follows that code page's mapping (accented letters included), and a "blank" is any code from
// 0 to 32, as the plan and its scripts treat them.

#include <string_view>

namespace tarvolen {

// True for codes 0 to 32: blanks, tabs, line breaks and other control characters.
inline bool isBlankChar(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// True when the text holds nothing but blanks (an empty text included).
bool isBlank(std::string_view text);

// The text without blanks at either end, or only at its end.
std::string_view trimmed(std::string_view text);
std::string_view trimmedRight(std::string_view text);

// Whole-text equality and ordering without regard to letter case, by the Windows-1252 mapping.
bool equalsNoCase(std::string_view a, std::string_view b);
bool lessNoCase(std::string_view a, std::string_view b);

}  // namespace tarvolen
