// A plan reachable by a second name must not escape its lock: with a hard link to the plan, a
// second tarvolen-run through the link refuses, naming the count, while the first one runs.
// Against the local server, where both runs could be attached at once.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "RunToolSupport.h"
#include "tests/support/ServerDatabase.h"

namespace tarvolen::testing {
namespace {

namespace fs = std::filesystem;

class HardLinkRun : public RunTool {
  protected:
    void SetUp() override {
        RunTool::SetUp();
        TARVOLEN_REQUIRE_LOCAL_SERVER(m_server);
        // The server, running as its own user, creates the database in the test's folder.
        fs::permissions(m_db.folder(), fs::perms::all);
        writeFile("aliases.ini",
                  "[server]\nDatabase = localhost:" + path("server.fdb") + "\nCharset = WIN1252\n");
        m_server.create(path("aliases.ini"), "server");
        auto c = m_server.connect();
        for (const char* sql : {
                 "create table SYSDBVER (MAJOR_VERSION integer, MINOR_VERSION integer, "
                 "RELEASE_VERSION integer, BUILD integer, APPID varchar(3))",
                 "create table T (N integer, S varchar(10))",
                 "create table BLOCCO (N integer)",
             })
            c->execute(sql);
        c->execute("insert into SYSDBVER values (1, 0, 0, 0, 'QLM')");
        c->execute("insert into BLOCCO values (0)");
        m_password.emplace("TARVOLEN_PASSWORD", m_server.password().c_str());
    }
    std::string onServer(const std::string& sql) const {
        return database::testing::selectText(*m_server.connect(), sql);
    }

    database::testing::ServerDatabase m_server;
    std::optional<database::testing::ScopedEnv> m_password;
};

TEST_F(HardLinkRun, aSecondRunThroughAHardLinkRefusesNamingTheLinkCount) {
    Phase first = inserts(1, 2);
    first.testo += "update BLOCCO set N = N + 1;\r\n";
    writeFile("dbquery.xml", planXml({first, inserts(2, 2)}));
    // The first run waits in phase 1 on a row the test holds locked.
    auto blocker = m_server.connect("blocker");
    blocker->startTransaction();
    blocker->execute("update BLOCCO set N = 100");
    const pid_t one = start({"--alias", "server", "--no-statistics"}, "one");
    ASSERT_GT(one, 0);
    ASSERT_TRUE(waitForOutput(one, "one", "FASE 1 SCRIPT IN ESECUZIONE."));
    fs::create_hard_link(path("dbquery.xml"), path("h.xml"));
    const pid_t two = start({"--alias", "server", "--no-statistics", "--plan", "h.xml"}, "two");
    ASSERT_GT(two, 0);
    // A second run that did not refuse waits on the same row: it is let go after a while, so
    // that both end and what they did shows.
    for (int i = 0; i < 1000 && !reap(two, WNOHANG); ++i) ::usleep(10000);
    blocker->rollback();
    const Result second = output("two", finish(two));
    const Result firstResult = output("one", finish(one));

    EXPECT_EQ(second.exitCode, 2) << second.out << second.err;
    EXPECT_NE(
        second.err.find("Cannot use the plan \"" + path("h.xml") + "\": the file has 2 hard links"),
        std::string::npos)
        << second.err;
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(firstResult.exitCode, 0) << firstResult.out << firstResult.err;
    EXPECT_EQ(onServer("select list(N || ':' || C, ' ') from (select N, count(*) as C from T "
                       "group by N order by N)"),
              "1:2 2:2")
        << "each phase applied once";
    EXPECT_EQ(onServer("select N from BLOCCO"), "1");
    EXPECT_EQ(statiOnDisk(), "SS");
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

}  // namespace
}  // namespace tarvolen::testing
