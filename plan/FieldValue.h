#pragma once
// The value of one field or attribute, and a row version as a list of such values.

#include <compare>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace tarvolen {

struct SqlTimeStamp {
    int16_t year = 0;
    uint16_t month = 0;
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint32_t millisecond = 0;
    // clang-tidy 14 flags the literal 0 of the synthesised comparison, not code of ours.
    auto operator<=>(const SqlTimeStamp&) const = default;  // NOLINT(modernize-use-nullptr)
};

// Blob contents are shared, so that handing a blob around costs no copy.
using BlobData = std::shared_ptr<const std::string>;
using IntArray = std::vector<int64_t>;

// The value of one field (or attribute); null is std::monostate. Which alternative a field
// uses depends on its type:
// - Int16..UInt32, Date (day number, day 1 = 1 January of year 1), Time (ms since midnight):
//   int64_t
// - Float, DateTime (day number * 86400000 + ms): double
// - Boolean: bool
// - String, Bytes: std::string (raw 8-bit bytes; Windows-1252 text for String)
// - Bcd, FmtBcd: std::string holding the decimal text ("-123.45")
// - WideString: std::u16string
// - Blob: BlobData (never a null pointer; a null blob is std::monostate)
// - SqlTimeStamp: SqlTimeStamp
// - attribute arrays: IntArray
using FieldValue = std::variant<std::monostate, int64_t, double, bool, std::string, std::u16string,
                                BlobData, SqlTimeStamp, IntArray>;

inline bool isNull(const FieldValue& v) {
    return std::holds_alternative<std::monostate>(v);
}
inline BlobData makeBlob(std::string bytes) {
    return std::make_shared<const std::string>(std::move(bytes));
}
// Compares two values by content (blobs by their bytes).
bool sameValue(const FieldValue& a, const FieldValue& b);
// Orders two values of one field: nulls first, then by value; text byte-wise, or with the
// Windows-1252 upper-case mapping when caseInsensitive.
int compareValues(const FieldValue& a, const FieldValue& b, bool caseInsensitive = false);

// One stored state of a row: its status (rowstate bits) and one value per field, in layout
// order. The table keeps its versions encoded (RowStore.h); this is the form they are read and
// added in.
struct RowVersion {
    uint8_t status = 0;
    std::vector<FieldValue> values;
};

}  // namespace tarvolen
