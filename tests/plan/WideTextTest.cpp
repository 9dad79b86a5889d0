// Wide strings ("string.uni") in both forms: one reference per character in XML, characters
// above U+FFFF included, and no half of a surrogate pair in a table.

#include <gtest/gtest.h>

#include "BinaryPacketSupport.h"

namespace tarvolen {
namespace {

using namespace binarytest;

const std::string kWideLayout =
    "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"W\" fieldtype=\"string.uni\" "
    "WIDTH=\"20\"/></FIELDS><PARAMS/></METADATA><ROWDATA>";

std::string wideRow(const std::string& value) {
    return kWideLayout + "<ROW W=\"" + value + "\"/></ROWDATA></DATAPACKET>";
}

TEST(WideText, writesOneReferencePerCharacterAndReadsItBack) {
    struct Case {
        const char* name;
        std::u16string value;
        std::string written;
    };
    const Case cases[] = {
        {"Latin", u"Citt\u00E0", "Citt&#224;"},
        {"Euro", u"\u20AC", "&#8364;"},
        {"AboveFFFF", u"a\U0001F600b", "a&#128512;b"},
        {"LastCharacter", u"\U0010FFFD", "&#1114109;"},
        {"TwoInARow", u"\U00010000\U0001F600", "&#65536;&#128512;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DataPacket p = decodeXmlPacket(wideRow(""));
        p.rows = {RowVersion{0, {c.value}}};
        const std::string xml = encodeXmlPacket(p);
        EXPECT_NE(xml.find("W=\"" + c.written + "\""), std::string::npos) << xml;
        EXPECT_EQ(decodeXmlPacket(xml).rows.value(0, 0), FieldValue{c.value});
        EXPECT_EQ(decodeBinaryPacket(encodeBinaryPacket(p)).rows.value(0, 0), FieldValue{c.value});
    }
}

TEST(WideText, readsPairsWrittenAsTwoReferencesAndKeepsLoneHalvesAsText) {
    struct Case {
        const char* name;
        std::string written;
        std::u16string value;
    };
    const Case cases[] = {
        // As older copies wrote a character above U+FFFF.
        {"Pair", "&#55357;&#56832;", u"\U0001F600"},
        {"HexPair", "&#xD83D;&#xDE00;", u"\U0001F600"},
        {"LoneHigh", "a&#55357;b", u"a&#55357;b"},
        {"LoneLow", "&#56832;", u"&#56832;"},
        {"HighThenText", "&#xD83D;x&#xDE00;", u"&#xD83D;x&#xDE00;"},
        {"HighAtTheEnd", "x&#55357;", u"x&#55357;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodeXmlPacket(wideRow(c.written)).rows.value(0, 0), FieldValue{c.value});
    }
}

TEST(WideText, theBinaryReaderRefusesHalfAPair) {
    const std::string cases[] = {
        std::string("\x02\x3D\xD8", 3),          // high surrogate alone
        std::string("\x02\x00\xDE", 3),          // low surrogate alone
        std::string("\x04\x00\xDE\x3D\xD8", 5),  // the two halves the wrong way round
        std::string("\x04\x3D\xD8\x41\x00", 5),  // high surrogate, then a letter
    };
    for (const std::string& stored : cases) {
        Bytes b = header(1, 1);
        b.name("W").u32(typeword::kWideString1).u16(0).u16(1);
        b.name("WIDTH").u32(typeword::kUInt16).u16(20).u16(0);
        b.u8(0).u8(0).raw(stored);
        EXPECT_EQ(binaryError(b.str()), kInvalidParameter);
    }
}

}  // namespace
}  // namespace tarvolen
