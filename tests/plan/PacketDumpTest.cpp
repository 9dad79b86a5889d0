// The readable dump of a data packet, and whole-file reading and writing by name.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "plan/FileIO.h"
#include "plan/PacketCodec.h"
#include "plan/PacketDump.h"
#include "plan/PacketFile.h"
#include "tests/support/TestFolder.h"

namespace tarvolen {
namespace {

namespace fs = std::filesystem;

FieldDef field(std::string name, FieldType type, uint32_t typeWord, uint16_t bits = 0) {
    FieldDef f;
    f.name = std::move(name);
    f.type = type;
    f.typeWord = typeWord;
    f.bits = bits;
    return f;
}

std::string dump(const DataPacket& packet) {
    std::ostringstream os;
    writePacketDump(packet, os);
    return os.str();
}

TEST(PacketDump, showsLayoutAttributesRowsAndChangeLog) {
    DataPacket packet;
    FieldDef id =
        field("ID", FieldType::Int32, typeword::kInt32, fieldbits::kRequired | fieldbits::kHidden);
    FieldDef name = field("NOME", FieldType::String, typeword::kString1);
    name.attributes.push_back({"WIDTH", typeword::kInt16, int64_t{20}, false});
    packet.fields = {id, name};
    packet.attributes.push_back({"LCID", typeword::kInt32, int64_t{1040}, true});
    packet.attributes.push_back({"EMPTY", typeword::kString2, {}, false});
    packet.rows.push_back({rowstate::kUnchanged, {int64_t{1}, std::string("Citt\xE0")}});
    packet.rows.push_back({rowstate::kSuperseded | rowstate::kModified, {int64_t{2}, {}}});
    packet.changeLog = {{2, 1, 8}, {3, 0, 4}, {4, 3, 2}, {5, 0, 16}};

    EXPECT_EQ(dump(packet),
              "Fields: 2\n"
              "  1. ID  fieldtype i4, width 0, subtype -, bits 5 (hidden required)\n"
              "  2. NOME  fieldtype string, width 20, subtype -, bits 0\n"
              "       WIDTH (i2) = 20\n"
              "Dataset attributes: 2\n"
              "  LCID (i4) roundtrip = 1040\n"
              "  EMPTY (string) = (null)\n"
              "Row versions: 2\n"
              "  #1  RowState 0 (unchanged)\n"
              "       ID = 1\n"
              "       NOME = \"Citt\xC3\xA0\"\n"
              "  #2  RowState 9 (superseded modified)\n"
              "       ID = 2\n"
              "       NOME = (null)\n"
              "Change log: 4\n"
              "  version 2, replaces 1, kind 8 (edit)\n"
              "  version 3, replaces 0, kind 4 (insert)\n"
              "  version 4, replaces 3, kind 2 (delete)\n"
              "  version 5, replaces 0, kind 16 (?)\n");
}

TEST(PacketDump, escapesControlCharactersAndKeepsWideTextWhole) {
    DataPacket packet;
    FieldDef memo = field("M", FieldType::Blob, typeword::kBlob);
    memo.attributes.push_back({"SUBTYPE", typeword::kString1, std::string("Text"), false});
    packet.fields = {field("S", FieldType::String, typeword::kString1),
                     field("W", FieldType::WideString, typeword::kWideString2), memo};
    // A surrogate pair (U+1F600), a lone high surrogate, and a character outside Windows-1252.
    const std::u16string wide = {u'a', 0xD83D, 0xDE00, 0xD800, u'b', 0x0416};
    packet.rows.push_back(
        {rowstate::kInserted,
         {std::string("a\tb\r\n\"q\" \\ \x01\x7F"), wide, makeBlob("line1\r\nline2")}});

    const std::string out = dump(packet);
    EXPECT_NE(out.find("       S = \"a\\tb\\r\\n\\\"q\\\" \\\\ \\x01\\x7F\"\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("       W = \"a\xF0\x9F\x98\x80\xEF\xBF\xBD"
                       "b\xD0\x96\"\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("       M = \"line1\\r\\nline2\"\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  3. M  fieldtype bin.hex, width 0, subtype Text, bits 0\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("RowState 4 (inserted)"), std::string::npos) << out;
}

TEST(PacketFile, xmlExactlyWhenTheNameEndsInXmlInAnyCase) {
    const struct {
        const char* name;
        bool xml;
    } cases[] = {
        {"a.xml", true},      {"b.XML", true}, {"c.Xml", true}, {".xml", true},
        {"d.cds", false},     {"e", false},    {"xml", false},  {"f.xml.bak", false},
        {"gxml", false},      {"h.xm", false}, {"", false},     {"i.\xD8ML", false},
        {"dir.xml/j", false},
    };
    for (const auto& c : cases) EXPECT_EQ(namesXmlFile(c.name), c.xml) << c.name;
}

TEST(PacketFile, writesTheFormTheNameAsksForAndReadsEitherBack) {
    const testing::TempFolder folder;
    const fs::path& dir = folder.path();
    DataPacket packet;
    packet.fields = {field("N", FieldType::Int32, typeword::kInt32)};
    packet.rows.push_back({rowstate::kUnchanged, {int64_t{7}}});

    for (const char* name : {"p.XML", "p.cds"}) {
        const std::string path = (dir / name).string();
        writePacketFile(path, packet);
        const std::string bytes = readWholeFile(path);
        EXPECT_EQ(isBinaryPacket(bytes), std::string(name) == "p.cds") << name;
        const DataPacket back = readPacketFile(path);
        ASSERT_EQ(back.rows.size(), 1u) << name;
        EXPECT_TRUE(sameValue(back.rows[0].values[0], int64_t{7})) << name;
    }
}

}  // namespace
}  // namespace tarvolen
