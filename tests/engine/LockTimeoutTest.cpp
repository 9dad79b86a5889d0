// tarvolen-run on a row that another connection keeps locked: with the alias's LockTimeout the
// statement gives up after that many seconds with the server's lock-conflict error, the script
// goes on, and nothing waits forever. The lock is held through the test's own server
// (PrivateServer.h), since an embedded database admits one process at a time.

#include <chrono>

#include "PrivateServer.h"

namespace tarvolen::testing {
namespace {

using LockTimeout = PrivateServerTest;

TEST_F(LockTimeout, aStatementOnALockedRowFailsAfterTheAliasTimeoutAndTheScriptGoesOn) {
    constexpr int kTimeoutSeconds = 3;
    writeFile("aliases.ini", readWholeFile(path("aliases.ini")) +
                                 "LockTimeout = " + std::to_string(kTimeoutSeconds) + "\n");
    connect()->execute("create table HELD (ID integer, A integer)");
    connect()->execute("insert into HELD values (1, 0)");
    writeFile(
        "dbquery.xml",
        planXml({{.id = 1,
                  .testo = "insert into T values (1, 'a');\r\nupdate HELD set A = 1 where "
                           "ID = 1;\r\ninsert into T values (1, 'b');\r\n",
                  .versione = "1.1.0.0"},
                 {.id = 2, .testo = "insert into T values (2, 'a');\r\n", .versione = "1.2.0.0"}}));
    auto holder = connect();
    holder->startTransaction();
    holder->execute("update HELD set A = 2 where ID = 1");

    // run() gives the tool a hard limit of its own (timeout -s KILL): a wait without end fails
    // the test instead of hanging it.
    const auto start = std::chrono::steady_clock::now();
    const Result r = run("--alias remote --password-file password --no-statistics");
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    holder->rollback();
    holder.reset();

    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    const size_t failed = r.out.find("ERRORE:");
    ASSERT_NE(failed, std::string::npos) << r.out;
    EXPECT_NE(r.out.find("update conflicts with concurrent update", failed), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("update HELD set A = 1 where ID = 1", failed), std::string::npos)
        << "the failed statement is named: " << r.out;
    EXPECT_EQ(r.out.find("ERRORE:", failed + 1), std::string::npos) << "one failure: " << r.out;
    // The server counts the wait on a one-second clock: it ends after more than two of the
    // three seconds, and well before the default timeout of a minute.
    EXPECT_GE(took.count(), kTimeoutSeconds - 1.0);
    EXPECT_LT(took.count(), 30.0);
    // The script went on after the failure, and the phase counts as done (a failed statement
    // does not keep its phase due).
    EXPECT_EQ(remoteText("select list(N || S, ' ') from (select N, S from T order by N, S)"),
              "1a 1b 2a");
    EXPECT_EQ(remoteText("select A from HELD"), "0");
    EXPECT_EQ(statiOnDisk(), "SS");
}

}  // namespace
}  // namespace tarvolen::testing
