// tarvolen-run against a Firebird server that stops in the middle of the run: the test's own
// server (PrivateServer.h), stopped and restarted by it.

#include "PrivateServer.h"

namespace tarvolen::testing {
namespace {

using ServerStop = PrivateServerTest;

TEST_F(ServerStop, aServerThatStopsEndsTheRunAndTheRerunFinishesThePlan) {
    // Phase 2's third statement waits on a row the test keeps locked, so the server stops
    // while that statement is in flight and the two before it are committed.
    const std::string plan =
        planXml({{.id = 1, .testo = "insert into T values (1, 'a');\r\n", .versione = "1.1.0.0"},
                 {.id = 2,
                  .testo = "insert into T values (2, 'a');\r\ninsert into T values (2, 'b');\r\n"
                           "update HELD set ID = ID;\r\ninsert into T values (2, 'c');\r\n",
                  .versione = "1.2.0.0"},
                 {.id = 3, .testo = "insert into T values (3, 'a');\r\n", .versione = "1.3.0.0"}});
    const std::vector<std::string> arguments = {"--alias", "remote", "--password-file", "password",
                                                "--no-statistics"};
    connect()->execute("create table HELD (ID integer)");
    connect()->execute("insert into HELD values (1)");
    // Shut down in order, and gone at once.
    for (const int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(strsignal(signal));
        {
            auto c = connect();
            c->execute("delete from T");
            c->execute("update SYSDBVER set MINOR_VERSION = 0");
        }
        writeFile("dbquery.xml", plan);
        auto holder = connect();
        holder->startTransaction();
        holder->execute("update HELD set ID = 2");

        const pid_t runner = start(arguments, "stopped");
        ASSERT_GT(runner, 0);
        ASSERT_TRUE(waitForOutput(runner, "stopped", "FASE 2 SCRIPT IN ESECUZIONE."));
        // The server's own account of the run's statement in flight: the update, waiting on
        // the row.
        const std::string updateInFlight =
            "select count(*) from MON$STATEMENTS where MON$STATE = 1 "
            "and MON$ATTACHMENT_ID <> CURRENT_CONNECTION "
            "and MON$SQL_TEXT containing 'HELD set ID = ID'";
        for (int i = 0; i < 3000 && remoteCount(updateInFlight) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(remoteCount("select count(*) from T where N = 2"), 2);
        ASSERT_EQ(remoteCount(updateInFlight), 1) << "the run never reached the held row";
        m_server->stop(signal);
        const Result r = output("stopped", finish(runner));
        holder.reset();

        EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
        const std::string stopped =
            "FASE 2 INTERROTTA ALL'ISTRUZIONE 3 (RIGA 3): CONNESSIONE AL DATABASE PERSA (";
        const size_t at = r.out.find(stopped);
        ASSERT_NE(at, std::string::npos) << r.out;
        EXPECT_NE(r.out.find("). LE ISTRUZIONI PRECEDENTI SONO CONFERMATE; LA FASE RESTA DA "
                             "ESEGUIRE.\nBatch eseguito con errori\n",
                             at),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(r.out.find("ERRORE:"), std::string::npos) << "no statement failed: " << r.out;
        EXPECT_EQ(statiOnDisk(), "SNN");

        ASSERT_TRUE(m_server->start()) << "the test's own Firebird server did not start again";
        EXPECT_EQ(remoteText("select MAJOR_VERSION || '.' || MINOR_VERSION || '.' || "
                             "RELEASE_VERSION || '.' || BUILD from SYSDBVER"),
                  "1.1.0.0");
        const Result rerun = run("--alias remote --password-file password --no-statistics");
        EXPECT_EQ(rerun.exitCode, 0) << rerun.out << rerun.err;
        EXPECT_EQ(statiOnDisk(), "SSS");
        EXPECT_EQ(remoteText("select MAJOR_VERSION || '.' || MINOR_VERSION || '.' || "
                             "RELEASE_VERSION || '.' || BUILD from SYSDBVER"),
                  "1.3.0.0");
        // Phase 1 once; phase 2's first two statements twice, the phase in flight being run
        // again whole.
        EXPECT_EQ(remoteText("select list(N || S, ' ') from (select N, S from T order by N, S)"),
                  "1a 2a 2a 2b 2b 2c 3a");
    }
}

}  // namespace
}  // namespace tarvolen::testing
