#pragma once
// Windows-1252, the code page all text has inside the program.

#include <string>
#include <string_view>

namespace tarvolen::cp1252 {

// Unicode code point of a Windows-1252 byte (undefined bytes map to themselves).
char32_t toUnicode(unsigned char byte);
// Windows-1252 byte of a code point, or '?' when the code page lacks it.
char fromUnicode(char32_t codePoint);
// True when the text is valid UTF-8.
bool isValidUtf8(std::string_view text);
// UTF-8 -> Windows-1252 ('?' for characters the code page lacks and for each malformed byte).
std::string fromUtf8(std::string_view utf8);
// Appends a code point in UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);
// Windows-1252 -> UTF-8, for terminals and windows.
std::string toUtf8(std::string_view text);
// Upper-case mapping of the code page, accented letters included.
char toUpper(char c);

}  // namespace tarvolen::cp1252
