// The backup before a run and the way back through it, as the administrator meets them: real
// databases and real backups, tarvolen-run and tarvolen-backup as processes, a folder that is
// missing or fills up, a run killed in the middle of its backup, a restore that someone else's
// connection must stop.

#include <pwd.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <regex>
#include <thread>

#include "BackupSupport.h"
#include "engine/RunHistory.h"

namespace tarvolen::testing {
namespace {

namespace fs = std::filesystem;

class BackupRun : public RunTool {
  protected:
    void SetUp() override {
        RunTool::SetUp();
        fs::create_directory(m_db.folder() / "backup");
    }
    Result backupTool(const std::string& arguments, const std::string& input = "") const {
        return runInFolder(m_db.folder(),
                           "env TARVOLEN_ALIASES='" + path("aliases.ini") +
                               "' '" TARVOLEN_BACKUP_TOOL "' " + arguments,
                           input);
    }
    Result planTool(const std::string& arguments) const {
        return runInFolder(m_db.folder(), "'" TARVOLEN_PLAN_TOOL "' " + arguments);
    }
    std::string tables() const { return everyTable(*m_db.connect()); }
    // Rows enough that a backup takes a while: about 20 MB of registry-like text.
    void fillWithRows(int rows) const {
        auto c = m_db.connect();
        c->execute(
            "create table PERSONE (ID integer not null primary key, COGNOME varchar(60), "
            "NOME varchar(60), NOTE varchar(200))");
        c->execute(
            "execute block as declare i integer = 0; begin while (i < " + std::to_string(rows) +
            ") do begin insert into PERSONE values (:i, 'Cognome ' || :i, 'Nome ' || mod(:i, 977), "
            "rpad('nota ', 150 + mod(:i, 50), 'x')); i = i + 1; end end");
    }
};

TEST_F(BackupRun, aBackupTakenBeforeADestructivePlanPutsEveryTableBack) {
    {
        auto c = m_db.connect();
        c->execute(
            "create table AFVIE (ID_VIA integer not null primary key, TOPONIMO varchar(20), "
            "DENOMINAZIONE varchar(60), AGGIORNATA timestamp, LUNGHEZZA numeric(9,2))");
        c->execute("create index AFVIE_NOME on AFVIE (DENOMINAZIONE)");
        c->execute("create table NOTE (ID integer, TESTO blob sub_type text, DATI blob)");
        c->execute(
            "insert into AFVIE values (1, 'Via', 'Vittorio Emanuele II', "
            "'2024-12-31 23:59:59.1234', 1250.75)");
        c->execute("insert into AFVIE values (2, 'Piazza', 'Citt\xE0 di Mondov\xEC', null, 0)");
        c->execute(
            "insert into NOTE values (1, 'nota con l''accento: perch\xE9' || ascii_char(13) || "
            "ascii_char(10) || 'seconda riga', x'00FF10')");
        c->execute("insert into T values (1, 'uno')");
    }
    const std::string before = tables();
    // Each phase destroys something another way: rows deleted, a table dropped, values changed
    // and a column added; a failed statement marks its phase done all the same.
    writeFile("dbquery.xml",
              planXml({{.id = 10,
                        .testo = "delete from AFVIE;\r\ndrop table NOTE;\r\n",
                        .versione = "1.1.0.0"},
                       {.id = 20,
                        .testo = "update T set S = 'rovinato';\r\nalter table T add X integer;\r\n"
                                 "insert into NESSUNA values (1);\r\n",
                        .versione = "1.2.0.0"}}));
    const Result runResult = run("--alias registry --no-statistics --backup backup");
    EXPECT_EQ(runResult.exitCode, 1) << runResult.out << runResult.err;
    ASSERT_NE(runResult.out.find("Backup del database in corso...\nBACKUP ESEGUITO NEL FILE " +
                                 path("backup/registry-1.0.0.0-")),
              std::string::npos)
        << runResult.out;
    EXPECT_NE(runResult.out.find("FASE 20: 1 ISTRUZIONE FALLITA; LA FASE E' CONSIDERATA ESEGUITA "
                                 "E NON VERRA' RIPETUTA.\n"),
              std::string::npos)
        << runResult.out;
    EXPECT_NE(
        runResult.out.find("Batch eseguito con errori\nFASI CON ERRORI: 20 (1 ISTRUZIONE FALLITA, "
                           "CONSIDERATA ESEGUITA)\n"),
        std::string::npos)
        << runResult.out;
    EXPECT_EQ(databaseVersion(), "1.2.0.0");
    EXPECT_NE(tables(), before);
    const std::vector<std::string> backups = backupsIn(m_db.folder() / "backup");
    ASSERT_EQ(backups.size(), 1u);

    const Result listed = backupTool("list backup");
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("backup/" + fs::path(backups[0]).filename().string() +
                              "  registry  1.0.0.0  "),
              std::string::npos)
        << listed.out;

    // Not confirmed: nothing changes.
    const Result declined = backupTool("restore --alias registry " + backups[0], "n\n");
    EXPECT_EQ(declined.exitCode, 1) << declined.out << declined.err;
    EXPECT_NE(declined.out.find("Replace the database of alias registry (" + m_db.file().string() +
                                ", version 1.2.0.0) with the backup"),
              std::string::npos)
        << declined.out;
    EXPECT_EQ(databaseVersion(), "1.2.0.0");

    const Result restored = backupTool("restore --alias registry " + backups[0], "y\n");
    ASSERT_EQ(restored.exitCode, 0) << restored.out << restored.err;
    // Every table as it was before the run, the version record the backup's.
    EXPECT_EQ(tables(), before);
    EXPECT_EQ(databaseVersion(), "1.0.0.0");
    // The replaced database is kept beside it, whole: it opens at the version the run left.
    std::vector<std::string> kept;
    for (const std::string& name : filesIn(m_db.folder()))
        if (name.rfind("test.fdb.sostituito-", 0) == 0) kept.push_back(name);
    ASSERT_EQ(kept.size(), 1u) << restored.out;
    EXPECT_NE(restored.out.find("The replaced database is kept as " + path(kept[0])),
              std::string::npos)
        << restored.out;
    // The plan is not touched; the phases it marks done above the restored version are named,
    // with the commands that make them due again.
    EXPECT_EQ(statiOnDisk(), "SS");
    EXPECT_NE(restored.out.find("marks done phases above version 1.0.0.0, which the restored "
                                "database does not hold: 10, 20. To run them again:\n"
                                "  tarvolen-plan mark 10 N\n  tarvolen-plan mark 20 N\n"),
              std::string::npos)
        << restored.out;
    for (const std::string& name : filesIn(m_db.folder()))
        EXPECT_NE(name.rfind(".test.fdb.", 0), 0u) << "a restore left " << name << " behind";
}

TEST_F(BackupRun, aBackupThatCannotBeMadeStopsTheRunWithNothingApplied) {
    writeFile("a-file", "not a folder");
    struct Case {
        std::string folder;
        std::string why;
    };
    const Case cases[] = {
        {"nessuna", "la cartella \"" + path("nessuna") + "\" non esiste"},
        {"a-file", "\"" + path("a-file") + "\" non \xC3\xA8 una cartella"},
    };
    writeFile("dbquery.xml", planXml({inserts(1, 3)}));
    const std::string plan = readWholeFile(path("dbquery.xml"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const Result r = run("--alias registry --backup " + c.folder);
        EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
        EXPECT_NE(r.err.find("Backup del database non riuscito: " + c.why), std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("nessuna fase \xC3\xA8 stata applicata."), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("FASE 1"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Calcolo statistiche"), std::string::npos) << "nothing ran: " << r.out;
        EXPECT_EQ(readWholeFile(path("dbquery.xml")), plan);
        EXPECT_EQ(databaseVersion(), "1.0.0.0");
        EXPECT_EQ(count("select count(*) from T"), 0);
        EXPECT_EQ(leftovers(), std::vector<std::string>{});
    }
}

TEST_F(BackupRun, aFullFolderStopsTheRunAndLeavesNoBackupBehind) {
    // A small file system of its own that the backup fills.
    const fs::path full = m_db.folder() / "piena";
    fs::create_directory(full);
    if (::mount("tarvolen-test", full.c_str(), "tmpfs", 0, "size=256k") != 0) {
        const std::string why = std::string("cannot mount a small tmpfs: ") + std::strerror(errno);
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << why;
        GTEST_SKIP() << why;
    }
    struct Unmount {
        fs::path folder;
        ~Unmount() { ::umount2(folder.c_str(), MNT_DETACH); }
    } unmount{full};
    fillWithRows(5000);
    writeFile("dbquery.xml", planXml({inserts(1, 3)}));
    const std::string plan = readWholeFile(path("dbquery.xml"));

    const Result r = run("--alias registry --no-statistics --backup piena");
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("Backup del database non riuscito: "), std::string::npos) << r.err;
    // The engine's own words for it.
    EXPECT_TRUE(r.err.find("free disk space exhausted") != std::string::npos ||
                r.err.find("No space left on device") != std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("FASE 1"), std::string::npos) << r.out;
    EXPECT_EQ(readWholeFile(path("dbquery.xml")), plan);
    EXPECT_EQ(count("select count(*) from T"), 0);
    EXPECT_EQ(databaseVersion(), "1.0.0.0");
    // Neither a backup nor a piece of one is left to fill the folder.
    EXPECT_EQ(filesIn(full), std::vector<std::string>{});
}

TEST_F(BackupRun, aKillDuringTheBackupLeavesNoBackupAndTheRerunMakesOne) {
    fillWithRows(400000);
    writeFile("dbquery.xml", planXml({inserts(1, 3)}));
    const std::string plan = readWholeFile(path("dbquery.xml"));
    const struct {
        int signal;
        int exitCode;
    } cases[] = {{SIGKILL, 128 + SIGKILL}, {SIGINT, 130}};
    for (const auto& c : cases) {
        SCOPED_TRACE(strsignal(c.signal));
        const pid_t runner =
            start({"--alias", "registry", "--no-statistics", "--backup", "backup"}, "killed");
        ASSERT_GT(runner, 0);
        // Killed once the backup's file is being written: its temporary name holds the
        // writer's process id (the killed run's file is still there the second time).
        const std::string marker = ".fbk." + std::to_string(runner) + "-";
        bool writing = false;
        for (int i = 0; i < 6000 && !writing && ::kill(runner, 0) == 0; ++i) {
            for (const std::string& name : filesIn(m_db.folder() / "backup"))
                writing = writing || name.find(marker) != std::string::npos;
            if (!writing) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(writing) << "the backup was never seen being written";
        ::kill(runner, c.signal);
        const Result r = output("killed", finish(runner));
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        if (c.signal == SIGINT) {
            EXPECT_NE(r.out.find("BACKUP DEL DATABASE INTERROTTO: NESSUNA FASE ESEGUITA.\n"),
                      std::string::npos)
                << r.out;
        }
        EXPECT_EQ(backupsIn(m_db.folder() / "backup"), std::vector<std::string>{})
            << "no file under a backup's name";
        EXPECT_EQ(readWholeFile(path("dbquery.xml")), plan);
        EXPECT_EQ(count("select count(*) from T"), 0);
        EXPECT_EQ(databaseVersion(), "1.0.0.0");
    }

    // The rerun backs up, runs, and removes what the killed backup left.
    const Result rerun = run("--alias registry --no-statistics --backup backup");
    EXPECT_EQ(rerun.exitCode, 0) << rerun.out << rerun.err;
    const std::vector<std::string> backups = backupsIn(m_db.folder() / "backup");
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(filesIn(m_db.folder() / "backup"),
              std::vector<std::string>{fs::path(backups[0]).filename().string()});
    EXPECT_EQ(count("select count(*) from T"), 3);
    EXPECT_EQ(databaseVersion(), "1.1.0.0");
    EXPECT_GT(fs::file_size(backups[0]), 1u << 20);
}

TEST_F(BackupRun, theCheckRestoresTheBackupAndCountsEveryTablesRows) {
    fillWithRows(2000);
    writeFile("dbquery.xml", planXml({inserts(1, 3)}));
    const Result r = run("--alias registry --no-statistics --backup backup --verify-backup");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(
        r.out.find("Verifica del backup in corso...\nVERIFICA DEL BACKUP RIUSCITA: 3 TABELLE, "
                   "2001 RIGHE, COME NEL DATABASE ("),
        std::string::npos)
        << r.out;
    // The scratch database is gone; the backup stays.
    EXPECT_EQ(filesIn(m_db.folder() / "backup").size(), 1u);
    EXPECT_EQ(count("select count(*) from T"), 3);
}

TEST_F(BackupRun, theBackupFolderComesFromTheCommandLineOrTheEnvironment) {
    writeFile("dbquery.xml", planXml({}));
    // The environment's folder, unless the command line says otherwise.
    Result r = run("--alias registry --no-statistics", "export TARVOLEN_BACKUP_DIR=backup; ");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(backupsIn(m_db.folder() / "backup").size(), 1u);
    r = run("--alias registry --no-statistics --no-backup", "export TARVOLEN_BACKUP_DIR=backup; ");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find("Backup"), std::string::npos) << r.out;
    // Without either, no backup (the log says so).
    r = run("--alias registry --no-statistics", "unset TARVOLEN_BACKUP_DIR; ");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(backupsIn(m_db.folder() / "backup").size(), 1u);
    for (const char* arguments : {"--backup backup --no-backup", "--verify-backup", "--backup="}) {
        r = run(std::string("--alias registry ") + arguments, "unset TARVOLEN_BACKUP_DIR; ");
        EXPECT_EQ(r.exitCode, 2) << arguments;
        EXPECT_NE(r.err.find("usage: tarvolen-run"), std::string::npos) << r.err;
    }
}

TEST_F(BackupRun, aDryRunSaysWhereTheBackupWouldGoAndWhetherTheFolderTakesIt) {
    writeFile("dbquery.xml", planXml({inserts(1, 1)}));
    Result r = run("--alias registry --dry-run --backup backup");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("BACKUP NELLA CARTELLA " + path("backup") + ", FILE registry-1.0.0.0-"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(": SPAZIO LIBERO "), std::string::npos) << r.out;
    r = run("--alias registry --dry-run --backup nessuna");
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("BACKUP IMPOSSIBILE: la cartella \"" + path("nessuna") + "\" non esiste"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(filesIn(m_db.folder() / "backup"), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(path("nessuna")));
    EXPECT_EQ(count("select count(*) from T"), 0);
}

TEST_F(BackupRun, aRestoreIsRefusedWhileAnotherProgramHoldsTheDatabase) {
    writeFile("dbquery.xml", planXml({}));
    ASSERT_EQ(run("--alias registry --no-statistics --backup backup").exitCode, 0);
    const std::vector<std::string> backups = backupsIn(m_db.folder() / "backup");
    ASSERT_EQ(backups.size(), 1u);
    m_db.connect()->execute("insert into T values (5, 'dopo')");
    // The files of the folder but those of the tools' outputs.
    const auto files = [this] {
        std::vector<std::string> found = filesIn(m_db.folder());
        for (const char* output : {"stdin.txt", "stderr.txt"})
            found.erase(std::remove(found.begin(), found.end(), output), found.end());
        return found;
    };
    const std::vector<std::string> before = files();
    {
        // This test's own connection: the in-process engine admits one program at a time.
        const auto held = m_db.connect("held");
        const Result r = backupTool("restore --alias registry --yes " + backups[0]);
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_NE(r.err.find("restore refused: the database of alias registry is open in another "
                             "program"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_EQ(count("select count(*) from T"), 1);
    EXPECT_EQ(files(), before);
}

TEST_F(BackupRun, everyRunLeavesItsLogAndTheHistoryListsThem) {
    writeFile(
        "dbquery.xml",
        planXml(
            {inserts(1, 2),
             {.id = 2, .testo = "insert into NESSUNA values (1);\r\n", .versione = "1.2.0.0"}}));
    ASSERT_EQ(run("--alias registry --no-statistics --backup backup").exitCode, 1);
    ASSERT_EQ(run("--alias registry --no-statistics --dry-run").exitCode, 0);
    ASSERT_EQ(run("--alias nowhere").exitCode, 2);
    // A dry run changes nothing and keeps no log; a run that fails keeps one like any other.
    const std::vector<RunRecord> runs = ReadRunHistory(path("dbquery.xml"));
    ASSERT_EQ(runs.size(), 2u);
    const Result history = planTool("history");
    EXPECT_EQ(history.exitCode, 0) << history.err;
    const std::vector<std::string> backups = backupsIn(m_db.folder() / "backup");
    ASSERT_EQ(backups.size(), 1u);
    const std::string user = ::getpwuid(::geteuid())->pw_name;
    const std::regex expected(
        "STARTED +PROGRAM +OS USER +DB USER +ALIAS +BEFORE +AFTER +PHASES RUN +FAILED +EXIT "
        "+BACKUP\n"
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  tarvolen-run +" +
        user + " +SYSDBA +registry +1\\.0\\.0\\.0 +1\\.1\\.0\\.0 +1,2 +1 +1 +" + backups[0] + "\n" +
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  tarvolen-run +" + user +
        " +SYSDBA +nowhere +- +- +- +0 +2 +-\n");
    EXPECT_TRUE(std::regex_match(history.out, expected)) << history.out;
}

}  // namespace
}  // namespace tarvolen::testing
