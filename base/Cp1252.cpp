#include "base/Cp1252.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace tarvolen::cp1252 {
namespace {

// Code points of bytes 0x80-0x9F; the five undefined bytes map to themselves.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char32_t toUnicode(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) return kHigh[byte - 0x80];
    return byte;
}

char fromUnicode(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == cp) return static_cast<char>(0x80 + i);
    }
    return '?';
}

namespace {

// Length of the well-formed UTF-8 sequence at `at` and its code point; 0 when malformed.
size_t decodeSequence(std::string_view text, size_t at, char32_t& cp) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    size_t len = 0;
    if ((c & 0xE0) == 0xC0) {
        len = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (len > text.size() - at) return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto cc = static_cast<unsigned char>(text[at + k]);
        if ((cc & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return len;
}

}  // namespace

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ULL;

// How many bytes from `at` on are ASCII, counted eight at a time and then one by one.
size_t asciiRun(std::string_view text, size_t at) {
    size_t i = at;
    while (text.size() - i >= 8) {
        uint64_t word = 0;
        std::memcpy(&word, text.data() + i, sizeof word);
        if ((word & kHighBits) != 0) break;
        i += 8;
    }
    while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
    return i - at;
}

}  // namespace

size_t firstNonUtf8(std::string_view text) {
    char32_t cp = 0;
    for (size_t i = 0; i < text.size();) {
        i += asciiRun(text, i);
        if (i == text.size()) break;
        const size_t len = decodeSequence(text, i, cp);
        if (len == 0) return i;
        i += len;
    }
    return std::string_view::npos;
}

bool isValidUtf8(std::string_view text) {
    return firstNonUtf8(text) == std::string_view::npos;
}

bool hasHighBytes(std::string_view text) {
    return asciiRun(text, 0) < text.size();
}

std::optional<size_t> fromUtf8Marking(std::string_view utf8, std::string& out,
                                      std::vector<Utf8Substitution>& substitutions) {
    out.clear();
    out.reserve(utf8.size());
    char32_t cp = 0;
    for (size_t i = 0; i < utf8.size();) {
        const size_t ascii = asciiRun(utf8, i);
        out.append(utf8.data() + i, ascii);
        i += ascii;
        if (i == utf8.size()) break;
        const size_t len = decodeSequence(utf8, i, cp);
        if (len == 0) return i;
        const char byte = fromUnicode(cp);
        if (byte == '?') substitutions.push_back({i, out.size(), cp});
        out += byte;
        i += len;
    }
    return std::nullopt;
}

std::string fromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    char32_t cp = 0;
    for (size_t i = 0; i < utf8.size();) {
        const size_t len = decodeSequence(utf8, i, cp);
        // A malformed byte must not swallow the bytes after it (a closing quote, say).
        out += len == 0 ? '?' : fromUnicode(cp);
        i += len == 0 ? 1 : len;
    }
    return out;
}

std::string toUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) appendUtf8(out, toUnicode(static_cast<unsigned char>(c)));
    return out;
}

char toUpper(char c) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z') return static_cast<char>(b - 32);
    // à..þ except ÷ map to À..Þ; š œ ž ÿ have their capitals in the 0x80 block.
    if (b >= 0xE0 && b <= 0xFE && b != 0xF7) return static_cast<char>(b - 32);
    switch (b) {
        case 0x9A:
            return static_cast<char>(0x8A);
        case 0x9C:
            return static_cast<char>(0x8C);
        case 0x9E:
            return static_cast<char>(0x8E);
        case 0xFF:
            return static_cast<char>(0x9F);
        default:
            return c;
    }
}

}  // namespace tarvolen::cp1252
