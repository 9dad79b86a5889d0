#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <thread>

#include "db/Connection.h"
#include "db/DatabaseError.h"
#include "db/Query.h"
#include "db/ServerErrors.h"
#include "db/Table.h"
#include "tests/support/IsqlRunner.h"
#include "tests/support/TempDatabase.h"

namespace tarvolen::database {
namespace {

using testing::selectCount;
using testing::selectText;
using testing::TempDatabase;

TEST(Connection, opensClosesAndReopens) {
    TempDatabase db;
    Connection connection("dbsagg");
    connection.setAliasConfig(db.config());
    connection.setAliasName("TEST");  // aliases are looked up without regard to case
    connection.params().setValue("USER NAME", "SYSDBA");
    EXPECT_FALSE(connection.connected());

    connection.open();
    EXPECT_TRUE(connection.connected());
    connection.execute("create table T (A integer)");
    connection.open();  // already open: nothing happens
    EXPECT_TRUE(connection.connected());

    connection.close();
    EXPECT_FALSE(connection.connected());
    EXPECT_THROW(connection.execute("insert into T values (1)"), DatabaseError);

    connection.open();
    connection.execute("insert into T values (1)");
    EXPECT_EQ(selectCount(connection, "select count(*) from T"), 1);
}

TEST(Connection, failedConnectLeavesItClosedWithTheReason) {
    TempDatabase db;
    const struct {
        const char* alias;
        std::string message;
    } cases[] = {
        {"nosuch",
         "Unknown alias \"nosuch\" in \"" + (db.folder() / "aliases.ini").string() + "\""},
        {"nofile", "I/O error during \"open\" operation for file \"" +
                       (db.folder() / "missing.fdb").string() + "\""},
        {"nokey", "Alias \"nokey\" in \"" + (db.folder() / "aliases.ini").string() +
                      "\" has no Database key"},
        {"badcharset", "CHARACTER SET NOSUCHSET is not defined"},
    };
    const auto config = std::make_shared<AliasConfig>(
        AliasConfig::parse("[nofile]\nDatabase = missing.fdb\n[nokey]\nCharset = NONE\n"
                           "[badcharset]\nDatabase = test.fdb\nCharset = NOSUCHSET\n",
                           db.folder() / "aliases.ini"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.alias);
        Connection connection("dbsagg");
        connection.setAliasConfig(config);
        connection.setAliasName(c.alias);
        try {
            connection.open();
            ADD_FAILURE() << "connected";
        } catch (const DatabaseError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
        EXPECT_FALSE(connection.connected());
    }
}

TEST(Connection, loginHookFillsTheUserNameBeforeTheDatabaseIsReached) {
    TempDatabase db;
    Connection connection("dbsagg");
    connection.setAliasConfig(db.config());
    connection.setAliasName("test");
    int calls = 0;
    connection.setOnLogin([&](Connection& which, LoginParams& params) {
        ++calls;
        EXPECT_EQ(&which, &connection);
        EXPECT_EQ(params.value("user name"), "");
        params.setValue("USER NAME", "PIPPO");
        params.setValue("PASSWORD", "segreta");
    });
    connection.open();
    EXPECT_EQ(calls, 1);
    // The in-process engine trusts the name it is given.
    EXPECT_EQ(selectText(connection, "select current_user from rdb$database"), "PIPPO");

    connection.close();
    connection.params().clear();
    connection.setOnLogin([](Connection&, LoginParams& params) {
        params.setValue("USER NAME", "PLUTO");
        params.setValue("PASSWORD", "");  // an empty value removes the line
    });
    connection.open();
    EXPECT_EQ(connection.params().lines().size(), 1u);
    EXPECT_EQ(selectText(connection, "select current_user from rdb$database"), "PLUTO");
}

TEST(Connection, roleComesFromTheAlias) {
    TempDatabase db;
    {
        auto owner = db.connect();
        owner->execute("create role OPERATORE");
        owner->execute("grant OPERATORE to PIPPO");
    }
    Connection connection("dbsagg");
    connection.setAliasConfig(db.config("Role = OPERATORE\n"));
    connection.setAliasName("test");
    connection.params().setValue("USER NAME", "PIPPO");
    connection.open();
    EXPECT_EQ(selectText(connection, "select current_role from rdb$database"), "OPERATORE");
}

TEST(Connection, commitKeepsTheWorkAndRollbackDiscardsIt) {
    TempDatabase db;
    auto connection = db.connect();
    connection->execute("create table T (A integer)");
    for (const bool commit : {true, false}) {
        SCOPED_TRACE(commit ? "commit" : "rollback");
        connection->execute("delete from T");
        connection->startTransaction();
        EXPECT_TRUE(connection->inTransaction());
        connection->execute("insert into T values (1)");
        connection->execute("insert into T values (2)");
        if (commit)
            connection->commit();
        else
            connection->rollback();
        EXPECT_FALSE(connection->inTransaction());
        EXPECT_EQ(selectCount(*connection, "select count(*) from T"), commit ? 2 : 0);
    }
}

TEST(Connection, workOutsideATransactionIsCommittedAsEachStatementCompletes) {
    TempDatabase db;
    auto writer = db.connect("writer");
    auto reader = db.connect("reader");
    writer->execute("create table T (A integer)");
    writer->execute("insert into T values (1)");
    EXPECT_EQ(selectCount(*reader, "select count(*) from T"), 1);

    writer->startTransaction();
    writer->execute("insert into T values (2)");
    EXPECT_EQ(selectCount(*reader, "select count(*) from T"), 1);  // read committed
    writer->commit();
    EXPECT_EQ(selectCount(*reader, "select count(*) from T"), 2);
}

TEST(Connection, transactionMisuseIsRefused) {
    TempDatabase db;
    auto connection = db.connect("dbsagg");
    EXPECT_THROW(connection->commit(), DatabaseError);
    EXPECT_THROW(connection->rollback(), DatabaseError);
    connection->startTransaction();
    EXPECT_THROW(connection->startTransaction(), DatabaseError);
    for (const char* statement : {"commit", "rollback", "set transaction"}) {
        SCOPED_TRACE(statement);
        EXPECT_THROW(connection->execute(statement), DatabaseError);
        EXPECT_TRUE(connection->inTransaction());
    }
    connection->rollback();
}

TEST(Connection, statementTextReachesTheServerAsWritten) {
    TempDatabase db;
    auto connection = db.connect();
    connection->execute("create table T (S varchar(20))");
    connection->execute("insert into T values ('a:b :c')");
    connection->execute(
        "execute block as\r\n"
        "declare variable n integer;\r\n"
        "begin\r\n"
        "  select count(*) from T into :n;\r\n"
        "  insert into T values (:n);\r\n"
        "end\r\n");
    connection->execute("select * from T");  // a select runs; its rows go nowhere
    const auto rows = testing::selectRows(*connection, "select S from T order by S");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(std::get<std::string>(rows[0][0]), "1");
    EXPECT_EQ(std::get<std::string>(rows[1][0]), "a:b :c");
}

TEST(Connection, serverErrorsArriveExactlyAsTheServerWordsThem) {
    TempDatabase db;
    const std::string statement = "select * from NOSUCH";
    std::string ours;
    {
        auto connection = db.connect();
        try {
            connection->execute(statement);
            ADD_FAILURE() << "no error";
        } catch (const DatabaseError& e) {
            ours = e.what();
            EXPECT_NE(e.serverCode(), 0);
        }
    }
    ASSERT_FALSE(ours.empty());
    // isql prints the same status, with its own lines around it.
    const std::string isql = testing::runIsql(
        db.folder(), "connect '" + db.file().string() + "' user 'SYSDBA';\n" + statement + ";\n");
    EXPECT_NE(isql.find("\n" + ours + "\n"), std::string::npos)
        << "isql: " << isql << "\nours: " << ours;
}

TEST(Connection, listsTablesAndTheirIndexesInTheEnginesOrder) {
    TempDatabase db;
    auto connection = db.connect();
    connection->execute("create table T_B (ID integer not null primary key, X integer, Y integer)");
    connection->execute("create table T_A (X integer)");
    connection->execute("create view V_C as select X from T_A");
    connection->execute("create index IDX_Z on T_B (X)");
    connection->execute("create descending index IDX_A on T_B (Y)");

    EXPECT_EQ(connection->tableNames(), (std::vector<std::string>{"T_A", "T_B"}));
    const auto indexes = connection->indexNames("T_B");
    ASSERT_EQ(indexes.size(), 3u);
    EXPECT_EQ(indexes[0].rfind("RDB$PRIMARY", 0), 0u) << indexes[0];
    EXPECT_EQ(indexes[1], "IDX_Z");
    EXPECT_EQ(indexes[2], "IDX_A");
    EXPECT_EQ(connection->indexNames("t_b"), indexes);  // an unquoted name reads as upper case
    EXPECT_TRUE(connection->indexNames("T_A").empty());
    EXPECT_THROW(connection->indexNames("GONE"), DatabaseError);
}

TEST(Connection, closingClosesItsQueriesAndTablesAndRollsBack) {
    TempDatabase db;
    auto connection = db.connect();
    connection->execute("create table T (A integer)");
    connection->execute("insert into T values (1)");
    Query query(*connection, "query");
    query.setSql("select A from T");
    query.open();
    Table table(*connection, "table");
    table.setTableName("T");
    table.open();
    connection->startTransaction();
    connection->execute("insert into T values (2)");

    connection->close();
    EXPECT_FALSE(query.isOpen());
    EXPECT_FALSE(table.isOpen());
    connection->open();
    EXPECT_FALSE(connection->inTransaction());
    EXPECT_EQ(selectCount(*connection, "select count(*) from T"), 1);
}

TEST(Connection, statementBlockedByALockFailsWhenTheLockTimeoutRunsOut) {
    TempDatabase db;
    auto holder = db.connect("holder");
    holder->execute("create table T (ID integer, A integer)");
    holder->execute("insert into T values (1, 0)");
    holder->startTransaction();
    holder->execute("update T set A = 1 where ID = 1");

    // The server counts the wait on a one-second clock: a timeout of N seconds ends after
    // more than N - 1 of them.
    const struct {
        int timeout;
        double minSeconds;
        double maxSeconds;
    } cases[] = {
        {0, 0.0, 1.0},
        {2, 0.9, 10.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.timeout);
        auto blocked = db.connect("blocked", "LockTimeout = " + std::to_string(c.timeout) + "\n");
        const auto start = std::chrono::steady_clock::now();
        try {
            blocked->execute("update T set A = 2 where ID = 1");
            ADD_FAILURE() << "the update went through a lock";
        } catch (const DatabaseError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(
                          "deadlock\n-update conflicts with concurrent update\n", 0),
                      0u)
                << e.what();
        }
        const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
        EXPECT_GE(waited.count(), c.minSeconds);
        EXPECT_LT(waited.count(), c.maxSeconds);
    }

    holder->rollback();
    auto after = db.connect("after", "LockTimeout = 1\n");
    after->execute("update T set A = 3 where ID = 1");
    EXPECT_EQ(selectText(*holder, "select A from T"), "3");
}

TEST(Connection, anAttachmentShutDownUnderItFailsAsConnectionLost) {
    TempDatabase db;
    auto victim = db.connect("victim");
    auto killer = db.connect("killer");
    victim->execute("create table T (A integer)");
    // An ordinary failure is not a lost connection.
    try {
        victim->execute("insert into NOPE values (1)");
        ADD_FAILURE() << "the insert into a missing table went through";
    } catch (const ConnectionLost& e) {
        ADD_FAILURE() << "taken for a lost connection: " << e.what();
    } catch (const DatabaseError&) {
    }

    const std::string id = selectText(*victim, "select current_connection from rdb$database");
    killer->execute("delete from mon$attachments where mon$attachment_id = " + id);
    for (const char* sql : {"insert into T values (1)", "select A from T"}) {
        try {
            victim->execute(sql);
            ADD_FAILURE() << sql << " ran on a shut attachment";
        } catch (const ConnectionLost& e) {
            EXPECT_EQ(std::string(e.what()).rfind("connection shutdown", 0), 0u) << e.what();
        }
    }
    EXPECT_THROW(victim->startTransaction(), ConnectionLost);
    // What is left of the attachment is released without a word, and it can attach again.
    victim->close();
    victim->open();
    EXPECT_EQ(selectCount(*victim, "select count(*) from T"), 0);
}

TEST(Connection, aDatabaseAnotherProgramHoldsWithoutAServerIsSaidToBeOpenThere) {
    TempDatabase db;
    const std::string file = db.file().string();
    {
        const testing::IsqlHolding other(db.folder(), db.file());
        ASSERT_TRUE(other.holding()) << other.output();
        try {
            db.connect();
            ADD_FAILURE() << "attached beside another program's engine";
        } catch (const DatabaseError& e) {
            EXPECT_TRUE(isOpenInAnotherProgram(e)) << e.what();
            const std::string text = e.what();
            EXPECT_EQ(text.rfind("Database \"" + file +
                                     "\" of alias \"test\" is open in another program that "
                                     "opened it without a server (the tarvolen window, or "
                                     "another run): close that program and try again, or have "
                                     "every program reach the database through the server, with "
                                     "an alias whose Database is localhost:" +
                                     file + ".\n",
                                 0),
                      0u)
                << text;
            // The server's own words follow, for the record.
            EXPECT_TRUE(text.ends_with(
                "\n-Database already opened with engine instance, incompatible with current"))
                << text;
        }
    }
    // Once the other program has let it go, it opens; a database that is not there is no
    // database in use.
    EXPECT_NO_THROW(db.connect());
    try {
        Connection missing("missing");
        missing.setAliasConfig(std::make_shared<AliasConfig>(
            AliasConfig::parse("[gone]\nDatabase = gone.fdb\n", db.folder() / "aliases.ini")));
        missing.setAliasName("gone");
        missing.open();
        ADD_FAILURE() << "opened a database that is not there";
    } catch (const DatabaseError& e) {
        EXPECT_FALSE(isOpenInAnotherProgram(e)) << e.what();
    }
}

TEST(Connection, anInterruptLeavesTheConnectionsToTheProgramWhenAsked) {
    TempDatabase db;
    auto connection = db.connect();
    // The client's own handler is in place (installed as the library loads): it would shut
    // every connection on SIGINT, from a thread of its own.
    keepConnectionsOnInterrupt();
    ASSERT_EQ(raise(SIGINT), 0);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_NO_THROW(connection->execute("create table T (A integer)"));
}

}  // namespace
}  // namespace tarvolen::database
