// The demo as scripts/run-demo starts it: made by demo/create-demo, its alias preselected from
// the registry file, its plan run twice in the window.

#include <QComboBox>
#include <QLabel>

#include "../engine/BackupSupport.h"
#include "GuiTestSupport.h"
#include "plan/FileIO.h"

namespace tarvolen::testing {
namespace {

namespace fs = std::filesystem;

TEST(DemoPlan, isWhatItsGeneratorMakesFromThePhaseScripts) {
    database::testing::TempDatabase scratch;  // only for its temporary folder
    const fs::path made = scratch.folder() / "dbquery.xml";
    const std::string command = std::string("\"") + TARVOLEN_MAKE_DEMO_PLAN + "\" \"" +
                                TARVOLEN_DEMO_DIR + "\" \"" + made.string() + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(readWholeFile(made.string()),
              readWholeFile(std::string(TARVOLEN_DEMO_DIR) + "/dbquery.xml"))
        << "demo/dbquery.xml is out of date: rebuild it with make_demo_plan demo demo/dbquery.xml";
}

class DemoTest : public ::testing::Test {
  protected:
    DemoTest()
        : m_folder(database::testing::makeTempFolder("tarvolen-demo-")),
          m_aliases("TARVOLEN_ALIASES", (m_folder / "aliases.ini").c_str()),
          m_dialogs(m_script.runner(), applicationTitle(QCoreApplication::applicationFilePath())) {}
    ~DemoTest() override {
        if (m_program) m_program->finish();
        m_program.reset();
        std::error_code ec;
        fs::remove_all(m_folder, ec);
    }

    void SetUp() override {
        const std::string command = std::string("timeout -s KILL 120 bash \"") + TARVOLEN_DEMO_DIR +
                                    "/create-demo\" \"" + m_folder.string() + "\" > /dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        m_cwd = std::make_unique<ScopedCurrentPath>(m_folder);
    }

    void start() {
        ShellSettings shell;
        shell.executableFolder = m_folder / "bin";
        shell.openRegistry = [this]() -> std::unique_ptr<settings::RegistrySource> {
            return std::make_unique<settings::RegistryFile>(m_folder / "registry.reg");
        };
        m_program = std::make_unique<Program>(m_dialogs, std::move(shell), m_folder / "recupero");
    }
    QString runAndAnswer() {
        m_script.expect(DialogScript::ok());
        m_program->fmMain().SpeedButton1->click();
        return m_program->fmMain().logText();
    }
    int64_t count(const std::string& sql) {
        return database::testing::selectCount(m_program->dmMain().dbsagg(), sql);
    }

    fs::path m_folder;
    database::testing::ScopedEnv m_aliases;
    std::unique_ptr<ScopedCurrentPath> m_cwd;
    DialogScript m_script;
    Dialogs m_dialogs;
    std::unique_ptr<Program> m_program;
};

TEST_F(DemoTest, startsOnItsAliasAndRunsEveryPhaseOnce) {
    m_script.expect(DialogScript::login("SYSDBA", "demo"));
    start();
    ASSERT_EQ(m_script.shown.size(), 1u);
    EXPECT_EQ(m_script.shown[0].kind, "login") << "the demo alias is preselected";
    TfmMain& w = m_program->fmMain();
    EXPECT_EQ(w.DatabaseComboBox1->currentText(), "anagrafe_alba");
    EXPECT_EQ(w.dbtxtGestore->text(), "Alba");

    const QString first = runAndAnswer();
    // "Esegui" backs the database up first, by default, and the log names the backup and the
    // run's own log.
    const std::vector<std::string> backups = backupsIn(m_folder / "backup");
    ASSERT_EQ(backups.size(), 1u) << first.toStdString();
    EXPECT_TRUE(first.startsWith(QString::fromStdString(
        "Backup del database in corso...\nBACKUP ESEGUITO NEL FILE " + backups[0] + ": ")))
        << first.toStdString();
    EXPECT_NE(fs::path(backups[0]).filename().string().rfind("anagrafe_alba-1.0.0.0-", 0),
              std::string::npos);
    EXPECT_TRUE(first.contains("Log dell'esecuzione: " +
                               QString::fromStdString((m_folder / "log").string())));
    for (const char* line :
         {"FASE 10 PROCEDURA GIA' ESEGUITA.", "FASE 20 NON ESEGUITA PER VERSIONE DATABASE.",
          "FASE 30 TERMINATA.", "FASE 40 TERMINATA.", "FASE 50 IMPORT TABELLA AFVIE TERMINATO.",
          "FASE 60 IMPORT TABELLA AFCOMUNI TERMINATO.", "FASE 70 TERMINATA.",
          "Versione del DB DOPO l'aggiornamento: 1.2.1.0"})
        EXPECT_TRUE(first.contains(line)) << line << "\n" << first.toStdString();
    EXPECT_EQ(count("select count(*) from AFVIE"), 13);
    EXPECT_EQ(count("select count(*) from AFCOMUNI"), 32);
    EXPECT_EQ(count("select count(*) from AFINDIVIDUI where STATO_CIVILE = 'C'"), 2);

    const QString second = runAndAnswer();
    EXPECT_FALSE(second.contains("IN ESECUZIONE")) << second.toStdString();
    EXPECT_EQ(m_script.shown.back().text, "Batch eseguito correttamente");
    EXPECT_EQ(count("select count(*) from AFVIE"), 13);
}

// The way back the README shows: the backup the window took before the run restored over the
// database, the phases it names marked to run again, and the run made anew.
TEST_F(DemoTest, theBackupTakenBeforeTheRunPutsTheDatabaseBackExactly) {
    m_script.expect(DialogScript::login("SYSDBA", "demo"));
    start();
    const std::string before = everyTable(m_program->dmMain().dbsagg());
    const QString first = runAndAnswer();
    EXPECT_TRUE(first.contains("Versione del DB DOPO l'aggiornamento: 1.2.1.0"));
    const std::string after = everyTable(m_program->dmMain().dbsagg());
    m_program->finish();  // the window lets go of the database
    m_program.reset();
    const std::vector<std::string> backups = backupsIn(m_folder / "backup");
    ASSERT_EQ(backups.size(), 1u);

    const Result restored = runInFolder(
        m_folder, "'" TARVOLEN_BACKUP_TOOL "' restore --alias anagrafe_alba --yes " + backups[0]);
    ASSERT_EQ(restored.exitCode, 0) << restored.out << restored.err;
    EXPECT_NE(restored.out.find("which the restored database does not hold: 30, 40, 70."),
              std::string::npos)
        << restored.out;
    EXPECT_NE(restored.out.find("Phases marked done without a version (check them by hand): 50, "
                                "60."),
              std::string::npos)
        << restored.out;
    {
        auto connection = std::make_unique<database::Connection>("check");
        connection->setAliasName("anagrafe_alba");
        connection->params().setValue("USER NAME", "SYSDBA");
        connection->open();
        EXPECT_EQ(everyTable(*connection), before);
    }

    for (const char* id : {"30", "40", "50", "60", "70"}) {
        ASSERT_EQ(runInFolder(m_folder, std::string("'" TARVOLEN_PLAN_TOOL "' mark ") + id + " N")
                      .exitCode,
                  0);
    }
    m_script.expect(DialogScript::login("SYSDBA", "demo"));
    start();
    const QString again = runAndAnswer();
    EXPECT_EQ(m_script.shown.back().text, "Batch eseguito correttamente") << again.toStdString();
    EXPECT_EQ(everyTable(m_program->dmMain().dbsagg()), after);
    EXPECT_EQ(backupsIn(m_folder / "backup").size(), 2u);
}

TEST_F(DemoTest, storedProcedureBetweenSetTermLinesIsCreated) {
    m_script.expect(DialogScript::login("SYSDBA", "demo"));
    start();
    const QString log = runAndAnswer();
    // A script read without its SET TERM lines fails statement by statement, each failure
    // naming the terminator.
    EXPECT_FALSE(log.contains("-TERM")) << log.toStdString();
    EXPECT_EQ(m_script.shown.back().text, "Batch eseguito correttamente") << log.toStdString();
    EXPECT_EQ(count("select RESIDENTI from CONTA_RESIDENTI(1)"), 3);
}

}  // namespace
}  // namespace tarvolen::testing
