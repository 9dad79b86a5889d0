#pragma once
// Windows-1252, the code page all text has inside the program.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvolen::cp1252 {

// Unicode code point of a Windows-1252 byte (undefined bytes map to themselves).
char32_t toUnicode(unsigned char byte);
// Windows-1252 byte of a code point, or '?' when the code page lacks it.
char fromUnicode(char32_t codePoint);
// True when the text is valid UTF-8.
bool isValidUtf8(std::string_view text);
// Offset of the first byte that is not part of a well-formed UTF-8 sequence; npos when the whole
// text is UTF-8. Runs of ASCII are passed over eight bytes at a time.
size_t firstNonUtf8(std::string_view text);
// True when the text holds a byte above 127.
bool hasHighBytes(std::string_view text);
// UTF-8 -> Windows-1252 ('?' for characters the code page lacks and for each malformed byte).
std::string fromUtf8(std::string_view utf8);
// A character the code page lacks, where fromUtf8Marking put "?" in its place: its offset in
// the UTF-8 text, the offset of the "?" in the result, and the character.
struct Utf8Substitution {
    size_t from = 0;
    size_t to = 0;
    char32_t codePoint = 0;
};
// UTF-8 -> Windows-1252 as fromUtf8, noting each "?" put in place of a character the code page
// lacks, but stopping at the first byte that is not part of a well-formed sequence: its offset,
// or nullopt when the whole text is UTF-8.
std::optional<size_t> fromUtf8Marking(std::string_view utf8, std::string& out,
                                      std::vector<Utf8Substitution>& substitutions);
// Appends a code point in UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);
// Windows-1252 -> UTF-8, for terminals and windows.
std::string toUtf8(std::string_view text);
// Upper-case mapping of the code page, accented letters included.
char toUpper(char c);

}  // namespace tarvolen::cp1252
