#include "plan/PackedDecimal.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvolen {
namespace {

std::string bytes(std::initializer_list<unsigned char> list) {
    return std::string(list.begin(), list.end());
}

TEST(PackedDecimal, recordSizeFollowsThePrecision) {
    EXPECT_EQ(bcdRecordSize(0), 18);  // the default precision of 32
    EXPECT_EQ(bcdRecordSize(1), 3);
    EXPECT_EQ(bcdRecordSize(9), 7);
    EXPECT_EQ(bcdRecordSize(64), 34);
    EXPECT_EQ(bcdRecordSize(200), 34);
}

TEST(PackedDecimal, packsTextAndUnpacksItInItsOneForm) {
    struct Case {
        const char* text;
        uint32_t recordSize;
        std::string record;
        const char* unpacked;
    };
    const Case cases[] = {
        {"-12.50", 7, bytes({4, 0x82, 0x12, 0x50, 0, 0, 0}), "-12.50"},
        {"+007", 3, bytes({1, 0, 0x70}), "7"},
        {"0", 3, bytes({1, 0, 0x00}), "0"},
        {"-0.00", 3, bytes({2, 0x02, 0x00}), "0.00"},  // no sign on zero
        {".5", 3, bytes({1, 0x01, 0x50}), "0.5"},
        // The zeros leading the fraction are left out when the record cannot hold them.
        {"0.005", 3, bytes({1, 0x03, 0x50}), "0.005"},
        {"0.005", 4, bytes({3, 0x03, 0x00, 0x50}), "0.005"},
        {"123", 4, bytes({3, 0, 0x12, 0x30}), "123"},
    };
    for (const Case& c : cases) {
        std::string record;
        ASSERT_TRUE(packDecimal(c.text, c.recordSize, record)) << c.text;
        EXPECT_EQ(record, c.record) << c.text;
        std::string text;
        ASSERT_TRUE(unpackDecimal(record, text)) << c.text;
        EXPECT_EQ(text, c.unpacked) << c.text;
    }
}

TEST(PackedDecimal, refusesTextThatDoesNotReadOrFit) {
    for (const char* text : {"", "-", ".", "1.2.3", "+-5", "--5", "1e3", " 5", "12a", "123456"}) {
        std::string record;
        EXPECT_FALSE(packDecimal(text, 4, record)) << text;
    }
}

TEST(PackedDecimal, refusesDamagedRecords) {
    const std::string damaged[] = {
        bytes({}),           bytes({1}), bytes({5, 0, 0x12}),  // five digits do not fit three bytes
        bytes({1, 0, 0xA0}),                                   // a digit nibble above 9
        bytes({2, 0, 0x1F}),
    };
    for (const std::string& record : damaged) {
        std::string text;
        EXPECT_FALSE(unpackDecimal(record, text)) << record.size();
    }
}

}  // namespace
}  // namespace tarvolen
