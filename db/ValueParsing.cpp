#include "db/ValueParsing.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "base/Calendar.h"
#include "base/Text.h"

namespace tarvolen::database {

namespace {

__extension__ typedef __int128 Int128;  // exact decimal arithmetic, past int64 before checks

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool readNumber(std::string_view& s, size_t minDigits, size_t maxDigits, int& out) {
    size_t n = 0;
    out = 0;
    while (n < s.size() && n < maxDigits && isDigit(s[n])) out = out * 10 + (s[n++] - '0');
    if (n < minDigits) return false;
    s.remove_prefix(n);
    return true;
}

bool take(std::string_view& s, char c) {
    if (s.empty() || s[0] != c) return false;
    s.remove_prefix(1);
    return true;
}

// YYYY-MM-DD, or DD.MM.YYYY / DD/MM/YYYY as operators write dates.
bool parseDatePart(std::string_view& s, Date& d) {
    std::string_view t = s;
    if (readNumber(t, 4, 4, d.year) && take(t, '-') && readNumber(t, 1, 2, d.month) &&
        take(t, '-') && readNumber(t, 1, 2, d.day)) {
        s = t;
        return validDate(d);
    }
    t = s;
    if (!readNumber(t, 1, 2, d.day) || t.empty() || (t[0] != '.' && t[0] != '/')) return false;
    const char sep = t[0];
    t.remove_prefix(1);
    if (!readNumber(t, 1, 2, d.month) || !take(t, sep) || !readNumber(t, 4, 4, d.year))
        return false;
    s = t;
    return validDate(d);
}

// HH:MM[:SS[.f...]], fraction kept to ten-thousandths.
bool parseTimePart(std::string_view& s, Time& t) {
    std::string_view r = s;
    if (!readNumber(r, 1, 2, t.hour) || !take(r, ':') || !readNumber(r, 2, 2, t.minute))
        return false;
    t.second = 0;
    t.fraction = 0;
    if (take(r, ':')) {
        if (!readNumber(r, 2, 2, t.second)) return false;
        if (take(r, '.')) {
            int scale = 1000;
            size_t n = 0;
            while (n < r.size() && isDigit(r[n])) {
                t.fraction += (r[n] - '0') * scale;
                scale /= 10;
                ++n;
            }
            if (n == 0) return false;
            r.remove_prefix(n);
        }
    }
    s = r;
    return t.hour <= 23 && t.minute <= 59 && t.second <= 59;
}

// A date, then optionally a time; hasTime tells which.
bool parseDateAndTime(std::string_view text, Timestamp& ts, bool& hasTime) {
    text = trimmed(text);
    if (!parseDatePart(text, ts.date)) return false;
    ts.time = {};
    hasTime = false;
    if (text.empty()) return true;
    if (text[0] != ' ' && text[0] != 'T') return false;
    text = trimmed(text.substr(1));
    hasTime = true;
    return parseTimePart(text, ts.time) && text.empty();
}

}  // namespace

ParseOutcome parseScaled(std::string_view text, int scale, int64_t& out) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    std::string digits;
    int64_t fractionDigits = 0;
    bool point = false;
    size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (isDigit(c)) {
            digits += c;
            if (point) ++fractionDigits;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits.empty()) return ParseOutcome::NotNumber;
    // 64 bits on every platform (a long has 32 on Windows): the exponents taken are the same.
    int64_t exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::string_view e = text.substr(i + 1);
        // from_chars takes no '+', and after one no second sign may follow ("1e+-5").
        if (!e.empty() && e[0] == '+') {
            e.remove_prefix(1);
            if (e.empty() || !isDigit(e[0])) return ParseOutcome::NotNumber;
        }
        const auto r = std::from_chars(e.data(), e.data() + e.size(), exponent);
        if (r.ec != std::errc() || r.ptr != e.data() + e.size()) return ParseOutcome::NotNumber;
        i = text.size();
    }
    if (i != text.size()) return ParseOutcome::NotNumber;

    // value = digits * 10^shift. Summed wide: an exponent near the limits of int64_t must not
    // wrap. Past +-2^62 the outcome (0 or overflow) no longer depends on the exact shift.
    constexpr Int128 kShiftBound = Int128{1} << 62;
    const int64_t shift = static_cast<int64_t>(std::clamp<Int128>(
        static_cast<Int128>(exponent) - fractionDigits + scale, -kShiftBound, kShiftBound));
    const int64_t keep = static_cast<int64_t>(digits.size()) + std::min<int64_t>(shift, 0);
    Int128 acc = 0;
    const Int128 limit = static_cast<Int128>(std::numeric_limits<int64_t>::max()) + 1;
    for (int64_t k = 0; k < keep; ++k) {
        acc = acc * 10 + (digits[static_cast<size_t>(k)] - '0');
        if (acc > limit) return ParseOutcome::Overflow;
    }
    for (int64_t k = 0; k < shift && acc != 0; ++k) {
        acc *= 10;
        if (acc > limit) return ParseOutcome::Overflow;
    }
    if (keep >= 0 && keep < static_cast<int64_t>(digits.size()) &&
        digits[static_cast<size_t>(keep)] >= '5')
        ++acc;
    if (negative) acc = -acc;
    if (acc > std::numeric_limits<int64_t>::max() || acc < std::numeric_limits<int64_t>::min())
        return ParseOutcome::Overflow;
    out = static_cast<int64_t>(acc);
    return ParseOutcome::Ok;
}

std::optional<int64_t> parseInteger(std::string_view text) {
    text = trimmed(text);
    const size_t sign = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    const std::string_view digits = text.substr(sign);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isDigit)) return std::nullopt;
    // from_chars reads a '-' but no '+'.
    const std::string_view number = text[0] == '+' ? digits : text;
    int64_t value = 0;
    const auto r = std::from_chars(number.data(), number.data() + number.size(), value);
    if (r.ec != std::errc() || r.ptr != number.data() + number.size()) return std::nullopt;
    return value;
}

std::optional<double> parseDouble(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text[0] == '-') return std::nullopt;  // "+-5": one sign only
    }
    double value = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || text.empty() ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<Date> parseDate(std::string_view text) {
    Timestamp ts;
    bool hasTime = false;
    if (parseDateAndTime(text, ts, hasTime) && !hasTime) return ts.date;
    return std::nullopt;
}

std::optional<Time> parseTime(std::string_view text) {
    text = trimmed(text);
    Time t;
    if (parseTimePart(text, t) && text.empty()) return t;
    return std::nullopt;
}

std::optional<Timestamp> parseTimestamp(std::string_view text) {
    Timestamp ts;
    bool hasTime = false;
    if (parseDateAndTime(text, ts, hasTime)) return ts;
    return std::nullopt;
}

std::optional<bool> parseBoolean(std::string_view text) {
    text = trimmed(text);
    if (equalsNoCase(text, "true") || text == "1") return true;
    if (equalsNoCase(text, "false") || text == "0") return false;
    return std::nullopt;
}

bool validDate(const Date& d) {
    return tarvolen::validDate(d.year, d.month, d.day);
}

bool validTime(const Time& t) {
    return t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 &&
           t.second <= 59 && t.fraction >= 0 && t.fraction <= 9999;
}

}  // namespace tarvolen::database
