#include "engine/Versione.h"

#include <cstdio>

namespace tarvolen {

namespace {

// Position (from 1) of the first '.' at or after `start`; 0 when there is none.
size_t findDot(std::string_view text, size_t start) {
    if (start < 1 || start > text.size()) return 0;
    size_t at = text.find('.', start - 1);
    return at == std::string_view::npos ? 0 : at + 1;
}

// Piece from `start` (from 1); a negative length or a start past the end gives an empty piece,
// a length running past the end stops there.
std::string_view piece(std::string_view text, int64_t start, int64_t length) {
    if (length < 0 || start < 1 || start > static_cast<int64_t>(text.size())) return {};
    return text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(length));
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The signed 32-bit number the whole piece spells, or 0 when it spells none.
int32_t pieceNumber(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == s.size()) return 0;

    // Digits are gathered in 64 bits and checked against the limit as they come, so any
    // number of digits is safe.
    const uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 2147483648ull : 2147483647ull);
    uint64_t value = 0;
    for (; i < s.size(); ++i) {
        int digit = hex ? hexDigit(s[i]) : (s[i] >= '0' && s[i] <= '9' ? s[i] - '0' : -1);
        if (digit < 0) return 0;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (value > limit) return 0;
    }
    // Hex digits are a 32-bit pattern: FFFFFFFF is -1, and a sign applies to the pattern.
    uint32_t bits = static_cast<uint32_t>(value);
    if (negative) bits = 0u - bits;
    return static_cast<int32_t>(bits);
}

int sign(int32_t a, int32_t b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

std::unique_ptr<TVersione> TVersione::CreateFromText(std::string_view text) {
    auto version = std::make_unique<TVersione>();
    version->Parse(text);
    return version;
}

void TVersione::Parse(std::string_view text) {
    // A missing dot gives position 0, so the next piece restarts at position 1: this is why
    // "1.2" reads as 1.0.1.2.
    const auto p1 = static_cast<int64_t>(findDot(text, 1));
    Major = pieceNumber(piece(text, 1, p1 - 1));
    const int64_t s2 = p1 + 1;
    const auto p2 = static_cast<int64_t>(findDot(text, static_cast<size_t>(s2)));
    Minor = pieceNumber(piece(text, s2, p2 - s2));
    const int64_t s3 = p2 + 1;
    const auto p3 = static_cast<int64_t>(findDot(text, static_cast<size_t>(s3)));
    Release = pieceNumber(piece(text, s3, p3 - s3));
    const int64_t s4 = p3 + 1;
    Build = pieceNumber(piece(text, s4, static_cast<int64_t>(text.size())));
}

std::string TVersione::AsText() const {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%d.%d.%d.%d", static_cast<int>(Major),
                  static_cast<int>(Minor), static_cast<int>(Release), static_cast<int>(Build));
    return buffer;
}

int TVersione::CompareTo(const TVersione& other) const {
    const int weighted = 1000 * sign(Major, other.Major) + 100 * sign(Minor, other.Minor) +
                         10 * sign(Release, other.Release) + sign(Build, other.Build);
    return weighted < 0 ? -1 : (weighted > 0 ? 1 : 0);
}

int TVersione::CompareToText(std::string_view text) const {
    const auto other = CreateFromText(text);
    return CompareTo(*other);
}

bool IsCleanVersionText(std::string_view text) {
    int pieces = 0;
    size_t start = 0;
    while (true) {
        const size_t dot = text.find('.', start);
        const std::string_view digits = text.substr(
            start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (digits.empty() || digits.size() > 10) return false;
        uint64_t value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + static_cast<uint64_t>(c - '0');
        }
        if (value > 2147483647ull) return false;
        ++pieces;
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return pieces == 4;
}

void TVersione::Assign(const TVersione& other) {
    Major = other.Major;
    Minor = other.Minor;
    Release = other.Release;
    Build = other.Build;
}

}  // namespace tarvolen
