// The backup and the restore of a database behind a server: the backup lands on this machine,
// the restore is built by the server and swapped in with the database shut down, a connection
// someone else holds refuses the restore, and a server that goes away during the backup stops
// the run with nothing applied. The local server (port 3050) for the first ones; a server of
// the test's own for the one that kills it.

#include <pwd.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "BackupSupport.h"
#include "PrivateServer.h"
#include "tests/support/LocalServer.h"

namespace tarvolen::testing {
namespace {

namespace fs = std::filesystem;

// A database of the local server in a folder of its own, which the server (running as its own
// user) can write, with the alias file and the password file the tools read.
class ServerBackup : public ::testing::Test {
  protected:
    void SetUp() override {
        m_password = database::testing::sysdbaPassword();
        if (const std::string why = database::testing::localServerMissing(m_password);
            !why.empty()) {
            const char* ci = std::getenv("CI");
            if (ci != nullptr && std::string(ci) == "true") FAIL() << why;
            GTEST_SKIP() << why;
        }
        m_folder = database::testing::makeTempFolder("tarvolen-server-backup-");
        fs::permissions(m_folder, fs::perms::all);
        fs::create_directory(m_folder / "backup");
        std::ofstream(m_folder / "aliases.ini")
            << "[server]\nDatabase = localhost:" << database() << "\nCharset = WIN1252\n";
        std::ofstream(m_folder / "password") << m_password << "\n";
        fs::permissions(m_folder / "password", fs::perms::owner_read | fs::perms::owner_write);
        auto c = connect(true);
        c->execute(
            "create table SYSDBVER (MAJOR_VERSION integer, MINOR_VERSION integer, "
            "RELEASE_VERSION integer, BUILD integer, APPID varchar(3))");
        c->execute("insert into SYSDBVER values (1, 0, 0, 0, 'QLM')");
        c->execute("create table AFVIE (ID integer not null primary key, NOME varchar(60))");
        c->execute("insert into AFVIE values (1, 'Via Citt\xE0 di Mondov\xEC')");
        c->execute("insert into AFVIE values (2, 'Piazza Duomo')");
    }
    void TearDown() override {
        if (m_folder.empty()) return;
        try {
            if (fs::exists(database())) connect()->dropDatabase();
        } catch (const database::DatabaseError& e) {
            ADD_FAILURE() << "the server database could not be dropped: " << e.what();
        }
        fs::remove_all(m_folder);
    }

    std::string database() const { return (m_folder / "server.fdb").string(); }
    std::unique_ptr<database::Connection> connect(bool create = false) const {
        auto c = std::make_unique<database::Connection>("check");
        c->setAliasConfig(std::make_shared<database::AliasConfig>(
            database::AliasConfig::load(m_folder / "aliases.ini")));
        c->setAliasName("server");
        c->params().setValue("USER NAME", "SYSDBA");
        c->params().setValue("PASSWORD", m_password);
        if (create)
            c->createDatabase();
        else
            c->open();
        return c;
    }
    Result tool(const std::string& program, const std::string& arguments,
                const std::string& input = "") const {
        return runInFolder(m_folder,
                           "env TARVOLEN_ALIASES='" + (m_folder / "aliases.ini").string() + "' '" +
                               program + "' " + arguments + " --password-file password",
                           input);
    }

    std::string m_password;
    fs::path m_folder;
};

TEST_F(ServerBackup, theBackupLandsHereAndTheRestoreSwapsTheServersFile) {
    const std::string before = everyTable(*connect());
    std::ofstream(m_folder / "dbquery.xml")
        << planXml({{.id = 10,
                     .testo = "delete from AFVIE;\r\nalter table AFVIE add X integer;\r\n",
                     .versione = "1.1.0.0"}});
    const Result r = tool(TARVOLEN_RUN_TOOL, "--alias server --no-statistics --backup backup");
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::vector<std::string> backups = backupsIn(m_folder / "backup");
    ASSERT_EQ(backups.size(), 1u) << r.out;
    EXPECT_EQ(fs::path(backups[0]).filename().string().rfind("server-1.0.0.0-", 0), 0u);
    EXPECT_NE(everyTable(*connect()), before);

    const Result restored =
        tool(TARVOLEN_BACKUP_TOOL, "restore --alias server --yes " + backups[0]);
    ASSERT_EQ(restored.exitCode, 0) << restored.out << restored.err;
    EXPECT_EQ(everyTable(*connect()), before);
    // The server built the new file, so it is the server's own; the replaced one stays beside.
    struct stat restoredFile {};
    ASSERT_EQ(::stat(database().c_str(), &restoredFile), 0);
    const passwd* server = ::getpwnam("firebird");
    if (server != nullptr) {
        EXPECT_EQ(restoredFile.st_uid, server->pw_uid);
    }
    bool kept = false;
    for (const std::string& name : filesIn(m_folder))
        kept = kept || name.rfind("server.fdb.sostituito-", 0) == 0;
    EXPECT_TRUE(kept) << restored.out;
    EXPECT_NE(restored.out.find("which the restored database does not hold: 10."),
              std::string::npos)
        << restored.out;
}

TEST_F(ServerBackup, aRestoreIsRefusedWhileAnotherConnectionIsAttached) {
    ASSERT_EQ(tool(TARVOLEN_BACKUP_TOOL, "create --alias server backup").exitCode, 0);
    const std::vector<std::string> backups = backupsIn(m_folder / "backup");
    ASSERT_EQ(backups.size(), 1u);
    const auto held = connect();
    held->execute("insert into AFVIE values (3, 'Corso Italia')");
    const Result r = tool(TARVOLEN_BACKUP_TOOL, "restore --alias server --yes " + backups[0]);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("restore refused: 1 other connection is attached to the database of "
                         "alias server: SYSDBA from 127.0.0.1"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(database::testing::selectCount(*held, "select count(*) from AFVIE"), 3);
    for (const std::string& name : filesIn(m_folder))
        EXPECT_EQ(name.find("sostituito"), std::string::npos) << name;
}

using PrivateServerBackup = PrivateServerTest;

TEST_F(PrivateServerBackup, aServerLostDuringTheBackupStopsTheRunWithNothingApplied) {
    {
        auto c = connect();
        c->execute("create table PERSONE (ID integer, NOME varchar(60), NOTE varchar(200))");
        c->execute(
            "execute block as declare i integer = 0; begin while (i < 300000) do begin "
            "insert into PERSONE values (:i, 'Nome ' || :i, rpad('nota', 180, 'x')); i = i + 1; "
            "end end");
    }
    fs::create_directory(path("backup"));
    writeFile("dbquery.xml", planXml({inserts(1, 3)}));
    const std::string plan = readWholeFile(path("dbquery.xml"));
    const pid_t runner = start({"--alias", "remote", "--no-statistics", "--password-file",
                                "password", "--backup", "backup"},
                               "lost");
    ASSERT_GT(runner, 0);
    const std::string marker = ".fbk." + std::to_string(runner) + "-";
    bool writing = false;
    for (int i = 0; i < 12000 && !writing && ::kill(runner, 0) == 0; ++i) {
        for (const std::string& name : filesIn(path("backup")))
            writing = writing || (name.find(marker) != std::string::npos &&
                                  fs::file_size(path("backup/" + name)) > 0);
        if (!writing) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(writing) << "the backup was never seen being written";
    m_server->stop(SIGKILL);
    const Result r = output("lost", finish(runner));
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("Backup del database non riuscito: "), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("FASE 1"), std::string::npos) << r.out;
    EXPECT_EQ(filesIn(path("backup")), std::vector<std::string>{}) << "nothing of it is left";
    EXPECT_EQ(readWholeFile(path("dbquery.xml")), plan);

    ASSERT_TRUE(m_server->start());
    EXPECT_EQ(remoteCount("select count(*) from T"), 0);
    EXPECT_EQ(remoteText("select MINOR_VERSION from SYSDBVER"), "0");
}

}  // namespace
}  // namespace tarvolen::testing
