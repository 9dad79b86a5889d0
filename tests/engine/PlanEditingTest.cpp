// Changing a plan from the shell: a new plan, phases added, marked and removed through the plan
// table, its history kept, the plan file replaced whole with its backup, and every refusal
// leaving the plan as it was.

#include "engine/PlanEditing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "EngineTestSupport.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "plan/PlanLayout.h"
#include "tests/support/TempDatabase.h"

namespace tarvolen::testing {
namespace {

namespace fs = std::filesystem;

class PlanEditing : public ::testing::Test {
  protected:
    void SetUp() override { m_dir = database::testing::makeTempFolder("tarvolen-edit-"); }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string path(const std::string& name) const { return (m_dir / name).string(); }
    void writeFile(const std::string& name, const std::string& bytes) const {
        writeFileAtomically(path(name), bytes);
    }
    // A plan file with these phases, loaded for editing.
    PlanFileEditor& edit(const std::vector<Phase>& phases) {
        writeFile("dbquery.xml", planXml(phases));
        m_editor.emplace(path("dbquery.xml"));
        return *m_editor;
    }
    std::string rowsXml() const {
        return "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"N\" fieldtype=\"i4\"/></FIELDS>"
               "<PARAMS/></METADATA><ROWDATA><ROW N=\"1\"/></ROWDATA></DATAPACKET>";
    }
    // The plan as its file now holds it.
    DataPacket onDisk() const { return decodePacket(readWholeFile(path("dbquery.xml"))); }

    fs::path m_dir;
    std::optional<PlanFileEditor> m_editor;
};

TEST_F(PlanEditing, aNewPlanHasTheTenFieldsAndNoRowsAndIsNeverOverwritten) {
    CreatePlanFile(path("dbquery.xml"));
    const std::string made = readWholeFile(path("dbquery.xml"));
    EXPECT_EQ(made.rfind("<?xml", 0), 0u) << made;
    TClientDataSet plan("cdsQuery");
    OpenPlanFile(plan, path("dbquery.xml"));
    EXPECT_EQ(plan.RecordCount(), 0);
    ASSERT_EQ(plan.Packet().fields.size(), 10u);
    EXPECT_EQ(plan.Packet().fields[9].name, "VERSIONE");
    EXPECT_EQ(plan.Packet().fields[9].width(), 20);

    try {
        CreatePlanFile(path("dbquery.xml"));
        ADD_FAILURE() << "an existing plan was replaced";
    } catch (const PlanEditError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "the plan file \"" + path("dbquery.xml") + "\" exists already");
    }
    EXPECT_EQ(readWholeFile(path("dbquery.xml")), made);
    EXPECT_FALSE(fs::exists(path("dbquery.xml.lock")));
}

TEST_F(PlanEditing, addedPhasesAreInsertedRowsSavedWithTheReplacedPlanKept) {
    PlanFileEditor& editor = edit({{.id = 10, .stato = "S", .testo = "x;", .versione = "1.0.0.0"}});
    const std::string before = readWholeFile(path("dbquery.xml"));
    writeFile("rows.xml", rowsXml());
    AddScriptPhase(editor.plan(), {.id = 20,
                                   .version = "1.1.0.0",
                                   .script = "create table A (N integer);\r\n",
                                   .separator = ";"});
    AddImportPhase(editor.plan(), {.id = 15,
                                   .version = "1.0.5.0",
                                   .table = "A",
                                   .file = path("rows.xml"),
                                   .emptyTable = true});
    editor.Save();

    TClientDataSet plan("cdsQuery");
    OpenPlanFile(plan, path("dbquery.xml"));
    ASSERT_EQ(plan.RecordCount(), 3);
    plan.MoveTo(1);  // ID order: 10, 15, 20
    EXPECT_EQ(plan.FieldByName("ID").AsInteger(), 15);
    EXPECT_EQ(plan.FieldByName("TIPO").AsString(), "I");
    EXPECT_EQ(plan.FieldByName("STATO").AsString(), "N");
    EXPECT_EQ(plan.FieldByName("NOME_TABELLA").AsString(), "A");
    EXPECT_EQ(plan.FieldByName("NOME_FILE").AsString(), path("rows.xml"));
    EXPECT_EQ(plan.FieldByName("SVUOTA_TABELLA").AsString(), "S");
    EXPECT_EQ(plan.FieldByName("ORDINE").AsInteger(), 15);
    EXPECT_TRUE(plan.FieldByName("TESTO").IsNull());
    plan.MoveTo(2);
    EXPECT_EQ(plan.FieldByName("TIPO").AsString(), "S");
    EXPECT_EQ(plan.FieldByName("SEPARATORE").AsString(), ";");
    EXPECT_EQ(plan.FieldByName("TESTO").AsString(), "create table A (N integer);\r\n");
    EXPECT_EQ(plan.FieldByName("VERSIONE").AsString(), "1.1.0.0");
    EXPECT_TRUE(plan.FieldByName("NOME_TABELLA").IsNull());

    // Two inserts in the change log, after the row the file had.
    const DataPacket packet = onDisk();
    ASSERT_EQ(packet.changeLog.size(), 2u);
    EXPECT_EQ(packet.changeLog[0].kind, rowstate::kInserted);
    EXPECT_EQ(packet.changeLog[1].kind, rowstate::kInserted);
    EXPECT_EQ(readWholeFile(path("dbquery.xml.bak")), before);
}

TEST_F(PlanEditing, marksAndRemovalsKeepTheHistoryAsTheTableDoes) {
    PlanFileEditor& editor = edit({{.id = 1, .testo = "a;", .versione = "1.0.0.1"},
                                   {.id = 2, .testo = "b;", .versione = "1.0.0.2"}});
    MarkPhase(editor.plan(), 1, "S");
    MarkPhase(editor.plan(), 1, "N");
    MarkPhase(editor.plan(), 1, "N");  // no change: no new version
    RemovePhase(editor.plan(), 2);
    editor.Save();

    const DataPacket packet = onDisk();
    ASSERT_EQ(packet.changeLog.size(), 3u);
    EXPECT_EQ(packet.changeLog[0].kind, rowstate::kModified);
    EXPECT_EQ(packet.changeLog[1].kind, rowstate::kModified);
    EXPECT_EQ(packet.changeLog[2].kind, rowstate::kDeleted);
    // Both earlier versions of phase 1 stay in the file, superseded.
    ASSERT_EQ(packet.rows.size(), 4u);
    EXPECT_EQ(packet.rows[0].status, rowstate::kSuperseded);
    EXPECT_EQ(packet.rows[1].status, rowstate::kDeleted);
    TClientDataSet plan("cdsQuery");
    OpenPlanFile(plan, path("dbquery.xml"));
    ASSERT_EQ(plan.RecordCount(), 1);
    EXPECT_EQ(plan.FieldByName("STATO").AsString(), "N");
}

TEST_F(PlanEditing, refusalsSayWhyAndChangeNothing) {
    writeFile("bad.xml", "not a data packet");
    struct Case {
        const char* name;
        std::function<void(TClientDataSet&)> change;
        std::string message;
    };
    const auto script = [](int64_t id, std::string version, std::string text,
                           std::string separator = ";") {
        return [=](TClientDataSet& plan) {
            AddScriptPhase(plan,
                           {.id = id, .version = version, .script = text, .separator = separator});
        };
    };
    const auto import = [](int64_t id, std::string table, std::string file) {
        return [=](TClientDataSet& plan) {
            AddImportPhase(plan, {.id = id, .version = "2.0.0.0", .table = table, .file = file});
        };
    };
    const Case cases[] = {
        {"a duplicate ID", script(1, "2.0.0.0", "x;"), "the plan has a phase with ID 1 already"},
        {"an ID beyond 32 bits", script(2147483648, "2.0.0.0", "x;"),
         "ID 2147483648 does not fit the plan's ID field (a 32-bit integer)"},
        {"a version that is not a.b.c.d", script(5, "1.1", "x;"),
         "phase 5 not added:\n  VERSIONE: '1.1' is not four numbers a.b.c.d: a run reads it as "
         "1.0.1.1"},
        {"no version", script(5, "", "x;"), "phase 5 not added:\n  VERSIONE: no version"},
        {"a version wider than its field", script(5, "1000000.2000000.3.4", "x;"),
         "VERSIONE '1000000.2000000.3.4' is longer than the 15 characters the field holds"},
        {"a separator wider than its field", script(5, "2.0.0.0", "x;", "GOGOGO"),
         "SEPARATORE 'GOGOGO' is longer than the 5 characters the field holds"},
        {"text after the last separator", script(5, "2.0.0.0", "x;\r\ny"),
         "phase 5 not added:\n  TESTO: text after the last separator never runs: \"y\" "
         "(separator ';')"},
        {"a lower-case separator", script(5, "2.0.0.0", "x go", "go"),
         "phase 5 not added:\n  SEPARATORE: 'go' holds a lower-case letter: script lines are "
         "upper-cased before the separator is searched for, so it never matches"},
        {"a missing data file", import(5, "T", "/nonexistent/rows.xml"),
         "phase 5 not added:\n  NOME_FILE: the data file cannot be read: Cannot open file "
         "\"/nonexistent/rows.xml\". No such file or directory"},
        {"no table", import(5, "", path("bad.xml")),
         "phase 5 not added:\n  NOME_TABELLA: no table to import into\n  NOME_FILE: the data "
         "file cannot be read: Mismatch in datapacket."},
        {"a table name wider than its field", import(5, std::string(41, 'T'), path("bad.xml")),
         "NOME_TABELLA '" + std::string(41, 'T') +
             "' is longer than the 40 characters the field holds"},
        {"a mark other than S or N", [](TClientDataSet& p) { MarkPhase(p, 1, "s"); },
         "a phase is marked S (done) or N (to run), not 's'"},
        {"marking an unknown ID", [](TClientDataSet& p) { MarkPhase(p, 7, "S"); },
         "no phase has ID 7"},
        {"removing an unknown ID", [](TClientDataSet& p) { RemovePhase(p, 7); },
         "no phase has ID 7"},
        {"marking a shared ID", [](TClientDataSet& p) { MarkPhase(p, 3, "S"); },
         "ID 3 is shared by 2 phases: give each its own ID first (in the maintenance window)"},
        {"removing a shared ID", [](TClientDataSet& p) { RemovePhase(p, 3); },
         "ID 3 is shared by 2 phases: give each its own ID first (in the maintenance window)"},
    };
    PlanFileEditor& editor = edit({{.id = 1, .testo = "a;", .versione = "1.0.0.0"},
                                   {.id = 3, .testo = "b;", .versione = "1.0.0.3"},
                                   {.id = 3, .testo = "c;", .versione = "1.0.0.4"}});
    TClientDataSet& plan = editor.plan();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.change(plan);
            ADD_FAILURE() << "not refused";
        } catch (const PlanEditError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_EQ(plan.GetState(), TClientDataSet::State::Browse);
        EXPECT_EQ(plan.RecordCount(), 3);
        EXPECT_EQ(plan.ChangeCount(), 0);
    }
}

TEST_F(PlanEditing, aPlanInUseIsNotOpenedForChanges) {
    writeFile("dbquery.xml", planXml({}));
    const PlanLock run(path("dbquery.xml"));
    EXPECT_THROW(PlanFileEditor editor(path("dbquery.xml")), PlanInUse);
}

TEST_F(PlanEditing, scriptFilesBecomeWindows1252TextWithCrLf) {
    struct Case {
        const char* name;
        std::string file;
        std::string text;
    };
    const Case cases[] = {
        {"LF line ends", "a;\nb;\n", "a;\r\nb;\r\n"},
        {"CR LF kept, a lone CR kept", "a;\r\nb\r;", "a;\r\nb\r;"},
        {"UTF-8 accents", "insert into T values ('caff\xC3\xA8 \xE2\x82\xAC');\n",
         "insert into T values ('caff\xE8 \x80');\r\n"},
        {"a byte-order mark dropped", "\xEF\xBB\xBFselect 'pi\xC3\xB9';", "select 'pi\xF9';"},
        {"Windows-1252 kept as it is", "select 'caff\xE8';\r\n", "select 'caff\xE8';\r\n"},
        {"ASCII", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile("script.sql", c.file);
        EXPECT_EQ(ScriptTextFromFile(path("script.sql")), c.text);
    }
    writeFile("script.sql", "select '\xE2\x9C\x93';");  // a check mark: not in Windows-1252
    EXPECT_THROW(ScriptTextFromFile(path("script.sql")), PlanEditError);
    EXPECT_THROW(ScriptTextFromFile(path("missing.sql")), EFOpenError);
}

}  // namespace
}  // namespace tarvolen::testing
