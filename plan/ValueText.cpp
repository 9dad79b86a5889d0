#include "plan/ValueText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "base/Calendar.h"
#include "base/Cp1252.h"
#include "base/Text.h"
#include "plan/Base64.h"
#include "plan/FieldTypes.h"
#include "plan/PackedDecimal.h"

namespace tarvolen {
namespace {

constexpr int64_t kMsPerDay = 86400000;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// An integer as XML values are read: blanks before it are skipped and text after its digits is
// ignored, but what stands between must be integer text ("x1", "+-5" and "n/a" give no value).
bool readLooseInteger(std::string_view text, int64_t& out) {
    size_t i = 0;
    while (i < text.size() && isBlankChar(text[i])) ++i;
    return readIntegerPrefix(text.substr(i), out) > 0;
}

bool readFixedDigits(std::string_view text, size_t pos, size_t count, int& out) {
    if (pos + count > text.size()) return false;
    int v = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (!isDigit(text[i])) return false;
        v = v * 10 + (text[i] - '0');
    }
    out = v;
    return true;
}

// "YYYYMMDD"
bool readDate(std::string_view text, int& y, int& m, int& d) {
    return text.size() >= 8 && readFixedDigits(text, 0, 4, y) && readFixedDigits(text, 4, 2, m) &&
           readFixedDigits(text, 6, 2, d) && validDate(y, m, d);
}

// "HH:MM:SSmmm" (the milliseconds may be missing).
bool readTime(std::string_view text, int64_t& ms) {
    int h = 0, mi = 0, s = 0, milli = 0;
    if (text.size() < 8 || text[2] != ':' || text[5] != ':') return false;
    if (!readFixedDigits(text, 0, 2, h) || !readFixedDigits(text, 3, 2, mi) ||
        !readFixedDigits(text, 6, 2, s)) {
        return false;
    }
    if (text.size() > 8 && !readFixedDigits(text, 8, std::min<size_t>(3, text.size() - 8), milli)) {
        return false;
    }
    if (h > 23 || mi > 59 || s > 59) return false;
    ms = ((h * 60LL + mi) * 60 + s) * 1000 + milli;
    return true;
}

// Date with an optional "T" and time.
bool readDateAndTime(std::string_view text, int& y, int& m, int& d, int64_t& ms) {
    if (!readDate(text, y, m, d)) return false;
    ms = 0;
    if (text.size() > 8) {
        if (text[8] != 'T') return false;
        return readTime(text.substr(9), ms);
    }
    return true;
}

void appendDate(std::string& out, int y, int m, int d) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
    out += buf;
}

void appendTime(std::string& out, int64_t ms) {
    char buf[64];
    const int64_t s = ms / 1000;
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d%03d", static_cast<int>(s / 3600),
                  static_cast<int>(s / 60 % 60), static_cast<int>(s % 60),
                  static_cast<int>(ms % 1000));
    out += buf;
}

std::string dayNumberText(int64_t dayNumber) {
    int y = 0, m = 0, d = 0;
    dateFromDayNumber(dayNumber, y, m, d);
    std::string out;
    appendDate(out, y, m, d);
    return out;
}

// The fewest significant digits, from 15, that read back as the same number: 17 when 16 are
// not enough, so that no number changes when it is saved.
std::string floatText(double v) {
    char buf[40];
    for (const int digits : {15, 16, 17}) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, v);
        if (std::isnan(v) || std::strtod(buf, nullptr) == v) break;
    }
    return buf;
}

bool readFloat(std::string_view text, double& out) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < text.size() && text[i] == '+') ++i;
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(first, last, out);
    return ec == std::errc() && ptr != first;
}

std::string intArrayText(const IntArray& values) {
    std::string out;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) out += ' ';
        out += std::to_string(values[i]);
    }
    return out;
}

}  // namespace

size_t readIntegerPrefix(std::string_view text, int64_t& out) {
    size_t i = 0;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    const size_t firstDigit = i;
    // The magnitude of the smallest int64 is one more than that of the largest.
    const uint64_t limit =
        static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + (negative ? 1U : 0U);
    uint64_t value = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        const auto digit = static_cast<uint64_t>(text[i] - '0');
        // Checked before multiplying: a wrapped product could look in range again.
        if (value > (limit - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    if (i == firstDigit) return 0;
    out = negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
    return i;
}

namespace {

// A date-time as milliseconds since day zero: the date, and 'T' with the time unless midnight.
std::string dateTimeText(double value) {
    // Past year 9999 (or not a number) there is no date to write.
    if (!std::isfinite(value) || std::fabs(value) > 3.2e14) return {};
    const auto total = static_cast<int64_t>(std::llround(value));
    int64_t days = total / kMsPerDay;
    int64_t ms = total % kMsPerDay;
    if (ms < 0) {
        ms += kMsPerDay;
        --days;
    }
    std::string out = dayNumberText(days);
    if (ms != 0) {
        out += 'T';
        appendTime(out, ms);
    }
    return out;
}

// A time stamp by its parts, written as dateTimeText writes a date-time.
std::string timeStampText(const SqlTimeStamp& v) {
    std::string out;
    appendDate(out, v.year, v.month, v.day);
    const int64_t ms = ((v.hour * 60LL + v.minute) * 60 + v.second) * 1000 + v.millisecond;
    if (ms != 0) {
        out += 'T';
        appendTime(out, ms);
    }
    return out;
}

}  // namespace

std::string valueToText(const FieldDef& field, const FieldValue& value) {
    if (isNull(value)) return {};
    switch (field.type) {
        case FieldType::Int16:
        case FieldType::Int32:
        case FieldType::Int64:
        case FieldType::UInt16:
        case FieldType::UInt32:
            if (const auto* v = std::get_if<int64_t>(&value)) return std::to_string(*v);
            break;
        case FieldType::Boolean:
            if (const auto* v = std::get_if<bool>(&value)) return *v ? "TRUE" : "FALSE";
            break;
        case FieldType::Float:
            if (const auto* v = std::get_if<double>(&value)) return floatText(*v);
            break;
        case FieldType::Date:
            if (const auto* v = std::get_if<int64_t>(&value)) return dayNumberText(*v);
            break;
        case FieldType::Time:
            if (const auto* v = std::get_if<int64_t>(&value)) {
                std::string out;
                appendTime(out, *v);
                return out;
            }
            break;
        case FieldType::DateTime:
            if (const auto* v = std::get_if<double>(&value)) return dateTimeText(*v);
            break;
        case FieldType::SqlTimeStamp:
            if (const auto* v = std::get_if<SqlTimeStamp>(&value)) return timeStampText(*v);
            break;
        case FieldType::String:
        case FieldType::Bcd:
        case FieldType::FmtBcd:
            if (const auto* v = std::get_if<std::string>(&value)) return *v;
            break;
        case FieldType::WideString:
            if (const auto* v = std::get_if<std::u16string>(&value)) {
                std::string out;
                out.reserve(v->size());
                for (char16_t c : *v) out += cp1252::fromUnicode(c);
                return out;
            }
            break;
        case FieldType::Bytes:
            if (const auto* v = std::get_if<std::string>(&value)) return base64Encode(*v);
            break;
        case FieldType::Blob:
            if (const auto* v = std::get_if<BlobData>(&value)) {
                return isTextBlob(field) ? **v : base64Encode(**v);
            }
            break;
    }
    return {};
}

FieldValue valueFromText(const FieldDef& field, std::string_view text) {
    switch (field.type) {
        case FieldType::Int16:
        case FieldType::Int32:
        case FieldType::Int64:
        case FieldType::UInt16:
        case FieldType::UInt32: {
            int64_t v = 0;
            if (readLooseInteger(text, v) && fitsIntegerType(field.type, v)) return v;
            return {};
        }
        case FieldType::Boolean:
            return !text.empty() && (text[0] == 'T' || text[0] == 't');
        case FieldType::Float: {
            double v = 0;
            if (readFloat(text, v)) return v;
            return {};
        }
        case FieldType::Bcd:
        case FieldType::FmtBcd: {
            // Like an integer out of range, a number the field's record cannot hold reads as null.
            std::string record;
            if (packDecimal(text, storedTypeWord(field) & typeword::kSizeMask, record)) {
                return canonicalDecimal(text);
            }
            return {};
        }
        case FieldType::Date: {
            int y = 0, m = 0, d = 0;
            if (readDate(text, y, m, d) && text.size() == 8) return dayNumberFromDate(y, m, d);
            return {};
        }
        case FieldType::Time: {
            int64_t ms = 0;
            if (readTime(text, ms)) return ms;
            return {};
        }
        case FieldType::DateTime: {
            int y = 0, m = 0, d = 0;
            int64_t ms = 0;
            if (!readDateAndTime(text, y, m, d, ms)) return {};
            return static_cast<double>(dayNumberFromDate(y, m, d) * kMsPerDay + ms);
        }
        case FieldType::SqlTimeStamp: {
            int y = 0, m = 0, d = 0;
            int64_t ms = 0;
            if (!readDateAndTime(text, y, m, d, ms)) return {};
            SqlTimeStamp ts;
            ts.year = static_cast<int16_t>(y);
            ts.month = static_cast<uint16_t>(m);
            ts.day = static_cast<uint16_t>(d);
            ts.hour = static_cast<uint16_t>(ms / 3600000);
            ts.minute = static_cast<uint16_t>(ms / 60000 % 60);
            ts.second = static_cast<uint16_t>(ms / 1000 % 60);
            ts.millisecond = static_cast<uint32_t>(ms % 1000);
            return ts;
        }
        case FieldType::String:
            return std::string(text);
        case FieldType::WideString: {
            std::u16string out;
            out.reserve(text.size());
            for (char c : text) {
                out += static_cast<char16_t>(cp1252::toUnicode(static_cast<unsigned char>(c)));
            }
            return out;
        }
        case FieldType::Bytes: {
            std::string bytes = base64Decode(text);
            const auto width = static_cast<size_t>(std::max(field.width(), 0));
            if (width > 0) bytes.resize(width, '\0');
            return bytes;
        }
        case FieldType::Blob:
            return makeBlob(isTextBlob(field) ? std::string(text) : base64Decode(text));
    }
    return {};
}

bool spellsWholeValue(const FieldDef& field, std::string_view text) {
    switch (field.type) {
        case FieldType::Int16:
        case FieldType::Int32:
        case FieldType::Int64:
        case FieldType::UInt16:
        case FieldType::UInt32: {
            // The text reads as an integer already: only what follows its digits is in doubt.
            std::string_view digits = trimmed(text);
            if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
            return !digits.empty() && std::all_of(digits.begin(), digits.end(), isDigit);
        }
        case FieldType::Boolean:
            return equalsNoCase(text, "TRUE") || equalsNoCase(text, "FALSE");
        case FieldType::Float: {
            std::string_view number = trimmed(text);
            const bool plus = !number.empty() && number[0] == '+';
            if (plus) number.remove_prefix(1);
            if (plus && !number.empty() && number[0] == '-') return false;  // "+-5"
            double v = 0;
            const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), v);
            return ec == std::errc() && end == number.data() + number.size() && std::isfinite(v);
        }
        case FieldType::Time:
            // "HH:MM:SS" or "HH:MM:SSmmm"; readTime passes over what follows.
            return text.size() == 8 || text.size() == 11;
        case FieldType::DateTime:
        case FieldType::SqlTimeStamp:
            // "YYYYMMDD", optionally "T" and the time as above.
            return text.size() == 8 || text.size() == 17 || text.size() == 20;
        case FieldType::Bytes:
            return isCleanBase64(text);
        case FieldType::Blob:
            return isTextBlob(field) || isCleanBase64(text);
        default:
            return true;  // decimals, dates and texts read whole or not at all
    }
}

bool sayableAsText(FieldType type, const FieldValue& value) {
    static const int64_t kLastDay = dayNumberFromDate(9999, 12, 31);
    switch (type) {
        case FieldType::Date:
            if (const auto* d = std::get_if<int64_t>(&value)) return *d >= 1 && *d <= kLastDay;
            return true;
        case FieldType::Time:
            if (const auto* ms = std::get_if<int64_t>(&value)) return *ms >= 0 && *ms < kMsPerDay;
            return true;
        case FieldType::DateTime:
            if (const auto* v = std::get_if<double>(&value)) {
                return *v >= static_cast<double>(kMsPerDay) &&
                       *v < static_cast<double>((kLastDay + 1) * kMsPerDay) && std::trunc(*v) == *v;
            }
            return true;
        case FieldType::SqlTimeStamp:
            if (const auto* ts = std::get_if<SqlTimeStamp>(&value)) {
                return validDate(ts->year, ts->month, ts->day) && ts->hour < 24 &&
                       ts->minute < 60 && ts->second < 60 && ts->millisecond < 1000;
            }
            return true;
        default:
            return true;
    }
}

void cutWideText(std::u16string& text, size_t width) {
    if (text.size() <= width) return;
    const bool partsPair = width > 0 && text[width - 1] >= 0xD800 && text[width - 1] <= 0xDBFF;
    text.resize(partsPair ? width - 1 : width);
}

namespace {

// A field of an attribute's type, through which its value is read and written as text; false
// for the types that need none (texts, arrays, 8-bit integers).
bool fieldOfAttributeType(uint32_t typeWord, FieldDef& field) {
    FieldType type{};
    if (lookupTypeWord(typeWord, type) != TypeLookup::Field || type == FieldType::String) {
        return false;
    }
    field.type = type;
    field.typeWord = typeWord;
    if (type == FieldType::Bytes) {
        field.attributes.push_back(
            {"WIDTH", typeword::kInt32, static_cast<int64_t>(typeWord & typeword::kSizeMask)});
    }
    return true;
}

std::string plainText(const FieldValue& value) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, int64_t>) {
                return std::to_string(v);
            } else if constexpr (std::is_same_v<T, bool>) {
                return v ? "TRUE" : "FALSE";
            } else if constexpr (std::is_same_v<T, double>) {
                return floatText(v);
            } else if constexpr (std::is_same_v<T, std::string>) {
                return v;
            } else if constexpr (std::is_same_v<T, IntArray>) {
                return intArrayText(v);
            } else if constexpr (std::is_same_v<T, BlobData>) {
                return base64Encode(*v);
            } else if constexpr (std::is_same_v<T, std::u16string>) {
                std::string out;
                for (char16_t c : v) out += cp1252::fromUnicode(c);
                return out;
            } else {
                return {};
            }
        },
        value);
}

}  // namespace

std::string attributeValueToText(const Attribute& attribute) {
    FieldDef field;
    if (!isNull(attribute.value) && fieldOfAttributeType(attribute.typeWord, field)) {
        std::string text = valueToText(field, attribute.value);
        if (!text.empty() || std::holds_alternative<std::string>(attribute.value)) return text;
    }
    return plainText(attribute.value);
}

FieldValue attributeValueFromText(uint32_t typeWord, std::string_view text) {
    using namespace typeword;
    if ((typeWord & kArray) != 0) {
        IntArray values;
        size_t i = 0;
        while (i < text.size()) {
            while (i < text.size() && !isDigit(text[i]) && text[i] != '-') ++i;
            const size_t start = i;
            if (i < text.size() && text[i] == '-') ++i;
            while (i < text.size() && isDigit(text[i])) ++i;
            int64_t v = 0;
            if (i > start && readLooseInteger(text.substr(start, i - start), v))
                values.push_back(v);
            if (i == start) ++i;
        }
        return values;
    }
    FieldType type = FieldType::String;
    const TypeLookup lookup = lookupTypeWord(typeWord, type);
    if (lookup == TypeLookup::Dropped) type = FieldType::Int16;  // 8-bit integers read as any
    if (lookup == TypeLookup::Invalid) return std::string(text);
    switch (type) {
        case FieldType::Int16:
        case FieldType::Int32:
        case FieldType::Int64:
        case FieldType::UInt16:
        case FieldType::UInt32: {
            int64_t v = 0;
            return readLooseInteger(text, v) ? FieldValue(v) : FieldValue(int64_t{0});
        }
        case FieldType::Boolean:
            return !text.empty() && (text[0] == 'T' || text[0] == 't');
        case FieldType::Float: {
            double v = 0;
            return readFloat(text, v) ? v : 0.0;
        }
        case FieldType::String:
            return std::string(text);
        default: {
            FieldDef field;
            fieldOfAttributeType(typeWord, field);
            return valueFromText(field, text);
        }
    }
}

void setAttributeFromText(Attribute& attribute, std::string_view text) {
    attribute.value = attributeValueFromText(attribute.typeWord, text);
    if (isNull(attribute.value)) {
        attribute.typeWord = typeword::kString2;
        attribute.value = std::string(text);
    }
}

}  // namespace tarvolen
