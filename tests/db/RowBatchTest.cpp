#include <gtest/gtest.h>

#include <algorithm>
#include <bit>

#include "RowBatchSupport.h"
#include "db/DatabaseError.h"
#include "db/RowBatch.h"
#include "db/Table.h"
#include "tests/support/TempDatabase.h"

namespace tarvolen::database {
namespace {

using testing::everyTypeRow;
using testing::everyTypeTable;
using testing::postAlone;
using testing::postInBatch;
using testing::selectCount;
using testing::selectRows;
using testing::TempDatabase;

// Statements a batch needs for `rows` short rows: full blocks, then the rest in blocks of
// powers of two.
size_t statementsFor(size_t rows, size_t perStatement) {
    return rows / perStatement +
           static_cast<size_t>(std::popcount(static_cast<unsigned>(rows % perStatement)));
}

TEST(RowBatch, rowsArriveAsOneRowInsertsWriteThem) {
    const std::vector<size_t> kBlobColumns = {14, 15, 17};  // TX, BI, TN
    const struct {
        const char* charset;
        std::string accented;  // in that character set
    } charsets[] = {{"WIN1252", "Citt\xE0 \x80"}, {"UTF8", "Citt\xC3\xA0 \xE2\x82\xAC"}};
    for (const auto& charset : charsets) {
        SCOPED_TRACE(charset.charset);
        TempDatabase db(charset.charset);
        auto connection = db.connect();
        connection->execute(everyTypeTable("ALONE"));
        connection->execute(everyTypeTable("BATCH"));
        std::vector<std::vector<Value>> rows;
        size_t alone = 0;
        for (size_t i = 0; i < 700; ++i) {
            rows.push_back(everyTypeRow(i, charset.accented));
            // A value for a blob is either short or longer than any text parameter.
            const bool longValue =
                std::any_of(kBlobColumns.begin(), kBlobColumns.end(), [&](size_t c) {
                    const auto* bytes = std::get_if<std::string>(&rows.back()[c]);
                    return bytes != nullptr && bytes->size() > 32765;
                });
            if (longValue) ++alone;
        }
        ASSERT_GT(alone, 0u);
        postAlone(*connection, "ALONE", rows);
        const RowBatch::Counts counts = postInBatch(*connection, "BATCH", rows);

        const auto expected = selectRows(*connection, "select * from ALONE order by ID");
        ASSERT_EQ(expected.size(), rows.size());
        EXPECT_EQ(selectRows(*connection, "select * from BATCH order by ID"), expected);
        // Every row with a value too long for text goes alone; a few more do where the widths
        // their long values need together pass the message's limit.
        EXPECT_GE(counts.rowsAlone, alone);
        EXPECT_EQ(counts.rowsInBlocks + counts.rowsAlone, rows.size());
        EXPECT_GT(counts.rowsInBlocks, rows.size() * 9 / 10);
        // Rows of mixed widths share fewer blocks; still most rows share one.
        EXPECT_LT(counts.statements, rows.size() / 4);
    }
}

TEST(RowBatch, rowCountsThatDoNotFillTheLastBlock) {
    TempDatabase db;
    auto connection = db.connect();
    connection->execute("create table T (ID integer, NOME varchar(20), NOTA blob sub_type text)");
    size_t perStatement = 0;
    postInBatch(*connection, "T", {}, &perStatement);
    ASSERT_GE(perStatement, 32u);
    for (const size_t count : {size_t{1}, perStatement - 1, perStatement, perStatement + 1,
                               2 * perStatement + 7, size_t{1000}}) {
        SCOPED_TRACE(count);
        connection->execute("delete from T");
        std::vector<std::vector<Value>> rows;
        for (size_t i = 0; i < count; ++i)
            rows.push_back({int64_t(i), "nome " + std::to_string(i), "nota " + std::to_string(i)});
        const RowBatch::Counts counts = postInBatch(*connection, "T", rows);
        EXPECT_EQ(counts.statements, statementsFor(count, perStatement));
        EXPECT_EQ(counts.rowsInBlocks, count);
        EXPECT_EQ(selectCount(*connection, "select count(distinct ID) from T"),
                  static_cast<int64_t>(count));
        EXPECT_EQ(selectCount(*connection,
                              "select count(*) from T where NOME = 'nome ' || ID and "
                              "NOTA = 'nota ' || ID"),
                  static_cast<int64_t>(count));
    }
}

TEST(RowBatch, wideRowsTakeFewerRowsToAStatement) {
    std::string manyColumns = "create table T (";
    std::vector<Value> manyValues(200);
    for (int c = 0; c < 200; ++c) {
        manyColumns += (c > 0 ? ", " : "") + std::string("COLONNA_DAL_NOME_LUNGO_") +
                       std::to_string(c) + " integer";
        manyValues[static_cast<size_t>(c)] = int64_t{c};
    }
    manyColumns += ")";
    const std::string wide(8000, 'w');
    const std::string longText(20000, 't');
    const struct {
        const char* name;
        std::string ddl;
        std::vector<Value> row;
        size_t mostPerStatement;  // what the row's width allows at most
        size_t rowsAlone;         // of 5 rows
    } cases[] = {
        {"texts of 8000 bytes fill the message",
         "create table T (A varchar(8000) character set octets, B varchar(8000) character set "
         "octets, C varchar(8000) character set octets, D varchar(8000) character set octets)",
         {wide, wide, wide, wide},
         2,
         0},
        {"200 columns with long names fill the statement text", manyColumns, manyValues, 5, 0},
        {"a blob of 20,000 bytes goes in a block of one",
         "create table T (ID integer, B blob)",
         {int64_t{1}, longText},
         255,
         0},
        {"three of them cannot share one message",
         "create table T (A blob, B blob, C blob)",
         {longText, longText, longText},
         255,
         5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDatabase db;
        auto connection = db.connect();
        connection->execute(c.ddl);
        connection->execute("recreate table ALONE (X integer)");
        const std::vector<std::vector<Value>> rows(5, c.row);
        size_t perStatement = 0;
        const RowBatch::Counts counts = postInBatch(*connection, "T", rows, &perStatement);
        EXPECT_LE(perStatement, c.mostPerStatement);
        EXPECT_GE(perStatement, 1u);
        EXPECT_EQ(counts.rowsAlone, c.rowsAlone);
        EXPECT_EQ(counts.rowsInBlocks, 5 - c.rowsAlone);
        const auto stored = selectRows(*connection, "select * from T");
        ASSERT_EQ(stored.size(), 5u);
        for (const auto& row : stored) EXPECT_EQ(row, c.row);
    }
}

// The server refuses row 300 of 600: the batch names it with the text a one-row insert gets,
// keeps the rows before it (and no row twice), and a rollback leaves nothing.
TEST(RowBatch, aRefusedRowIsNamedWithTheServersTextForIt) {
    const struct {
        const char* name;
        const char* charset;
        const char* ddl;
        Value refused;    // NOME of row 300; the other rows have "riga"
        const char* why;  // in the server's text
    } cases[] = {
        {"a check constraint", "WIN1252",
         "create table T (ID integer, NOME varchar(10), constraint NOT_300 check (ID <> 300))",
         std::string("riga"), "NOT_300"},
        {"a null in a column that takes none", "WIN1252",
         "create table T (ID integer, NOME varchar(10) not null)", std::monostate{}, "NOME"},
        // Five bytes fit the four characters' 16 bytes that the client checks; the server
        // counts characters.
        {"more characters than the column holds", "UTF8",
         "create table T (ID integer, NOME varchar(4))", std::string("abcde"), "truncation"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDatabase db(c.charset);
        auto connection = db.connect();
        connection->execute(c.ddl);
        Table table(*connection, "Table");
        table.setTableName("T");
        table.open();

        std::string alone;
        table.insert();
        table.setValue(0, int64_t{300});
        table.setValue(1, c.refused);
        try {
            table.post();
        } catch (const DatabaseError& e) {
            alone = e.what();
        }
        ASSERT_NE(alone.find(c.why), std::string::npos) << alone;

        connection->startTransaction();
        RowBatch batch(table);
        ASSERT_LT(batch.rowsPerStatement(), 300u);  // row 300 is not in the first block
        try {
            for (int64_t id = 1; id <= 600; ++id) {
                batch.insert();
                batch.setValue(0, id);
                batch.setValue(1, id == 300 ? c.refused : Value{std::string("riga")});
                batch.post();
            }
            batch.send();
            ADD_FAILURE() << "row 300 went in";
        } catch (const RowFailed& e) {
            EXPECT_EQ(e.row(), 300u);
            EXPECT_EQ(std::string(e.what()), alone);
        }
        EXPECT_EQ(selectRows(*connection, "select count(*), count(distinct ID), max(ID) from T"),
                  (std::vector<std::vector<Value>>{{int64_t{299}, int64_t{299}, int64_t{299}}}));
        connection->rollback();
        EXPECT_EQ(selectCount(*connection, "select count(*) from T"), 0);
    }
}

TEST(RowBatch, needsAnOpenTableAndATransaction) {
    TempDatabase db;
    auto connection = db.connect();
    connection->execute("create table T (ID integer)");
    Table table(*connection, "Table");
    table.setTableName("T");
    EXPECT_THROW(RowBatch{table}, DatabaseError);
    table.open();
    try {
        RowBatch batch(table);
        ADD_FAILURE() << "a batch outside a transaction";
    } catch (const DatabaseError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Table: rows are sent in blocks only inside a transaction");
    }
}

}  // namespace
}  // namespace tarvolen::database
