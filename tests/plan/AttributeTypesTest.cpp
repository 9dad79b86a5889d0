// Attributes the program carries through keep their type and value from binary to XML and back.

#include <gtest/gtest.h>

#include "BinaryPacketSupport.h"

namespace tarvolen {
namespace {

using namespace binarytest;

TEST(AttributeTypes, everyTypeTravelsThroughXmlUnchanged) {
    using namespace typeword;
    struct Case {
        const char* name;
        uint32_t typeWord;
        FieldValue value;
        const char* xmlType;  // PARAM Type as written
    };
    const Case cases[] = {
        {"Date", kDate, int64_t{738945}, "date"},
        {"Time", kTime, int64_t{45296789}, "time"},
        {"DateTime", kDateTime, 738945.0 * 86400000.0 + 1234.0, "dateTime"},
        {"Timestamp", kSqlTimeStamp, SqlTimeStamp{2024, 2, 29, 13, 5, 7, 250}, "SQLdateTime"},
        {"Int8", kInt8, int64_t{-5}, "i1"},
        {"UInt8", kUInt8, int64_t{200}, "ui1"},
        {"Int16", kInt16, int64_t{-300}, "i2"},
        {"Word", kUInt16, int64_t{65535}, "ui2"},
        {"LargeInt", kInt64, int64_t{-9000000000}, "i8"},
        {"Boolean", kBoolean, true, "boolean"},
        {"Float", kFloat, 0.1, "r8"},
        {"Text", kString2, std::string("testo & <altro>"), "string"},
        {"ShortText", kString1, std::string("breve"), "0x00490001"},
        {"Wide", kWideString2, std::u16string(u"Citt\u00E0 \u20AC \U0001F600"), "string.uni"},
        {"ShortWide", kWideString1, std::u16string(u"\u4E2D"), "0x004A0001"},
        {"Blob", kBlob, makeBlob(std::string("\0\x01\xFF", 3)), "bin.hex"},
        {"Bytes", kBytesClass | 3, std::string("a\0b", 3), "0x000B0003"},
        {"Decimal", kBcdClass | 18, std::string("-12.50"), "fixed"},
        {"SmallDecimal", kBcdClass | 5, std::string("1.25"), "0x00050005"},
        {"FormattedDecimal", kFmtBcdClass | 11, std::string("99.999"), "0x0012000B"},
        {"UIntArray", kUIntArray, IntArray{1, 2, 3}, "UIntArray"},
        {"IntArray", kIntArray, IntArray{-1, 0, 1}, "IntArray"},
        {"ShortArray", kArray | kInt16, IntArray{-2, 7}, "0x00810002"},
        {"WordArray", kArray | kUInt16, IntArray{65535}, "0x00820002"},
        {"ByteArray", kArray | kUInt8, IntArray{1, 255}, "0x00820001"},
        {"LargeIntArray", kArray | kInt64, IntArray{-9000000000}, "0x00810008"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DataPacket p;
        p.fields = {field("F", FieldType::Int32, kInt32, {attr("X_FIELD", c.typeWord, c.value)})};
        p.attributes = {attr("X_DATASET", c.typeWord, c.value)};
        const std::string binary = encodeBinaryPacket(p);
        const DataPacket fromBinary = decodeBinaryPacket(binary);
        const std::string xml = encodeXmlPacket(fromBinary);
        EXPECT_NE(xml.find(std::string("Type=\"") + c.xmlType + "\""), std::string::npos) << xml;
        const DataPacket back = decodeXmlPacket(xml);
        expectSamePacket(back, p);
        EXPECT_EQ(encodeBinaryPacket(back), binary);
        EXPECT_EQ(encodeXmlPacket(back), xml);
    }
}

TEST(AttributeTypes, aKnownNameCarriedThroughWithAnotherTypeKeepsIt) {
    using namespace typeword;
    DataPacket p;
    // In the order the XML form keeps: the XML attributes of FIELD first, then its PARAMs.
    p.fields = {
        field("F", FieldType::Int32, kInt32,
              {attr("MINVALUE", kString2, std::string("0")),
               attr("DEFVALUE", kDate, int64_t{738945}), attr("LCID", kInt32, int64_t{70000})})};
    p.attributes = {attr("READONLY", kBoolean, true), attr("READONLY", kBoolean, false)};
    const std::string xml = encodeXmlPacket(p);
    // Of the type its name implies: an XML attribute; of another, or a second one: a PARAM.
    EXPECT_NE(xml.find(" MINVALUE=\"0\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("<PARAM Name=\"DEFVALUE\" Value=\"20240229\" Type=\"date\"/>"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<PARAM Name=\"LCID\" Value=\"70000\" Type=\"i4\"/>"), std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<PARAMS READONLY=\"TRUE\"><PARAM Name=\"READONLY\" Value=\"FALSE\" "
                       "Type=\"boolean\"/></PARAMS>"),
              std::string::npos)
        << xml;
    expectSamePacket(decodeXmlPacket(xml), p);
}

TEST(AttributeTypes, aValueThatDoesNotReadAsItsTypeStaysText) {
    const DataPacket p = decodeXmlPacket(
        "<DATAPACKET><METADATA><FIELDS/><PARAMS><PARAM Name=\"X\" Value=\"domani\" "
        "Type=\"date\"/><PARAM Name=\"N\" Value=\"molti\" Type=\"i4\"/></PARAMS></METADATA>"
        "<ROWDATA/></DATAPACKET>");
    expectSameAttributes(p.attributes, {attr("X", typeword::kString2, std::string("domani")),
                                        attr("N", typeword::kInt32, int64_t{0})});
    EXPECT_NO_THROW(encodeBinaryPacket(p));
}

TEST(AttributeTypes, aKnownNameWhoseValueWouldNotReadBackGoesAsAParam) {
    using namespace typeword;
    struct Case {
        const char* name;
        Attribute attribute;
        std::string written;
    };
    const Case cases[] = {
        // A used name holding what its type cannot: the text would read back as FALSE.
        {"ArrayInABoolean", attr("CALCULATED", kUIntArray, IntArray{1, 0, 4}),
         "<PARAM Name=\"CALCULATED\" Value=\"1 0 4\" Type=\"UIntArray\"/>"},
        // A used name of another type whose text reads back the same stays an XML attribute.
        {"WordWidth", attr("AUTOINCVALUE", kUInt16, int64_t{30}), " AUTOINCVALUE=\"30\""},
        // Beyond its type's range a number is stored as 64-bit, and says so.
        {"LargeLocale", attr("LCID", kInt16, int64_t{103101}),
         "<PARAM Name=\"LCID\" Value=\"103101\" Type=\"i8\"/>"},
        {"LargeNumber", attr("NOTA", kInt16, int64_t{103101}),
         "<PARAM Name=\"NOTA\" Value=\"103101\" Type=\"i8\"/>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DataPacket p;
        p.attributes = {c.attribute};
        const std::string xml = encodeXmlPacket(p);
        EXPECT_NE(xml.find(c.written), std::string::npos) << xml;
        // Through XML or through the binary form, the same XML again.
        EXPECT_EQ(encodeXmlPacket(decodeXmlPacket(xml)), xml);
        EXPECT_EQ(encodeXmlPacket(decodeBinaryPacket(encodeBinaryPacket(p))), xml);
    }
    // Read from a file of older copies, such an attribute is written as it reads back.
    const DataPacket old = decodeXmlPacket(
        "<DATAPACKET><METADATA><FIELDS/><PARAMS LCID=\"103101\"/></METADATA><ROWDATA/>"
        "</DATAPACKET>");
    const std::string xml = encodeXmlPacket(old);
    EXPECT_NE(xml.find("<PARAM Name=\"LCID\" Value=\"103101\" Type=\"i8\"/>"), std::string::npos);
    EXPECT_EQ(encodeXmlPacket(decodeXmlPacket(xml)), xml);
}

}  // namespace
}  // namespace tarvolen
