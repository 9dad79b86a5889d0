// What validation finds in a plan on its own: one case per kind of problem, each named by row,
// ID and field, and the plans in which it finds nothing.

#include "engine/PlanValidation.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "EngineTestSupport.h"
#include "engine/PlanEditing.h"
#include "plan/FileIO.h"
#include "plan/PacketCodec.h"
#include "tests/support/TempDatabase.h"

namespace tarvolen::testing {
namespace {

namespace fs = std::filesystem;

class PlanValidation : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = database::testing::makeTempFolder("tarvolen-validate-");
        writeFileAtomically(path("rows.xml"),
                            "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"N\" "
                            "fieldtype=\"i4\"/></FIELDS><PARAMS/></METADATA><ROWDATA><ROW "
                            "N=\"1\"/></ROWDATA></DATAPACKET>");
        writeFileAtomically(path("garbage.xml"), "not a data packet");
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string path(const std::string& name) const { return (m_dir / name).string(); }

    // The problems found in the plan file holding `xml`, as text.
    std::vector<std::string> problems(const std::string& xml) const {
        writeFileAtomically(path("dbquery.xml"), xml);
        TClientDataSet plan("cdsQuery");
        OpenPlanFile(plan, path("dbquery.xml"));
        std::vector<std::string> texts;
        for (const PlanProblem& p : ValidatePlan(plan)) texts.push_back(ProblemText(p));
        return texts;
    }

    fs::path m_dir;
};

TEST_F(PlanValidation, findsEachKindOfProblemByRowIdAndField) {
    struct Case {
        const char* name;
        std::vector<Phase> phases;
        std::vector<std::string> expected;
    };
    const std::string rows = path("rows.xml");
    const Case cases[] = {
        {"a clean plan",
         {{.id = 1, .testo = "create table A (N integer);\r\n", .versione = "1.1.0.0"},
          {.id = 2,
           .tipo = "I",
           .separatore = "",
           .versione = "1.1.0.1",
           .nomeTabella = "A",
           .nomeFile = rows,
           .svuota = "S"},
          {.id = 3,
           .testo = "SET TERM ^ ;\r\ncreate procedure P as begin end^\r\nSET TERM ; ^\r\n",
           .versione = "1.2.0.0"}},
         {}},
        {"a done mark in lower case",
         {{.id = 1, .stato = "s", .testo = "x;", .versione = "1.0.0.0"}},
         {"row 1 (ID 1), field STATO: 's' is neither S nor N: only S counts as done, so the "
          "phase runs"}},
        {"an unknown type",
         {{.id = 4, .tipo = "X", .versione = "1.0.0.0"}, {.id = 5, .tipo = "", .versione = ""}},
         {"row 1 (ID 4), field TIPO: unknown type 'X' (S script, I import): a run marks the "
          "phase done without running anything",
          "row 2 (ID 5), field TIPO: unknown type '' (S script, I import): a run marks the phase "
          "done without running anything"}},
        {"an empty script",
         {{.id = 1, .testo = "\r\n  \r\n", .versione = "1.0.0.0"}},
         {"row 1 (ID 1), field TESTO: the script is empty: the phase runs nothing"}},
        {"no separator",
         {{.id = 1, .separatore = "", .testo = "x;", .versione = "1.0.0.0"}},
         {"row 1 (ID 1), field SEPARATORE: no separator: no statement of the script runs"}},
        {"a separator in lower case",
         {{.id = 1, .separatore = "go", .testo = "x\r\ngo\r\n", .versione = "1.0.0.0"}},
         {"row 1 (ID 1), field SEPARATORE: 'go' holds a lower-case letter: script lines are "
          "upper-cased before the separator is searched for, so it never matches"}},
        {"a separator the script never has",
         {{.id = 1, .separatore = "^", .testo = "x;\r\ny;\r\n", .versione = "1.0.0.0"}},
         {"row 1 (ID 1), field TESTO: the separator '^' never ends a statement in the script: "
          "nothing of it runs"}},
        {"a separator only inside a literal",
         {{.id = 1, .testo = "insert into T values (';')", .versione = "1.0.0.0"}},
         {"row 1 (ID 1), field TESTO: the separator ';' never ends a statement in the script: "
          "nothing of it runs"}},
        {"text after the last separator",
         {{.id = 1, .testo = "x;\r\n\r\ny\r\nz\r\n", .versione = "1.0.0.0"}},
         {"row 1 (ID 1), field TESTO: text after the last separator never runs: \"y\" (separator "
          "';')"}},
        {"text after the separator SET TERM left",
         {{.id = 1, .testo = "SET TERM ^ ;\r\nx^\r\ny;\r\n", .versione = "1.0.0.0"}},
         {"row 1 (ID 1), field TESTO: text after the last separator never runs: \"y;\" "
          "(separator '^')"}},
        {"only comments after the last separator",
         {{.id = 1, .testo = "x;\r\n/* done */\r\n-- end\r\n", .versione = "1.0.0.0"}},
         {}},
        {"a comment never closed",
         {{.id = 1, .testo = "x;\r\n/* y;\r\nz;\r\n", .versione = "1.0.0.0"}},
         {"row 1 (ID 1), field TESTO: a comment is never closed: the script's text from \"/* "
          "y;\" on never runs"}},
        {"a literal never closed",
         {{.id = 1, .testo = "x;\r\ninsert into T values ('a);\r\nz;\r\n", .versione = "1.0.0.0"}},
         {"row 1 (ID 1), field TESTO: a quoted string or name is never closed: the script's text "
          "from \"insert into T values ('a);\" on never runs"}},
        {"a NUL in the script",
         {{.id = 1, .testo = std::string("x;\r\n\0y;", 7), .versione = "1.0.0.0"}},
         {"row 1 (ID 1), field TESTO: the script holds a NUL character at byte 5: the text after "
          "it is never read"}},
        {"versions that are not a.b.c.d",
         {{.id = 1, .testo = "x;", .versione = "v1.2.0.0"},
          {.id = 2, .testo = "x;", .versione = "1.1"},
          {.id = 3, .testo = "x;", .versione = "3.0.0.0 "}},
         {"row 1 (ID 1), field VERSIONE: 'v1.2.0.0' is not four numbers a.b.c.d: a run reads it "
          "as 0.2.0.0",
          "row 2 (ID 2), field VERSIONE: '1.1' is not four numbers a.b.c.d: a run reads it as "
          "1.0.1.1",
          "row 3 (ID 3), field VERSIONE: '3.0.0.0 ' is not four numbers a.b.c.d: a run reads it "
          "as 3.0.0.0"}},
        {"versions that do not rise with ID",
         {{.id = 1, .testo = "x;", .versione = "2.0.0.0"},
          {.id = 2, .testo = "x;", .versione = "1.5.0.0"},
          {.id = 3, .tipo = "I", .versione = "2.0.0.0", .nomeTabella = "A", .nomeFile = rows},
          {.id = 4, .testo = "x;", .versione = ""},
          {.id = 5, .tipo = "I", .versione = "2.1.0.0", .nomeTabella = "A", .nomeFile = rows},
          {.id = 6, .testo = "x;", .versione = "2.1.0.0"}},
         {"row 2 (ID 2), field VERSIONE: 1.5.0.0 does not rise above 2.0.0.0 of phase 1 before "
          "it: once that phase has run, this one is skipped for version",
          "row 3 (ID 3), field VERSIONE: 2.0.0.0 does not rise above 2.0.0.0 of phase 1 before "
          "it: once that phase has run, this one is skipped for version"}},
        {"a data file missing, one that does not decode, no table, a lower-case flag",
         {{.id = 1,
           .tipo = "I",
           .versione = "1.0.0.0",
           .nomeTabella = "A",
           .nomeFile = path("missing.xml")},
          {.id = 2,
           .tipo = "I",
           .versione = "1.0.0.1",
           .nomeTabella = "A",
           .nomeFile = path("garbage.xml")},
          {.id = 3, .tipo = "I", .versione = "1.0.0.2", .nomeFile = rows, .svuota = "s"}},
         {"row 1 (ID 1), field NOME_FILE: the data file cannot be read: Cannot open file \"" +
              path("missing.xml") + "\". No such file or directory",
          "row 2 (ID 2), field NOME_FILE: the data file cannot be read: Mismatch in datapacket.",
          "row 3 (ID 3), field NOME_TABELLA: no table to import into",
          "row 3 (ID 3), field SVUOTA_TABELLA: 's' is neither S nor N: only S empties the table "
          "first"}},
        {"done phases: their script and file are not looked at, their version is",
         {{.id = 1, .stato = "S", .tipo = "I", .versione = "1.0.0.0", .nomeFile = "gone.xml"},
          {.id = 2, .stato = "S", .testo = "x;\r\nleft", .versione = "1.0.0.0"},
          {.id = 3, .stato = "S", .testo = "x;", .versione = "1.0"}},
         {"row 3 (ID 3), field VERSIONE: '1.0' is not four numbers a.b.c.d: a run reads it as "
          "1.0.1.0"}},
        {"a done script's version still counts for those after it",
         {{.id = 1, .stato = "S", .testo = "x;", .versione = "1.2.0.0"},
          {.id = 2, .testo = "y;", .versione = "1.1.0.0"}},
         {"row 2 (ID 2), field VERSIONE: 1.1.0.0 does not rise above 1.2.0.0 of phase 1 before "
          "it: once that phase has run, this one is skipped for version"}},
        {"a shared ID",
         {{.id = 7, .testo = "x;", .versione = "1.0.0.1"},
          {.id = 7, .testo = "y;", .versione = "1.0.0.2"}},
         {"row 2 (ID 7), field ID: ID 7 is shared by rows 1, 2: the order in which they run is "
          "not defined"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(problems(planXml(c.phases)), c.expected);
    }
}

TEST_F(PlanValidation, aRowWithoutIdBreaksTheFieldRules) {
    DataPacket packet = decodePacket(planXml({{.id = 1, .testo = "x;", .versione = "1.0.0.0"}}));
    setRowValue(packet, 0, 0, FieldValue{});
    // A field the file marks as required counts as the plan's own required ID does.
    packet.fields[6].bits = fieldbits::kRequired;
    EXPECT_EQ(problems(encodeXmlPacket(packet)),
              (std::vector<std::string>{
                  "row 1 (no ID), field ID: no value, although the field is required",
                  "row 1 (no ID), field NOME_TABELLA: no value, although the field is required"}));
}

}  // namespace
}  // namespace tarvolen::testing
