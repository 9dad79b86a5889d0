#include "plan/FieldTypes.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "base/Cp1252.h"

namespace tarvolen {
namespace {

struct XmlTypeName {
    const char* text;
    FieldType type;
};

constexpr std::array<XmlTypeName, 16> kXmlTypes = {{
    {"i2", FieldType::Int16},
    {"i4", FieldType::Int32},
    {"i8", FieldType::Int64},
    {"ui2", FieldType::UInt16},
    {"ui4", FieldType::UInt32},
    {"boolean", FieldType::Boolean},
    {"r8", FieldType::Float},
    {"fixed", FieldType::Bcd},
    {"fixedFMT", FieldType::FmtBcd},
    {"date", FieldType::Date},
    {"time", FieldType::Time},
    {"dateTime", FieldType::DateTime},
    {"SQLdateTime", FieldType::SqlTimeStamp},
    {"string", FieldType::String},
    {"string.uni", FieldType::WideString},
    {"bin.hex", FieldType::Blob},
}};

constexpr int64_t kMsPerDay = 86400000;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Reads an integer the way XML field values are read: an optional sign, then digits; a letter
// before the first digit, or no digit at all, means no value.
bool readLooseInteger(std::string_view text, int64_t& out) {
    bool negative = false;
    size_t i = 0;
    for (; i < text.size() && !isDigit(text[i]); ++i) {
        if (isLetter(text[i])) return false;
        negative = text[i] == '-';
    }
    if (i == text.size()) return false;
    constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    uint64_t value = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        const auto digit = static_cast<uint64_t>(text[i] - '0');
        // Checked before multiplying: a wrapped product could look in range again.
        if (value > (kMax - digit) / 10) return false;
        value = value * 10 + digit;
    }
    out = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
    return true;
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

std::string floatText(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    if (std::strtod(buf, nullptr) != v) std::snprintf(buf, sizeof buf, "%.16g", v);
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

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

bool fitsIntegerType(FieldType type, int64_t v) {
    switch (type) {
        case FieldType::Int16:
            return v >= -32768 && v <= 32767;
        case FieldType::UInt16:
            return v >= 0 && v <= 65535;
        case FieldType::Int32:
            return v >= std::numeric_limits<int32_t>::min() &&
                   v <= std::numeric_limits<int32_t>::max();
        case FieldType::UInt32:
            return v >= 0 && v <= 0xFFFFFFFFLL;
        default:
            return true;
    }
}

TypeLookup lookupXmlType(std::string_view fieldtype, FieldType& type) {
    if (fieldtype == "i1" || fieldtype == "ui1") return TypeLookup::Dropped;
    for (const auto& t : kXmlTypes) {
        if (fieldtype == t.text) {
            type = t.type;
            return TypeLookup::Field;
        }
    }
    return TypeLookup::Invalid;
}

const char* xmlTypeName(FieldType type) {
    if (type == FieldType::Bytes) return "bin.hex";
    for (const auto& t : kXmlTypes) {
        if (t.type == type) return t.text;
    }
    return "";
}

TypeLookup lookupTypeWord(uint32_t word, FieldType& type) {
    if ((word & (typeword::kComposite | typeword::kArray)) != 0) return TypeLookup::Invalid;
    const uint32_t size = word & typeword::kSizeMask;
    const bool varying = (word & typeword::kVarying) != 0;
    const uint32_t cls = (word & typeword::kClassMask) >> 16;
    auto fixed = [&](uint32_t wanted, FieldType t) {
        if (varying || size != wanted) return TypeLookup::Invalid;
        type = t;
        return TypeLookup::Field;
    };
    switch (cls) {
        case 0x01:
            if (!varying && size == 1) return TypeLookup::Dropped;
            if (size == 2) return fixed(2, FieldType::Int16);
            if (size == 4) return fixed(4, FieldType::Int32);
            return fixed(8, FieldType::Int64);
        case 0x02:
            if (!varying && size == 1) return TypeLookup::Dropped;
            if (size == 2) return fixed(2, FieldType::UInt16);
            return fixed(4, FieldType::UInt32);
        case 0x03:
            return fixed(2, FieldType::Boolean);
        case 0x04:
            return fixed(8, FieldType::Float);
        case 0x05:
        case 0x12:
            // A packed-decimal record: precision and sign/scale bytes, then at least one digit
            // byte.
            if (varying || size < 3 || size > 34) return TypeLookup::Invalid;
            type = cls == 0x05 ? FieldType::Bcd : FieldType::FmtBcd;
            return TypeLookup::Field;
        case 0x06:
            return fixed(4, FieldType::Date);
        case 0x07:
            return fixed(4, FieldType::Time);
        case 0x08:
            return fixed(8, FieldType::DateTime);
        case 0x11:
            return fixed(16, FieldType::SqlTimeStamp);
        case 0x09:
        case 0x0A:
            if (!varying || (size != 1 && size != 2)) return TypeLookup::Invalid;
            type = cls == 0x09 ? FieldType::String : FieldType::WideString;
            return TypeLookup::Field;
        case 0x0B:
            if (varying) {
                if (size != 4) return TypeLookup::Invalid;
                type = FieldType::Blob;
                return TypeLookup::Field;
            }
            if (size == 0) return TypeLookup::Invalid;
            type = FieldType::Bytes;
            return TypeLookup::Field;
        default:
            return TypeLookup::Invalid;
    }
}

int bcdRecordSize(int precision) {
    const int p = precision > 0 ? std::min(precision, 64) : 32;
    return 2 + (p + 1) / 2;
}

uint32_t storedTypeWord(const FieldDef& field) {
    FieldType type{};
    if (field.typeWord != 0 && lookupTypeWord(field.typeWord, type) == TypeLookup::Field &&
        type == field.type) {
        return field.typeWord;
    }
    return typeWordFor(field.type, field.width());
}

bool packDecimal(std::string_view text, uint32_t recordSize, std::string& record) {
    size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }
    std::string digits;
    unsigned decimals = 0;
    bool point = false;
    bool anyDigit = false;
    bool nonZero = false;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (isDigit(c)) {
            anyDigit = true;
            nonZero = nonZero || c != '0';
            if (!point && digits.empty() && c == '0') continue;
            digits.push_back(c);
            if (point) ++decimals;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (!anyDigit || decimals > 0x3F) return false;
    if (digits.empty()) digits.push_back('0');
    auto fits = [&] { return digits.size() <= 0xFF && 2 + (digits.size() + 1) / 2 <= recordSize; };
    // Normally every fraction digit is stored; when that does not fit, the zeros leading the
    // fraction are left out and the reader restores them from the decimals count.
    if (!fits()) digits.erase(0, digits.find_first_not_of('0'));
    if (!fits()) return false;
    record.assign(recordSize, '\0');
    record[0] = static_cast<char>(digits.size());
    record[1] = static_cast<char>(decimals | (negative && nonZero ? 0x80U : 0U));
    for (size_t i = 0; i < digits.size(); ++i) {
        const auto nibble = static_cast<unsigned>(digits[i] - '0');
        auto& byte = record[2 + i / 2];
        const unsigned shifted = i % 2 == 0 ? nibble << 4 : nibble;
        byte = static_cast<char>(static_cast<unsigned char>(byte) | shifted);
    }
    return true;
}

uint32_t typeWordFor(FieldType type, int width) {
    using namespace typeword;
    switch (type) {
        case FieldType::Int16:
            return kInt16;
        case FieldType::Int32:
            return kInt32;
        case FieldType::Int64:
            return kInt64;
        case FieldType::UInt16:
            return kUInt16;
        case FieldType::UInt32:
            return kUInt32;
        case FieldType::Boolean:
            return kBoolean;
        case FieldType::Float:
            return kFloat;
        case FieldType::Bcd:
            return kBcdClass | static_cast<uint32_t>(bcdRecordSize(width));
        case FieldType::FmtBcd:
            return kFmtBcdClass | static_cast<uint32_t>(bcdRecordSize(width));
        case FieldType::Date:
            return kDate;
        case FieldType::Time:
            return kTime;
        case FieldType::DateTime:
            return kDateTime;
        case FieldType::SqlTimeStamp:
            return kSqlTimeStamp;
        case FieldType::String:
            return width <= 254 ? kString1 : kString2;
        case FieldType::WideString:
            return width <= 127 ? kWideString1 : kWideString2;
        case FieldType::Blob:
            return kBlob;
        case FieldType::Bytes:
            return kBytesClass | static_cast<uint32_t>(std::clamp(width, 1, 0xFFFF));
    }
    return kString1;
}

std::string fieldTypeDisplayName(const FieldDef& field) {
    const std::string subtype = field.subtype();
    switch (field.type) {
        case FieldType::Int16:
            return "SmallInt";
        case FieldType::Int32:
            return subtype == "Autoinc" ? "AutoInc" : "Integer";
        case FieldType::Int64:
            return "LargeInt";
        case FieldType::UInt16:
            return "Word";
        case FieldType::UInt32:
            return "Integer";
        case FieldType::Boolean:
            return "Boolean";
        case FieldType::Float:
            return "Float";
        case FieldType::Bcd:
            return "BCD";
        case FieldType::FmtBcd:
            return "FMTBcd";
        case FieldType::Date:
            return "Date";
        case FieldType::Time:
            return "Time";
        case FieldType::DateTime:
            return "DateTime";
        case FieldType::SqlTimeStamp:
            return "TimeStamp";
        case FieldType::String:
            if (subtype == "FixedChar") return "FixedChar";
            if (subtype == "Guid") return "Guid";
            return "String";
        case FieldType::WideString:
            return "WideString";
        case FieldType::Bytes:
            return "Bytes";
        case FieldType::Blob:
            if (subtype == "Text" || subtype == "HMemo") return "Memo";
            if (subtype == "WideText") return "WideMemo";
            if (subtype == "Formatted") return "FmtMemo";
            if (subtype == "Graphics") return "Graphic";
            if (subtype == "TypedBinary") return "TypedBinary";
            if (subtype == "Ole" || subtype == "dBASEOle" || subtype == "AccessOle")
                return "OraBlob";
            return "Blob";
    }
    return "Unknown";
}

std::string attributeTypeName(uint32_t typeWord) {
    using namespace typeword;
    switch (typeWord) {
        case kInt16:
            return "i2";
        case kInt32:
            return "i4";
        case kInt64:
            return "i8";
        case kUInt16:
            return "ui2";
        case kUInt32:
            return "ui4";
        case kBoolean:
            return "boolean";
        case kFloat:
            return "r8";
        case kUIntArray:
            return "UIntArray";
        case kIntArray:
            return "IntArray";
        default:
            break;
    }
    if ((typeWord & kClassMask) == 0x000A0000u) return "string.uni";
    return "string";
}

uint32_t attributeTypeWord(std::string_view typeName) {
    using namespace typeword;
    if (typeName == "UIntArray") return kUIntArray;
    if (typeName == "IntArray") return kIntArray;
    FieldType type = FieldType::String;
    if (lookupXmlType(typeName, type) == TypeLookup::Field) {
        switch (type) {
            case FieldType::Int16:
            case FieldType::Int32:
            case FieldType::Int64:
            case FieldType::UInt16:
            case FieldType::UInt32:
            case FieldType::Boolean:
            case FieldType::Float:
                return typeWordFor(type, 0);
            default:
                break;
        }
    }
    return kString2;
}

std::optional<uint32_t> knownAttributeTypeWord(std::string_view name) {
    using namespace typeword;
    struct Known {
        const char* name;
        uint32_t word;
    };
    static constexpr std::array<Known, 22> kKnown = {{
        {"UNIQUE_KEY", kUIntArray},
        {"DEFAULT_ORDER", kUIntArray},
        {"CHANGE_LOG", kUIntArray},
        {"SERVER_COL", kString2},
        {"DATASET_DELTA", kBoolean},
        {"READONLY", kBoolean},
        {"SUBTYPE", kString2},
        {"DECIMALS", kInt16},
        {"WIDTH", kInt16},
        {"LCID", kInt16},
        {"AUTOINCVALUE", kInt32},
        {"TABLENAME", kString2},
        {"TYPENAME", kString2},
        {"UPDATEMODE", kInt16},
        {"MD_SEMANTICS", kUIntArray},
        {"CALCULATED", kBoolean},
        {"DELTA", kBoolean},
        {"PRIMARY_KEY", kUIntArray},
        {"MINVALUE", kString2},
        {"MAXVALUE", kString2},
        {"DEFVALUE", kString2},
        {"MD_FIELDLINKS", kIntArray},
    }};
    for (const auto& k : kKnown) {
        if (name == k.name) return k.word;
    }
    return std::nullopt;
}

bool isTextBlob(const FieldDef& field) {
    if (field.type != FieldType::Blob) return false;
    const std::string subtype = field.subtype();
    return subtype == "Text" || subtype == "WideText";
}

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
            if (const auto* v = std::get_if<double>(&value)) {
                // Past year 9999 (or not a number) there is no date to write.
                if (!std::isfinite(*v) || std::fabs(*v) > 3.2e14) return {};
                const auto total = static_cast<int64_t>(std::llround(*v));
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
            break;
        case FieldType::SqlTimeStamp:
            if (const auto* v = std::get_if<SqlTimeStamp>(&value)) {
                std::string out;
                appendDate(out, v->year, v->month, v->day);
                const int64_t ms =
                    ((v->hour * 60LL + v->minute) * 60 + v->second) * 1000 + v->millisecond;
                if (ms != 0) {
                    out += 'T';
                    appendTime(out, ms);
                }
                return out;
            }
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

std::string attributeValueToText(const Attribute& attribute) {
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
                return *v;
            } else if constexpr (std::is_same_v<T, std::u16string>) {
                std::string out;
                for (char16_t c : v) out += cp1252::fromUnicode(c);
                return out;
            } else {
                return {};
            }
        },
        attribute.value);
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
    if (lookupTypeWord(typeWord, type) == TypeLookup::Field) {
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
            default:
                break;
        }
    }
    return std::string(text);
}

std::string base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t n = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kBase64[(n >> 18) & 63];
        out += kBase64[(n >> 12) & 63];
        out += kBase64[(n >> 6) & 63];
        out += kBase64[n & 63];
    }
    if (i < bytes.size()) {
        uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kBase64[(n >> 18) & 63];
        out += kBase64[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kBase64[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string base64Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        int v = -1;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=')
            break;
        if (v < 0) continue;  // line breaks and blanks inside Base64 are allowed
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    return out;
}

}  // namespace tarvolen
