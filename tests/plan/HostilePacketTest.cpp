// Packets built to make decoding take much more memory than their file: their rows stay about
// as small as their bytes, and what a layout may hold in all is bounded.

#include <gtest/gtest.h>

#include "BinaryPacketSupport.h"

namespace tarvolen {
namespace {

using namespace binarytest;

TEST(HostilePacket, rowsOfTwoBytesTakeAboutTheirSize) {
    constexpr uint32_t kRows = 200000;
    Bytes b = header(1, kRows);
    b.name("A").u32(typeword::kInt32).u16(0).u16(0).u16(0);
    for (uint32_t r = 0; r < kRows; ++r) b.u8(r % 2 == 0 ? 0 : rowstate::kSuperseded).u8(0x01);
    const DataPacket p = decodeBinaryPacket(b.str());
    ASSERT_EQ(p.rows.size(), kRows);
    EXPECT_LE(p.rows.bytesUsed(), size_t{kRows} * 3);
    EXPECT_EQ(p.rows.status(kRows - 1), rowstate::kSuperseded);
    EXPECT_TRUE(isNull(p.rows.value(kRows - 1, 0)));
}

TEST(HostilePacket, emptyXmlRowsOfManyFieldsTakeAboutTheirSize) {
    constexpr size_t kRows = 100000;
    std::string xml = "<DATAPACKET><METADATA><FIELDS>";
    for (int f = 0; f < 1000; ++f) {
        xml += "<FIELD attrname=\"F" + std::to_string(f) + "\" fieldtype=\"i4\"/>";
    }
    xml += "</FIELDS><PARAMS/></METADATA><ROWDATA>";
    for (size_t r = 0; r < kRows; ++r) xml += r % 100 == 0 ? "<ROW F999=\"1\"/>" : "<ROW/>";
    xml += "</ROWDATA></DATAPACKET>";
    const DataPacket p = decodeXmlPacket(xml);
    ASSERT_EQ(p.rows.size(), kRows);
    EXPECT_LE(p.rows.bytesUsed(), kRows * 4);
    EXPECT_EQ(p.rows.value(100, 999), FieldValue{int64_t{1}});
    EXPECT_EQ(p.rows[1].values.size(), 1000u);
}

TEST(HostilePacket, aLayoutHoldsAtMost65535AttributesInAll) {
    // Two fields of 40,000 attributes each: allowed one by one, too many together.
    Bytes b = header(2, 0);
    for (const char* name : {"A", "B"}) {
        b.name(name).u32(typeword::kInt32).u16(0).u16(40000);
        for (int i = 0; i < 40000; ++i) b.name("X").u32(typeword::kInt8).u8(1);
    }
    b.u16(0);
    EXPECT_EQ(binaryError(b.str()), kInvalidParameter);

    std::string xml = "<DATAPACKET><METADATA><FIELDS>";
    for (const char* name : {"A", "B"}) {
        xml += std::string("<FIELD attrname=\"") + name + "\" fieldtype=\"i4\">";
        for (int i = 0; i < 40000; ++i) xml += "<PARAM Name=\"X\" Value=\"1\"/>";
        xml += "</FIELD>";
    }
    xml += "</FIELDS><PARAMS/></METADATA><ROWDATA/></DATAPACKET>";
    EXPECT_EQ(decodeError([&] { return decodeXmlPacket(xml); }), kInvalidParameter);
}

TEST(HostilePacket, arraysHoldAtMost262144NumbersInAll) {
    auto binaryArray = [](uint32_t count) {
        Bytes b = header(0, 0);
        b.u16(1).name("BIG").u32(typeword::kArray | typeword::kUInt8).u32(count);
        b.raw(std::string(count, '\x01'));
        return b.str();
    };
    EXPECT_EQ(decodeBinaryPacket(binaryArray(262144)).attributes.size(), 1u);
    EXPECT_EQ(binaryError(binaryArray(262145)), kInvalidParameter);

    std::string numbers;
    for (int i = 0; i < 262145; ++i) numbers += "1 ";
    const std::string xml = "<DATAPACKET><METADATA><FIELDS/><PARAMS><PARAM Name=\"BIG\" Value=\"" +
                            numbers +
                            "\" Type=\"UIntArray\"/></PARAMS></METADATA><ROWDATA/>"
                            "</DATAPACKET>";
    EXPECT_EQ(decodeError([&] { return decodeXmlPacket(xml); }), kInvalidParameter);
}

TEST(HostilePacket, aChangeLogOfSmallNumbersTakesAboutItsSize) {
    constexpr uint32_t kEntries = 100000;
    Bytes b = header(0, 0);
    b.u16(1).name("CHANGE_LOG").u32(typeword::kArray | typeword::kUInt8).u32(3 * kEntries);
    for (uint32_t i = 0; i < kEntries; ++i) b.u8(1).u8(0).u8(4);
    const DataPacket p = decodeBinaryPacket(b.str());
    EXPECT_EQ(p.changeLog.size(), kEntries);
    EXPECT_EQ(p.changeLog[kEntries - 1], (ChangeLogEntry{1, 0, 4}));
}

}  // namespace
}  // namespace tarvolen
