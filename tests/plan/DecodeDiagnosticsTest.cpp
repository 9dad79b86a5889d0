// What the readers report, when asked, about row values they load other than as the file holds
// them: texts that read as null, strings cut to their width. One table of cases for both forms.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BinaryPacketSupport.h"
#include "plan/DecodeDiagnostics.h"
#include "plan/PacketCodec.h"

namespace tarvolen {
namespace {

using binarytest::Bytes;

// Each note as "ROW FIELD null 'TEXT'" or "ROW FIELD cut LENGTH>WIDTH".
class CollectedNotes : public DecodeDiagnostics {
  public:
    void note(const ValueNote& note) override {
        std::string line = std::to_string(note.row) + " " + std::string(note.field);
        if (note.kind == ValueNote::Kind::TextReadAsNull) {
            line += " null '" + std::string(note.text) + "'";
        } else {
            line += " cut " + std::to_string(note.length) + ">" + std::to_string(note.width);
        }
        lines.push_back(line);
    }
    std::vector<std::string> lines;
};

std::string xmlPacket(const std::string& rows) {
    return "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
           "<FIELD attrname=\"N\" fieldtype=\"i4\"/>"
           "<FIELD attrname=\"H\" fieldtype=\"i2\"/>"
           "<FIELD attrname=\"R\" fieldtype=\"r8\"/>"
           "<FIELD attrname=\"D\" fieldtype=\"date\"/>"
           "<FIELD attrname=\"B\" fieldtype=\"boolean\"/>"
           "<FIELD attrname=\"S\" fieldtype=\"string\" WIDTH=\"3\"/>"
           "<FIELD attrname=\"W\" fieldtype=\"string.uni\" WIDTH=\"2\"/>"
           "<FIELD attrname=\"M\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>"
           "</FIELDS><PARAMS/></METADATA><ROWDATA>" +
           rows + "</ROWDATA></DATAPACKET>";
}

// A binary packet of a string field S (WIDTH 3) and a wide string field W (WIDTH 2), one row
// holding `text` and `wideUnits` UTF-16 units of "x".
std::string binaryPacket(const std::string& text, size_t wideUnits) {
    Bytes b = binarytest::header(2, 1);
    b.name("S").u32(0x00490001u).u16(0).u16(1).name("WIDTH").u32(typeword::kUInt16).u16(3);
    b.name("W").u32(0x004A0001u).u16(0).u16(1).name("WIDTH").u32(typeword::kUInt16).u16(2);
    b.u16(0);       // no dataset attributes
    b.u8(0).u8(0);  // status, both fields stored
    b.u8(static_cast<uint8_t>(text.size())).raw(text);
    b.u8(static_cast<uint8_t>(2 * wideUnits));
    for (size_t i = 0; i < wideUnits; ++i) b.u16(u'x');
    return b.str();
}

struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> notes;
};

TEST(DecodeDiagnostics, reportsTextsReadAsNullAndStringsCutByRowAndField) {
    const std::vector<Case> cases = {
        {"every value as written",
         xmlPacket("<ROW N=\"-12\" H=\"7\" R=\"1.5E3\" D=\"20240229\" B=\"TRUE\" S=\"abc\" "
                   "W=\"&#1000;y\" M=\"long text of any length\"/>"),
         {}},
        {"empty values and left-out ones are no text",
         xmlPacket("<ROW N=\"\" D=\"\" S=\"\"/>"),
         {}},
        {"a boolean reads as false, never null", xmlPacket("<ROW B=\"maybe\"/>"), {}},
        {"a letter before the first digit", xmlPacket("<ROW N=\"x12\"/>"), {"1 N null 'x12'"}},
        {"no digit at all", xmlPacket("<ROW N=\"-\"/>"), {"1 N null '-'"}},
        {"an integer beyond its type", xmlPacket("<ROW H=\"70000\"/>"), {"1 H null '70000'"}},
        {"a number that does not read", xmlPacket("<ROW R=\"abc\"/>"), {"1 R null 'abc'"}},
        {"a date in another form", xmlPacket("<ROW D=\"2024-02-29\"/>"), {"1 D null '2024-02-29'"}},
        {"a day that does not exist", xmlPacket("<ROW D=\"20230229\"/>"), {"1 D null '20230229'"}},
        {"the decoded text is reported", xmlPacket("<ROW N=\"&lt;1&gt;\"/>"), {"1 N null '<1>'"}},
        {"a string longer than its width", xmlPacket("<ROW S=\"abcdef\"/>"), {"1 S cut 6>3"}},
        {"a string's length counts decoded characters",
         xmlPacket("<ROW S=\"a&amp;b&lt;\"/>"),
         {"1 S cut 4>3"}},
        {"a string of its width exactly", xmlPacket("<ROW S=\"a&amp;b\"/>"), {}},
        {"a wide string longer than its width",
         xmlPacket("<ROW W=\"&#1000;&#1001;&#1002;\"/>"),
         {"1 W cut 3>2"}},
        {"rows counted in storage order, fields in layout order",
         xmlPacket("<ROW N=\"1\"/><ROW S=\"abcd\" N=\"one\"/><ROW/><ROW H=\"h\"/>"),
         {"2 N null 'one'", "2 S cut 4>3", "4 H null 'h'"}},
        {"binary, values within their widths", binaryPacket("abc", 2), {}},
        {"binary, a string longer than its width", binaryPacket("abcdefg", 1), {"1 S cut 7>3"}},
        {"binary, a wide string longer than its width", binaryPacket("a", 5), {"1 W cut 5>2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CollectedNotes notes;
        const DataPacket reported = decodePacket(c.bytes, notes);
        EXPECT_EQ(notes.lines, c.notes);
        // Asking for notes changes nothing in what loads.
        EXPECT_EQ(encodeXmlPacket(reported), encodeXmlPacket(decodePacket(c.bytes)));
    }
}

TEST(DecodeDiagnostics, aPacketThatFailsStillFailsWithItsError) {
    CollectedNotes notes;
    EXPECT_THROW(decodePacket(xmlPacket("<ROW S=\"abcdef\"><ROW/>"), notes), EDBClient);
    EXPECT_THROW(decodePacket(binaryPacket("abcdef", 1).substr(0, 60), notes), EDBClient);
}

}  // namespace
}  // namespace tarvolen
