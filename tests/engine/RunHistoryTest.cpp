// A run's kept log read back: what `tarvolen-plan history` shows of each run.

#include "engine/RunHistory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/TestFolder.h"

namespace tarvolen {
namespace {

// A window run whose backup was taken and whose phase 20 had a failed statement.
const char* const kWindowRun =
    "2026-05-02 14:03:07.250 INIZIO: tarvolen 0.1.0, alias anagrafe, piano /srv/dbquery.xml\n"
    "2026-05-02 14:03:07.250 UTENTI: sistema mario, database SYSDBA\n"
    "2026-05-02 14:03:07.300 Backup del database in corso...\n"
    "2026-05-02 14:03:09.001 BACKUP ESEGUITO NEL FILE /srv/backup: anno 2026/anagrafe-1.0.0.0-"
    "20260502-140307.fbk: 1.5 MB IN 1.701 s\n"
    "2026-05-02 14:03:09.100 Versione del DB PRIMA dell'aggiornamento: 1.0.0.0\n"
    "2026-05-02 14:03:09.101 FASE 10 PROCEDURA GIA' ESEGUITA.\n"
    "2026-05-02 14:03:09.102 FASE 20 SCRIPT IN ESECUZIONE.\n"
    "2026-05-02 14:03:09.110 ERRORE:\n"
    "2026-05-02 14:03:09.110 violation of PRIMARY or UNIQUE KEY constraint\n"
    "2026-05-02 14:03:09.110 ------------------------------------------------------\n"
    "2026-05-02 14:03:09.110 insert into T select 'FASE 99 SCRIPT IN ESECUZIONE.'\n"
    "2026-05-02 14:03:09.110 FASE 98 SCRIPT IN ESECUZIONE.\n"
    "2026-05-02 14:03:09.110 ------------------------------------------------------\n"
    "2026-05-02 14:03:09.120 FASE 20 TERMINATA.\n"
    "2026-05-02 14:03:09.121 FASE 30 IMPORT TABELLA AFVIE IN ESECUZIONE.\n"
    "2026-05-02 14:03:09.130 FASE 30 IMPORT TABELLA AFVIE TERMINATO.\n"
    "2026-05-02 14:03:09.200 Versione del DB DOPO l'aggiornamento: 1.2.0.0\n"
    "2026-05-02 14:03:09.300 ISTRUZIONI FALLITE: 1, IMPORT FALLITI: 2\n"
    "2026-05-02 14:03:09.301 DURATA DELL'ESECUZIONE: 2.051 s, CODICE DI USCITA 1\n";

TEST(RunHistory, aLogTellsWhoRanWhatWithWhichOutcome) {
    const RunRecord run = ParseRunLog(kWindowRun);
    EXPECT_EQ(run.started, "2026-05-02 14:03:07");
    EXPECT_EQ(run.program, "tarvolen");
    EXPECT_EQ(run.alias, "anagrafe");
    EXPECT_EQ(run.osUser, "mario");
    EXPECT_EQ(run.databaseUser, "SYSDBA");
    EXPECT_EQ(run.versionBefore, "1.0.0.0");
    EXPECT_EQ(run.versionAfter, "1.2.0.0");
    // A statement's text quoted in an error block is no log line of the run's, even one that
    // reads like a phase's start.
    EXPECT_EQ(run.phasesRun, (std::vector<int64_t>{20, 30}));
    EXPECT_EQ(run.failedStatements, 1u);
    EXPECT_EQ(run.failedImports, 2u);
    EXPECT_EQ(run.backup, "/srv/backup: anno 2026/anagrafe-1.0.0.0-20260502-140307.fbk");
    ASSERT_TRUE(run.exitStatus.has_value());
    EXPECT_EQ(*run.exitStatus, 1);
}

TEST(RunHistory, aKilledRunHasNoEndAndAnUnknownExit) {
    const RunRecord run = ParseRunLog(
        "2026-05-03 09:00:00.000 INIZIO: tarvolen-run 0.1.0, alias storico, piano ./dbquery.xml\n"
        "2026-05-03 09:00:00.001 UTENTI: sistema root, database OPERATORE\n"
        "2026-05-03 09:00:00.500 Backup del database in corso...\n");
    EXPECT_EQ(run.program, "tarvolen-run");
    EXPECT_EQ(run.alias, "storico");
    EXPECT_EQ(run.databaseUser, "OPERATORE");
    EXPECT_TRUE(run.versionBefore.empty());
    EXPECT_TRUE(run.backup.empty());
    EXPECT_TRUE(run.phasesRun.empty());
    EXPECT_FALSE(run.exitStatus.has_value());
}

TEST(RunHistory, theLogsBesideAPlanAreReadOldestFirst) {
    const testing::TempFolder folder;
    std::filesystem::create_directory(folder.path() / "log");
    const auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(folder.path() / "log" / name, std::ios::binary) << text;
    };
    write("20260503-090000-storico.log",
          "2026-05-03 09:00:00.000 INIZIO: tarvolen-run 0.1.0, alias storico, piano p\n");
    write("20260502-140307-anagrafe.log", kWindowRun);
    write("note.txt", "2026-05-01 00:00:00.000 INIZIO: x, alias y, piano z\n");
    const std::vector<RunRecord> runs = ReadRunHistory((folder.path() / "dbquery.xml").string());
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].alias, "anagrafe");
    EXPECT_EQ(runs[1].alias, "storico");
    EXPECT_EQ(runs[1].logFile, (folder.path() / "log" / "20260503-090000-storico.log").string());
    // A plan without a log folder has no runs yet.
    EXPECT_TRUE(ReadRunHistory((folder.path() / "log" / "dbquery.xml").string()).empty());
}

}  // namespace
}  // namespace tarvolen
