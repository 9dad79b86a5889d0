// How the database layer reads values from text. No database is involved.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <string>

#include "db/ValueParsing.h"

namespace tarvolen::database {

// Failures show values as the layer writes them.
static void PrintTo(const Date& d, std::ostream* os) {
    *os << valueText(d);
}
static void PrintTo(const Time& t, std::ostream* os) {
    *os << valueText(t);
}
static void PrintTo(const Timestamp& ts, std::ostream* os) {
    *os << valueText(ts);
}

namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

TEST(ValueParsing, integersAreAnOptionalSingleSignThenDigits) {
    const struct {
        const char* text;
        std::optional<int64_t> value;
    } cases[] = {
        {"7", 7},
        {"+7", 7},
        {"-7", -7},
        {"007", 7},
        {" 7 ", 7},
        {"\t-7\r\n", -7},
        {"9223372036854775807", kMax},
        {"-9223372036854775808", kMin},
        {"+-5", std::nullopt},
        {"-+5", std::nullopt},
        {"--5", std::nullopt},
        {"++5", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"- 5", std::nullopt},
        {"7 7", std::nullopt},
        {"7.0", std::nullopt},
        {"1e3", std::nullopt},
        {"0x10", std::nullopt},
        {"12abc", std::nullopt},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        EXPECT_EQ(parseInteger(c.text), c.value);
    }
}

TEST(ValueParsing, decimalTextScalesExactlyAndRoundsHalfAwayFromZero) {
    const struct {
        const char* text;
        int scale;
        ParseOutcome outcome;
        int64_t value;  // when Ok
    } cases[] = {
        {"42", 0, ParseOutcome::Ok, 42},
        {"  -7 ", 0, ParseOutcome::Ok, -7},
        {"+7", 0, ParseOutcome::Ok, 7},
        {"12.345", 2, ParseOutcome::Ok, 1235},
        {"-0.125", 2, ParseOutcome::Ok, -13},
        {"0.124", 2, ParseOutcome::Ok, 12},
        {".5", 0, ParseOutcome::Ok, 1},
        {"-.5", 0, ParseOutcome::Ok, -1},
        {"5.", 0, ParseOutcome::Ok, 5},
        {"1.5e3", 2, ParseOutcome::Ok, 150000},
        {"1E+5", 0, ParseOutcome::Ok, 100000},
        {"25e-1", 0, ParseOutcome::Ok, 3},
        {"1.5e-9223372036854775808", 0, ParseOutcome::Ok, 0},
        {"9223372036854775807", 0, ParseOutcome::Ok, kMax},
        {"-9223372036854775808", 0, ParseOutcome::Ok, kMin},
        {"9223372036854775808", 0, ParseOutcome::Overflow, 0},
        {"92233720368547758.08", 2, ParseOutcome::Overflow, 0},
        {"1e20", 2, ParseOutcome::Overflow, 0},
        {"1e9223372036854775807", 2, ParseOutcome::Overflow, 0},
        {"+-5", 0, ParseOutcome::NotNumber, 0},
        {"-+5", 0, ParseOutcome::NotNumber, 0},
        {"--5", 0, ParseOutcome::NotNumber, 0},
        {"1e+-5", 0, ParseOutcome::NotNumber, 0},
        {"1e", 0, ParseOutcome::NotNumber, 0},
        {"1e+", 0, ParseOutcome::NotNumber, 0},
        {"1.2.3", 0, ParseOutcome::NotNumber, 0},
        {"1,5", 0, ParseOutcome::NotNumber, 0},
        {".", 0, ParseOutcome::NotNumber, 0},
        {"abc", 0, ParseOutcome::NotNumber, 0},
        {"12abc", 0, ParseOutcome::NotNumber, 0},
        {"", 0, ParseOutcome::NotNumber, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\" at scale " + std::to_string(c.scale));
        int64_t value = -1;
        EXPECT_EQ(parseScaled(c.text, c.scale, value), c.outcome);
        if (c.outcome == ParseOutcome::Ok) {
            EXPECT_EQ(value, c.value);
        }
    }
}

TEST(ValueParsing, floatingPointNumbersAreFiniteWithOneSign) {
    const struct {
        const char* text;
        std::optional<double> value;
    } cases[] = {
        {"2.5e-3", 0.0025},      {"+1.5", 1.5},
        {" -1.5 ", -1.5},        {"3", 3.0},
        {"+-5", std::nullopt},   {"1,5", std::nullopt},
        {"inf", std::nullopt},   {"nan", std::nullopt},
        {"1e400", std::nullopt}, {"", std::nullopt},
        {"1.5x", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        EXPECT_EQ(parseDouble(c.text), c.value);
    }
}

TEST(ValueParsing, datesAreIsoOrDayFirstAndRealDaysOfTheCalendar) {
    const struct {
        const char* text;
        std::optional<Date> value;
    } cases[] = {
        {"2024-02-29", Date{2024, 2, 29}},
        {" 2024-1-2 ", Date{2024, 1, 2}},
        {"01.03.2023", Date{2023, 3, 1}},
        {"1/3/2023", Date{2023, 3, 1}},
        {"9999-12-31", Date{9999, 12, 31}},
        {"2023-02-29", std::nullopt},
        {"0000-01-01", std::nullopt},
        {"2023-13-01", std::nullopt},
        {"01.03/2023", std::nullopt},
        {"24-01-02", std::nullopt},
        {"2024-01-02 03:04", std::nullopt},  // a time is no part of a date
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        EXPECT_EQ(parseDate(c.text), c.value);
    }
}

TEST(ValueParsing, timesKeepTheFractionToTenThousandths) {
    const struct {
        const char* text;
        std::optional<Time> value;
    } cases[] = {
        {"13:45:30.5", Time{13, 45, 30, 5000}},
        {"7:05", Time{7, 5, 0, 0}},
        {" 23:59:59.9999 ", Time{23, 59, 59, 9999}},
        {"12:00:00.123456", Time{12, 0, 0, 1234}},
        {"25:00", std::nullopt},
        {"23:60", std::nullopt},
        {"23:59:60", std::nullopt},
        {"07:5", std::nullopt},
        {"12:00:00.", std::nullopt},
        {"12", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        EXPECT_EQ(parseTime(c.text), c.value);
    }
}

TEST(ValueParsing, timestampsAreADateWithAnOptionalTime) {
    const struct {
        const char* text;
        std::optional<Timestamp> value;
    } cases[] = {
        {"2024-01-02 03:04:05", Timestamp{{2024, 1, 2}, {3, 4, 5, 0}}},
        {"2024-01-02T03:04", Timestamp{{2024, 1, 2}, {3, 4, 0, 0}}},
        {"02.01.2024   03:04:05.25", Timestamp{{2024, 1, 2}, {3, 4, 5, 2500}}},
        {"2024-01-02", Timestamp{{2024, 1, 2}, {}}},
        {"2024-01-02 ", Timestamp{{2024, 1, 2}, {}}},
        {"2024-01-02x", std::nullopt},
        {"2024-01-02 25:00", std::nullopt},
        {"2024-01-02 03:04 x", std::nullopt},
        {"03:04:05", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        EXPECT_EQ(parseTimestamp(c.text), c.value);
    }
}

TEST(ValueParsing, booleansAreTrueFalseOneOrZero) {
    const struct {
        const char* text;
        std::optional<bool> value;
    } cases[] = {
        {"TRUE", true},      {" false ", false}, {"True", true},
        {"1", true},         {"0", false},       {"yes", std::nullopt},
        {"2", std::nullopt}, {"", std::nullopt}, {"t", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        EXPECT_EQ(parseBoolean(c.text), c.value);
    }
}

TEST(ValueParsing, timesOfTheDayEndBeforeMidnight) {
    const struct {
        Time time;
        bool valid;
    } cases[] = {
        {{0, 0, 0, 0}, true},       {{23, 59, 59, 9999}, true}, {{24, 0, 0, 0}, false},
        {{-1, 0, 0, 0}, false},     {{12, 60, 0, 0}, false},    {{12, 0, 60, 0}, false},
        {{12, 0, 0, 10000}, false}, {{12, 0, 0, -1}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(valueText(c.time));
        EXPECT_EQ(validTime(c.time), c.valid);
    }
}

}  // namespace
}  // namespace tarvolen::database
