#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "db/Connection.h"
#include "db/DatabaseError.h"
#include "db/Query.h"
#include "tests/support/TempDatabase.h"

namespace tarvolen::database {
namespace {

using testing::selectCount;
using testing::selectRows;
using testing::TempDatabase;

// A table without a key, holding two rows that are identical in every column.
class QueryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_connection = m_db.connect("dbsagg");
        m_connection->execute(
            "create table T (K integer, S varchar(10), N numeric(9,2) default 1.5, "
            "TAG varchar(3))");
        for (const char* row : {"(1, 'uno', 1.25, 'A')", "(2, 'due', 2.50, 'A')",
                                "(2, 'due', 2.50, 'A')", "(3, null, null, 'B')"})
            m_connection->execute(std::string("insert into T values ") + row);
    }

    TempDatabase m_db;
    std::unique_ptr<Connection> m_connection;
};

TEST_F(QueryTest, opensAtTheFirstRowAndReadsColumnsByName) {
    Query query(*m_connection, "qry");
    query.setSql("select K, S as NOME, N from T order by K");
    query.open();
    ASSERT_FALSE(query.eof());
    EXPECT_EQ(query.fieldCount(), 3);
    EXPECT_EQ(query.fieldName(1), "NOME");
    EXPECT_EQ(query.asInteger("k"), 1);
    EXPECT_EQ(query.asString("Nome"), "uno");
    EXPECT_EQ(std::get<double>(query.value("N")), 1.25);

    query.next();
    query.next();
    query.next();
    EXPECT_EQ(query.asInteger("K"), 3);
    EXPECT_TRUE(query.isNull("NOME"));
    EXPECT_EQ(query.asInteger("N"), 0);  // null reads as 0
    EXPECT_EQ(query.asString("NOME"), "");
    query.next();
    EXPECT_TRUE(query.eof());

    try {
        (void)query.value("NOPE");
        ADD_FAILURE() << "read a column the query does not have";
    } catch (const DatabaseError& e) {
        EXPECT_STREQ(e.what(), "qry: field 'NOPE' not found");
    }
}

// Text reads as an integer by the layer's one rule: an optional single sign, then digits.
TEST_F(QueryTest, textReadsAsAnIntegerOnlyWhenItIsOne) {
    const struct {
        const char* text;
        std::optional<int32_t> value;
    } cases[] = {
        {"42", 42},
        {"+5", 5},
        {" -7 ", -7},
        {"-2147483648", INT32_MIN},
        {"+-5", std::nullopt},
        {"--5", std::nullopt},
        {"1.5", std::nullopt},
        {"2147483648", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        Query query(*m_connection, "qry");
        query.setSql(std::string("select cast('") + c.text +
                     "' as varchar(20)) as V from rdb$database");
        query.open();
        try {
            const int32_t value = query.asInteger("V");
            EXPECT_EQ(std::optional<int32_t>(value), c.value);
        } catch (const DatabaseError& e) {
            EXPECT_EQ(c.value, std::nullopt) << e.what();
            EXPECT_EQ(e.what(),
                      "qry: \"" + std::string(c.text) + "\" in field 'V' is not a valid integer");
        }
    }
}

TEST_F(QueryTest, endOfDataIsSetAtOnceWhenNoRowMatches) {
    Query query(*m_connection, "qry");
    query.setSql("select K from T where K > 100");
    query.open();
    EXPECT_TRUE(query.eof());
    EXPECT_TRUE(query.isNull("K"));
}

TEST_F(QueryTest, openingAnOpenQueryKeepsItsCurrentRow) {
    Query query(*m_connection, "qry");
    query.setSql("select K from T order by K");
    query.open();
    query.next();
    m_connection->execute("delete from T");
    query.open();
    EXPECT_EQ(query.asInteger("K"), 2);
    query.close();
    query.open();
    EXPECT_TRUE(query.eof());
}

TEST_F(QueryTest, liveEditChangesExactlyTheRowTheQueryReturned) {
    Query query(*m_connection, "qry");
    query.setRequestLive(true);
    query.setSql("select  A.S, A.N\r\nfrom    T A\r\nwhere A.K = 2\r\n");
    query.open();
    query.edit();
    query.setValue("S", std::string("cambiato"));
    query.setValue("N", std::string("7.125"));
    EXPECT_EQ(std::get<double>(query.value("N")), 7.13);  // read back as the column holds it
    query.post();
    EXPECT_EQ(query.state(), Query::State::Browse);
    EXPECT_EQ(query.asString("S"), "cambiato");

    // Posted outside a transaction: committed, visible to another connection.
    auto other = m_db.connect("other");
    EXPECT_EQ(selectRows(*other, "select S, N from T where K = 2 order by S"),
              (std::vector<std::vector<Value>>{{std::string("cambiato"), 7.13},
                                               {std::string("due"), 2.5}}));
}

TEST_F(QueryTest, liveAppendInsertsARowThatBecomesCurrent) {
    Query query(*m_connection, "qry");
    query.setRequestLive(true);
    query.setSql("select K, N from T where TAG = 'C'");
    query.open();
    ASSERT_TRUE(query.eof());
    query.append();
    query.setValue("K", int64_t{9});
    query.setValue("TAG", std::string("C"));  // a column of the table the select leaves out
    query.post();
    ASSERT_FALSE(query.eof());
    EXPECT_EQ(query.asInteger("K"), 9);
    EXPECT_EQ(std::get<double>(query.value("N")), 1.5);  // the table's default, as stored
    EXPECT_EQ(selectCount(*m_connection, "select count(*) from T where TAG = 'C'"), 1);

    query.edit();
    query.setValue("K", int64_t{10});
    query.post();
    EXPECT_EQ(selectCount(*m_connection, "select count(*) from T where TAG = 'C' and K = 10"), 1);
    EXPECT_EQ(selectCount(*m_connection, "select count(*) from T"), 5);
}

TEST_F(QueryTest, aFailedPostKeepsTheEditAndCancelDropsIt) {
    m_connection->execute("alter table T add constraint CHK_K check (K < 50)");
    Query query(*m_connection, "qry");
    query.setRequestLive(true);
    query.setSql("select K from T where K = 1");
    query.open();
    query.edit();
    EXPECT_THROW(query.setValue("K", std::string("abc")), DatabaseError);
    query.setValue("K", int64_t{99});
    EXPECT_THROW(query.post(), DatabaseError);
    EXPECT_EQ(query.state(), Query::State::Edit);
    EXPECT_EQ(query.asInteger("K"), 99);
    query.cancel();
    EXPECT_EQ(query.asInteger("K"), 1);
    EXPECT_EQ(selectCount(*m_connection, "select count(*) from T where K = 1"), 1);
}

// A view the server fills through a trigger gives the row it inserts no RDB$DB_KEY: the row
// is posted, and only editing it is refused.
TEST_F(QueryTest, anAppendedRowWithoutAKeyIsPostedButCannotBeEdited) {
    m_connection->execute(
        "create view W (K, TAG) as select A.K, A.TAG from T A left join T B on 1 = 0");
    m_connection->execute(
        "create trigger W_BI for W before insert as begin "
        "insert into T (K, TAG) values (new.K, new.TAG); end");
    Query query(*m_connection, "qry");
    query.setRequestLive(true);
    query.setSql("select K, TAG from W where TAG = 'W'");
    query.open();
    ASSERT_TRUE(query.eof());
    query.append();
    query.setValue("K", int64_t{7});
    query.setValue("TAG", std::string("W"));
    query.post();
    EXPECT_EQ(query.state(), Query::State::Browse);
    EXPECT_EQ(query.asInteger("K"), 7);
    EXPECT_EQ(selectCount(*m_connection, "select count(*) from T where TAG = 'W'"), 1);
    try {
        query.edit();
        ADD_FAILURE() << "edited a row the query cannot find again";
    } catch (const DatabaseError& e) {
        EXPECT_STREQ(e.what(), "qry: the current row has no RDB$DB_KEY and cannot be edited");
    }
    EXPECT_EQ(query.state(), Query::State::Browse);
}

TEST_F(QueryTest, queriesThatAreNotLiveRefuseChanges) {
    const struct {
        const char* sql;
        bool live;
    } cases[] = {
        {"select K from T", false},
        {"select A.K, B.K from T A join T B on A.K = B.K", true},
        {"select distinct K from T", true},
        {"select K + 1 as K1 from T", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Query query(*m_connection, "qry");
        query.setRequestLive(c.live);
        query.setSql(c.sql);
        query.open();
        try {
            query.edit();
            ADD_FAILURE() << "edit allowed";
        } catch (const DatabaseError& e) {
            EXPECT_STREQ(e.what(), "qry: cannot modify a read-only query");
        }
        EXPECT_THROW(query.append(), DatabaseError);
    }
}

TEST_F(QueryTest, aQueryOpenedInATransactionClosesWhenItEnds) {
    Query query(*m_connection, "qry");
    query.setSql("select K from T");
    m_connection->startTransaction();
    query.open();
    m_connection->commit();
    EXPECT_FALSE(query.isOpen());

    query.open();  // outside the transaction it lives on
    m_connection->startTransaction();
    m_connection->rollback();
    EXPECT_TRUE(query.isOpen());
}

TEST_F(QueryTest, aRowPostedInATransactionThatRollsBackIsNotShownAfterwards) {
    // Opened outside the transaction, as a version record read before a run; edited inside,
    // as the run writes it with an import's rows.
    for (const bool commit : {false, true}) {
        SCOPED_TRACE(commit ? "committed" : "rolled back");
        m_connection->execute("update T set S = 'uno' where K = 1");
        Query query(*m_connection, "qry");
        query.setSql("select K, S from T where K = 1");
        query.setRequestLive(true);
        query.open();
        m_connection->startTransaction();
        query.edit();
        query.setValue("S", std::string("nuovo"));
        query.post();
        EXPECT_EQ(query.asString("S"), "nuovo");
        if (commit)
            m_connection->commit();
        else
            m_connection->rollback();
        // Opening again reads what the table holds, never the row the transaction posted.
        query.open();
        EXPECT_EQ(query.asString("S"), commit ? "nuovo" : "uno");
        EXPECT_EQ(selectRows(*m_connection, "select S from T where K = 1")[0][0],
                  Value(std::string(commit ? "nuovo" : "uno")));
    }
}

}  // namespace
}  // namespace tarvolen::database
