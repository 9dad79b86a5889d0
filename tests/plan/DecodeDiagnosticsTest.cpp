// What the readers report, when asked, about row values they load other than as the file holds
// them: texts that read as null, strings cut to their width. One table of cases for both forms.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BinaryPacketSupport.h"
#include "plan/DecodeDiagnostics.h"
#include "plan/Errors.h"
#include "plan/PacketCodec.h"

namespace tarvolen {
namespace {

using binarytest::Bytes;

// Each note as "ROW FIELD null 'TEXT'", "ROW FIELD 'TEXT' as READ", "ROW FIELD lacks 'TEXT'
// as 'READ' U+XXXX [at OFFSET]" or "ROW FIELD cut LENGTH>WIDTH".
class CollectedNotes : public DecodeDiagnostics {
  public:
    void note(const ValueNote& note) override {
        std::string line = std::to_string(note.row) + " " + std::string(note.field);
        switch (note.kind) {
            case ValueNote::Kind::TextReadAsNull:
                line += " null '" + std::string(note.text) + "'";
                break;
            case ValueNote::Kind::TextReadOtherwise:
                line += " '" + std::string(note.text) + "' as " + std::string(note.readAs);
                break;
            case ValueNote::Kind::CharacterNotInCp1252: {
                char character[16];
                std::snprintf(character, sizeof character, "U+%04X",
                              static_cast<unsigned>(note.character));
                line += " lacks '" + std::string(note.text) + "' as '" + std::string(note.readAs) +
                        "' " + character;
                if (note.byteOffset != std::string_view::npos)
                    line += " at " + std::to_string(note.byteOffset);
                break;
            }
            case ValueNote::Kind::CutToWidth:
                line += " cut " + std::to_string(note.length) + ">" + std::to_string(note.width);
                break;
        }
        lines.push_back(line);
    }
    void textEncoding(const TextEncodingNote& note) override { encodings.push_back(note); }
    std::vector<std::string> lines;
    std::vector<TextEncodingNote> encodings;
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
           "<FIELD attrname=\"T\" fieldtype=\"time\"/>"
           "<FIELD attrname=\"TS\" fieldtype=\"SQLdateTime\"/>"
           "<FIELD attrname=\"X\" fieldtype=\"bin.hex\" WIDTH=\"2\"/>"
           "<FIELD attrname=\"F\" fieldtype=\"fixed\" DECIMALS=\"2\" WIDTH=\"5\"/>"
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
                   "W=\"&#1000;y\" M=\"long text of any length\" T=\"13:45:30250\" "
                   "TS=\"20240229T13:45:30\" X=\"AAE=\" F=\"-123.45\"/>"),
         {}},
        {"as written, give or take the letter case and blanks the form allows",
         xmlPacket("<ROW N=\" +12 \" R=\" -1.5e-3\" B=\"false\"/><ROW B=\"True\" "
                   "M=\"&#8364;&#232;\" X=\"AA\r\nE=\"/>"),
         {}},
        {"empty values and left-out ones are no text",
         xmlPacket("<ROW N=\"\" D=\"\" S=\"\"/>"),
         {}},
        {"a boolean is TRUE or FALSE, and anything else reads as one of them",
         xmlPacket("<ROW B=\"maybe\"/><ROW B=\"yes\"/><ROW B=\"1\"/><ROW B=\"S\"/>"
                   "<ROW B=\"T\"/><ROW B=\" TRUE\"/><ROW B=\"\"/>"),
         {"1 B 'maybe' as FALSE", "2 B 'yes' as FALSE", "3 B '1' as FALSE", "4 B 'S' as FALSE",
          "5 B 'T' as TRUE", "6 B ' TRUE' as FALSE", "7 B '' as FALSE"}},
        {"text after a number",
         xmlPacket("<ROW N=\"12,50\" H=\"7x\" R=\"12,50\"/><ROW R=\"+-1\" N=\"1 2\"/>"),
         {"1 N '12,50' as 12", "1 H '7x' as 7", "1 R '12,50' as 12", "2 N '1 2' as 1",
          "2 R '+-1' as -1"}},
        {"a number that is none",
         xmlPacket("<ROW R=\"nan\"/><ROW R=\"inf\"/>"),
         {"1 R 'nan' as nan", "2 R 'inf' as inf"}},
        {"times with some of their milliseconds, or more after them",
         xmlPacket("<ROW T=\"13:45:301\"/>"
                   "<ROW T=\"13:45:30250x\" TS=\"20240229T13:45:30250x\"/>"),
         {"1 T '13:45:301' as 13:45:30001", "2 T '13:45:30250x' as 13:45:30250",
          "2 TS '20240229T13:45:30250x' as 20240229T13:45:30250"}},
        {"times and dates that are none",
         xmlPacket("<ROW T=\"25:00:00000\" TS=\"20240229T25:00:00000\"/>"
                   "<ROW D=\"2024-12-31\" TS=\"20240230\"/>"),
         {"1 T null '25:00:00000'", "1 TS null '20240229T25:00:00000'", "2 D null '2024-12-31'",
          "2 TS null '20240230'"}},
        {"decimals that are none or that the field cannot hold",
         xmlPacket("<ROW F=\"12,50\"/><ROW F=\"1e3\"/><ROW F=\"12345678.5\"/>"),
         {"1 F null '12,50'", "2 F null '1e3'", "3 F null '12345678.5'"}},
        {"Base64 with other characters in it, and bytes longer than the field",
         xmlPacket("<ROW X=\"AA!E\"/><ROW X=\"AAEC\"/><ROW X=\"AA=E\"/>"),
         {"1 X 'AA!E' as AAE=", "2 X cut 3>2", "3 X 'AA=E' as AAA="}},
        {"a reference to a character Windows-1252 lacks",
         xmlPacket("<ROW S=\"a&#337;\" M=\"&#8364;&#12354;\"/>"),
         {"1 S lacks 'a&#337;' as 'a?' U+0151", "1 M lacks '&#8364;&#12354;' as '\x80?' U+3042"}},
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

// How the text of an XML packet is taken, by the rules of plans and of data files: a plan as
// ever, a data file also as UTF-8 when it declares nothing and is UTF-8 beyond ASCII, and
// refused when its UTF-8 is broken or holds a character Windows-1252 lacks.
TEST(DecodeDiagnostics, saysHowTheTextIsTakenByTheRulesOfPlansAndOfDataFiles) {
    using Encoding = TextEncodingNote::Encoding;
    using Reason = TextEncodingNote::Reason;
    const std::string utf8 = "Citt\xC3\xA0 \xE2\x82\xAC";
    const std::string cp1252 = "Citt\xE0 \x80";
    const auto packet = [](const std::string& prolog, const std::string& text) {
        return prolog +
               "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"S\" "
               "fieldtype=\"string\" WIDTH=\"40\"/></FIELDS><PARAMS/></METADATA><ROWDATA><ROW "
               "S=\"" +
               text + "\"/></ROWDATA></DATAPACKET>";
    };
    const std::string declared = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
    const std::string latin1 = "<?xml version='1.0' encoding='ISO-8859-1'?>";
    const std::string plain = "<?xml version=\"1.0\" standalone=\"yes\"?>";
    const std::string bom = "\xEF\xBB\xBF";
    struct Case {
        const char* name;
        std::string bytes;
        // As a plan, then as a data file: the encoding, why, and S as read; or the refusal.
        Encoding planEncoding;
        Reason planReason;
        std::string planText;
        Encoding dataEncoding;
        Reason dataReason;
        std::string dataText;  // empty: refused with `refusal`
        std::string refusal;
        bool beyondAscii = true;
        std::vector<std::string> dataNotes = {};
    };
    const size_t at = packet(plain, "").find("S=\"") + 3;  // where S's text starts
    const Case cases[] = {
        {"ASCII", packet(plain, "Citta"), Encoding::Windows1252, Reason::Undeclared, "Citta",
         Encoding::Windows1252, Reason::Undeclared, "Citta", "", false},
        {"Windows-1252 beyond ASCII", packet(plain, cp1252), Encoding::Windows1252,
         Reason::Undeclared, cp1252, Encoding::Windows1252, Reason::Undeclared, cp1252, ""},
        {"UTF-8 that declares nothing", packet(plain, utf8), Encoding::Windows1252,
         Reason::Undeclared, utf8, Encoding::Utf8, Reason::Detected, cp1252, ""},
        {"UTF-8 declared", packet(declared, utf8), Encoding::Utf8, Reason::Declared, cp1252,
         Encoding::Utf8, Reason::Declared, cp1252, ""},
        {"UTF-8 after a byte-order mark", bom + packet(plain, utf8), Encoding::Utf8,
         Reason::ByteOrderMark, cp1252, Encoding::Utf8, Reason::ByteOrderMark, cp1252, ""},
        {"another encoding declared, bytes that look like UTF-8", packet(latin1, utf8),
         Encoding::Windows1252, Reason::Declared, utf8, Encoding::Windows1252, Reason::Declared,
         utf8, ""},
        {"UTF-8 declared, a Windows-1252 byte in it", packet(declared, utf8 + "\xE8"),
         Encoding::Windows1252, Reason::Declared, utf8 + "\xE8", Encoding::Utf8, Reason::Declared,
         "",
         "The data file declares UTF-8 but is not UTF-8 at byte offset " +
             std::to_string(declared.size() - plain.size() + at + utf8.size())},
        {"a byte-order mark, then Windows-1252", bom + packet(plain, cp1252), Encoding::Utf8,
         Reason::ByteOrderMark, "Citt? ?", Encoding::Utf8, Reason::ByteOrderMark, "",
         "The data file opens with UTF-8's byte-order mark but is not UTF-8 at byte offset " +
             std::to_string(3 + at + 4)},
        // Noted in the value that holds it, naming where the file holds it.
        {"UTF-8 holding a character Windows-1252 lacks",
         packet(plain, "a\xC5\x91"),
         Encoding::Windows1252,
         Reason::Undeclared,
         "a\xC5\x91",
         Encoding::Utf8,
         Reason::Detected,
         "a?",
         "",
         true,
         {"1 S lacks 'a?' as 'a?' U+0151 at " + std::to_string(at + 1)}},
        {"the same, declared",
         packet(declared, "a\xC5\x91"),
         Encoding::Utf8,
         Reason::Declared,
         "a?",
         Encoding::Utf8,
         Reason::Declared,
         "a?",
         "",
         true,
         {"1 S lacks 'a?' as 'a?' U+0151 at " +
          std::to_string(declared.size() - plain.size() + at + 1)}},
        {"the same, after a byte-order mark",
         bom + packet(plain, "a\xC5\x91"),
         Encoding::Utf8,
         Reason::ByteOrderMark,
         "a?",
         Encoding::Utf8,
         Reason::ByteOrderMark,
         "a?",
         "",
         true,
         {"1 S lacks 'a?' as 'a?' U+0151 at " + std::to_string(3 + at + 1)}},
        // Only values are stored: a name may hold one, read as "?".
        {"a field name holding a character Windows-1252 lacks",
         "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"\xEF\xBC\xAE\xC3\xA0\" "
         "fieldtype=\"string\" WIDTH=\"9\"/></FIELDS><PARAMS/></METADATA><ROWDATA><ROW "
         "\xEF\xBC\xAE\xC3\xA0=\"\xC3\xA8\"/></ROWDATA></DATAPACKET>",
         Encoding::Windows1252, Reason::Undeclared, "\xC3\xA8", Encoding::Utf8, Reason::Detected,
         "\xE8", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CollectedNotes plan;
        const DataPacket asPlan = decodePacket(c.bytes, TextRules::Plan, &plan);
        EXPECT_EQ(encodeXmlPacket(asPlan), encodeXmlPacket(decodePacket(c.bytes)));
        ASSERT_EQ(plan.encodings.size(), 1u);
        EXPECT_EQ(plan.encodings[0].encoding, c.planEncoding);
        EXPECT_EQ(plan.encodings[0].reason, c.planReason);
        EXPECT_EQ(plan.encodings[0].beyondAscii, c.beyondAscii);
        EXPECT_EQ(std::get<std::string>(asPlan.rows.value(0, 0)), c.planText);

        CollectedNotes data;
        if (c.dataText.empty()) {
            try {
                decodePacket(c.bytes, TextRules::DataFile, &data);
                ADD_FAILURE() << "not refused";
            } catch (const EDataFileRefused& e) {
                EXPECT_EQ(e.what(), c.refusal);
            }
            continue;
        }
        const DataPacket asData = decodePacket(c.bytes, TextRules::DataFile, &data);
        EXPECT_EQ(data.lines, c.dataNotes);
        ASSERT_EQ(data.encodings.size(), 1u);
        EXPECT_EQ(data.encodings[0].encoding, c.dataEncoding);
        EXPECT_EQ(data.encodings[0].reason, c.dataReason);
        EXPECT_EQ(std::get<std::string>(asData.rows.value(0, 0)), c.dataText);
    }
}

TEST(DecodeDiagnostics, aPacketThatFailsStillFailsWithItsError) {
    CollectedNotes notes;
    EXPECT_THROW(decodePacket(xmlPacket("<ROW S=\"abcdef\"><ROW/>"), notes), EDBClient);
    EXPECT_THROW(decodePacket(binaryPacket("abcdef", 1).substr(0, 60), notes), EDBClient);
}

}  // namespace
}  // namespace tarvolen
