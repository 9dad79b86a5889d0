#pragma once
// The proleptic Gregorian calendar as data packets and the database count days: day number 1
// is 1 January of year 1.

#include <cstdint>

namespace tarvolen {

// True for a real date of years 1 to 9999.
bool validDate(int year, int month, int day);

// REQUIRES: validDate(year, month, day).
int64_t dayNumberFromDate(int year, int month, int day);
// Any day number; beyond about 20 million years the result is clamped.
void dateFromDayNumber(int64_t dayNumber, int& year, int& month, int& day);

}  // namespace tarvolen
