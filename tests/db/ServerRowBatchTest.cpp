// Rows sent in blocks over a connection to the local Firebird server, where every statement is a
// round trip: the same rows as one-row inserts write, and a refused row named. Skipped, saying
// why, without a server; in CI (CI=true) that is a failure.

#include <gtest/gtest.h>

#include <cstdlib>

#include "RowBatchSupport.h"
#include "db/Connection.h"
#include "db/DatabaseError.h"
#include "db/RowBatch.h"
#include "tests/support/LocalServer.h"
#include "tests/support/TempDatabase.h"

namespace tarvolen::database {
namespace {

namespace fs = std::filesystem;

class ServerRowBatch : public ::testing::Test {
  protected:
    void SetUp() override {
        m_password = testing::sysdbaPassword();
        if (const std::string why = testing::localServerMissing(m_password); !why.empty()) {
            const char* ci = std::getenv("CI");
            if (ci != nullptr && std::string(ci) == "true") FAIL() << why;
            GTEST_SKIP() << why;
        }
        // The server, running as its own user, creates and drops the file here.
        m_folder = testing::makeTempFolder("tarvolen-server-");
        fs::permissions(m_folder, fs::perms::all);
        m_config = std::make_shared<AliasConfig>(AliasConfig::parse(
            "[server]\nDatabase = localhost:" + (m_folder / "server.fdb").string() +
                "\nCharset = WIN1252\n",
            m_folder / "aliases.ini"));
        m_connection = std::make_unique<Connection>("dbsagg");
        m_connection->setAliasConfig(m_config);
        m_connection->setAliasName("server");
        m_connection->setOnLogin([this](Connection&, LoginParams& params) {
            params.setValue("USER NAME", "SYSDBA");
            params.setValue("PASSWORD", m_password);
        });
        m_connection->createDatabase();
    }

    void TearDown() override {
        if (m_connection && m_connection->connected()) {
            try {
                m_connection->dropDatabase();
            } catch (const DatabaseError& e) {
                ADD_FAILURE() << "the server database could not be dropped: " << e.what();
            }
        }
        if (!m_folder.empty()) fs::remove_all(m_folder);
    }

    std::string m_password;
    fs::path m_folder;
    std::shared_ptr<const AliasConfig> m_config;
    std::unique_ptr<Connection> m_connection;
};

TEST_F(ServerRowBatch, rowsArriveAsOneRowInsertsWriteThem) {
    Connection& connection = *m_connection;
    connection.execute(testing::everyTypeTable("ALONE"));
    connection.execute(testing::everyTypeTable("BATCH"));
    std::vector<std::vector<Value>> rows;
    for (size_t i = 0; i < 300; ++i) rows.push_back(testing::everyTypeRow(i, "Citt\xE0 \x80"));
    testing::postAlone(connection, "ALONE", rows);
    const RowBatch::Counts counts = testing::postInBatch(connection, "BATCH", rows);
    const auto expected = testing::selectRows(connection, "select * from ALONE order by ID");
    ASSERT_EQ(expected.size(), rows.size());
    EXPECT_EQ(testing::selectRows(connection, "select * from BATCH order by ID"), expected);
    EXPECT_GT(counts.rowsAlone, 0u);  // the values too long to pass as text
    EXPECT_GT(counts.rowsInBlocks, counts.rowsAlone);
    EXPECT_LT(counts.statements, rows.size() / 4);
}

TEST_F(ServerRowBatch, aRefusedRowIsNamedAndARollbackLeavesNothing) {
    Connection& connection = *m_connection;
    connection.execute("create table T (ID integer, NOME varchar(10) not null)");
    Table table(connection, "Table");
    table.setTableName("T");
    table.open();
    connection.startTransaction();
    RowBatch batch(table);
    try {
        for (int64_t id = 1; id <= 1000; ++id) {
            batch.insert();
            batch.setValue(0, id);
            batch.setValue(1, id == 777 ? Value{} : Value{std::string("riga")});
            batch.post();
        }
        batch.send();
        ADD_FAILURE() << "row 777 went in";
    } catch (const RowFailed& e) {
        EXPECT_EQ(e.row(), 777u);
        EXPECT_NE(std::string(e.what()).find("NOME"), std::string::npos) << e.what();
    }
    EXPECT_EQ(testing::selectCount(connection, "select count(distinct ID) from T"), 776);
    connection.rollback();
    EXPECT_EQ(testing::selectCount(connection, "select count(*) from T"), 0);
}

}  // namespace
}  // namespace tarvolen::database
