// A connection lost while the statistics are recalculated or while the managing municipality is
// read is reported as the lost connection, never as a failed statistics pass or a database
// without the registry tables. The test's own server (PrivateServer.h) is the one that goes.

#include "PrivateServer.h"

namespace tarvolen::testing {
namespace {

using LostConnection = PrivateServerTest;

// Registry tables whose read runs until the server goes: AFDATGEN is a view over a procedure
// that loops for minutes before it returns its row.
void createSlowRegistry(database::Connection& c) {
    c.execute("create table AFCOMUNI (ID_COMUNE integer, NOME_COMUNE char(80))");
    c.execute("insert into AFCOMUNI values (1, 'Tarvisio')");
    c.execute(
        "create procedure SLOW_GESTORE returns (COD_ISTAT_GESTORE integer) as "
        "declare i bigint = 0; begin while (i < 10000000000) do i = i + 1; "
        "COD_ISTAT_GESTORE = 1; suspend; end");
    c.execute(
        "create view AFDATGEN (COD_ISTAT_GESTORE) as select COD_ISTAT_GESTORE "
        "from SLOW_GESTORE");
}

TEST_F(LostConnection, duringTheStatisticsIsThrownAsItIsAndNotLoggedAsAFailedPass) {
    connect()->execute("create index T_N on T (N)");
    TdmMain dm;
    RecordingHost host;
    dm.setHost(&host);
    dm.dbsagg().setAliasConfig(std::make_shared<database::AliasConfig>(database::AliasConfig::parse(
        readWholeFile(path("aliases.ini")), m_db.folder() / "aliases.ini")));
    dm.LoginUser = "SYSDBA";
    dm.LoginPassword = m_password;
    dm.Connect("remote");
    dm.CollectTableNames();
    ASSERT_FALSE(dm.TableNames().empty());
    m_server->stop(SIGKILL);

    EXPECT_THROW(dm.RecalculateStatistics(), database::ConnectionLost);
    EXPECT_EQ(host.log, (std::vector<std::string>{"Calcolo statistiche database..."}));
}

TEST_F(LostConnection, duringTheMunicipalityCheckEndsTheRunAsALostConnection) {
    {
        auto c = connect();
        createSlowRegistry(*c);
    }
    writeFile("dbquery.xml", planXml({{.id = 1, .testo = "insert into T values (1, 'a');\r\n"}}));
    // --verbose: a database taken for one without the registry tables would say so here.
    const pid_t runner =
        start({"--alias", "remote", "--password-file", "password", "--no-statistics", "--verbose"},
              "lost");
    ASSERT_GT(runner, 0);
    bool reading = false;
    for (int i = 0; i < 3000 && !reading; ++i) {
        reading = remoteCount(
                      "select count(*) from MON$STATEMENTS where MON$STATE = 1 and "
                      "MON$SQL_TEXT containing 'AFDATGEN'") > 0;
        if (!reading) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(reading) << "the run never read the municipality";
    m_server->stop(SIGKILL);
    const Result r = output("lost", finish(runner));

    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_EQ(r.err.find("Il database non"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Batch eseguito"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace tarvolen::testing
