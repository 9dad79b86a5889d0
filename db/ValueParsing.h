#pragma once
// Reading values from text, as the database layer accepts text for a number, date, time or
// boolean column. Needs no database. Every reader takes the text with blanks at either end
// and refuses anything else around the value.

#include <cstdint>
#include <optional>
#include <string_view>

#include "db/Value.h"

namespace tarvolen::database {

enum class ParseOutcome { Ok, NotNumber, Overflow };

// Decimal text (optional sign, digits with an optional point, optional exponent) as an
// integer scaled by 10^scale, rounded half away from zero: "12.345" at scale 2 gives 1235.
// Exact, with no detour through double. Overflow when the result does not fit in int64.
ParseOutcome parseScaled(std::string_view text, int scale, int64_t& out);

// An integer: an optional single sign, then digits; nothing else ("+7", "-7", " 7 ", but not
// "+-7", "7.0" or "1e3"). nullopt when the text is no integer or does not fit in int64.
std::optional<int64_t> parseInteger(std::string_view text);

// A finite floating-point number with at most one sign ("+-5" is refused).
std::optional<double> parseDouble(std::string_view text);

// YYYY-MM-DD, DD.MM.YYYY or DD/MM/YYYY, a date of the calendar.
std::optional<Date> parseDate(std::string_view text);
// HH:MM[:SS[.fraction]], the fraction kept to ten-thousandths.
std::optional<Time> parseTime(std::string_view text);
// A date as parseDate() reads it, optionally followed by a blank or 'T' and a time as
// parseTime() reads it; midnight when there is no time.
std::optional<Timestamp> parseTimestamp(std::string_view text);

// "true" / "false" in any letter case, or "1" / "0".
std::optional<bool> parseBoolean(std::string_view text);

// A day of the calendar (years 1 to 9999).
bool validDate(const Date& date);
// 00:00:00.0000 to 23:59:59.9999.
bool validTime(const Time& time);

}  // namespace tarvolen::database
