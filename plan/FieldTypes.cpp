#include "plan/FieldTypes.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>

#include "plan/Errors.h"
#include "plan/PackedDecimal.h"

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

uint32_t storedTypeWord(const FieldDef& field) {
    FieldType type{};
    if (field.typeWord != 0 && lookupTypeWord(field.typeWord, type) == TypeLookup::Field &&
        type == field.type) {
        return field.typeWord;
    }
    return typeWordFor(field.type, field.width());
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

bool isAttributeTypeWord(uint32_t typeWord) {
    if ((typeWord & typeword::kArray) != 0) {
        const uint32_t element = typeWord & ~typeword::kArray;
        const uint32_t cls = element & typeword::kClassMask;
        const uint32_t size = element & typeword::kSizeMask;
        return (element & ~(typeword::kClassMask | typeword::kSizeMask)) == 0 &&
               (cls == 0x00010000u || cls == 0x00020000u) &&
               (size == 1 || size == 2 || size == 4 || size == 8);
    }
    FieldType type{};
    return lookupTypeWord(typeWord, type) != TypeLookup::Invalid;
}

namespace {

// Attribute types with a name of their own: each name stands for exactly one type word.
struct AttributeTypeName {
    const char* name;
    uint32_t word;
};
constexpr std::array<AttributeTypeName, 20> kAttributeTypeNames = {{
    {"i1", typeword::kInt8},
    {"i2", typeword::kInt16},
    {"i4", typeword::kInt32},
    {"i8", typeword::kInt64},
    {"ui1", typeword::kUInt8},
    {"ui2", typeword::kUInt16},
    {"ui4", typeword::kUInt32},
    {"boolean", typeword::kBoolean},
    {"r8", typeword::kFloat},
    {"date", typeword::kDate},
    {"time", typeword::kTime},
    {"dateTime", typeword::kDateTime},
    {"SQLdateTime", typeword::kSqlTimeStamp},
    {"string", typeword::kString2},
    {"string.uni", typeword::kWideString2},
    {"bin.hex", typeword::kBlob},
    {"UIntArray", typeword::kUIntArray},
    {"IntArray", typeword::kIntArray},
    // The record of the default precision, 32; other sizes go by their type word.
    {"fixed", typeword::kBcdClass | 18},
    {"fixedFMT", typeword::kFmtBcdClass | 18},
}};

}  // namespace

std::string attributeTypeName(uint32_t typeWord) {
    for (const auto& t : kAttributeTypeNames) {
        if (t.word == typeWord) return t.name;
    }
    if (!isAttributeTypeWord(typeWord)) return "string";
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", typeWord);
    return hex;
}

uint32_t attributeTypeWord(std::string_view typeName) {
    for (const auto& t : kAttributeTypeNames) {
        if (typeName == t.name) return t.word;
    }
    if (typeName.size() == 10 && typeName.substr(0, 2) == "0x") {
        uint32_t word = 0;
        for (const char c : typeName.substr(2)) {
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                     : -1;
            if (digit < 0) return typeword::kString2;
            word = (word << 4) | static_cast<uint32_t>(digit);
        }
        if (isAttributeTypeWord(word)) return word;
    }
    return typeword::kString2;
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

void requireCarriableLayout(const FieldDef& field, uint32_t typeWord) {
    const int width = field.width();
    const auto size = static_cast<int>(typeWord & typeword::kSizeMask);
    bool carriable = true;
    switch (field.type) {
        case FieldType::String:
        case FieldType::WideString:
            carriable = width >= 1 && width <= kMaxFieldWidth;
            break;
        case FieldType::Bytes:
            carriable = width >= 1 && width <= kMaxFieldWidth && size == width;
            break;
        case FieldType::Blob:
            carriable =
                field.findAttribute("SUBTYPE") != nullptr && width >= 0 && width <= kMaxFieldWidth;
            break;
        case FieldType::Bcd:
        case FieldType::FmtBcd:
            carriable = width >= 0 && width <= 64 && size == bcdRecordSize(width);
            break;
        default:
            break;
    }
    if (!carriable) throw dberr::invalidParameter();
}

bool isTextBlob(const FieldDef& field) {
    if (field.type != FieldType::Blob) return false;
    const std::string subtype = field.subtype();
    return subtype == "Text" || subtype == "WideText";
}

}  // namespace tarvolen
