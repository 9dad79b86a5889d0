#include "engine/Versione.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace tarvolen {
namespace {

struct ParseCase {
    std::string text;
    int32_t major, minor, release, build;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class VersioneParse : public testing::TestWithParam<ParseCase> {};

TEST_P(VersioneParse, readsTheFourComponentsByTheDotRule) {
    const ParseCase& c = GetParam();
    const auto v = TVersione::CreateFromText(c.text);
    EXPECT_EQ(v->Major, c.major);
    EXPECT_EQ(v->Minor, c.minor);
    EXPECT_EQ(v->Release, c.release);
    EXPECT_EQ(v->Build, c.build);
}

INSTANTIATE_TEST_SUITE_P(
    DotRule, VersioneParse,
    testing::Values(ParseCase{"1.2.3.4", 1, 2, 3, 4}, ParseCase{"10.20.30.40", 10, 20, 30, 40},
                    ParseCase{"", 0, 0, 0, 0}, ParseCase{"5", 0, 0, 0, 5},
                    ParseCase{"1.2", 1, 0, 1, 2}, ParseCase{"1.", 1, 0, 1, 0},
                    ParseCase{"1.2.3", 1, 2, 0, 0}, ParseCase{"1.2.3.", 1, 2, 3, 0},
                    ParseCase{"1.2.3.4.5", 1, 2, 3, 0}, ParseCase{"1..3.4", 1, 0, 3, 4},
                    ParseCase{"a.b.c.d", 0, 0, 0, 0}, ParseCase{" 1.2.3.4", 1, 2, 3, 4},
                    ParseCase{"1.2.3.4 ", 1, 2, 3, 0}, ParseCase{".", 0, 0, 0, 0},
                    ParseCase{"...", 0, 0, 0, 0}, ParseCase{"-1.2.3.4", -1, 2, 3, 4},
                    ParseCase{"$A.x1F.0x10.0XfF", 10, 31, 16, 255}));

// The number one piece spells, seen through the last component (the rest of the text empty).
struct NumberCase {
    std::string piece;
    int32_t value;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << '"' << c.piece << '"';
}

class VersionePieceNumber : public testing::TestWithParam<NumberCase> {};

TEST_P(VersionePieceNumber, isTheSigned32BitValueOrZero) {
    const NumberCase& c = GetParam();
    TVersione v;
    v.Parse("0.0.0." + c.piece);
    EXPECT_EQ(v.Build, c.value);
    // The same piece in the first position, where a dot ends it.
    v.Parse(c.piece + ".0.0.0");
    EXPECT_EQ(v.Major, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    SignsBlanksAndRange, VersionePieceNumber,
    testing::Values(NumberCase{"2147483647", INT32_MAX}, NumberCase{"2147483648", 0},
                    NumberCase{"-2147483648", INT32_MIN}, NumberCase{"-2147483649", 0},
                    NumberCase{"99999999999999999999", 0}, NumberCase{"+5", 5},
                    NumberCase{" -5", -5}, NumberCase{"   7", 7}, NumberCase{"5 ", 0},
                    NumberCase{"- 5", 0}, NumberCase{"+-5", 0}, NumberCase{"--5", 0},
                    NumberCase{"-", 0}, NumberCase{"+", 0}, NumberCase{" ", 0},
                    NumberCase{"1e3", 0}, NumberCase{"\t5", 0}, NumberCase{"007", 7}));

INSTANTIATE_TEST_SUITE_P(
    Hexadecimal, VersionePieceNumber,
    testing::Values(NumberCase{"$FFFFFFFF", -1}, NumberCase{"$7FFFFFFF", INT32_MAX},
                    NumberCase{"$80000000", INT32_MIN}, NumberCase{"0x100000000", 0},
                    NumberCase{"$0000000000FF", 255}, NumberCase{"x1a", 26}, NumberCase{"X1A", 26},
                    NumberCase{"0x1a", 26}, NumberCase{"0X1A", 26}, NumberCase{"-$10", -16},
                    NumberCase{" +0x10", 16}, NumberCase{"$", 0}, NumberCase{"0x", 0},
                    NumberCase{"$G", 0}, NumberCase{"$ 1", 0}, NumberCase{"0x1 ", 0},
                    NumberCase{"1A", 0}));

TEST(Versione, defaultIsZeroAndAsTextUsesSignedDecimals) {
    EXPECT_EQ(TVersione().AsText(), "0.0.0.0");
    struct {
        std::string text, asText;
    } cases[] = {
        {"1.2", "1.0.1.2"},
        {"-1.2.3.4", "-1.2.3.4"},
        {"007.0x10.$FFFFFFFF.-2147483648", "7.16.-1.-2147483648"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TVersione::CreateFromText(c.text)->AsText(), c.asText) << c.text;
    }
}

TEST(Versione, parseReplacesEveryComponent) {
    TVersione v;
    v.Parse("9.9.9.9");
    v.Parse("5");
    EXPECT_EQ(v.AsText(), "0.0.0.5");
    v.Parse("1.2.3.x");
    EXPECT_EQ(v.AsText(), "1.2.3.0");
}

TEST(Versione, comparesComponentsAsNumbersFirstDifferenceDeciding) {
    struct {
        std::string a, b;
        int expected;
    } cases[] = {
        {"1.10.0.0", "1.9.0.0", 1},
        {"2.0.0.0", "1.99.99.99", 1},
        {"1.2.3.4", "1.2.3.4", 0},
        {"1.2.3.4", "1.2.3.5", -1},
        {"1.0.0.0", "0.9999.9999.9999", 1},
        {"0.0.0.1", "0.0.0.-1", 1},
        {"-1.0.0.0", "0.0.0.0", -1},
        // Differences at the ends of the 32-bit range must not wrap.
        {"2147483647.0.0.0", "-2147483648.0.0.0", 1},
        {"0.0.0.-2147483648", "0.0.0.2147483647", -1},
        {"1.-2147483648.-2147483648.-2147483648", "0.2147483647.2147483647.2147483647", 1},
    };
    for (const auto& c : cases) {
        const auto a = TVersione::CreateFromText(c.a);
        const auto b = TVersione::CreateFromText(c.b);
        EXPECT_EQ(a->CompareTo(*b), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(b->CompareTo(*a), -c.expected) << c.b << " vs " << c.a;
        EXPECT_EQ(a->CompareToText(c.b), c.expected) << c.a << " vs text " << c.b;
    }
}

TEST(Versione, compareToTextReadsTheTextByTheSameRule) {
    struct {
        std::string version, text;
        int expected;
    } cases[] = {
        // An empty text is 0.0.0.0: above it exactly when the first non-zero component is positive.
        {"0.0.0.1", "", 1},
        {"0.0.-1.5", "", -1},
        {"0.0.0.0", "", 0},
        // "1.2" is 1.0.1.2.
        {"1.0.1.5", "1.2", 1},
        {"1.0.1.2", "1.2", 0},
        {"1.1.0.0", "1.2", 1},
        {"1.0.0.9", "1.2", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TVersione::CreateFromText(c.version)->CompareToText(c.text), c.expected)
            << c.version << " vs text \"" << c.text << '"';
    }
}

TEST(Versione, assignCopiesAllComponents) {
    const auto source = TVersione::CreateFromText("-3.$FF.7.2147483647");
    TVersione target;
    target.Parse("1.1.1.1");
    target.Assign(*source);
    EXPECT_EQ(target.CompareTo(*source), 0);
    EXPECT_EQ(target.AsText(), "-3.255.7.2147483647");
}

TEST(Versione, cleanTextIsFourDecimalNumbersThatParseAsWritten) {
    struct Case {
        const char* text;
        bool clean;
    };
    const Case cases[] = {
        {"1.2.0.0", true},
        {"0.0.0.0", true},
        {"10.20.30.40", true},
        {"2147483647.0.0.1", true},
        {"01.2.3.4", true},
        {"", false},
        {"1.1", false},
        {"1.2.3", false},
        {"1.2.3.4.5", false},
        {"v1.2.0.0", false},
        {"1.2.0.0 ", false},
        {" 1.2.0.0", false},
        {"1..3.4", false},
        {"1.2.3.", false},
        {"-1.2.3.4", false},
        {"+1.2.3.4", false},
        {"$A.0.0.0", false},
        {"0x1.0.0.0", false},
        {"2147483648.0.0.0", false},
        {"99999999999.0.0.0", false},
        {"1.2.3.4\r", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsCleanVersionText(c.text), c.clean) << '"' << c.text << '"';
        // A clean text is read exactly as written.
        if (c.clean && c.text[0] != '0') {
            EXPECT_EQ(TVersione::CreateFromText(c.text)->AsText(), c.text);
        }
    }
}

}  // namespace
}  // namespace tarvolen
