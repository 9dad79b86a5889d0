#pragma once
// Text rules of the settings files and the registry. Inside the settings code every text is
// UTF-8; files arrive as UTF-16LE (with its byte-order mark), UTF-8 or 8-bit Windows-1252, and
// are turned into UTF-8 once, when they are read.

#include <optional>
#include <string>
#include <string_view>

namespace tarvolen::settings {

// The file's bytes as UTF-8 text: a UTF-16LE or UTF-8 byte-order mark decides the encoding and
// is dropped; bytes without a mark are taken as UTF-8 when they are valid UTF-8, else as
// Windows-1252. Nullopt for text that cannot be decoded (a UTF-16BE mark, an odd number of
// UTF-16 bytes, unpaired surrogates).
std::optional<std::string> decodeTextFile(std::string_view bytes);

// UTF-16LE code units as UTF-8, up to the first NUL unit (or the end). A trailing odd byte is
// ignored; an unpaired surrogate becomes U+FFFD.
std::string utf16leToUtf8(std::string_view bytes);

// Whole-text equality and ordering without regard to letter case, letter by letter on the
// upper-case forms of the Latin, Greek and Cyrillic letters, as the registry compares names.
bool equalsNoCase(std::string_view a, std::string_view b);
bool lessNoCase(std::string_view a, std::string_view b);

// Ordering object for maps keyed without regard to case.
struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const { return lessNoCase(a, b); }
};

// Number of code points of UTF-8 text, and its first `count` code points.
size_t codePointCount(std::string_view utf8);
std::string firstCodePoints(std::string_view utf8, size_t count);

}  // namespace tarvolen::settings
