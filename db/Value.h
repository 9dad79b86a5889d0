#pragma once
// Values as they cross the database layer, in plain C++ types.

#include <cstdint>
#include <string>
#include <variant>

namespace tarvolen::database {

struct Date {
    int year = 1;
    int month = 1;
    int day = 1;
    bool operator==(const Date&) const = default;
};

struct Time {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int fraction = 0;  // ten-thousandths of a second, the server's own precision
    bool operator==(const Time&) const = default;
};

struct Timestamp {
    Date date;
    Time time;
    bool operator==(const Timestamp&) const = default;
};

// One column value. Text travels as the 8-bit bytes of the connection character set; a blob
// column reads and takes its bytes as a string. Numbers with decimals read as double.
using Value =
    std::variant<std::monostate, bool, int64_t, double, std::string, Date, Time, Timestamp>;

inline bool isNull(const Value& value) {
    return std::holds_alternative<std::monostate>(value);
}

// Text form of a value, as error messages and text columns show it: integers in decimal,
// doubles in their shortest exact form, dates as YYYY-MM-DD, times as HH:MM:SS[.ffff],
// booleans as True / False, null as the empty text.
std::string valueText(const Value& value);

}  // namespace tarvolen::database
