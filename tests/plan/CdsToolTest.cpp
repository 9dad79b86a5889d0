// Runs the built tarvolen-cds on small files in a temporary folder.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "plan/PacketCodec.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/TestFolder.h"

namespace tarvolen {
namespace {

namespace fs = std::filesystem;

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string quoted(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

using ToolResult = testing::CommandResult;

class CdsTool : public ::testing::Test {
  protected:
    fs::path tmp(const std::string& name) const { return m_folder.path() / name; }

    ToolResult run(const std::vector<std::string>& args) const {
        std::string command = quoted(TARVOLEN_CDS_TOOL);
        for (const auto& arg : args) command += " " + quoted(arg);
        return testing::runShellCommand(command, tmp("stderr"));
    }

    testing::TempFolder m_folder;
};

const std::string kPlan = std::string(TARVOLEN_TEST_DATA_DIR) + "/plan-two-phases.xml";

TEST_F(CdsTool, convertsWriterMadeXmlToIdenticalBytes) {
    const ToolResult r = run({"convert", kPlan, tmp("out.xml")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readBytes(tmp("out.xml")), readBytes(kPlan));
}

TEST_F(CdsTool, xmlThroughBinaryGivesBackTheSameXml) {
    ASSERT_EQ(run({"convert", kPlan, tmp("plan.cds")}).exitCode, 0);
    const std::string binary = readBytes(tmp("plan.cds"));
    EXPECT_TRUE(isBinaryPacket(binary));

    const ToolResult r = run({"convert", tmp("plan.cds"), tmp("back.xml")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readBytes(tmp("back.xml")), readBytes(kPlan));
}

TEST_F(CdsTool, writesXmlExactlyWhenTheNameEndsInXmlInAnyCase) {
    const struct {
        const char* name;
        bool xml;
    } cases[] = {
        {"a.xml", true}, {"b.XML", true},      {"c.Xml", true}, {"d.cds", false},
        {"e", false},    {"f.xml.bak", false}, {"gxml", false},
    };
    const std::string plan = readBytes(kPlan);
    for (const auto& c : cases) {
        const ToolResult r = run({"convert", kPlan, tmp(c.name)});
        ASSERT_EQ(r.exitCode, 0) << c.name << ": " << r.err;
        const std::string written = readBytes(tmp(c.name));
        if (c.xml) {
            EXPECT_EQ(written, plan) << c.name;
        } else {
            EXPECT_TRUE(isBinaryPacket(written)) << c.name;
        }
    }
}

TEST_F(CdsTool, reportsADecodingErrorAndLeavesTheOutputAlone) {
    const std::string binaryWithoutLayout(
        "\x96\x19\xE0\xBD\x01\x00\x00\x00\x18\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
        "\x18\x00",
        24);
    std::string majorVersion4 = binaryWithoutLayout;
    majorVersion4[4] = '\x04';
    majorVersion4[18] = '\x01';
    const struct {
        const char* what;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"zip archive", std::string("PK\x03\x04rest", 8), "Mismatch in datapacket."},
        {"string without WIDTH",
         "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"A\" "
         "fieldtype=\"string\"/></FIELDS><PARAMS/></METADATA><ROWDATA></ROWDATA></DATAPACKET>",
         "Invalid parameter."},
        {"unknown fieldtype",
         "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"A\" "
         "fieldtype=\"r10x\"/></FIELDS><PARAMS/></METADATA><ROWDATA></ROWDATA></DATAPACKET>",
         "Invalid field type."},
        {"rows without layout", "<DATAPACKET Version=\"2.0\"><ROWDATA></ROWDATA></DATAPACKET>",
         "Datapacket contains no meta data."},
        {"binary without layout", binaryWithoutLayout, "Datapacket contains no meta data."},
        {"binary major version 4", majorVersion4, "Mismatch in datapacket."},
    };
    const std::string kept = "existing output\n";
    for (const auto& c : cases) {
        writeBytes(tmp("bad"), c.bytes);
        writeBytes(tmp("out.xml"), kept);
        for (const auto& args : {std::vector<std::string>{"convert", tmp("bad"), tmp("out.xml")},
                                 std::vector<std::string>{"dump", tmp("bad")},
                                 std::vector<std::string>{"check", tmp("bad")}}) {
            const ToolResult r = run(args);
            EXPECT_EQ(r.exitCode, 1) << c.what << " (" << args[0] << ")";
            EXPECT_EQ(r.err, std::string(c.message) + "\n") << c.what << " (" << args[0] << ")";
        }
        EXPECT_EQ(readBytes(tmp("out.xml")), kept) << c.what;
    }
}

TEST_F(CdsTool, reportsFileErrorsWithTheFullPath) {
    const fs::path missing = tmp("missing.xml");
    const fs::path noFolder = tmp("no-such-folder") / "out.xml";
    const struct {
        std::vector<std::string> args;
        std::string messageStart;
    } cases[] = {
        {{"convert", missing, tmp("out.xml")}, "Cannot open file \"" + missing.string() + "\". "},
        {{"dump", missing}, "Cannot open file \"" + missing.string() + "\". "},
        {{"check", missing}, "Cannot open file \"" + missing.string() + "\". "},
        {{"convert", kPlan, noFolder}, "Cannot create file \"" + noFolder.string() + "\". "},
    };
    for (const auto& c : cases) {
        const ToolResult r = run(c.args);
        EXPECT_EQ(r.exitCode, 1) << c.args[1];
        EXPECT_EQ(r.err.rfind(c.messageStart, 0), 0u) << r.err;
    }
    EXPECT_FALSE(fs::exists(tmp("out.xml")));
}

TEST_F(CdsTool, rejectsBadCommandLinesWithUsage) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "tarvolen-cds: no command given"},
        {{"convert"}, "tarvolen-cds: convert needs IN and OUT"},
        {{"convert", kPlan}, "tarvolen-cds: convert needs IN and OUT"},
        {{"convert", kPlan, "a", "b"}, "tarvolen-cds: convert needs IN and OUT"},
        {{"dump"}, "tarvolen-cds: dump needs IN"},
        {{"dump", kPlan, "extra"}, "tarvolen-cds: dump needs IN"},
        {{"check"}, "tarvolen-cds: check needs IN"},
        {{"check", kPlan, "extra"}, "tarvolen-cds: check needs IN"},
        {{"show", kPlan}, "tarvolen-cds: unknown command show"},
        {{"--frobnicate"}, "tarvolen-cds: unknown option --frobnicate"},
        {{"--help", "dump"}, "tarvolen-cds: unknown option --help"},
    };
    for (const auto& [args, message] : cases) {
        const ToolResult r = run(args);
        EXPECT_EQ(r.exitCode, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), message) << ::testing::PrintToString(args);
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(CdsTool, checkListsValuesReadAsNullAndStringsCutAndFailsWhenItFindsAny) {
    const std::string layout =
        "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"ID\" fieldtype=\"i4\"/>"
        "<FIELD attrname=\"NOME\" fieldtype=\"string\" WIDTH=\"4\"/></FIELDS><PARAMS/>"
        "</METADATA><ROWDATA>";
    const struct {
        const char* what;
        std::string rows;
        int exitCode;
        std::string out;
    } cases[] = {
        {"clean", "<ROW ID=\"1\" NOME=\"Roma\"/><ROW NOME=\"\"/>", 0, ""},
        {"a number that reads as null, a string cut",
         "<ROW ID=\"1\"/><ROW ID=\"x2\" NOME=\"Milano\"/>", 1,
         "row 2, field ID: \"x2\" reads as null\nrow 2, field NOME: cut from 6 to its width 4\n"},
        {"control characters and quotes escaped", "<ROW ID=\"a&#010;&quot;b\"/>", 1,
         "row 1, field ID: \"a\\x0A\\x22b\" reads as null\n"},
    };
    for (const auto& c : cases) {
        writeBytes(tmp("in.xml"), layout + c.rows + "</ROWDATA></DATAPACKET>");
        const ToolResult r = run({"check", tmp("in.xml")});
        EXPECT_EQ(r.exitCode, c.exitCode) << c.what << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.err, "") << c.what;
    }
    EXPECT_EQ(run({"check", kPlan}).exitCode, 0);
}

TEST_F(CdsTool, helpAndVersionGoToStandardOutput) {
    for (const char* option : {"--help", "-h"}) {
        const ToolResult r = run({option});
        EXPECT_EQ(r.exitCode, 0) << option;
        EXPECT_EQ(r.err, "");
        for (const char* part : {"usage: tarvolen-cds convert IN OUT", "dump IN", "exit status:",
                                 "  1    a file could not be read", "  2    a wrong command line"})
            EXPECT_NE(r.out.find(part), std::string::npos) << part;
    }
    const ToolResult r = run({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "tarvolen-cds " TARVOLEN_VERSION "\n");
}

TEST_F(CdsTool, dumpShowsLayoutRowsAndChangeLog) {
    const ToolResult r = run({"dump", kPlan});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const char* expected[] = {
        "Fields: 10",
        "1. ID  fieldtype i4, width 0, subtype -, bits 4 (required)",
        "5. TESTO  fieldtype bin.hex, width 0, subtype Text, bits 0",
        "WIDTH (i2) = 40",
        "Dataset attributes: 0",
        "Row versions: 3",
        "#1  RowState 1 (superseded)",
        "TESTO = \"update AFDATGEN set X=1;\\r\\ncommit;\"",
        // Windows-1252 0xE0 shown as UTF-8.
        "NOME_TABELLA = \"Citt\xC3\xA0\"",
        "#3  RowState 8 (modified)",
        "NOME_FILE = (null)",
        "Change log: 1",
        "version 3, replaces 1, kind 8 (edit)",
    };
    for (const char* line : expected) {
        EXPECT_NE(r.out.find(line), std::string::npos) << "missing: " << line << "\n" << r.out;
    }
    // The modified version takes TESTO from the version it replaces.
    const size_t third = r.out.find("#3");
    ASSERT_NE(third, std::string::npos);
    EXPECT_NE(r.out.find("TESTO = \"update AFDATGEN", third), std::string::npos) << r.out;
}

TEST_F(CdsTool, aFileSizeLimitGivesTheCreateErrorAndLeavesTheOldFile) {
    writeBytes(tmp("out.xml"), "old");
    // The limit counts blocks of 512 bytes or more; the plan's XML is larger than one.
    const std::string command = "ulimit -f 1; " + quoted(TARVOLEN_CDS_TOOL) + " convert " +
                                quoted(kPlan) + " " + quoted(tmp("out.xml").string()) + " 2>" +
                                quoted(tmp("stderr").string());
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(readBytes(tmp("stderr")),
              "Cannot create file \"" + tmp("out.xml").string() + "\". File too large\n");
    EXPECT_EQ(readBytes(tmp("out.xml")), "old");
}

}  // namespace
}  // namespace tarvolen
