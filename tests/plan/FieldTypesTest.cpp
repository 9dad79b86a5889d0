#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "base/Calendar.h"
#include "base/Cp1252.h"
#include "plan/Base64.h"
#include "plan/FieldTypes.h"

namespace tarvolen {
namespace {

TEST(Calendar, dayNumbersCountFromTheFirstOfJanuaryOfYearOne) {
    struct Case {
        int y, m, d;
        int64_t day;
    };
    const Case cases[] = {{1, 1, 1, 1},          {1899, 12, 30, 693594}, {1900, 3, 1, 693655},
                          {2000, 2, 29, 730179}, {2001, 6, 21, 730657},  {9999, 12, 31, 3652059}};
    for (const auto& c : cases) {
        EXPECT_EQ(dayNumberFromDate(c.y, c.m, c.d), c.day);
        int y = 0, m = 0, d = 0;
        dateFromDayNumber(c.day, y, m, d);
        EXPECT_EQ(std::tie(y, m, d), std::tie(c.y, c.m, c.d)) << c.day;
    }
}

TEST(FieldTypes, typeWordsMapToTypesAndBack) {
    struct Case {
        uint32_t word;
        TypeLookup lookup;
        FieldType type;
    };
    const Case cases[] = {
        {0x00010001, TypeLookup::Dropped, {}},
        {0x00020001, TypeLookup::Dropped, {}},
        {0x00010002, TypeLookup::Field, FieldType::Int16},
        {0x00010004, TypeLookup::Field, FieldType::Int32},
        {0x00010008, TypeLookup::Field, FieldType::Int64},
        {0x00020004, TypeLookup::Field, FieldType::UInt32},
        {0x00030002, TypeLookup::Field, FieldType::Boolean},
        {0x00040008, TypeLookup::Field, FieldType::Float},
        {0x0005000B, TypeLookup::Field, FieldType::Bcd},
        {0x00120012, TypeLookup::Field, FieldType::FmtBcd},
        {0x00060004, TypeLookup::Field, FieldType::Date},
        {0x00070004, TypeLookup::Field, FieldType::Time},
        {0x00080008, TypeLookup::Field, FieldType::DateTime},
        {0x00110010, TypeLookup::Field, FieldType::SqlTimeStamp},
        {0x00490001, TypeLookup::Field, FieldType::String},
        {0x00490002, TypeLookup::Field, FieldType::String},
        {0x004A0002, TypeLookup::Field, FieldType::WideString},
        {0x004B0004, TypeLookup::Field, FieldType::Blob},
        {0x000B0010, TypeLookup::Field, FieldType::Bytes},
        {0x00820004, TypeLookup::Invalid, {}},  // arrays cannot be fields
        {0x80010004, TypeLookup::Invalid, {}},  // composite
        {0x000B0000, TypeLookup::Invalid, {}},  // byte field of size 0
        {0x00010003, TypeLookup::Invalid, {}},
        {0x00090001, TypeLookup::Invalid, {}},
        {0x003F0004, TypeLookup::Invalid, {}},
    };
    for (const auto& c : cases) {
        FieldType type{};
        EXPECT_EQ(lookupTypeWord(c.word, type), c.lookup) << std::hex << c.word;
        if (c.lookup == TypeLookup::Field) {
            EXPECT_EQ(type, c.type) << std::hex << c.word;
            FieldType xmlType{};
            EXPECT_EQ(lookupXmlType(xmlTypeName(type), xmlType), TypeLookup::Field);
        }
    }
    EXPECT_EQ(typeWordFor(FieldType::String, 254), 0x00490001u);
    EXPECT_EQ(typeWordFor(FieldType::String, 255), 0x00490002u);
    EXPECT_EQ(typeWordFor(FieldType::Bcd, 18), 0x0005000Bu);
}

TEST(Base64, roundTripsAndSkipsLineBreaks) {
    for (const std::string& bytes : {std::string(), std::string("a"), std::string("ab"),
                                     std::string("abc"), std::string("\x00\xFF\x10\x80", 4)}) {
        EXPECT_EQ(base64Decode(base64Encode(bytes)), bytes);
    }
    EXPECT_EQ(base64Encode("abcd"), "YWJjZA==");
    EXPECT_EQ(base64Decode("YWJj\r\nZA=="), "abcd");
}

TEST(DataPacket, notANumberSortsLastAndEqualsItself) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(compareValues(nan, 1.0), 1);
    EXPECT_EQ(compareValues(1.0, nan), -1);
    EXPECT_EQ(compareValues(nan, nan), 0);
    EXPECT_TRUE(sameValue(nan, nan));
}

TEST(Cp1252, convertsBetweenUtf8AndTheCodePage) {
    EXPECT_EQ(cp1252::toUtf8("\xE0\x80\x9F"), "\xC3\xA0\xE2\x82\xAC\xC5\xB8");
    EXPECT_EQ(cp1252::fromUtf8("\xC3\xA0\xE2\x82\xAC\xC5\xB8\xE3\x83\x86"), "\xE0\x80\x9F?");
    EXPECT_EQ(cp1252::fromUtf8("a\xE9\"b\x80"), "a?\"b?");  // a malformed byte swallows nothing
    EXPECT_TRUE(cp1252::isValidUtf8("plain \xC3\xA0"));
    for (const char* bad : {"\xE0", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80"}) {
        EXPECT_FALSE(cp1252::isValidUtf8(bad)) << bad;
    }
    EXPECT_EQ(cp1252::toUpper('a'), 'A');
    EXPECT_EQ(cp1252::toUpper('\xE0'), '\xC0');  // à
    EXPECT_EQ(cp1252::toUpper('\xF7'), '\xF7');  // ÷ has no capital
    EXPECT_EQ(cp1252::toUpper('\x9A'), '\x8A');  // š
    EXPECT_EQ(cp1252::toUpper('\xFF'), '\x9F');  // ÿ
    EXPECT_EQ(cp1252::toUpper('\xDF'), '\xDF');  // ß stays
}

// Where a text stops being UTF-8, and the conversion that stops at the first byte that is no
// UTF-8 and notes each character the code page lacks; the ASCII runs between, passed over eight
// bytes at a time, must not hide a byte anywhere in them.
TEST(Cp1252, findsWhereUtf8EndsAndNotesWhatTheCodePageLacks) {
    struct Case {
        const char* name;
        std::string text;
        size_t firstNonUtf8;  // npos: all UTF-8
        std::string converted;
        std::vector<std::string> substitutions;  // "from>to U+XXXX"
    };
    const std::string ascii15 = "fifteen bytes..";
    const auto npos = std::string::npos;
    const Case cases[] = {
        {"empty", "", npos, "", {}},
        {"ASCII only, longer than eight", ascii15 + ascii15, npos, ascii15 + ascii15, {}},
        {"accents and the euro", "Citt\xC3\xA0 \xE2\x82\xAC", npos, "Citt\xE0 \x80", {}},
        {"a Windows-1252 byte after a long ASCII run", ascii15 + "\xE8" + ascii15, 15, ascii15, {}},
        {"a byte at the end of an eight-byte word", "1234567\xE8", 7, "1234567", {}},
        {"a sequence cut short at the end", "ab\xC3", 2, "ab", {}},
        {"characters the code page lacks",
         "a\xC3\xA8\xC5\x91z\xE3\x81\x82",
         npos,
         "a\xE8?z?",
         {"3>2 U+0151", "6>4 U+3042"}},
        {"a broken byte after a lacking character", "\xC5\x91\xFF", 2, "?", {"0>0 U+0151"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cp1252::firstNonUtf8(c.text), c.firstNonUtf8);
        EXPECT_EQ(cp1252::isValidUtf8(c.text), c.firstNonUtf8 == npos);
        const bool high = std::any_of(c.text.begin(), c.text.end(),
                                      [](char b) { return static_cast<unsigned char>(b) >= 0x80; });
        EXPECT_EQ(cp1252::hasHighBytes(c.text), high);
        std::string out;
        std::vector<cp1252::Utf8Substitution> substitutions;
        const std::optional<size_t> stop = cp1252::fromUtf8Marking(c.text, out, substitutions);
        EXPECT_EQ(stop.value_or(npos), c.firstNonUtf8);
        EXPECT_EQ(out, c.converted);
        std::vector<std::string> noted;
        for (const auto& n : substitutions) {
            char codePoint[16];
            std::snprintf(codePoint, sizeof codePoint, "U+%04X",
                          static_cast<unsigned>(n.codePoint));
            noted.push_back(std::to_string(n.from) + ">" + std::to_string(n.to) + " " + codePoint);
        }
        EXPECT_EQ(noted, c.substitutions);
    }
}

}  // namespace
}  // namespace tarvolen
