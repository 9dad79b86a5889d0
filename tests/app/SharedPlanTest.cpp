// The window and the command line on one plan and one database, as an administrator meets
// them: the window stays logged in on a server alias while tarvolen-run and tarvolen-plan work
// from a shell. No phase runs twice, no mark or row one of them wrote is lost, and a write the
// plan's holder refuses keeps the window's changes.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QAction>
#include <QCheckBox>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <thread>

#include "GuiTestSupport.h"
#include "ModelChecker.h"
#include "app/maintenance/PlanGridModel.h"
#include "app/maintenance/fm_manutenzione.h"
#include "plan/FileIO.h"
#include "tests/support/ServerDatabase.h"
#include "tests/support/ShellCommand.h"

extern char** environ;

namespace tarvolen::testing {
namespace {

namespace fs = std::filesystem;
using Col = PlanGridModel::Column;

using ToolResult = CommandResult;

const char* const kStreets =
    "<?xml version=\"1.0\" standalone=\"yes\"?><DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
    "<FIELD attrname=\"ID\" fieldtype=\"i4\"/>"
    "<FIELD attrname=\"NOME\" fieldtype=\"string\" WIDTH=\"20\"/>"
    "</FIELDS><PARAMS/></METADATA><ROWDATA>"
    "<ROW ID=\"1\" NOME=\"Roma\"/><ROW ID=\"2\" NOME=\"Milano\"/><ROW ID=\"3\" NOME=\"Alba\"/>"
    "</ROWDATA></DATAPACKET>";

// Phase 5 done long ago; 10 makes a table, 20 imports three rows into it, 30 updates a row
// that a test can hold locked, so that a run waits there.
const Phase kDone = {
    .id = 5, .stato = "S", .testo = "select 1 from rdb$database;", .versione = "1.0.0.0"};
const Phase kCreate = {
    .id = 10, .testo = "create table VIE (ID integer, NOME varchar(20));", .versione = "1.1.0.0"};
const Phase kImport = {.id = 20,
                       .tipo = "I",
                       .separatore = "",
                       .versione = "1.1.0.1",
                       .nomeTabella = "VIE",
                       .nomeFile = "vie.xml"};
const Phase kUpdate = {.id = 30, .testo = "update BLOCCO set N = N + 1;", .versione = "1.1.0.2"};

class SharedPlanGuiTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        TARVOLEN_REQUIRE_LOCAL_SERVER(m_server);
        // The server, running as its own user, creates the database in the test's folder.
        fs::permissions(folder(), fs::perms::all);
        writeFile(folder() / "aliases.ini",
                  "[test]\nDatabase = test.fdb\n[server]\nDatabase = localhost:" +
                      (folder() / "server.fdb").string() + "\nCharset = WIN1252\n");
        m_server.create(folder() / "aliases.ini", "server");
        auto c = m_server.connect();
        for (const char* sql : {
                 "create table SYSDBVER (MAJOR_VERSION integer, MINOR_VERSION integer, "
                 "RELEASE_VERSION integer, BUILD integer, APPID varchar(3))",
                 "create table AFCOMUNI (ID_COMUNE varchar(6) not null primary key, "
                 "NOME_COMUNE varchar(80))",
                 "create table AFDATGEN (COD_ISTAT_GESTORE varchar(6))",
                 "create table BLOCCO (N integer)",
             })
            c->execute(sql);
        for (const char* sql : {
                 "insert into SYSDBVER values (1, 0, 0, 0, 'QLM')",
                 "insert into AFCOMUNI values ('004003', 'Alba')",
                 "insert into AFDATGEN values ('004003')",
                 "insert into BLOCCO values (0)",
             })
            c->execute(sql);
        writeFile(folder() / "vie.xml", kStreets);
        m_passwordEnv.emplace("TARVOLEN_PASSWORD", m_server.password().c_str());
    }
    void TearDown() override {
        for (const pid_t pid : m_started) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (m_program) m_program->finish();
        m_program.reset();
    }

    // The window, logged in on the server alias.
    void connectWindow() {
        start();
        m_script.expect(DialogScript::login("SYSDBA", QString::fromStdString(m_server.password())));
        choose("server");
        ASSERT_TRUE(dm().dbsagg().connected());
        window().chkStatistics->setChecked(false);
    }
    // A command-line tool run to its end from a shell in the plan's folder.
    ToolResult shell(const char* tool, const std::string& arguments) {
        const fs::path err = folder() / "stderr.txt";
        return runShellCommand("cd '" + folder().string() + "' && exec timeout -s KILL 120 '" +
                                   tool + "' " + arguments,
                               err);
    }
    ToolResult runFromShell() { return shell(TARVOLEN_RUN_TOOL, "--alias server --no-statistics"); }
    // tarvolen-run started in the background, its output in run.out; it runs until it prints
    // `untilPrinted` (true), or ends first (false).
    bool startRun(const std::string& untilPrinted) {
        const fs::path out = folder() / "run.out";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> args = {TARVOLEN_RUN_TOOL, "--alias", "server", "--no-statistics"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (posix_spawn(&pid, TARVOLEN_RUN_TOOL, &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (pid <= 0) return false;
        m_started.push_back(pid);
        m_run = pid;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (std::chrono::steady_clock::now() < deadline) {
            if (fileExists(out.string()) &&
                readWholeFile(out.string()).find(untilPrinted) != std::string::npos)
                return true;
            if (::waitpid(pid, nullptr, WNOHANG) == pid) {
                m_started.pop_back();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    void killRun() {
        ::kill(m_run, SIGKILL);
        ::waitpid(m_run, nullptr, 0);
        m_started.pop_back();
    }
    // Holds BLOCCO's row locked, so that phase 30 of a run waits, until the object goes.
    std::unique_ptr<database::Connection> holdRowOfPhase30() {
        auto blocker = m_server.connect("blocker");
        blocker->startTransaction();
        blocker->execute("update BLOCCO set N = 100");
        return blocker;
    }
    std::string onServer(const std::string& sql) const {
        return database::testing::selectText(*m_server.connect(), sql);
    }
    // "ID=STATO ..." of the plan file as it is, without its journal of done-marks.
    std::string marksInFile() const {
        TClientDataSet plan("plan");
        configurePlanTable(plan);
        plan.SetFileName("");
        plan.LoadFile((folder() / "dbquery.xml").string());
        std::string marks;
        for (plan.First(); !plan.Eof(); plan.Next()) {
            if (!marks.empty()) marks += ' ';
            marks += plan.FieldByName("ID").AsString() + "=" + plan.FieldByName("STATO").AsString();
        }
        return marks;
    }
    std::string fieldInFile(int id, const char* field) const {
        TClientDataSet plan("plan");
        configurePlanTable(plan);
        plan.SetFileName("");
        plan.LoadFile((folder() / "dbquery.xml").string());
        for (plan.First(); !plan.Eof(); plan.Next())
            if (plan.FieldByName("ID").AsInteger() == id) return plan.FieldByName(field).AsString();
        return "(no phase)";
    }
    // Opens "Gestione" > "Manutenzione"; `work` acts in the window while it is shown.
    void inMaintenanceWindow(const std::function<void(TfmManutenzione&)>& work) {
        m_script.expect([&work](QDialog& dialog) {
            auto* window = qobject_cast<TfmManutenzione*>(&dialog);
            if (window == nullptr) {
                ADD_FAILURE() << "expected the maintenance window";
                return int{QDialog::Rejected};
            }
            const ModelChecker checker(&window->model());
            window->show();  // as the modal showing does: FormShow reloads
            work(*window);
            window->close();
            return window->result();
        });
        window().Manutenzione1->trigger();
    }
    static int rowOf(TfmManutenzione& w, int id) {
        for (int row = 0; row < w.model().rowCount(); ++row)
            if (w.model().index(row, Col::ColId).data().toInt() == id) return row;
        ADD_FAILURE() << "no phase " << id << " in the grid";
        return 0;
    }
    static QString cell(TfmManutenzione& w, int id, Col column) {
        return w.model().index(rowOf(w, id), column).data().toString();
    }
    static void type(TfmManutenzione& w, int id, Col column, const QString& text) {
        ASSERT_TRUE(w.model().setData(w.model().index(rowOf(w, id), column), text, Qt::EditRole));
    }
    std::vector<fs::path> recoveryFiles() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(folder()))
            if (entry.path().filename().string().rfind("dbquery-recupero-", 0) == 0)
                found.push_back(entry.path());
        return found;
    }

    database::testing::ServerDatabase m_server;
    std::optional<database::testing::ScopedEnv> m_passwordEnv;
    std::vector<pid_t> m_started;
    pid_t m_run = -1;
};

// A run from the shell while the window is open, then "Esegui" in the window: the window walks
// the plan as the file now holds it, and closing it leaves the shell's marks.
TEST_F(SharedPlanGuiTest, eseguiAfterARunFromTheShellRunsNothingAgain) {
    writePlan({kCreate, kImport});
    connectWindow();
    const ToolResult run = runFromShell();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    ASSERT_EQ(onServer("select count(*) from VIE"), "3");

    m_script.expect(DialogScript::ok());
    clickEsegui();
    EXPECT_EQ(m_script.shown.back().text, "Batch eseguito correttamente");
    EXPECT_TRUE(logLines().contains("FASE 10 PROCEDURA GIA' ESEGUITA."))
        << logLines().join("\n").toStdString();
    EXPECT_TRUE(logLines().contains("FASE 20 PROCEDURA GIA' ESEGUITA."))
        << logLines().join("\n").toStdString();
    EXPECT_EQ(onServer("select count(*) from VIE"), "3") << "the import ran once";

    m_program->finish();
    EXPECT_EQ(m_script.pending(), 0u);
    EXPECT_EQ(marksInFile(), "10=S 20=S");
}

// A cell typed in "Manutenzione" and never saved, then a run from the shell, then closing the
// window: the window's change joins the shell's marks instead of undoing them.
TEST_F(SharedPlanGuiTest, aChangeHeldInTheWindowJoinsTheShellsMarksAtExit) {
    writePlan({kDone, kCreate, kImport});
    connectWindow();
    inMaintenanceWindow([](TfmManutenzione& w) { type(w, 5, Col::ColNomeTabella, "NOTA"); });
    EXPECT_EQ(m_script.pending(), 0u);
    ASSERT_EQ(dm().cdsQuery().ChangeCount(), 1) << "held in memory, not saved";

    const ToolResult run = runFromShell();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    m_program->finish();
    EXPECT_EQ(m_script.pending(), 0u);
    EXPECT_EQ(marksInFile(), "5=S 10=S 20=S");
    EXPECT_EQ(fieldInFile(5, "NOME_TABELLA"), "NOTA");

    const ToolResult again = runFromShell();
    EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
    EXPECT_EQ(again.out.find("IN ESECUZIONE"), std::string::npos) << again.out;
    EXPECT_EQ(onServer("select count(*) from VIE"), "3");
}

// A run killed in phase 30 leaves the marks of 10 and 20 in its journal; the window started
// then shows them. A run from the shell finishes the plan; closing the window leaves every mark.
TEST_F(SharedPlanGuiTest, theJournalsMarksTheWindowShowsAtStartUpDoNotUndoALaterRun) {
    writePlan({kCreate, kImport, kUpdate});
    {
        const auto blocker = holdRowOfPhase30();
        ASSERT_TRUE(startRun("FASE 30 SCRIPT IN ESECUZIONE."));
        killRun();
        blocker->rollback();
    }
    ASSERT_EQ(marksInFile(), "10=N 20=N 30=N") << "the marks are in the journal only";
    start();
    std::string shown;
    for (dm().cdsQuery().First(); !dm().cdsQuery().Eof(); dm().cdsQuery().Next())
        shown += dm().cdsQuery().FieldByName("STATO").AsString();
    EXPECT_EQ(shown, "SSN");

    const ToolResult run = runFromShell();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("FASE 20 PROCEDURA GIA' ESEGUITA."), std::string::npos) << run.out;
    m_program->finish();
    EXPECT_EQ(m_script.pending(), 0u);
    EXPECT_EQ(marksInFile(), "10=S 20=S 30=S");

    const ToolResult again = runFromShell();
    EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
    EXPECT_EQ(onServer("select N from BLOCCO"), "1") << "phase 30 ran once";
    EXPECT_EQ(onServer("select count(*) from VIE"), "3") << "the import ran once";
}

// "Salva la pianificazione" while a run holds the plan is refused, naming the run; the grid
// shows the marks the run has journalled; after the run is killed, a rerun from the shell
// applies nothing twice, and closing the window then writes its edit.
TEST_F(SharedPlanGuiTest, aSaveWhileARunHoldsThePlanIsRefusedAndTheEditsStay) {
    writePlan({kDone, kCreate, kImport, kUpdate});
    connectWindow();
    auto blocker = holdRowOfPhase30();
    ASSERT_TRUE(startRun("FASE 30 SCRIPT IN ESECUZIONE."));
    const pid_t run = m_run;

    QStringList shown;
    QString typed;
    inMaintenanceWindow([&](TfmManutenzione& w) {
        for (const int id : {10, 20, 30}) shown << cell(w, id, Col::ColStato);
        type(w, 5, Col::ColNomeTabella, "NOTA");
        m_script.expect(DialogScript::ok());  // the refusal
        w.Salvalapianificazione1->trigger();
        typed = cell(w, 5, Col::ColNomeTabella);
    });
    EXPECT_EQ(m_script.pending(), 0u);
    EXPECT_EQ(shown, (QStringList{"S", "S", "N"})) << "the journal's marks show in the grid";
    ASSERT_GE(m_script.shown.size(), 3u);
    const ShownDialog& refusal = m_script.shown[2];
    EXPECT_EQ(refusal.icon, QMessageBox::Critical);
    EXPECT_TRUE(refusal.text.contains(
        QStringLiteral("è in uso dal processo %1").arg(static_cast<qint64>(run))))
        << refusal.text.toStdString();
    EXPECT_EQ(typed, "NOTA") << "the edit stays in the window";
    EXPECT_EQ(fieldInFile(5, "NOME_TABELLA"), "");

    killRun();
    blocker->rollback();
    blocker.reset();
    const ToolResult rerun = runFromShell();
    ASSERT_EQ(rerun.exitCode, 0) << rerun.out << rerun.err;
    EXPECT_EQ(onServer("select count(*) from VIE"), "3") << "the import ran once";
    EXPECT_EQ(onServer("select N from BLOCCO"), "1");

    m_program->finish();
    EXPECT_EQ(m_script.pending(), 0u);
    EXPECT_EQ(marksInFile(), "5=S 10=S 20=S 30=S");
    EXPECT_EQ(fieldInFile(5, "NOME_TABELLA"), "NOTA");
}

// "Esegui", then a phase added and run from the shell, then closing the window: the window's
// save at the end of its walk left it with nothing to write, so phase 30 stays.
TEST_F(SharedPlanGuiTest, aPhaseAddedAndRunFromTheShellAfterEseguiStaysAtExit) {
    writePlan({kCreate, kImport});
    connectWindow();
    m_script.expect(DialogScript::ok());
    clickEsegui();
    ASSERT_EQ(m_script.shown.back().text, "Batch eseguito correttamente");
    writeFile(folder() / "via.sql", "insert into VIE values (4, 'Torino');\n");
    const ToolResult added =
        shell(TARVOLEN_PLAN_TOOL, "add --id 30 --version 1.2.0.0 --script via.sql");
    ASSERT_EQ(added.exitCode, 0) << added.out << added.err;
    const ToolResult run = runFromShell();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;

    m_program->finish();
    EXPECT_EQ(m_script.pending(), 0u);
    EXPECT_EQ(marksInFile(), "10=S 20=S 30=S");
    const ToolResult again = runFromShell();
    EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
    EXPECT_EQ(onServer("select count(*) from VIE"), "4") << "each phase applied once";
}

// A phase edited in the window and marked from the shell before the window saves: the plan
// keeps the shell's mark, the box names the phase and the copy that keeps the window's edit.
TEST_F(SharedPlanGuiTest, aPhaseChangedInTheWindowAndFromTheShellKeepsTheFilesVersion) {
    writePlan({kDone, kCreate, kImport});
    connectWindow();
    QString shown;
    inMaintenanceWindow([&](TfmManutenzione& w) {
        type(w, 10, Col::ColVersione, "1.1.0.9");
        const ToolResult marked = shell(TARVOLEN_PLAN_TOOL, "mark 10 S");
        ASSERT_EQ(marked.exitCode, 0) << marked.out << marked.err;
        m_script.expect(DialogScript::ok());  // the conflict
        w.Salvalapianificazione1->trigger();
        shown = cell(w, 10, Col::ColStato) + " " + cell(w, 10, Col::ColVersione);
    });
    EXPECT_EQ(m_script.pending(), 0u);
    EXPECT_EQ(shown, "S 1.1.0.0") << "the grid shows what the file holds";
    EXPECT_EQ(marksInFile(), "5=S 10=S 20=N");
    const auto saved = recoveryFiles();
    ASSERT_EQ(saved.size(), 1u);
    ASSERT_GE(m_script.shown.size(), 3u);
    const ShownDialog& box = m_script.shown[2];
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_TRUE(box.text.contains(QStringLiteral("la fase 10 è stata cambiata")))
        << box.text.toStdString();
    EXPECT_TRUE(box.text.contains(QString::fromStdString(saved[0].string())))
        << box.text.toStdString();
    TClientDataSet copy("copy");
    configurePlanTable(copy);
    copy.SetFileName("");
    copy.LoadFile(saved[0].string());
    copy.MoveTo(1);
    EXPECT_EQ(copy.FieldByName("VERSIONE").AsString() + " " + copy.FieldByName("STATO").AsString(),
              "1.1.0.9 N")
        << "the copy keeps the window's edit";
}

// Closing the window while a run holds the plan: its changes go to a recovery file with the
// plan's permissions, and the message names the run and the file.
TEST_F(SharedPlanGuiTest, anExitWhileARunHoldsThePlanKeepsTheChangesAndNamesTheHolder) {
    writePlan({kDone, kCreate, kImport, kUpdate});
    fs::permissions(folder() / "dbquery.xml", fs::perms::owner_read | fs::perms::owner_write);
    connectWindow();
    inMaintenanceWindow([](TfmManutenzione& w) { type(w, 5, Col::ColNomeTabella, "NOTA"); });
    auto blocker = holdRowOfPhase30();
    ASSERT_TRUE(startRun("FASE 30 SCRIPT IN ESECUZIONE."));
    const pid_t run = m_run;

    m_script.expect(DialogScript::ok());
    m_program->finish();
    EXPECT_EQ(m_script.pending(), 0u);
    const auto saved = recoveryFiles();
    ASSERT_EQ(saved.size(), 1u);
    const QString& text = m_script.shown.back().text;
    EXPECT_TRUE(
        text.contains(QStringLiteral("è in uso dal processo %1").arg(static_cast<qint64>(run))))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromStdString(saved[0].string()))) << text.toStdString();
    EXPECT_EQ(fs::status(saved[0]).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fieldInFile(5, "NOME_TABELLA"), "") << "the plan the run holds is not written";

    blocker->rollback();
    ::waitpid(run, nullptr, 0);
    m_started.clear();
    EXPECT_EQ(marksInFile(), "5=S 10=S 20=S 30=S");
}

}  // namespace
}  // namespace tarvolen::testing
