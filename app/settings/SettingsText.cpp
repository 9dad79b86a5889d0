#include "app/settings/SettingsText.h"

#include "base/Cp1252.h"

namespace tarvolen::settings {
namespace {

// Decodes one code point of valid UTF-8 at `i`, moving `i` past it. Invalid bytes read as
// themselves, one at a time, so comparison never fails.
char32_t nextCodePoint(std::string_view s, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    size_t length = 1;
    char32_t cp = b0;
    if (b0 >= 0xC0 && b0 < 0xE0) {
        length = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 < 0xF0) {
        length = 3;
        cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 < 0xF8) {
        length = 4;
        cp = b0 & 0x07;
    }
    if (length > 1) {
        if (i + length > s.size()) {
            ++i;
            return b0;
        }
        for (size_t k = 1; k < length; ++k) {
            if ((byte(i + k) & 0xC0) != 0x80) {
                ++i;
                return b0;
            }
            cp = (cp << 6) | (byte(i + k) & 0x3F);
        }
    }
    i += length;
    return cp;
}

// Upper-case form of a letter of the Latin-1, Latin Extended-A, Greek and Cyrillic blocks.
char32_t foldCase(char32_t c) {
    if (c >= 'a' && c <= 'z') return c - 32;
    if (c < 0x80) return c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    if (c == 0xFF) return 0x178;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c & ~char32_t{1};
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
    if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return c - 0x20;
    if (c == 0x3C2) return 0x3A3;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c;
}

int compareNoCase(std::string_view a, std::string_view b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t x = foldCase(nextCodePoint(a, i));
        const char32_t y = foldCase(nextCodePoint(b, j));
        if (x != y) return x < y ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

bool isHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// UTF-16LE to UTF-8; `strict` refuses unpaired surrogates, otherwise they become U+FFFD.
std::optional<std::string> decodeUtf16le(std::string_view bytes, bool stopAtNul, bool strict) {
    std::string out;
    out.reserve(bytes.size() / 2);
    const size_t units = bytes.size() / 2;
    auto unit = [&](size_t k) {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * k]) |
                                     (static_cast<unsigned char>(bytes[2 * k + 1]) << 8));
    };
    for (size_t k = 0; k < units; ++k) {
        const char16_t u = unit(k);
        if (u == 0 && stopAtNul) break;
        char32_t cp = u;
        if (isHighSurrogate(u) && k + 1 < units && isLowSurrogate(unit(k + 1))) {
            cp = 0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{unit(k + 1)} - 0xDC00);
            ++k;
        } else if (isHighSurrogate(u) || isLowSurrogate(u)) {
            if (strict) return std::nullopt;
            cp = 0xFFFD;
        }
        cp1252::appendUtf8(out, cp);
    }
    return out;
}

}  // namespace

std::optional<std::string> decodeTextFile(std::string_view bytes) {
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        bytes.remove_prefix(2);
        if (bytes.size() % 2 != 0) return std::nullopt;
        return decodeUtf16le(bytes, false, true);
    }
    if (bytes.substr(0, 2) == "\xFE\xFF") return std::nullopt;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
        if (!cp1252::isValidUtf8(bytes)) return std::nullopt;
        return std::string(bytes);
    }
    if (cp1252::isValidUtf8(bytes)) return std::string(bytes);
    return cp1252::toUtf8(bytes);
}

std::string utf16leToUtf8(std::string_view bytes) {
    return *decodeUtf16le(bytes, true, false);
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return compareNoCase(a, b) == 0;
}

bool lessNoCase(std::string_view a, std::string_view b) {
    return compareNoCase(a, b) < 0;
}

size_t codePointCount(std::string_view utf8) {
    size_t count = 0;
    for (size_t i = 0; i < utf8.size(); ++count) nextCodePoint(utf8, i);
    return count;
}

std::string firstCodePoints(std::string_view utf8, size_t count) {
    size_t i = 0;
    for (size_t n = 0; n < count && i < utf8.size(); ++n) nextCodePoint(utf8, i);
    return std::string(utf8.substr(0, i));
}

}  // namespace tarvolen::settings
