// The bytes the binary writer emits: the header, each value in its stored form, a kept blob
// stored once, and the values it refuses.

#include <gtest/gtest.h>

#include "BinaryPacketSupport.h"

namespace tarvolen {
namespace {

using namespace binarytest;

TEST(BinaryWriter, headerPointsAtTheFirstRow) {
    const DataPacket packet = planWithChangeLog();
    const std::string bytes = encodeBinaryPacket(packet);
    EXPECT_EQ(readU32(bytes, 0), kMagic);
    EXPECT_EQ(readU16(bytes, 4), 1);
    EXPECT_EQ(readU16(bytes, 6), 0);
    EXPECT_EQ(readU32(bytes, 8), kHeaderSize);
    EXPECT_EQ(readU16(bytes, 12), packet.fields.size());
    EXPECT_EQ(readU32(bytes, 14), packet.rows.size());
    EXPECT_EQ(readU32(bytes, 18), 3u);
    // First row: status, one byte of field bits, then ID 1 and STATO "N".
    const std::string firstRow("\x01\x00\x01\x00\x00\x00\x01N", 8);
    EXPECT_EQ(bytes.substr(readU16(bytes, 22), firstRow.size()), firstRow);
}

TEST(BinaryWriter, omitsTheRowOffsetWhenItDoesNotFitSixteenBits) {
    DataPacket packet = planWithChangeLog();
    packet.attributes.push_back(attr("BIG1", typeword::kString2, std::string(40000, 'a')));
    packet.attributes.push_back(attr("BIG2", typeword::kString2, std::string(40000, 'b')));
    const std::string bytes = encodeBinaryPacket(packet);
    EXPECT_EQ(readU32(bytes, 18), 1u);
    EXPECT_EQ(readU16(bytes, 22), 0u);
    expectSamePacket(decodeBinaryPacket(bytes), packet);
}

size_t occurrences(const std::string& haystack, const std::string& needle) {
    size_t n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size())) {
        ++n;
    }
    return n;
}

TEST(BinaryWriter, storesABlobKeptByAnEditOnlyOnce) {
    const std::string bytes = encodeBinaryPacket(planWithChangeLog());
    EXPECT_EQ(occurrences(bytes, std::string(5000, 's')), 1u);
    EXPECT_EQ(occurrences(bytes, "first"), 1u);
    EXPECT_EQ(occurrences(bytes, "second"), 1u);
}

// Encodes one row holding `value` in a single field and returns that row's bytes.
std::string encodedRow(const FieldDef& f, const FieldValue& value) {
    DataPacket p;
    p.fields = {f};
    p.rows = {RowVersion{rowstate::kUnchanged, {value}}};
    const std::string bytes = encodeBinaryPacket(p);
    return bytes.substr(readU16(bytes, 22));
}

TEST(BinaryWriter, writesEachValueInItsStoredForm) {
    using namespace typeword;
    struct Case {
        const char* name;
        FieldDef field;
        FieldValue value;
        std::string row;  // status byte, field bits, value bytes
    };
    const Case cases[] = {
        {"Null", field("S", FieldType::String, kString1, {width(20)}), FieldValue{},
         std::string("\0\x01", 2)},
        {"EmptyText", field("S", FieldType::String, kString1, {width(20)}), std::string(),
         std::string("\0\0\x01\0", 4)},
        {"TwoByteLength", field("S", FieldType::String, kString2, {width(300)}), std::string("hi"),
         std::string("\0\0\x02\0hi", 6)},
        {"Wide", field("W", FieldType::WideString, kWideString1, {width(20)}),
         std::u16string(u"h\u20AC"), std::string("\0\0\x04h\0\xAC\x20", 7)},
        {"True", field("B", FieldType::Boolean, kBoolean), true, std::string("\0\0\x01\0", 4)},
        {"NegativeDecimal", field("D", FieldType::Bcd, kBcdClass | 5, {width(6)}),
         std::string("-123.45"), std::string("\0\0\x05\x82\x12\x34\x50", 7)},
        {"FractionOnly", field("D", FieldType::Bcd, kBcdClass | 4, {width(4)}), std::string("0.05"),
         std::string("\0\0\x02\x02\x05\0", 6)},
        {"ShortBytes", field("R", FieldType::Bytes, kBytesClass | 4, {width(4)}), std::string("ab"),
         std::string("\0\0ab\0\0", 6)},
        {"Timestamp", field("T", FieldType::SqlTimeStamp, kSqlTimeStamp),
         SqlTimeStamp{2024, 2, 29, 23, 59, 58, 999},
         std::string("\0\0\xE8\x07\x02\0\x1D\0\x17\0\x3B\0\x3A\0\xE7\x03\0\0", 18)},
        {"TypeWordFromType", field("S", FieldType::String, 0, {width(300)}), std::string("x"),
         std::string("\0\0\x01\0x", 5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(encodedRow(c.field, c.value), c.row);
    }
}

// The XML writer refuses the same: a value it cannot write is not written as null.
TEST(BinaryWriter, refusesValuesTheirFieldCannotHoldAsTheXmlWriterDoes) {
    using namespace typeword;
    struct Case {
        const char* name;
        FieldDef field;
        FieldValue value;
        std::string message;
    };
    const Case cases[] = {
        {"TextTooLong", field("S", FieldType::String, kString1, {width(300)}),
         std::string(256, 'x'), kInvalidParameter},
        {"TextWiderThanTheField", field("S", FieldType::String, kString1, {width(3)}),
         std::string("abcd"), kInvalidParameter},
        {"WideWiderThanTheField", field("W", FieldType::WideString, kWideString1, {width(1)}),
         std::u16string(u"ab"), kInvalidParameter},
        {"HalfASurrogatePair", field("W", FieldType::WideString, kWideString1, {width(9)}),
         std::u16string(1, u'\xD83D'), kInvalidParameter},
        {"SmallIntOutOfRange", field("I", FieldType::Int16, kInt16), int64_t{40000},
         kInvalidParameter},
        {"NegativeWord", field("I", FieldType::UInt16, kUInt16), int64_t{-1}, kInvalidParameter},
        {"TooManyDigits", field("D", FieldType::Bcd, kBcdClass | 3, {width(2)}), std::string("123"),
         kInvalidParameter},
        {"NotADecimal", field("D", FieldType::Bcd, kBcdClass | 5, {width(6)}), std::string("1e5"),
         kInvalidParameter},
        {"BytesTooLong", field("R", FieldType::Bytes, kBytesClass | 2, {width(2)}),
         std::string("abc"), kInvalidParameter},
        {"DayZero", field("D", FieldType::Date, kDate), int64_t{0}, kInvalidParameter},
        {"PartOfAMillisecond", field("T", FieldType::DateTime, kDateTime), 86400000.5,
         kInvalidParameter},
        {"Month13", field("T", FieldType::SqlTimeStamp, kSqlTimeStamp),
         SqlTimeStamp{2024, 13, 1, 0, 0, 0, 0}, kInvalidParameter},
        {"WrongAlternative", field("S", FieldType::String, kString1, {width(20)}), int64_t{1},
         kInvalidParameter},
        {"TextInAMemo", field("M", FieldType::Blob, kBlob, {subtype("Text")}), std::string("x"),
         kInvalidParameter},
        {"NoName", field("", FieldType::Int32, kInt32), FieldValue{}, kNullFieldName},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DataPacket p;
        p.fields = {c.field};
        p.rows = {RowVersion{0, {c.value}}};
        EXPECT_EQ(encodeError(p), c.message);
        EXPECT_EQ(xmlEncodeError(p), c.message);
    }
    const std::pair<Attribute, std::string> attributes[] = {
        {attr("NESTED", 0x01000004u, int64_t{1}), kInvalidFieldType},
        {attr("SINCE", kDate, int64_t{0}), kInvalidParameter},
        {attr("NOTE", kString1, std::string(256, 'x')), kInvalidParameter},
        {attr("COUNT", kInt32, std::string("1")), kInvalidParameter},
    };
    for (const auto& [attribute, message] : attributes) {
        SCOPED_TRACE(attribute.name);
        DataPacket p;
        p.attributes = {attribute};
        EXPECT_EQ(encodeError(p), message);
        EXPECT_EQ(xmlEncodeError(p), message);
    }
}

TEST(BinaryWriter, writesTextAttributesWithTheirClosingZero) {
    DataPacket p;
    p.fields = {field("MEMO", FieldType::Blob, typeword::kBlob, {subtype("Text")})};
    p.attributes = {attr("NOTE", typeword::kString1, std::string("hi"))};
    const std::string bytes = encodeBinaryPacket(p);
    const std::string subtypeRecord =
        Bytes().name("SUBTYPE").u32(typeword::kString2).u16(5).raw(std::string("Text\0", 5)).str();
    const std::string noteRecord =
        Bytes().name("NOTE").u32(typeword::kString1).u8(3).raw(std::string("hi\0", 3)).str();
    EXPECT_NE(bytes.find(subtypeRecord), std::string::npos);
    EXPECT_NE(bytes.find(noteRecord), std::string::npos);
    expectSamePacket(decodeBinaryPacket(bytes), p);
}

}  // namespace
}  // namespace tarvolen
