#include "base/Calendar.h"

#include <algorithm>
#include <array>

namespace tarvolen {

bool validDate(int y, int m, int d) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kDays[static_cast<size_t>(m - 1)] + ((m == 2 && leap) ? 1 : 0);
}

int64_t dayNumberFromDate(int year, int month, int day) {
    static constexpr std::array<int, 12> kBefore = {0,   31,  59,  90,  120, 151,
                                                    181, 212, 243, 273, 304, 334};
    const int64_t y = year - 1;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return y * 365 + y / 4 - y / 100 + y / 400 + kBefore[static_cast<size_t>(month - 1)] +
           ((leap && month > 2) ? 1 : 0) + day;
}

void dateFromDayNumber(int64_t dayNumber, int& year, int& month, int& day) {
    // Beyond about 20 million years no year fits an int; clamping also keeps the sums below
    // from overflowing on arbitrary stored values.
    constexpr int64_t kLimit = 146097LL * 50000;
    dayNumber = std::clamp(dayNumber, -kLimit, kLimit);
    // Civil-from-days over the proleptic Gregorian calendar, shifted so that day 1 is 0001-01-01.
    const int64_t z = dayNumber - 1 + 306;  // days since 0000-03-01
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

}  // namespace tarvolen
