#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/DatabaseError.h"
#include "engine/EngineHost.h"
#include "engine/dm_main.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/TempDatabase.h"

namespace tarvolen {
namespace {

using database::Value;
using database::testing::selectCount;
using database::testing::selectRows;
using database::testing::selectText;
using database::testing::TempDatabase;
using testing::RecordingHost;

std::vector<int> parts(const TVersione& v) {
    return {v.Major, v.Minor, v.Release, v.Build};
}

class DataModule : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dm.setHost(&m_host);
        connect(m_dm);
    }

    void connect(TdmMain& dm) {
        dm.dbsagg().close();
        dm.dbsagg().params().clear();
        dm.dbsagg().setAliasConfig(m_db.config());
        dm.dbsagg().setAliasName("test");
        dm.LoginUser = "SYSDBA";
        dm.dbsagg().open();
    }

    // The table as the registry databases have it: no key, APPID not among the select's
    // columns.
    void createVersionTable(const std::string& appIdDefault = "") {
        m_dm.dbsagg().execute(
            "create table SYSDBVER (MAJOR_VERSION integer, MINOR_VERSION integer, "
            "RELEASE_VERSION integer, BUILD integer, APPID varchar(3)" +
            (appIdDefault.empty() ? "" : " default '" + appIdDefault + "'") + ")");
    }

    void addRow(const std::string& values) {
        m_dm.dbsagg().execute(
            "insert into SYSDBVER (APPID, MAJOR_VERSION, MINOR_VERSION, "
            "RELEASE_VERSION, BUILD) values (" +
            values + ")");
    }

    std::vector<std::vector<Value>> versionRows() {
        return selectRows(m_dm.dbsagg(),
                          "select APPID, MAJOR_VERSION, MINOR_VERSION, RELEASE_VERSION, BUILD "
                          "from SYSDBVER order by RDB$DB_KEY");
    }

    TempDatabase m_db;
    RecordingHost m_host;
    TdmMain m_dm;
};

// The version record in SYSDBVER.
using VersionRecord = DataModule;

TEST_F(VersionRecord, readsTheFirstRowThatPassesTheSelect) {
    const struct {
        const char* name;
        std::vector<std::string> rows;
        std::vector<int> expected;
    } cases[] = {
        {"no row", {}, {0, 0, 0, 0}},
        {"only VR7", {"'VR7', 5, 6, 7, 8"}, {0, 0, 0, 0}},
        {"null APPID", {"null, 5, 6, 7, 8"}, {0, 0, 0, 0}},
        {"QLM", {"'QLM', 1, 2, 3, 4"}, {1, 2, 3, 4}},
        {"other application", {"'ABC', 2, 0, 0, 1"}, {2, 0, 0, 1}},
        {"nulls", {"'QLM', null, null, null, null"}, {0, 0, 0, 0}},
        {"several", {"'VR7', 9, 9, 9, 9", "'QLM', 1, 1, 1, 1", "'XYZ', 2, 2, 2, 2"}, {1, 1, 1, 1}},
    };
    createVersionTable();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_dm.dbsagg().execute("delete from SYSDBVER");
        for (const auto& row : c.rows) addRow(row);
        const auto version = m_dm.ReadDatabaseVersion();
        EXPECT_EQ(parts(*version), c.expected);
        EXPECT_FALSE(m_dm.qryVersioneDB().isOpen());
    }
}

TEST_F(VersionRecord, anAppendedRowIsFoundAgainOnTheNextConnection) {
    createVersionTable();
    addRow("'VR7', 9, 9, 9, 9");
    TVersione version;
    version.Major = 3;
    version.Minor = 1;
    version.Build = 7;
    m_dm.WriteDatabaseVersion(version);
    EXPECT_TRUE(m_dm.qryVersioneDB().isOpen());

    TdmMain later;
    connect(later);
    EXPECT_EQ(parts(*later.ReadDatabaseVersion()), (std::vector<int>{3, 1, 0, 7}));
    version.Minor = 2;
    later.WriteDatabaseVersion(version);
    EXPECT_EQ(versionRows(),
              (std::vector<std::vector<Value>>{
                  {std::string("VR7"), int64_t{9}, int64_t{9}, int64_t{9}, int64_t{9}},
                  {std::string("QLM"), int64_t{3}, int64_t{2}, int64_t{0}, int64_t{7}}}));
}

TEST_F(VersionRecord, anAppendLeavesAnAppIdDefaultToTheTable) {
    createVersionTable("ABC");
    TVersione version;
    version.Major = 5;
    m_dm.WriteDatabaseVersion(version);
    EXPECT_EQ(selectText(m_dm.dbsagg(), "select APPID from SYSDBVER"), "ABC");
}

TEST_F(VersionRecord, aWriteEditsOnlyTheFirstRowReturned) {
    createVersionTable();
    addRow("'VR7', 9, 9, 9, 9");
    addRow("'QLM', 1, 0, 0, 0");
    addRow("'QLM', 1, 0, 0, 0");  // the very same values: only the row returned first changes
    TVersione version;
    version.Major = 2;
    version.Release = 5;
    m_dm.WriteDatabaseVersion(version);
    EXPECT_EQ(versionRows(),
              (std::vector<std::vector<Value>>{
                  {std::string("VR7"), int64_t{9}, int64_t{9}, int64_t{9}, int64_t{9}},
                  {std::string("QLM"), int64_t{2}, int64_t{0}, int64_t{5}, int64_t{0}},
                  {std::string("QLM"), int64_t{1}, int64_t{0}, int64_t{0}, int64_t{0}}}));
}

TEST_F(VersionRecord, aReadAfterAWriteOnTheSameConnectionTakesTheRowJustWritten) {
    createVersionTable();
    addRow("'QLM', 1, 0, 0, 0");
    TVersione version;
    version.Major = 4;
    m_dm.WriteDatabaseVersion(version);

    // Changed behind the query's back: the first read still sees the row it holds.
    auto other = m_db.connect("other");
    other->execute("update SYSDBVER set MAJOR_VERSION = 8");
    EXPECT_EQ(parts(*m_dm.ReadDatabaseVersion()), (std::vector<int>{4, 0, 0, 0}));
    EXPECT_EQ(parts(*m_dm.ReadDatabaseVersion()), (std::vector<int>{8, 0, 0, 0}));
}

TEST_F(VersionRecord, aFailedWriteLeavesNoUnpostedVersionToRead) {
    createVersionTable();
    m_dm.dbsagg().execute("alter table SYSDBVER add check (MAJOR_VERSION < 100)");
    addRow("'QLM', 1, 2, 3, 4");
    TVersione version;
    version.Major = 500;  // refused by the table at post
    EXPECT_THROW(m_dm.WriteDatabaseVersion(version), database::DatabaseError);
    EXPECT_EQ(parts(*m_dm.ReadDatabaseVersion()), (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(VersionRecord, aDatabaseWithoutTheVersionTableFailsWithTheServersMessage) {
    try {
        (void)m_dm.ReadDatabaseVersion();
        ADD_FAILURE() << "read a version from nowhere";
    } catch (const database::DatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("Table unknown\n-SYSDBVER"), std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(m_dm.qryVersioneDB().isOpen());
    EXPECT_THROW(m_dm.WriteDatabaseVersion(TVersione{}), database::DatabaseError);
}

TEST_F(DataModule, theDatabaseNamesAddBothConnections) {
    m_dm.dbsagg().close();
    m_dm.dbsagg().setAliasConfig(
        std::make_shared<database::AliasConfig>(database::AliasConfig::parse(
            "[Zeta]\nDatabase = z\n[anagrafe]\nDatabase = a\n[DBSAGG]\nDatabase = d\n",
            m_db.folder() / "aliases.ini")));
    EXPECT_EQ(m_dm.GetDatabaseNames(),
              (std::vector<std::string>{"anagrafe", "DB", "DBSAGG", "Zeta"}));
}

// Three tables with 2, 0 and 5 indexes, created empty so their statistics start at 0, then
// filled so a recalculation changes them.
class IndexStatistics : public DataModule {
  protected:
    // `secondIndexOfT3` names the index on T3.B; a name that needs quotes makes its unquoted
    // statement, the fourth of the pass, fail.
    void build(const std::string& secondIndexOfT3) {
        auto& c = m_dm.dbsagg();
        c.execute("create table T1 (A integer not null primary key, B integer)");
        c.execute("create index T1_B on T1 (B)");
        c.execute("create table T2 (A integer)");
        c.execute("create table T3 (A integer, B integer, C integer, D integer, E integer)");
        for (const char* column : {"A", "B", "C", "D", "E"})
            c.execute("create index " +
                      (std::string(column) == "B" ? secondIndexOfT3 : std::string("T3_") + column) +
                      " on T3 (" + column + ")");
        c.execute(
            "execute block as declare i integer = 0; begin while (i < 200) do begin "
            "insert into T1 values (:i, mod(:i, 7)); insert into T3 values (:i, :i, mod(:i, 3), "
            ":i, mod(:i, 2)); i = i + 1; end end");
        m_dm.SetTableNames(c.tableNames());
    }

    // Index name and the statistics stored for it, for every user index.
    std::vector<std::vector<Value>> statistics() {
        return selectRows(m_dm.dbsagg(),
                          "select trim(rdb$index_name), rdb$statistics from rdb$indices "
                          "where coalesce(rdb$system_flag, 0) = 0 order by 1");
    }
};

TEST_F(IndexStatistics, recalculatesEveryIndexOfEveryTableInOneTransaction) {
    build("T3_B");
    const auto before = statistics();
    ASSERT_EQ(before.size(), 7u);
    for (const auto& row : before) EXPECT_EQ(std::get<double>(row[1]), 0.0);

    m_dm.RecalculateStatistics();
    EXPECT_EQ(m_host.log, (std::vector<std::string>{"Calcolo statistiche database...",
                                                    "STATISTICHE RICALCOLATE SU 7 INDICI\r\n"}));
    for (const auto& row : statistics())
        EXPECT_GT(std::get<double>(row[1]), 0.0) << database::valueText(row[0]);
    // The last table treated, its indexes in the order they were defined.
    EXPECT_EQ(m_dm.IndexNames(),
              (std::vector<std::string>{"T3_A", "T3_B", "T3_C", "T3_D", "T3_E"}));
    EXPECT_FALSE(m_dm.dbsagg().inTransaction());
}

TEST_F(IndexStatistics, anEmptyTableListCommitsAnEmptyTransaction) {
    build("T3_B");
    m_dm.SetTableNames({});
    m_dm.RecalculateStatistics();
    EXPECT_EQ(m_host.log, (std::vector<std::string>{"Calcolo statistiche database...",
                                                    "STATISTICHE RICALCOLATE SU 0 INDICI\r\n"}));
    EXPECT_FALSE(m_dm.dbsagg().inTransaction());
}

TEST_F(IndexStatistics, aFailureRollsBackWhatRanAndIsOnlyLogged) {
    build("\"Bad index\"");
    const struct {
        const char* name;
        std::vector<std::string> tables;
    } cases[] = {
        // T1's two indexes and T3's first run; the fourth statement, for "Bad index", does not
        // parse unquoted and is refused.
        {"refused fourth statement", {"T1", "T2", "T3"}},
        {"table no longer there", {"T1", "GONE", "T3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_host.log.clear();
        m_dm.SetTableNames(c.tables);
        m_dm.RecalculateStatistics();
        EXPECT_EQ(m_host.log, (std::vector<std::string>{
                                  "Calcolo statistiche database...",
                                  "Errore nel calcolo delle statistiche del database\r\n"}));
        EXPECT_FALSE(m_dm.dbsagg().inTransaction());
        for (const auto& row : statistics())
            EXPECT_EQ(std::get<double>(row[1]), 0.0) << database::valueText(row[0]);
    }
    // Nothing stays open: the next statement runs in a transaction of its own.
    m_dm.dbsagg().startTransaction();
    m_dm.dbsagg().execute("SET STATISTICS INDEX T3_A");
    m_dm.dbsagg().commit();
}

}  // namespace
}  // namespace tarvolen
