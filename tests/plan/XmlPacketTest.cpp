#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "base/Calendar.h"
#include "plan/Errors.h"
#include "plan/FieldTypes.h"
#include "plan/PacketCodec.h"

namespace tarvolen {
namespace {

const std::string kPrologAndHead =
    "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";
const std::string kPlanFields =
    "<FIELD attrname=\"ID\" fieldtype=\"i4\" required=\"true\"/>"
    "<FIELD attrname=\"STATO\" fieldtype=\"string\" WIDTH=\"1\"/>"
    "<FIELD attrname=\"TIPO\" fieldtype=\"string\" WIDTH=\"1\"/>"
    "<FIELD attrname=\"SEPARATORE\" fieldtype=\"string\" WIDTH=\"5\"/>"
    "<FIELD attrname=\"TESTO\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>"
    "<FIELD attrname=\"ORDINE\" fieldtype=\"i4\"/>"
    "<FIELD attrname=\"NOME_TABELLA\" fieldtype=\"string\" WIDTH=\"40\"/>"
    "<FIELD attrname=\"NOME_FILE\" fieldtype=\"string\" WIDTH=\"255\"/>"
    "<FIELD attrname=\"SVUOTA_TABELLA\" fieldtype=\"string\" WIDTH=\"1\"/>"
    "<FIELD attrname=\"VERSIONE\" fieldtype=\"string\" WIDTH=\"20\"/>";
const std::string kFirstRow =
    "<ROW ID=\"1\" STATO=\"N\" TIPO=\"S\" SEPARATORE=\";\" "
    "TESTO=\"select B.NOME_COMUNE from AFDATGEN A;\" ORDINE=\"1\" SVUOTA_TABELLA=\"N\" "
    "VERSIONE=\"1.0.4.0\"/>";

const std::string kOneScriptPhase = kPrologAndHead + kPlanFields +
                                    "</FIELDS><PARAMS/></METADATA><ROWDATA>" + kFirstRow +
                                    "</ROWDATA></DATAPACKET>";

const std::string kMarkedDone =
    kPrologAndHead + kPlanFields + "</FIELDS><PARAMS CHANGE_LOG=\"2 1 8\"/></METADATA><ROWDATA>" +
    "<ROW RowState=\"1\"" + kFirstRow.substr(4) +
    "<ROW RowState=\"8\" ID=\"1\" STATO=\"S\" TIPO=\"S\" SEPARATORE=\";\" ORDINE=\"1\" "
    "SVUOTA_TABELLA=\"N\" VERSIONE=\"1.0.4.0\"/>" +
    "</ROWDATA></DATAPACKET>";

std::string text(const FieldValue& v) {
    return std::get<std::string>(v);
}
std::string blob(const FieldValue& v) {
    return *std::get<BlobData>(v);
}

TEST(XmlPacket, writesThePlanWithOneScriptPhaseByteForByte) {
    const DataPacket packet = decodeXmlPacket(kOneScriptPhase);
    ASSERT_EQ(packet.fields.size(), 10u);
    ASSERT_EQ(packet.rows.size(), 1u);
    const auto& row = packet.rows[0].values;
    EXPECT_EQ(std::get<int64_t>(row[0]), 1);
    EXPECT_EQ(blob(row[4]), "select B.NOME_COMUNE from AFDATGEN A;");
    EXPECT_TRUE(isNull(row[6]));
    EXPECT_TRUE(isNull(row[7]));
    EXPECT_EQ(text(row[9]), "1.0.4.0");
    EXPECT_TRUE(packet.fields[0].required());
    EXPECT_EQ(encodeXmlPacket(packet), kOneScriptPhase);
}

TEST(XmlPacket, marksDoneKeepsBothVersionsAndCarriesTheTextOver) {
    DataPacket packet = decodeXmlPacket(kOneScriptPhase);
    // What marking the phase as done does to the stored versions.
    RowVersion marked = packet.rows[0];
    marked.status = rowstate::kModified;
    marked.values[1] = std::string("S");
    packet.rows.setStatus(0, rowstate::kSuperseded);
    packet.rows.push_back(marked);
    packet.changeLog.push_back({2, 1, 8});
    EXPECT_EQ(encodeXmlPacket(packet), kMarkedDone);

    const DataPacket back = decodeXmlPacket(kMarkedDone);
    ASSERT_EQ(back.rows.size(), 2u);
    EXPECT_EQ(back.rows[0].status, rowstate::kSuperseded);
    EXPECT_EQ(back.rows[1].status, rowstate::kModified);
    EXPECT_EQ(text(back.rows[1].values[1]), "S");
    EXPECT_EQ(blob(back.rows[1].values[4]), "select B.NOME_COMUNE from AFDATGEN A;");
    ASSERT_EQ(back.changeLog.size(), 1u);
    EXPECT_EQ(back.changeLog[0], (ChangeLogEntry{2, 1, 8}));
    EXPECT_EQ(encodeXmlPacket(back), kMarkedDone);
}

DataPacket oneStringAndMemo(const std::string& s, const std::string& memo) {
    DataPacket packet = decodeXmlPacket(
        "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
        "<FIELD attrname=\"S\" fieldtype=\"string\" WIDTH=\"200\"/>"
        "<FIELD attrname=\"M\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>"
        "</FIELDS><PARAMS/></METADATA><ROWDATA></ROWDATA></DATAPACKET>");
    packet.rows.push_back({0, {s, makeBlob(memo)}});
    return packet;
}

TEST(XmlPacket, escapesExactlyTheTableOfCharactersAndReadsThemBack) {
    struct Case {
        std::string value;
        std::string written;
    };
    const Case cases[] = {
        {"a\r\nb", "a&#013;&#010;b"},
        {"C:\\dati\\x", "C:&#092;dati&#092;x"},
        {"say \"hi\"", "say &quot;hi&quot;"},
        {"<a & 'b'>", "&lt;a &amp; &apos;b&apos;&gt;"},
        {"tab\there", "tab&#009;here"},
        {"\xE0\xE8\xEC\xF2\xF9\x80", "\xE0\xE8\xEC\xF2\xF9\x80"},  // Windows-1252 bytes as they are
        {std::string("\x01\x7F", 2), std::string("\x01\x7F", 2)},
    };
    for (const auto& c : cases) {
        const std::string xml = encodeXmlPacket(oneStringAndMemo(c.value, c.value));
        EXPECT_NE(xml.find("S=\"" + c.written + "\" M=\"" + c.written + "\""), std::string::npos)
            << xml;
        const DataPacket back = decodeXmlPacket(xml);
        EXPECT_EQ(text(back.rows[0].values[0]), c.value);
        EXPECT_EQ(blob(back.rows[0].values[1]), c.value);
    }
}

TEST(XmlPacket, decodesReferencesAndCutsStringsToWidth) {
    const DataPacket packet = decodeXmlPacket(
        "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"S\" fieldtype=\"string\" WIDTH=\"6\"/>"
        "</FIELDS><PARAMS/></METADATA><ROWDATA>"
        "<ROW S=\"&#65;&#x42;&#8364;&lt;&unknown;\"/><ROW S=\"\"/><ROW/>"
        "</ROWDATA></DATAPACKET>");
    ASSERT_EQ(packet.rows.size(), 3u);
    EXPECT_EQ(text(packet.rows[0].values[0]), "AB\x80<&u");
    EXPECT_EQ(text(packet.rows[1].values[0]), "");  // empty text, not null
    EXPECT_TRUE(isNull(packet.rows[2].values[0]));
}

TEST(XmlPacket, readsRowAttributesInAnyOrderAndIgnoresUnknownOnes) {
    const DataPacket packet = decodeXmlPacket(
        "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"i4\"/>"
        "<FIELD attrname=\"B\" fieldtype=\"string\" WIDTH=\"5\"/></FIELDS><PARAMS/></METADATA>"
        "<ROWDATA><ROW X=\"9\" B=\"bee\" A=\"7\"/></ROWDATA></DATAPACKET>");
    EXPECT_EQ(std::get<int64_t>(packet.rows[0].values[0]), 7);
    EXPECT_EQ(text(packet.rows[0].values[1]), "bee");
}

TEST(XmlPacket, convertsUtf8ToWindows1252WhenMarkedOrDeclared) {
    const std::string body =
        "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"S\" fieldtype=\"string\" "
        "WIDTH=\"20\"/></FIELDS><PARAMS/></METADATA><ROWDATA><ROW "
        "S=\"\xC3\xA0\xE2\x82\xAC\xE3\x83\x86\"/>"
        "</ROWDATA></DATAPACKET>";
    const std::string inputs[] = {
        "\xEF\xBB\xBF" + body,
        "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>" + body,
        "  <?xml version=\"1.0\" ENCODING = 'UTF-8'?>" + body,
    };
    for (const auto& in : inputs) {
        EXPECT_EQ(text(decodeXmlPacket(in).rows[0].values[0]), "\xE0\x80?") << in;
    }
    // Marked UTF-8 but malformed: the stray byte becomes '?' and the quote after it stays.
    std::string marked = inputs[0];
    marked.replace(marked.find("\xC3"), 8, "\xE9");
    EXPECT_EQ(text(decodeXmlPacket(marked).rows[0].values[0]), "?");
    // Declared UTF-8 but not valid UTF-8: the bytes are taken as they are.
    const std::string latin =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><DATAPACKET><METADATA><FIELDS>"
        "<FIELD attrname=\"S\" fieldtype=\"string\" WIDTH=\"20\"/></FIELDS>"
        "<PARAMS/></METADATA><ROWDATA><ROW S=\"\xE0\"/></ROWDATA></DATAPACKET>";
    EXPECT_EQ(text(decodeXmlPacket(latin).rows[0].values[0]), "\xE0");
}

TEST(XmlPacket, altersNamesThatCannotStandInXml) {
    DataPacket packet = decodeXmlPacket(
        "<DATAPACKET><METADATA><FIELDS><FIELD fieldname=\"Cod (old)#1\" attrname=\"Cod__old__1\" "
        "fieldtype=\"i4\"/></FIELDS><PARAMS/></METADATA><ROWDATA><ROW Cod__old__1=\"5\"/>"
        "</ROWDATA></DATAPACKET>");
    EXPECT_EQ(packet.fields[0].name, "Cod (old)#1");
    EXPECT_EQ(std::get<int64_t>(packet.rows[0].values[0]), 5);
    const std::string xml = encodeXmlPacket(packet);
    EXPECT_NE(
        xml.find("<FIELD fieldname=\"Cod (old)#1\" attrname=\"Cod__old__1\" fieldtype=\"i4\"/>"),
        std::string::npos);
    EXPECT_NE(xml.find("<ROW Cod__old__1=\"5\"/>"), std::string::npos);

    // Names with characters that would end an XML name read back whole.
    for (const std::string name : {"a=b", "x/y", "t\tab", "q\"uote", "l<g>"}) {
        packet.fields[0].name = name;
        const DataPacket back = decodeXmlPacket(encodeXmlPacket(packet));
        EXPECT_EQ(back.fields[0].name, name);
        EXPECT_EQ(std::get<int64_t>(back.rows[0].values[0]), 5) << name;
    }
    packet.fields[0].name.clear();
    EXPECT_THROW(encodeXmlPacket(packet), EDBClient);  // no reader could take it back
}

TEST(XmlPacket, roundTripsEveryFieldTypeAndAttributes) {
    const std::string xml =
        "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
        "<FIELD attrname=\"I2\" fieldtype=\"i2\" readonly=\"true\" hidden=\"true\" "
        "linkfield=\"true\"/>"
        "<FIELD attrname=\"I4\" fieldtype=\"i4\" SUBTYPE=\"Autoinc\"/>"
        "<FIELD attrname=\"I8\" fieldtype=\"i8\"/>"
        "<FIELD attrname=\"U2\" fieldtype=\"ui2\"/>"
        "<FIELD attrname=\"U4\" fieldtype=\"ui4\"/>"
        "<FIELD attrname=\"B\" fieldtype=\"boolean\"/>"
        "<FIELD attrname=\"R\" fieldtype=\"r8\"/>"
        "<FIELD attrname=\"F\" fieldtype=\"fixed\" DECIMALS=\"2\" WIDTH=\"18\"/>"
        "<FIELD attrname=\"FF\" fieldtype=\"fixedFMT\" DECIMALS=\"2\" WIDTH=\"15\"/>"
        "<FIELD attrname=\"D\" fieldtype=\"date\"/>"
        "<FIELD attrname=\"T\" fieldtype=\"time\"/>"
        "<FIELD attrname=\"DT\" fieldtype=\"dateTime\"/>"
        "<FIELD attrname=\"TS\" fieldtype=\"SQLdateTime\"/>"
        "<FIELD attrname=\"S\" fieldtype=\"string\" WIDTH=\"300\" MINVALUE=\"a\"/>"
        "<FIELD attrname=\"W\" fieldtype=\"string.uni\" WIDTH=\"20\"/>"
        "<FIELD attrname=\"BL\" fieldtype=\"bin.hex\" SUBTYPE=\"Binary\"/>"
        "<FIELD attrname=\"BY\" fieldtype=\"bin.hex\" WIDTH=\"3\"><PARAM Name=\"ORIGIN\" "
        "Value=\"T.C\" Type=\"string\" Roundtrip=\"True\"/></FIELD>"
        "</FIELDS><PARAMS DEFAULT_ORDER=\"2\" PRIMARY_KEY=\"2\" AUTOINCVALUE=\"8\" LCID=\"1033\">"
        "<PARAM Name=\"NOTE\" Value=\"x\" Type=\"string\"/><PARAM Name=\"N\" Value=\"12\" "
        "Type=\"i4\"/>"
        "</PARAMS></METADATA><ROWDATA>"
        "<ROW I2=\"-5\" I4=\"1\" I8=\"-9000000000\" U2=\"65535\" U4=\"4294967295\" B=\"TRUE\" "
        "R=\"0.1\" F=\"-12.50\" FF=\"3.00\" D=\"20240229\" T=\"13:45:30250\" "
        "DT=\"19991231T23:59:59999\" TS=\"19890405\" S=\"x\" W=\"&#8364;A&#12486;\" "
        "BL=\"AAEC/w==\" BY=\"YWJj\"/>"
        "<ROW I4=\"2\" B=\"FALSE\" R=\"1e+100\" DT=\"20000101\" TS=\"20001231T01:02:03004\"/>"
        "</ROWDATA></DATAPACKET>";
    const DataPacket packet = decodeXmlPacket(xml);
    ASSERT_EQ(packet.fields.size(), 17u);
    EXPECT_EQ(packet.fields[0].bits,
              fieldbits::kReadOnly | fieldbits::kHidden | fieldbits::kLinkField);
    EXPECT_EQ(packet.fields[16].type, FieldType::Bytes);
    const auto& r = packet.rows[0].values;
    EXPECT_EQ(std::get<int64_t>(r[2]), -9000000000LL);
    EXPECT_EQ(std::get<int64_t>(r[4]), 4294967295LL);
    EXPECT_EQ(std::get<bool>(r[5]), true);
    EXPECT_EQ(std::get<double>(r[6]), 0.1);
    EXPECT_EQ(text(r[7]), "-12.50");
    EXPECT_EQ(std::get<int64_t>(r[9]), dayNumberFromDate(2024, 2, 29));
    EXPECT_EQ(std::get<int64_t>(r[10]), ((13 * 60 + 45) * 60 + 30) * 1000 + 250);
    EXPECT_EQ(std::get<std::u16string>(r[14]), u"\u20ACA\u30C6");
    EXPECT_EQ(blob(r[15]), std::string("\x00\x01\x02\xFF", 4));
    EXPECT_EQ(text(r[16]), "abc");
    EXPECT_EQ(encodeXmlPacket(packet), xml);
}

TEST(XmlPacket, writesRowsInDefaultOrderOnlyWithoutAChangeLog) {
    const std::string head =
        "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"K\" fieldtype=\"i4\"/></FIELDS>";
    const std::string rows =
        "<ROWDATA><ROW K=\"3\"/><ROW K=\"1\"/><ROW K=\"2\"/></ROWDATA></DATAPACKET>";
    const std::string ordered = encodeXmlPacket(
        decodeXmlPacket(head + "<PARAMS DEFAULT_ORDER=\"32769\"/></METADATA>" + rows));
    EXPECT_NE(ordered.find("<ROW K=\"3\"/><ROW K=\"2\"/><ROW K=\"1\"/>"), std::string::npos);
    const std::string logged = encodeXmlPacket(decodeXmlPacket(
        head + "<PARAMS DEFAULT_ORDER=\"1\" CHANGE_LOG=\"1 0 4\"/></METADATA>" + rows));
    EXPECT_NE(logged.find("<ROW K=\"3\"/><ROW K=\"1\"/><ROW K=\"2\"/>"), std::string::npos);
}

TEST(XmlPacket, readsDecimalsInOneFormAndOrdersThemByValue) {
    const DataPacket packet = decodeXmlPacket(
        "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"F\" fieldtype=\"fixed\" DECIMALS=\"2\" "
        "WIDTH=\"9\"/>"
        "</FIELDS><PARAMS DEFAULT_ORDER=\"1\"/></METADATA><ROWDATA><ROW F=\"20\"/><ROW F=\"0101\"/>"
        "<ROW F=\"3.10\"/><ROW F=\"-2.5\"/><ROW F=\"+.5\"/><ROW "
        "F=\"-10\"/></ROWDATA></DATAPACKET>");
    std::vector<std::string> read;
    for (const auto& row : packet.rows) read.push_back(text(row.values[0]));
    EXPECT_EQ(read, (std::vector<std::string>{"20", "101", "3.10", "-2.5", "0.5", "-10"}));
    const std::string xml = encodeXmlPacket(packet);
    EXPECT_NE(
        xml.find("<ROW F=\"-10\"/><ROW F=\"-2.5\"/><ROW F=\"0.5\"/><ROW F=\"3.10\"/><ROW F=\"20\"/>"
                 "<ROW F=\"101\"/>"),
        std::string::npos)
        << xml;
    EXPECT_EQ(encodeXmlPacket(decodeBinaryPacket(encodeBinaryPacket(packet))), xml);
}

TEST(XmlPacket, skipsBlanksCommentsAndProcessingInstructions) {
    const DataPacket packet = decodeXmlPacket(
        " \r\n\t<?xml version=\"1.0\"?>\n<!-- a comment --><DATAPACKET Version=\"2.0\">\n"
        "  <METADATA>\n    <FIELDS>\n      <FIELD attrname=\"A\" fieldtype=\"i4\"/>\n"
        "      <FIELD attrname=\"Small\" fieldtype=\"i1\"/>\n    </FIELDS>\n    <PARAMS/>\n"
        "  </METADATA>\n  <ROWDATA>\n    <ROW A=\"1\" Small=\"3\"/>\n  "
        "</ROWDATA>\n</DATAPACKET>\n");
    ASSERT_EQ(packet.fields.size(), 1u);  // the 8-bit integer field is left out
    EXPECT_EQ(std::get<int64_t>(packet.rows[0].values[0]), 1);
}

TEST(XmlPacket, readsIntegersBooleansAndDatesLeniently) {
    struct Case {
        const char* type;
        const char* text;
        FieldValue expected;
    };
    const Case cases[] = {
        {"i4", "42", int64_t{42}},
        {"i4", "+7", int64_t{7}},
        {"i4", "-3x", int64_t{-3}},
        {"i4", "abc", FieldValue{}},
        {"i4", "", FieldValue{}},
        {"i4", "x1", FieldValue{}},
        // One sign at most, right before the digits.
        {"i4", "+-5", FieldValue{}},
        {"i4", "-+5", FieldValue{}},
        {"i4", "--5", FieldValue{}},
        {"i4", "- 5", FieldValue{}},
        {"i4", "#5", FieldValue{}},
        {"i4", " -5", int64_t{-5}},
        {"i4", "-", FieldValue{}},
        {"i2", "40000", FieldValue{}},
        {"boolean", "true", true},
        {"boolean", "yes", false},
        {"date", "20230230", FieldValue{}},
        {"r8", "2.5E3", 2500.0},
        {"r8", "n/a", FieldValue{}},
        {"i8", "9223372036854775807", int64_t{9223372036854775807}},
        {"i8", "20000000000000000000", FieldValue{}},  // must not wrap into range
        {"i8", "-9223372036854775808", int64_t{std::numeric_limits<int64_t>::min()}},
        {"i8", "-9223372036854775809", FieldValue{}},
    };
    for (const auto& c : cases) {
        const std::string xml =
            std::string("<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"V\" fieldtype=\"") +
            c.type + "\"/></FIELDS><PARAMS/></METADATA><ROWDATA><ROW V=\"" + c.text +
            "\"/></ROWDATA></DATAPACKET>";
        EXPECT_EQ(decodeXmlPacket(xml).rows[0].values[0], c.expected) << c.type << " " << c.text;
    }
}

TEST(XmlPacket, readsTheSmallestLargeIntInParamsAsInFields) {
    struct Case {
        const char* type;
        const char* text;
        FieldValue expected;
    };
    const Case cases[] = {
        {"i8", "-9223372036854775808", int64_t{std::numeric_limits<int64_t>::min()}},
        {"i8", "9223372036854775807", int64_t{std::numeric_limits<int64_t>::max()}},
        {"i8", "-9223372036854775809", int64_t{0}},  // out of range: an attribute reads 0
        {"IntArray", "-9223372036854775808 7", IntArray{std::numeric_limits<int64_t>::min(), 7}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.text);
        const std::string xml = std::string(
                                    "<DATAPACKET><METADATA><FIELDS/><PARAMS><PARAM Name=\"X\" "
                                    "Value=\"") +
                                c.text + "\" Type=\"" + c.type +
                                "\"/></PARAMS></METADATA><ROWDATA/></DATAPACKET>";
        const DataPacket p = decodeXmlPacket(xml);
        ASSERT_EQ(p.attributes.size(), 1u);
        EXPECT_EQ(p.attributes[0].value, c.expected);
        // Written and read back, in either form, it stays the same number.
        EXPECT_EQ(decodeXmlPacket(encodeXmlPacket(p)).attributes[0].value, c.expected);
        EXPECT_EQ(decodeBinaryPacket(encodeBinaryPacket(p)).attributes[0].value, c.expected);
    }
}

TEST(XmlPacket, reportsEachDecodingErrorWithItsMessage) {
    const std::string fields = "<FIELDS><FIELD attrname=\"A\" fieldtype=\"i4\"/></FIELDS>";
    struct Case {
        std::string input;
        int code;
        std::string message;
    };
    const Case cases[] = {
        {"PK\x03\x04", 16389, "Mismatch in datapacket."},
        {"hello <DATAPACKET/>", 16389, "Mismatch in datapacket."},
        {"   ", 16389, "Mismatch in datapacket."},
        {"<DATAPACKET><ROWDATA></ROWDATA></DATAPACKET>", 16387,
         "Datapacket contains no meta data."},
        {"<DATAPACKET><PARAMS/></DATAPACKET>", 16389, "Mismatch in datapacket."},
        {"<DATAPACKET><METADATA>" + fields + "<PARAMS/></METADATA></DATAPACKET>", 16389,
         "Mismatch in datapacket."},
        {"<DATAPACKET><METADATA><FIELDS><FIELD "
         "fieldtype=\"i4\"/></FIELDS></METADATA><ROWDATA/></DATAPACKET>",
         16389, "Mismatch in datapacket."},
        {"<DATAPACKET><METADATA><FIELDS><FIELD "
         "attrname=\"A\"/></FIELDS></METADATA><ROWDATA/></DATAPACKET>",
         10000, "Invalid field type."},
        {"<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"A\" "
         "fieldtype=\"nested\"/></FIELDS></METADATA>"
         "<ROWDATA/></DATAPACKET>",
         10000, "Invalid field type."},
        {"<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"A\" "
         "fieldtype=\"string\"/></FIELDS></METADATA>"
         "<ROWDATA/></DATAPACKET>",
         9986, "Invalid parameter."},
        {"<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"A\" "
         "fieldtype=\"bin.hex\"/></FIELDS></METADATA>"
         "<ROWDATA/></DATAPACKET>",
         9986, "Invalid parameter."},
        // What the binary form could not hold is refused on loading, not on saving.
        {"<METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"string\" WIDTH=\"0\"/></FIELDS>"
         "</METADATA><ROWDATA/>",
         9986, "Invalid parameter."},
        {"<METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"string.uni\"/></FIELDS></METADATA>"
         "<ROWDATA/>",
         9986, "Invalid parameter."},
        {"<METADATA><FIELDS><FIELD attrname=\"" + std::string(256, 'n') +
             "\" fieldtype=\"i4\"/></FIELDS></METADATA><ROWDATA/>",
         9986, "Invalid parameter."},
        {"<METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"i4\" SUBTYPE=\"" +
             std::string(65535, 's') + "\"/></FIELDS></METADATA><ROWDATA/>",
         9986, "Invalid parameter."},
        {"<DATAPACKET><METADATA>" + fields +
             "</METADATA><ROWDATA><ROW A='1'/></ROWDATA></DATAPACKET>",
         16389, "Mismatch in datapacket."},
        {"<DATAPACKET><METADATA>" + fields +
             "</METADATA><ROWDATA><ROW A= \"1\"/></ROWDATA></DATAPACKET>",
         16389, "Mismatch in datapacket."},
        {"<DATAPACKET><METADATA>" + fields +
             "</METADATA><ROWDATA><X A=\"1\"/></ROWDATA></DATAPACKET>",
         16389, "Mismatch in datapacket."},
        {"<DATAPACKET><METADATA>" + fields + "</METADATA><ROWDATA><ROW A=\"1\"/>", 16389,
         "Mismatch in datapacket."},
        // A header that looks binary but carries major version 4 is read as XML.
        {std::string("\x96\x19\xE0\xBD\x04\x00\x00\x00", 8), 16389, "Mismatch in datapacket."},
    };
    for (const auto& c : cases) {
        try {
            decodePacket(c.input);
            ADD_FAILURE() << "decoded: " << c.input;
        } catch (const EDBClient& e) {
            EXPECT_EQ(e.errorCode(), c.code) << c.input;
            EXPECT_EQ(std::string(e.what()), c.message) << c.input;
        }
    }
}

TEST(XmlPacket, whateverLoadsCanBeSavedInBinary) {
    const DataPacket packet = decodeXmlPacket(
        "<METADATA><FIELDS>"
        "<FIELD attrname=\"N\" fieldtype=\"fixed\" WIDTH=\"2\" DECIMALS=\"-40000\"/>"
        "<FIELD attrname=\"I\" fieldtype=\"i4\" WIDTH=\"100000\">"
        "<PARAM Name=\"P\" Value=\"99999\" Type=\"i2\"/></FIELD></FIELDS>"
        "<PARAMS UNIQUE_KEY=\"-1\" LCID=\"9999999\"/></METADATA>"
        "<ROWDATA><ROW N=\"123\" I=\"1\"/><ROW N=\"9.9\"/></ROWDATA>");
    EXPECT_TRUE(isNull(packet.rows[0].values[0]));  // three digits do not fit precision 2
    EXPECT_EQ(text(packet.rows[1].values[0]), "9.9");
    // Integer attributes beyond their type's range keep their value in a wider type.
    const DataPacket back = decodeBinaryPacket(encodeBinaryPacket(packet));
    EXPECT_EQ(back.fields[1].attributes[0].value, FieldValue(int64_t{100000}));
    EXPECT_EQ(back.fields[1].attributes[1].value, FieldValue(int64_t{99999}));
    EXPECT_EQ(back.attributes[0].value, FieldValue(IntArray{-1}));
    EXPECT_EQ(encodeBinaryPacket(back), encodeBinaryPacket(packet));
}

TEST(XmlPacket, writesAnEmptiedTableWithEmptyParamsAndRowData) {
    DataPacket packet = decodeXmlPacket(kMarkedDone);
    packet.rows.clear();
    packet.changeLog.clear();
    EXPECT_EQ(encodeXmlPacket(packet),
              kPrologAndHead + kPlanFields +
                  "</FIELDS><PARAMS/></METADATA><ROWDATA></ROWDATA></DATAPACKET>");
}

}  // namespace
}  // namespace tarvolen
