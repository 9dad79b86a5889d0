#pragma once
// The in-memory form of a data packet: field layout, dataset attributes, row versions and
// change log. Both the XML and the binary codec read into and write from this structure;
// the client-side table (TClientDataSet) works on it.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "plan/ChangeLog.h"
#include "plan/FieldValue.h"
#include "plan/RowStore.h"

namespace tarvolen {

// Field types a table can hold. The 8-bit integer types of the file format load as no field
// at all, so they have no entry here.
enum class FieldType : uint8_t {
    Int16,         // "i2"
    Int32,         // "i4" (also with SUBTYPE "Autoinc")
    Int64,         // "i8"
    UInt16,        // "ui2"
    UInt32,        // "ui4"
    Boolean,       // "boolean"
    Float,         // "r8"
    Bcd,           // "fixed"
    FmtBcd,        // "fixedFMT"
    Date,          // "date"
    Time,          // "time"
    DateTime,      // "dateTime"
    SqlTimeStamp,  // "SQLdateTime"
    String,        // "string"
    WideString,    // "string.uni"
    Blob,          // "bin.hex" with a SUBTYPE
    Bytes,         // "bin.hex" with WIDTH and no SUBTYPE
};

// Binary type words (bits 0-15 size, 16-21 class, bit 22 varying, bit 23 array).
namespace typeword {
constexpr uint32_t kSizeMask = 0x0000FFFFu;
constexpr uint32_t kClassMask = 0x003F0000u;
constexpr uint32_t kVarying = 0x00400000u;
constexpr uint32_t kArray = 0x00800000u;
constexpr uint32_t kComposite = 0xFF000000u;
constexpr uint32_t kInt8 = 0x00010001u;
constexpr uint32_t kInt16 = 0x00010002u;
constexpr uint32_t kInt32 = 0x00010004u;
constexpr uint32_t kInt64 = 0x00010008u;
constexpr uint32_t kUInt8 = 0x00020001u;
constexpr uint32_t kUInt16 = 0x00020002u;
constexpr uint32_t kUInt32 = 0x00020004u;
constexpr uint32_t kBoolean = 0x00030002u;
constexpr uint32_t kFloat = 0x00040008u;
constexpr uint32_t kBcdClass = 0x00050000u;
constexpr uint32_t kDate = 0x00060004u;
constexpr uint32_t kTime = 0x00070004u;
constexpr uint32_t kDateTime = 0x00080008u;
constexpr uint32_t kFmtBcdClass = 0x00120000u;
constexpr uint32_t kSqlTimeStamp = 0x00110010u;
constexpr uint32_t kString1 = 0x00490001u;
constexpr uint32_t kString2 = 0x00490002u;
constexpr uint32_t kWideString1 = 0x004A0001u;
constexpr uint32_t kWideString2 = 0x004A0002u;
constexpr uint32_t kBlob = 0x004B0004u;
constexpr uint32_t kBytesClass = 0x000B0000u;
constexpr uint32_t kUIntArray = kArray | kUInt32;  // 0x00820004
constexpr uint32_t kIntArray = kArray | kInt32;    // 0x00810004
}  // namespace typeword

// Field attribute bits.
namespace fieldbits {
constexpr uint16_t kHidden = 1;
constexpr uint16_t kReadOnly = 2;
constexpr uint16_t kRequired = 4;
constexpr uint16_t kLinkField = 8;
}  // namespace fieldbits

// Row version status bits.
namespace rowstate {
constexpr uint8_t kUnchanged = 0;
constexpr uint8_t kSuperseded = 1;
constexpr uint8_t kDeleted = 2;
constexpr uint8_t kInserted = 4;
constexpr uint8_t kModified = 8;
}  // namespace rowstate

// As compareValues, but decimal fields ("fixed", "fixedFMT") compare by their numeric value.
int compareFieldValues(FieldType type, const FieldValue& a, const FieldValue& b,
                       bool caseInsensitive = false);
// The one text form of a decimal value: no "+", no leading zeros before the point (but at least
// "0"), the fraction digits as given, no "-" for zero. REQUIRES: text of an optional sign, digits,
// "." and digits.
std::string canonicalDecimal(std::string_view text);

// A named, typed value of a field or of the dataset.
struct Attribute {
    std::string name;
    uint32_t typeWord = typeword::kString2;  // the binary type word of the value
    FieldValue value;
    bool roundtrip = false;  // travels with change data (PARAM Roundtrip="True")
};

struct FieldDef {
    std::string name;
    FieldType type = FieldType::String;
    uint32_t typeWord = typeword::kString1;  // binary type word, consistent with type and width
    uint16_t bits = 0;                       // fieldbits::*
    std::vector<Attribute> attributes;       // WIDTH, SUBTYPE, DECIMALS, ... in file order

    const Attribute* findAttribute(std::string_view attrName) const;
    // WIDTH attribute value, or 0 when absent.
    int width() const;
    // SUBTYPE attribute text, or empty when absent.
    std::string subtype() const;
    bool required() const { return (bits & fieldbits::kRequired) != 0; }
};

struct DataPacket {
    std::vector<FieldDef> fields;
    // Dataset attributes except CHANGE_LOG, which lives in changeLog.
    std::vector<Attribute> attributes;
    RowStore rows;  // storage order
    ChangeLog changeLog;

    const Attribute* findAttribute(std::string_view attrName) const;
    int fieldIndex(std::string_view fieldName) const;  // -1 when absent
};

}  // namespace tarvolen
