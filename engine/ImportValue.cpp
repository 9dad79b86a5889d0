#include "engine/ImportValue.h"

#include <algorithm>
#include <cmath>

#include "base/Calendar.h"
#include "db/DatabaseError.h"
#include "plan/FieldTypes.h"
#include "plan/ValueText.h"

namespace tarvolen {
namespace {

constexpr int64_t kMsPerDay = 86400000;

database::Date dateOf(int64_t dayNumber) {
    database::Date d;
    dateFromDayNumber(dayNumber, d.year, d.month, d.day);
    return d;
}

database::Time timeOf(int64_t ms) {
    database::Time t;
    t.hour = static_cast<int>(ms / 3600000);
    t.minute = static_cast<int>(ms / 60000 % 60);
    t.second = static_cast<int>(ms / 1000 % 60);
    t.fraction = static_cast<int>(ms % 1000) * 10;
    return t;
}

// The value as the alternative its field's type holds. A table filled from a file always holds
// that one, but one filled through field objects may hold any.
template <typename T>
const T& expected(const FieldDef& field, const FieldValue& value) {
    if (const T* v = std::get_if<T>(&value)) return *v;
    throw database::DatabaseError("The data file's field " + field.name + " (" +
                                  fieldTypeDisplayName(field) + ") holds a value of another type");
}

database::Timestamp dateTimeOf(const FieldDef& field, double value) {
    // Milliseconds held as a double: rounded, as the plan shows them, and checked before the
    // cast, since NaN or a huge value from a damaged file has no int64.
    const double stored = std::round(value);
    if (!(stored >= -9.2233720368547758e18 && stored < 9.2233720368547758e18)) {
        throw database::DatabaseError("The data file's field " + field.name + " holds " +
                                      database::valueText(stored) + ", not a date and time");
    }
    const auto total = static_cast<int64_t>(stored);
    int64_t days = total / kMsPerDay;
    int64_t ms = total % kMsPerDay;
    if (ms < 0) {
        ms += kMsPerDay;
        --days;
    }
    return database::Timestamp{dateOf(days), timeOf(ms)};
}

}  // namespace

database::Value importValue(const FieldDef& field, const FieldValue& value) {
    if (isNull(value)) return std::monostate{};
    switch (field.type) {
        case FieldType::Int16:
        case FieldType::Int32:
        case FieldType::Int64:
        case FieldType::UInt16:
        case FieldType::UInt32:
            return expected<int64_t>(field, value);
        case FieldType::Boolean:
            return expected<bool>(field, value);
        case FieldType::Float:
            return expected<double>(field, value);
        case FieldType::Bcd:
        case FieldType::FmtBcd:  // the decimal text
        case FieldType::String:
        case FieldType::Bytes:
            return expected<std::string>(field, value);
        case FieldType::Date:
            return dateOf(expected<int64_t>(field, value));
        case FieldType::Time:
            return timeOf(expected<int64_t>(field, value));
        case FieldType::DateTime:
            return dateTimeOf(field, expected<double>(field, value));
        case FieldType::SqlTimeStamp: {
            const auto& ts = expected<SqlTimeStamp>(field, value);
            return database::Timestamp{
                {ts.year, ts.month, ts.day},
                // Past 999 ms the time is refused anyway; capped so the product cannot overflow.
                {ts.hour, ts.minute, ts.second,
                 static_cast<int>(std::min<uint32_t>(ts.millisecond, 1000) * 10)}};
        }
        case FieldType::WideString:
            expected<std::u16string>(field, value);
            return valueToText(field, value);  // to Windows-1252
        case FieldType::Blob: {
            const BlobData& blob = expected<BlobData>(field, value);
            if (blob == nullptr) return std::monostate{};
            return *blob;
        }
    }
    return std::monostate{};
}

}  // namespace tarvolen
