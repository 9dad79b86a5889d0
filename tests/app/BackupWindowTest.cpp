// The window's backup before a run and the log it keeps: "Backup del database prima
// dell'aggiornamento" checked at start, its folder beside the plan or as tarvolen.ini says
// (chosen from "Gestione" > "Cartella dei backup..."), a folder that cannot take the backup,
// and the history of runs from the window and the command line on one plan.

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <regex>
#include <sstream>

#include "../engine/BackupSupport.h"
#include "GuiTestSupport.h"
#include "engine/RunHistory.h"

namespace tarvolen::testing {
namespace {

namespace fs = std::filesystem;

class BackupWindow : public GuiTest {
  protected:
    // Answers the folder dialog by choosing `folder`, as a click on it and on "Choose" would.
    static DialogScript::Answer chooseFolder(const fs::path& folder) {
        return [folder](QDialog& dialog) {
            auto* chooser = qobject_cast<QFileDialog*>(&dialog);
            if (chooser == nullptr) {
                ADD_FAILURE() << "expected the folder dialog";
                return int{QDialog::Rejected};
            }
            EXPECT_EQ(chooser->fileMode(), QFileDialog::Directory);
            chooser->setDirectory(QString::fromStdString(folder.parent_path().string()));
            chooser->selectFile(QString::fromStdString(folder.filename().string()));
            return int{QDialog::Accepted};
        };
    }
    // The kept logs of the runs so far.
    std::vector<std::string> keptLogs() const {
        std::vector<std::string> logs;
        for (const std::string& name : filesIn(folder() / "log"))
            logs.push_back((folder() / "log" / name).string());
        return logs;
    }
    // A log's lines without their times.
    static std::vector<std::string> untimed(const std::string& file) {
        std::vector<std::string> lines;
        std::istringstream in(readWholeFile(file));
        for (std::string line; std::getline(in, line);) lines.push_back(line.substr(24));
        return lines;
    }
};

TEST_F(BackupWindow, eseguiBacksUpFirstByDefaultAndKeepsTheWholeLogBesideThePlan) {
    writePlan({{.id = 10, .testo = "create table T1 (A integer);", .versione = "1.1.0.0"},
               {.id = 20, .testo = "insert into NESSUNA values (1);", .versione = "1.2.0.0"}});
    startConnected();
    EXPECT_TRUE(window().chkBackup->isChecked());
    EXPECT_EQ(window().chkBackup->text(), "Backup del database prima dell'aggiornamento");
    EXPECT_EQ(window().chkBackup->toolTip().toStdString(),
              "Cartella dei backup: " + (folder() / "backup").string());
    window().chkStatistics->setChecked(false);
    m_script.expect(DialogScript::ok());
    clickEsegui();
    EXPECT_EQ(m_script.shown.back().text, "Batch eseguito con errori");

    // The default folder is made beside the plan and holds one whole backup.
    const std::vector<std::string> backups = backupsIn(folder() / "backup");
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(fs::path(backups[0]).filename().string().rfind("test-1.0.0.0-", 0), 0u);
    EXPECT_EQ(filesIn(folder() / "backup").size(), 1u);
    const QStringList lines = logLines();
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], "Backup del database in corso...");
    EXPECT_TRUE(lines[1].startsWith(
        QString::fromStdString("BACKUP ESEGUITO NEL FILE " + backups[0] + ": ")))
        << lines[1].toStdString();
    EXPECT_TRUE(
        lines.contains("FASE 20: 1 ISTRUZIONE FALLITA; LA FASE E' CONSIDERATA ESEGUITA E "
                       "NON VERRA' RIPETUTA."));

    // The log line before the summary names the kept log, which holds every line of the
    // activity log with its time, the phases' durations and the run's outcome.
    const std::vector<std::string> logs = keptLogs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(lines.last().toStdString(), "Log dell'esecuzione: " + logs[0]);
    const std::vector<std::string> kept = untimed(logs[0]);
    ASSERT_GE(kept.size(), 4u);
    EXPECT_EQ(kept[0], "INIZIO: tarvolen " TARVOLEN_VERSION ", alias test, piano " +
                           (folder() / "dbquery.xml").string());
    EXPECT_EQ(kept[1].rfind("UTENTI: sistema ", 0), 0u);
    EXPECT_TRUE(kept[1].ends_with(", database SYSDBA")) << kept[1];
    size_t at = 2;
    for (const QString& line : lines) {
        ASSERT_LT(at, kept.size());
        if (kept[at].rfind("FASE ", 0) == 0 && kept[at].find(" DURATA: ") != std::string::npos)
            ++at;
        EXPECT_EQ(kept[at++], line.toStdString());
    }
    ASSERT_EQ(kept.size(), at + 2);
    EXPECT_EQ(kept[at], "ISTRUZIONI FALLITE: 1, IMPORT FALLITI: 0");
    EXPECT_TRUE(
        std::regex_match(kept[at + 1], std::regex(R"(DURATA DELL'ESECUZIONE: \d+\.\d{3} s, )"
                                                  R"(CODICE DI USCITA 1)")))
        << kept[at + 1];
}

TEST_F(BackupWindow, theFolderChosenIsKeptInTheSettingsFileAndUsedFromThen) {
    writeFile(binFolder() / "tarvolen.ini", "; the settings\r\n[UpdateSettings]\r\nRegKey=\r\n");
    const fs::path elsewhere = folder() / "copie di sicurezza";
    fs::create_directory(elsewhere);
    startConnected();
    m_script.expect(chooseFolder(elsewhere));
    window().CartellaBackup1->trigger();
    EXPECT_EQ(readWholeFile((binFolder() / "tarvolen.ini").string()),
              "; the settings\r\n[UpdateSettings]\r\nRegKey=\r\nBackupDir=" + elsewhere.string() +
                  "\r\n");
    EXPECT_EQ(window().BackupFolder(), elsewhere.string());
    window().chkStatistics->setChecked(false);
    m_script.expect(DialogScript::ok());
    clickEsegui();
    EXPECT_EQ(backupsIn(elsewhere).size(), 1u);
    EXPECT_FALSE(fs::exists(folder() / "backup"));

    // The next start reads it back.
    m_program->finish();
    m_program.reset();
    startConnected();
    EXPECT_EQ(window().chkBackup->toolTip().toStdString(),
              "Cartella dei backup: " + elsewhere.string());

    // A settings file that cannot be written keeps the choice for the session, and says so.
    m_program->finish();
    m_program.reset();
    fs::remove(binFolder() / "tarvolen.ini");
    fs::create_directory(binFolder() / "tarvolen.ini");
    startConnected();
    const fs::path third = folder() / "terza";
    fs::create_directory(third);
    m_script.expect(chooseFolder(third));
    m_script.expect(DialogScript::ok());
    window().CartellaBackup1->trigger();
    ASSERT_EQ(m_script.shown.back().kind, "message");
    EXPECT_TRUE(m_script.shown.back().text.contains("non è stata salvata"))
        << m_script.shown.back().text.toStdString();
    EXPECT_EQ(window().BackupFolder(), third.string());
}

TEST_F(BackupWindow, aFolderThatCannotTakeTheBackupStopsTheRunWithNothingApplied) {
    const fs::path missing = folder() / "non-esiste";
    writeFile(binFolder() / "tarvolen.ini",
              "[UpdateSettings]\nBackupDir=" + missing.string() + "\n");
    startConnected();
    m_script.expect(DialogScript::ok());
    clickEsegui();
    ASSERT_EQ(m_script.shown.size(), 2u) << "no summary: the run stopped before its walk";
    EXPECT_EQ(m_script.shown[1].caption, title());
    EXPECT_EQ(m_script.shown[1].icon, QMessageBox::Critical);
    EXPECT_TRUE(m_script.shown[1].text.contains(QString::fromStdString(
        "Backup del database non riuscito: la cartella \"" + missing.string() + "\" non esiste")))
        << m_script.shown[1].text.toStdString();
    EXPECT_TRUE(m_script.shown[1].text.contains("nessuna fase è stata applicata"));
    // A folder the administrator chose is never made by the window.
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_EQ(count("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = 'T1'"), 0);
    EXPECT_EQ(planMarks(folder() / "dbquery.xml"), "10=N");
    EXPECT_FALSE(logLines().contains("Calcolo statistiche database..."));
    const std::vector<std::string> logs = keptLogs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logLines().last().toStdString(), "Log dell'esecuzione: " + logs[0]);
    EXPECT_NE(readWholeFile(logs[0]).find("CODICE DI USCITA 2\n"), std::string::npos);

    // Unchecked, the run goes on without a backup.
    window().chkBackup->setChecked(false);
    m_script.expect(DialogScript::ok());
    clickEsegui();
    EXPECT_EQ(m_script.shown.back().text, "Batch eseguito correttamente");
    EXPECT_FALSE(logLines().contains("Backup del database in corso..."));
    EXPECT_EQ(count("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = 'T1'"), 1);
}

TEST_F(BackupWindow, theHistoryListsTheRunsOfTheWindowAndOfTheCommandLine) {
    writePlan({{.id = 10, .testo = "create table T1 (A integer);", .versione = "1.1.0.0"}});
    startConnected();
    window().chkStatistics->setChecked(false);
    m_script.expect(DialogScript::ok());
    clickEsegui();
    // The window lets go of the database (opened in-process) before the command line runs.
    m_program->finish();
    m_program.reset();
    writeFile(folder() / "fase-20.sql", "insert into T1 values (1);\n");
    ASSERT_EQ(runInFolder(folder(), "'" TARVOLEN_PLAN_TOOL
                                    "' add --id 20 --version 1.2.0.0 --script fase-20.sql")
                  .exitCode,
              0);
    const Result cli =
        runInFolder(folder(), "'" TARVOLEN_RUN_TOOL "' --alias test --no-statistics");
    ASSERT_EQ(cli.exitCode, 0) << cli.out << cli.err;

    const Result history = runInFolder(folder(), "'" TARVOLEN_PLAN_TOOL "' history");
    ASSERT_EQ(history.exitCode, 0) << history.err;
    const std::vector<std::string> backups = backupsIn(folder() / "backup");
    ASSERT_EQ(backups.size(), 1u);
    const std::regex expected(
        "STARTED .*\n"
        "\\S+ \\S+  tarvolen +\\S+ +SYSDBA +test +1\\.0\\.0\\.0 +1\\.1\\.0\\.0 +10 +0 +0 +" +
        backups[0] +
        "\n"
        "\\S+ \\S+  tarvolen-run +\\S+ +SYSDBA +test +1\\.1\\.0\\.0 +1\\.2\\.0\\.0 +20 +0 +0 +-\n");
    EXPECT_TRUE(std::regex_match(history.out, expected)) << history.out;
}

}  // namespace
}  // namespace tarvolen::testing
