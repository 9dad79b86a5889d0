// The binary reader on hand-built packets: the layout rules, each decoding error, every stored
// value form and values carried over from the replaced version.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "BinaryPacketSupport.h"

namespace tarvolen {
namespace {

using namespace binarytest;

// A small valid packet: ID i4 (required) and NAME string WIDTH 10, AUTOINCVALUE 3, two rows,
// the second with NAME null. Options alter one thing at a time.
struct Fixture {
    uint32_t magic = kMagic;
    uint16_t major = 1;
    uint16_t minor = 0;
    uint32_t headerSize = kHeaderSize;
    uint16_t fieldCount = 2;
    uint32_t rowCount = 2;
    uint32_t properties = 3;
    int rowOffsetShift = 0;
    std::string idName = "ID";
    uint32_t idTypeWord = typeword::kInt32;
    std::string datasetAttributes =
        Bytes().u16(1).name("AUTOINCVALUE").u32(typeword::kInt32).u32(3).str();
    std::string trailer;

    std::string bytes() const {
        Bytes b;
        b.u32(magic).u16(major).u16(minor).u32(headerSize).u16(fieldCount).u32(rowCount);
        b.u32(properties).u16(0);
        b.name(idName).u32(idTypeWord).u16(fieldbits::kRequired).u16(0);
        b.name("NAME").u32(typeword::kString1).u16(0).u16(1);
        b.name("WIDTH").u32(typeword::kUInt16).u16(10);
        b.raw(datasetAttributes);
        const size_t rowOffset = b.size() + static_cast<size_t>(rowOffsetShift);
        b.u8(rowstate::kInserted).u8(0).u32(1).name("Ann");
        b.u8(rowstate::kInserted).u8(0x04).u32(2);
        b.raw(trailer);
        std::string s = b.str();
        s[22] = static_cast<char>(rowOffset);
        s[23] = static_cast<char>(rowOffset >> 8);
        return s;
    }
};

TEST(BinaryReader, decodesTheFixture) {
    const DataPacket p = decodeBinaryPacket(Fixture{}.bytes());
    ASSERT_EQ(p.fields.size(), 2u);
    EXPECT_EQ(p.fields[0].name, "ID");
    EXPECT_EQ(p.fields[0].type, FieldType::Int32);
    EXPECT_TRUE(p.fields[0].required());
    EXPECT_EQ(p.fields[1].name, "NAME");
    EXPECT_EQ(p.fields[1].type, FieldType::String);
    EXPECT_EQ(p.fields[1].typeWord, typeword::kString1);
    EXPECT_EQ(p.fields[1].width(), 10);
    expectSameAttributes(p.attributes, {attr("AUTOINCVALUE", typeword::kInt32, int64_t{3})});
    ASSERT_EQ(p.rows.size(), 2u);
    EXPECT_EQ(p.rows[0].status, rowstate::kInserted);
    EXPECT_TRUE(sameValue(p.rows[0].values[0], FieldValue{int64_t{1}}));
    EXPECT_TRUE(sameValue(p.rows[0].values[1], FieldValue{std::string("Ann")}));
    EXPECT_TRUE(sameValue(p.rows[1].values[0], FieldValue{int64_t{2}}));
    EXPECT_TRUE(isNull(p.rows[1].values[1]));
    EXPECT_TRUE(p.changeLog.empty());
}

std::string changeLogAttribute(uint32_t count, std::vector<uint32_t> numbers) {
    Bytes b;
    b.u16(1).name("CHANGE_LOG").u32(typeword::kUIntArray).u32(count);
    for (uint32_t n : numbers) b.u32(n);
    return b.str();
}

TEST(BinaryReader, rejectsDamagedPackets) {
    struct Case {
        const char* name;
        std::function<void(Fixture&)> change;
        std::string message;
    };
    const Case cases[] = {
        {"NoLayoutBit", [](Fixture& f) { f.properties = 2; }, kNoMetaData},
        {"NoPropertyBits", [](Fixture& f) { f.properties = 0; }, kNoMetaData},
        {"EmptyFieldName", [](Fixture& f) { f.idName.clear(); }, kNullFieldName},
        {"TypeClassZero", [](Fixture& f) { f.idTypeWord = 0x00000004; }, kInvalidFieldType},
        {"UnknownTypeClass", [](Fixture& f) { f.idTypeWord = 0x003F0004; }, kInvalidFieldType},
        {"ArrayType", [](Fixture& f) { f.idTypeWord = typeword::kIntArray; }, kInvalidFieldType},
        {"CompositeType", [](Fixture& f) { f.idTypeWord = 0x01010004; }, kInvalidFieldType},
        {"SizeZero", [](Fixture& f) { f.idTypeWord = 0x00490000; }, kInvalidFieldType},
        {"OddIntegerSize", [](Fixture& f) { f.idTypeWord = 0x00010003; }, kInvalidFieldType},
        {"OtherMagic", [](Fixture& f) { f.magic = 0x0000ABCD; }, kMismatch},
        {"ForeignMagic", [](Fixture& f) { f.magic = 0x12345678; }, kMismatch},
        {"MajorVersionFour", [](Fixture& f) { f.major = 4; }, kMismatch},
        {"HeaderSizeTooSmall", [](Fixture& f) { f.headerSize = 20; }, kMismatch},
        {"HeaderSizeTooSmallAndNoLayoutBit",
         [](Fixture& f) {
             f.headerSize = 20;
             f.properties = 0;
         },
         kNoMetaData},
        {"HeaderSizePastEndAndNoLayoutBit",
         [](Fixture& f) {
             f.headerSize = 0xFFFFFFFF;
             f.properties = 2;
         },
         kNoMetaData},
        {"HeaderSizePastEnd", [](Fixture& f) { f.headerSize = 0xFFFFFFFF; }, kMismatch},
        {"RowOffsetOff", [](Fixture& f) { f.rowOffsetShift = 1; }, kMismatch},
        {"HugeRowCount", [](Fixture& f) { f.rowCount = 0xFFFFFFFF; }, kMismatch},
        {"HugeFieldCount", [](Fixture& f) { f.fieldCount = 0xFFFF; }, kMismatch},
        {"MoreRowsThanStored", [](Fixture& f) { f.rowCount = 3; }, kMismatch},
        {"TrailingBytes", [](Fixture& f) { f.trailer = "x"; }, kMismatch},
        {"HugeAttributeCount", [](Fixture& f) { f.datasetAttributes = Bytes().u16(0xFFFF).str(); },
         kMismatch},
        {"HugeArrayCount",
         [](Fixture& f) { f.datasetAttributes = changeLogAttribute(0xFFFFFFFF, {}); }, kMismatch},
        {"AttributeTextPastEnd",
         [](Fixture& f) {
             f.datasetAttributes =
                 Bytes().u16(1).name("NOTE").u32(typeword::kString2).u16(0xFFFF).str();
         },
         kMismatch},
        {"ChangeLogNotInTriples",
         [](Fixture& f) {
             f.datasetAttributes = changeLogAttribute(2, {1, 0});
         },
         kMismatch},
        {"ArrayOfTexts",
         [](Fixture& f) {
             f.datasetAttributes =
                 Bytes().u16(1).name("NAMES").u32(typeword::kArray | typeword::kString2).str();
         },
         kInvalidFieldType},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        c.change(f);
        EXPECT_EQ(binaryError(f.bytes()), c.message);
    }
}

TEST(BinaryReader, majorVersionFourIsReadAsXml) {
    Fixture f;
    f.major = 4;
    EXPECT_FALSE(isBinaryPacket(f.bytes()));
    EXPECT_EQ(decodeError([&] { return decodePacket(f.bytes()); }), kMismatch);
    f.magic = 0x0000ABCD;
    EXPECT_TRUE(isBinaryPacket(f.bytes()));
    EXPECT_EQ(decodeError([&] { return decodePacket(f.bytes()); }), kMismatch);
}

TEST(BinaryReader, skipsEightBitIntegerFieldsButDropsThemFromTheLayout) {
    Bytes b = header(4, 2);
    b.name("TINY").u32(typeword::kInt8).u16(0).u16(1).name("WIDTH").u32(typeword::kUInt16).u16(1);
    b.name("ID").u32(typeword::kInt32).u16(0).u16(0);
    b.name("UTINY").u32(typeword::kUInt8).u16(0).u16(0);
    b.name("NAME").u32(typeword::kString1).u16(0).u16(1);
    b.name("WIDTH").u32(typeword::kUInt16).u16(10);
    b.u16(0);
    b.u8(0).u8(0x00).u8(0xFB).u32(7).u8(200).name("x");
    b.u8(0).u8(0x41).u32(8).u8(9);  // TINY and NAME null
    const DataPacket p = decodeBinaryPacket(b.str());
    ASSERT_EQ(p.fields.size(), 2u);
    EXPECT_EQ(p.fields[0].name, "ID");
    EXPECT_EQ(p.fields[1].name, "NAME");
    ASSERT_EQ(p.rows.size(), 2u);
    ASSERT_EQ(p.rows[0].values.size(), 2u);
    EXPECT_TRUE(sameValue(p.rows[0].values[0], FieldValue{int64_t{7}}));
    EXPECT_TRUE(sameValue(p.rows[0].values[1], FieldValue{std::string("x")}));
    ASSERT_EQ(p.rows[1].values.size(), 2u);
    EXPECT_TRUE(sameValue(p.rows[1].values[0], FieldValue{int64_t{8}}));
    EXPECT_TRUE(isNull(p.rows[1].values[1]));
}

// The field attributes (count and records) a field of this type word needs to load: the
// widest WIDTH for texts, its size for bytes, SUBTYPE for blobs, the matching precision for
// decimals.
std::string layoutAttributesFor(uint32_t typeWord) {
    FieldType type{};
    lookupTypeWord(typeWord, type);
    const auto size = static_cast<uint16_t>(typeWord & typeword::kSizeMask);
    Bytes b;
    switch (type) {
        case FieldType::String:
        case FieldType::WideString:
            return b.u16(1).name("WIDTH").u32(typeword::kUInt16).u16(32767).str();
        case FieldType::Bytes:
            return b.u16(1).name("WIDTH").u32(typeword::kUInt16).u16(size).str();
        case FieldType::Bcd:
        case FieldType::FmtBcd:
            return b.u16(1)
                .name("WIDTH")
                .u32(typeword::kUInt16)
                .u16(static_cast<uint16_t>(2 * (size - 2)))
                .str();
        case FieldType::Blob:
            return b.u16(1)
                .name("SUBTYPE")
                .u32(typeword::kString2)
                .u16(7)
                .raw(std::string("Binary\0", 7))
                .str();
        default:
            return b.u16(0).str();
    }
}

// A packet of one field with the given type word and one row holding `stored` as its value.
std::string singleValuePacket(uint32_t typeWord, std::string_view stored) {
    Bytes b = header(1, 1);
    b.name("V").u32(typeWord).u16(0).raw(layoutAttributesFor(typeWord)).u16(0);
    b.u8(0).u8(0).raw(stored);
    return b.str();
}

TEST(BinaryReader, decodesStoredValues) {
    using namespace typeword;
    struct Case {
        const char* name;
        uint32_t typeWord;
        std::string stored;
        FieldValue expected;
    };
    const Case cases[] = {
        {"SmallInt", kInt16, std::string("\xFE\xFF", 2), int64_t{-2}},
        {"Word", kUInt16, std::string("\xFE\xFF", 2), int64_t{65534}},
        {"Integer", kInt32, std::string("\xFF\xFF\xFF\xFF", 4), int64_t{-1}},
        {"UnsignedInteger", kUInt32, std::string("\xFF\xFF\xFF\xFF", 4), int64_t{4294967295}},
        {"LargeInt", kInt64, std::string("\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8), int64_t{-2}},
        {"AnyNonZeroIsTrue", kBoolean, std::string("\x00\xFF", 2), true},
        {"ZeroIsFalse", kBoolean, std::string("\x00\x00", 2), false},
        {"Float", kFloat, Bytes().f64(1.5).str(), 1.5},
        {"Date", kDate, std::string("\x21\x26\x0B\x00", 4), int64_t{0x0B2621}},
        {"Time", kTime, std::string("\xFF\x5B\x26\x05", 4), int64_t{86399999}},
        {"DateTime", kDateTime, Bytes().f64(63082281600000.0).str(), 63082281600000.0},
        {"Timestamp", kSqlTimeStamp,
         std::string("\xE8\x07\x02\0\x1D\0\x17\0\x3B\0\x3A\0\xE7\x03\0\0", 16),
         SqlTimeStamp{2024, 2, 29, 23, 59, 58, 999}},
        {"Text", kString1,
         std::string("\x03"
                     "abc"),
         std::string("abc")},
        {"ZeroByteIsEmptyText", kString1, std::string("\x01\x00", 2), std::string()},
        {"LengthZeroIsEmptyText", kString1, std::string("\x00", 1), std::string()},
        {"TwoByteLength", kString2, std::string("\x02\x00hi", 4), std::string("hi")},
        {"Wide", kWideString1, std::string("\x04h\0\xAC\x20", 5), std::u16string(u"h\u20AC")},
        {"Blob", kBlob, std::string("\x03\0\0\0a\0b", 7), makeBlob(std::string("a\0b", 3))},
        {"Bytes", kBytesClass | 3, std::string("\x01\x02\x03"), std::string("\x01\x02\x03")},
        {"Decimal", kBcdClass | 5, std::string("\x05\x02\x12\x34\x50", 5), std::string("123.45")},
        {"NegativeDecimal", kBcdClass | 5, std::string("\x05\x82\x12\x34\x50", 5),
         std::string("-123.45")},
        {"LeadingZeros", kBcdClass | 4, std::string("\x04\x00\x00\x12", 4), std::string("12")},
        {"FractionOnly", kFmtBcdClass | 4, std::string("\x03\x02\x00\x50", 4), std::string("0.05")},
        {"FewerDigitsThanDecimals", kBcdClass | 3, std::string("\x01\x03\x50", 3),
         std::string("0.005")},
        {"NoDigits", kBcdClass | 3, std::string("\x00\x00\x00", 3), std::string("0")},
        {"NegativeZero", kBcdClass | 3, std::string("\x00\x80\x00", 3), std::string("0")},
        {"EighteenDigits", kBcdClass | 11,
         std::string("\x12\x02\x12\x34\x56\x78\x90\x12\x34\x56\x78", 11),
         std::string("1234567890123456.78")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DataPacket p = decodeBinaryPacket(singleValuePacket(c.typeWord, c.stored));
        ASSERT_EQ(p.rows.size(), 1u);
        EXPECT_EQ(p.fields[0].typeWord, c.typeWord);
        EXPECT_TRUE(sameValue(p.rows[0].values[0], c.expected));
    }
}

TEST(BinaryReader, rejectsDamagedValues) {
    using namespace typeword;
    struct Case {
        const char* name;
        uint32_t typeWord;
        std::string stored;
    };
    const Case cases[] = {
        {"OddWideLength", kWideString1, std::string("\x03h\0i", 4)},
        {"BlobPastEnd", kBlob, std::string("\x09\0\0\0abc", 7)},
        {"DigitAboveNine", kBcdClass | 5, std::string("\x05\x02\x1A\x34\x50", 5)},
        {"MoreDigitsThanTheRecordHolds", kBcdClass | 3, std::string("\x03\x00\x12", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(binaryError(singleValuePacket(c.typeWord, c.stored)), kMismatch);
    }
}

TEST(BinaryReader, takesValuesNotStoredFromTheReplacedVersion) {
    Bytes b = header(2, 3);
    b.name("ID").u32(typeword::kInt32).u16(0).u16(0);
    b.name("MEMO").u32(typeword::kBlob).u16(0).u16(1);
    b.name("SUBTYPE").u32(typeword::kString2).u16(7).raw(std::string("Binary\0", 7));
    b.raw(changeLogAttribute(9, {1, 0, 4, 2, 1, 8, 3, 0, 4}));
    b.u8(rowstate::kInserted | rowstate::kSuperseded).u8(0).u32(1).u32(3).raw("abc");
    b.u8(rowstate::kModified).u8(0x08).u32(1);  // MEMO not stored: same as version 1
    b.u8(rowstate::kInserted).u8(0x08).u32(2);  // replaces nothing: MEMO stays null
    const DataPacket p = decodeBinaryPacket(b.str());
    ASSERT_EQ(p.rows.size(), 3u);
    EXPECT_TRUE(sameValue(p.rows[1].values[1], FieldValue{makeBlob("abc")}));
    EXPECT_TRUE(isNull(p.rows[2].values[1]));
    const std::vector<ChangeLogEntry> log = {{1, 0, 4}, {2, 1, 8}, {3, 0, 4}};
    EXPECT_EQ(p.changeLog, log);
    EXPECT_EQ(p.findAttribute("CHANGE_LOG"), nullptr);
}

// One Blob field MEMO whose SUBTYPE attribute record holds `subtypeRecord` (its type word,
// length and bytes), and one row holding "a\r\nb".
std::string memoWithSubtype(std::string_view subtypeRecord) {
    Bytes b = header(1, 1);
    b.name("MEMO").u32(typeword::kBlob).u16(0).u16(1).name("SUBTYPE").raw(subtypeRecord);
    b.u16(0);
    b.u8(0).u8(0).u32(4).raw("a\r\nb");
    return b.str();
}

TEST(BinaryReader, readsTextAttributesWithoutTheirClosingZero) {
    struct Case {
        const char* name;
        std::string record;
        std::string subtype;
    };
    const Case cases[] = {
        {"TwoByteLength",
         Bytes().u32(typeword::kString2).u16(5).raw(std::string("Text\0", 5)).str(), "Text"},
        {"OneByteLength", Bytes().u32(typeword::kString1).u8(5).raw(std::string("Text\0", 5)).str(),
         "Text"},
        {"WithoutZero", Bytes().u32(typeword::kString2).u16(4).raw("Text").str(), "Text"},
        {"OnlyTheZero", Bytes().u32(typeword::kString2).u16(1).raw(std::string(1, '\0')).str(), ""},
        {"ZeroInside", Bytes().u32(typeword::kString2).u16(4).raw(std::string("a\0b\0", 4)).str(),
         std::string("a\0b", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DataPacket p = decodeBinaryPacket(memoWithSubtype(c.record));
        EXPECT_EQ(p.fields[0].subtype(), c.subtype);
    }
    // A memo whose SUBTYPE is "Text" plus its zero is a text memo: its XML value is the text.
    const DataPacket memo = decodeBinaryPacket(memoWithSubtype(cases[0].record));
    const std::string xml = encodeXmlPacket(memo);
    EXPECT_NE(xml.find("SUBTYPE=\"Text\"/>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("MEMO=\"a&#013;&#010;b\""), std::string::npos) << xml;
    EXPECT_EQ(xml.find('\0'), std::string::npos);
}

TEST(BinaryReader, cutsTextsToTheWidthTheFileDeclaresAsTheXmlReaderDoes) {
    struct Case {
        const char* name;
        uint32_t typeWord;
        uint16_t width;
        std::string stored;
        const char* xmlType;
        const char* xmlValue;
        FieldValue expected;
    };
    const Case cases[] = {
        {"String", typeword::kString1, 4,
         "\x06"
         "abcdef",
         "string", "abcdef", std::string("abcd")},
        {"StringAtWidth", typeword::kString1, 6,
         "\x06"
         "abcdef",
         "string", "abcdef", std::string("abcdef")},
        {"Wide", typeword::kWideString1, 2, std::string("\x06x\0y\0z\0", 7), "string.uni", "xyz",
         std::u16string(u"xy")},
        // A cut through a surrogate pair leaves the whole pair out.
        {"WidePair", typeword::kWideString1, 2,
         std::string("\x06"
                     "a\0\x3D\xD8\x00\xDE",
                     7),
         "string.uni", "a&#x1F600;", std::u16string(u"a")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes b = header(1, 1);
        b.name("V").u32(c.typeWord).u16(0).u16(1).name("WIDTH").u32(typeword::kUInt16).u16(c.width);
        b.u16(0).u8(0).u8(0).raw(c.stored);
        const DataPacket binary = decodeBinaryPacket(b.str());
        EXPECT_EQ(binary.rows.value(0, 0), c.expected);
        const DataPacket xml = decodeXmlPacket(
            std::string("<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"V\" fieldtype=\"") +
            c.xmlType + "\" WIDTH=\"" + std::to_string(c.width) +
            "\"/></FIELDS><PARAMS/></METADATA><ROWDATA><ROW V=\"" + c.xmlValue +
            "\"/></ROWDATA></DATAPACKET>");
        EXPECT_EQ(xml.rows.value(0, 0), c.expected);
    }
    // Cut to a single zero byte, a text is the binary form's empty text, which is how it is
    // written back: no value may be that one byte.
    Bytes b = header(1, 1);
    b.name("V").u32(typeword::kString1).u16(0).u16(1).name("WIDTH").u32(typeword::kUInt16).u16(1);
    b.u16(0).u8(0).u8(0).raw(std::string("\x02\0x", 3));
    const DataPacket cut = decodeBinaryPacket(b.str());
    EXPECT_EQ(cut.rows.value(0, 0), FieldValue{std::string()});
    const DataPacket cutXml = decodeXmlPacket(
        "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"V\" fieldtype=\"string\" WIDTH=\"1\"/>"
        "</FIELDS><PARAMS/></METADATA><ROWDATA><ROW V=\"&#0;x\"/></ROWDATA></DATAPACKET>");
    EXPECT_EQ(cutXml.rows.value(0, 0), FieldValue{std::string()});
    DataPacket zero = cut;
    zero.rows = {RowVersion{0, {std::string(1, '\0')}}};
    EXPECT_EQ(encodeError(zero), kInvalidParameter);
}

std::string timeStamp(int16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute,
                      uint16_t second, uint32_t ms) {
    return Bytes()
        .u16(static_cast<uint16_t>(year))
        .u16(month)
        .u16(day)
        .u16(hour)
        .u16(minute)
        .u16(second)
        .u32(ms)
        .str();
}

TEST(BinaryReader, refusesDatesAndTimesTheXmlFormCannotSay) {
    using namespace typeword;
    constexpr double kDay = 86400000.0;
    constexpr uint32_t kLastDay = 3652059;  // 9999-12-31
    struct Case {
        const char* name;
        uint32_t typeWord;
        std::string stored;
        bool loads;
    };
    const Case cases[] = {
        {"FirstDay", kDate, Bytes().u32(1).str(), true},
        {"LastDay", kDate, Bytes().u32(kLastDay).str(), true},
        {"DayZero", kDate, Bytes().u32(0).str(), false},
        {"NegativeDay", kDate, Bytes().u32(static_cast<uint32_t>(-5)).str(), false},
        {"PastYear9999", kDate, Bytes().u32(kLastDay + 1).str(), false},
        {"Midnight", kTime, Bytes().u32(0).str(), true},
        {"LastMillisecond", kTime, Bytes().u32(86399999).str(), true},
        {"TwentyFourHours", kTime, Bytes().u32(86400000).str(), false},
        {"NegativeTime", kTime, Bytes().u32(static_cast<uint32_t>(-1)).str(), false},
        {"FirstMoment", kDateTime, Bytes().f64(kDay).str(), true},
        {"LastMoment", kDateTime, Bytes().f64((kLastDay + 1) * kDay - 1).str(), true},
        {"DayZeroMoment", kDateTime, Bytes().f64(0.0).str(), false},
        {"PastYear9999Moment", kDateTime, Bytes().f64((kLastDay + 1) * kDay).str(), false},
        {"PartOfAMillisecond", kDateTime, Bytes().f64(738945 * kDay + 0.5).str(), false},
        {"NotANumber", kDateTime, Bytes().f64(std::nan("")).str(), false},
        {"Infinite", kDateTime, Bytes().f64(std::numeric_limits<double>::infinity()).str(), false},
        {"Timestamp", kSqlTimeStamp, timeStamp(9999, 12, 31, 23, 59, 59, 999), true},
        {"TimestampYearZero", kSqlTimeStamp, timeStamp(0, 1, 1, 0, 0, 0, 0), false},
        {"TimestampMonth13", kSqlTimeStamp, timeStamp(2024, 13, 1, 0, 0, 0, 0), false},
        {"TimestampFebruary30", kSqlTimeStamp, timeStamp(2024, 2, 30, 0, 0, 0, 0), false},
        {"TimestampHour24", kSqlTimeStamp, timeStamp(2024, 2, 29, 24, 0, 0, 0), false},
        {"TimestampSecond60", kSqlTimeStamp, timeStamp(2024, 2, 29, 0, 0, 60, 0), false},
        {"TimestampMillisecond1000", kSqlTimeStamp, timeStamp(2024, 2, 29, 0, 0, 0, 1000), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string packet = singleValuePacket(c.typeWord, c.stored);
        if (!c.loads) {
            EXPECT_EQ(binaryError(packet), kInvalidParameter);
            continue;
        }
        // What loads is written as text that reads back as the same value.
        const DataPacket p = decodeBinaryPacket(packet);
        const DataPacket back = decodeXmlPacket(encodeXmlPacket(p));
        EXPECT_FALSE(isNull(back.rows.value(0, 0)));
        EXPECT_TRUE(sameValue(back.rows.value(0, 0), p.rows.value(0, 0)));
    }
    // The same holds for attributes of these types.
    Bytes b = header(0, 0);
    b.u16(1).name("SINCE").u32(kDate).u32(0);
    EXPECT_EQ(binaryError(b.str()), kInvalidParameter);
}

}  // namespace
}  // namespace tarvolen
