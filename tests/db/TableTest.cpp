#include <gtest/gtest.h>

#include <limits>

#include "db/Connection.h"
#include "db/DatabaseError.h"
#include "db/Table.h"
#include "tests/support/IsqlRunner.h"
#include "tests/support/TempDatabase.h"

namespace tarvolen::database {
namespace {

using testing::selectCount;
using testing::selectRows;
using testing::selectText;
using testing::TempDatabase;

const char* const kCreateTypes =
    "create table TIPI ("
    "ID integer, I smallint, L integer, B bigint, N numeric(9,2), D double precision, "
    "DT date, TM time, TS timestamp, C char(5), V varchar(5), BL blob sub_type text, "
    "BO boolean)";

std::vector<std::string> columnNames(Table& table) {
    std::vector<std::string> names;
    for (int i = 0; i < table.columnCount(); ++i) names.push_back(table.column(i).name);
    return names;
}

int positionOf(Table& table, const std::string& name) {
    for (int i = 0; i < table.columnCount(); ++i)
        if (table.column(i).name == name) return i;
    throw std::runtime_error("no column " + name);
}

TEST(Table, offersTheColumnsInTheTablesOwnOrder) {
    TempDatabase db;
    auto connection = db.connect();
    connection->execute(
        "create table T (Z integer not null, A varchar(7) default 'x', "
        "M computed by (Z * 2), K numeric(9,2))");
    Table table(*connection, "Table");
    table.setTableName("t");  // an unquoted name reads as upper case
    table.open();
    EXPECT_EQ(columnNames(table), (std::vector<std::string>{"Z", "A", "M", "K"}));
    EXPECT_FALSE(table.column(0).nullable);
    EXPECT_TRUE(table.column(1).hasDefault);
    EXPECT_EQ(table.column(1).typeName, "VARCHAR(7)");
    EXPECT_TRUE(table.column(2).computed);
    EXPECT_EQ(table.column(3).typeName, "NUMERIC(9,2)");
    table.open();  // already open: nothing happens
    EXPECT_EQ(table.columnCount(), 4);

    Table missing(*connection, "Table");
    missing.setTableName("NOSUCH");
    EXPECT_THROW(missing.open(), DatabaseError);
    missing.setTableName("");
    EXPECT_THROW(missing.open(), DatabaseError);
}

TEST(Table, convertsEachValueToItsColumnsType) {
    TempDatabase db;
    auto connection = db.connect();
    connection->execute(kCreateTypes);
    const std::string longText(100000, 'x');
    const struct {
        const char* column;
        Value given;
        Value stored;
    } cases[] = {
        {"I", int64_t{42}, int64_t{42}},
        {"I", std::string("  -7 "), int64_t{-7}},
        {"I", 3.6, int64_t{4}},
        {"I", true, int64_t{1}},
        {"L", std::string("2147483647"), int64_t{2147483647}},
        {"B", std::string("-9223372036854775808"), int64_t{INT64_MIN}},
        {"N", std::string("12.345"), 12.35},
        {"N", std::string("-0.125"), -0.13},
        {"N", int64_t{7}, 7.0},
        {"N", std::string("1.5e3"), 1500.0},
        {"L", std::string("1.5e-9223372036854775808"), int64_t{0}},  // tiny: rounds to 0
        {"D", std::string("2.5e-3"), 0.0025},
        {"D", int64_t{3}, 3.0},
        {"DT", std::string("2024-02-29"), Date{2024, 2, 29}},
        {"DT", std::string("01.03.2023"), Date{2023, 3, 1}},
        {"DT", Timestamp{{2020, 5, 6}, {7, 8, 9, 0}}, Date{2020, 5, 6}},
        {"TM", std::string("13:45:30.5"), Time{13, 45, 30, 5000}},
        {"TS", Date{1999, 12, 31}, Timestamp{{1999, 12, 31}, {}}},
        {"TS", std::string("2024-01-02 03:04:05"), Timestamp{{2024, 1, 2}, {3, 4, 5, 0}}},
        {"C", std::string("ab"), std::string("ab   ")},
        {"C", int64_t{12}, std::string("12   ")},
        {"V", 3.25, std::string("3.25")},
        {"V", std::string("12345"), std::string("12345")},
        {"BL", longText, longText},
        {"BO", std::string("TRUE"), true},
        {"BO", int64_t{0}, false},
    };
    Table table(*connection, "Table");
    table.setTableName("TIPI");
    table.open();
    int64_t id = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.column) + " <- " + valueText(c.given).substr(0, 40));
        table.insert();
        table.setValue(0, ++id);
        table.setValue(positionOf(table, c.column), c.given);
        table.post();
        const auto rows =
            selectRows(*connection, std::string("select ") + c.column +
                                        " from TIPI where ID = " + std::to_string(id));
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0][0], c.stored);
    }
}

TEST(Table, refusesValuesThatDoNotConvertOrFit) {
    TempDatabase db;
    auto connection = db.connect();
    connection->execute(kCreateTypes);
    const struct {
        const char* column;
        Value given;
        const char* message;
    } cases[] = {
        {"L", std::string("abc"), "Table: cannot convert \"abc\" to INTEGER for column \"L\""},
        {"L", std::string("12abc"), "Table: cannot convert \"12abc\" to INTEGER for column \"L\""},
        {"L", std::string(""), "Table: cannot convert \"\" to INTEGER for column \"L\""},
        {"I", int64_t{40000}, "Table: value 40000 is out of range for column \"I\" (SMALLINT)"},
        {"L", std::string("2147483648"), "out of range for column \"L\" (INTEGER)"},
        {"N", std::string("1e20"), "out of range for column \"N\" (NUMERIC(9,2))"},
        {"N", std::string("1e9223372036854775807"), "out of range for column \"N\""},
        {"L", std::string("1e+-5"), "cannot convert \"1e+-5\" to INTEGER"},
        {"L", std::string("+-5"), "cannot convert \"+-5\" to INTEGER"},
        {"D", std::numeric_limits<double>::quiet_NaN(), "cannot convert nan to DOUBLE PRECISION"},
        {"D", -std::numeric_limits<double>::infinity(), "cannot convert -inf to DOUBLE"},
        {"D", std::string("1,5"), "cannot convert \"1,5\" to DOUBLE PRECISION"},
        {"D", std::string("+-5"), "cannot convert \"+-5\" to DOUBLE PRECISION"},
        {"DT", std::string("2023-02-29"), "cannot convert \"2023-02-29\" to DATE"},
        {"DT", int64_t{20230101}, "cannot convert 20230101 to DATE"},
        {"TM", std::string("25:00"), "cannot convert \"25:00\" to TIME"},
        {"L", Date{2024, 1, 31}, "cannot convert 2024-01-31 to INTEGER"},
        {"V", std::string("123456"),
         "Table: text of 6 bytes is too long for column \"V\" (VARCHAR(5))"},
        {"C", std::string("abcdef"), "too long for column \"C\" (CHAR(5))"},
        {"BO", int64_t{2}, "cannot convert 2 to BOOLEAN"},
    };
    Table table(*connection, "Table");
    table.setTableName("TIPI");
    table.open();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.column) + " <- " + valueText(c.given));
        table.insert();
        try {
            table.setValue(positionOf(table, c.column), c.given);
            ADD_FAILURE() << "accepted";
        } catch (const DatabaseError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    table.close();  // drops the row never posted
    EXPECT_EQ(selectCount(*connection, "select count(*) from TIPI"), 0);
}

TEST(Table, nullsStayNullWhateverTheColumnsType) {
    TempDatabase db;
    auto connection = db.connect();
    connection->execute(kCreateTypes);
    Table table(*connection, "Table");
    table.setTableName("TIPI");
    table.open();
    table.insert();
    for (int i = 0; i < 5; ++i) table.setValue(i, int64_t{1});  // replaced by the nulls below
    for (int i = 0; i < table.columnCount(); ++i) table.setValue(i, Value{});
    table.post();
    const auto rows = selectRows(*connection, "select * from TIPI");
    ASSERT_EQ(rows.size(), 1u);
    for (const Value& v : rows[0]) EXPECT_TRUE(isNull(v)) << valueText(v);
}

TEST(Table, eachPostIsCommittedOutsideATransaction) {
    TempDatabase db;
    auto connection = db.connect("writer");
    auto reader = db.connect("reader");
    connection->execute("create table T (A integer, B varchar(3), M computed by (A + 1))");
    Table table(*connection, "Table");
    table.setTableName("T");
    table.open();
    for (int64_t i = 1; i <= 2; ++i) {
        table.insert();
        table.setValue(0, i);
        table.setValue(1, std::string("r"));
        table.setValue(2, int64_t{1000});  // computed: the server derives it
        table.post();
        EXPECT_EQ(selectCount(*reader, "select count(*) from T"), i);
    }
    // A row that fails leaves the rows before it in place.
    table.insert();
    table.setValue(0, int64_t{3});
    EXPECT_THROW(table.setValue(1, std::string("toolong")), DatabaseError);
    EXPECT_TRUE(table.inserting());
    EXPECT_EQ(
        selectRows(*reader, "select A, M from T order by A"),
        (std::vector<std::vector<Value>>{{int64_t{1}, int64_t{2}}, {int64_t{2}, int64_t{3}}}));

    connection->startTransaction();
    table.insert();
    table.setValue(0, int64_t{4});
    table.post();
    connection->rollback();
    EXPECT_EQ(selectCount(*reader, "select count(*) from T"), 2);
}

// 8-bit text as the plan holds it (Windows-1252: à è ì ò ù €) is stored byte for byte, in a
// WIN1252 database and in one without a character set.
TEST(Table, eightBitTextIsStoredByteForByte) {
    const std::string accents = "\xE0\xE8\xEC\xF2\xF9\x80";
    for (const char* charset : {"WIN1252", "NONE"}) {
        SCOPED_TRACE(charset);
        TempDatabase db(charset);
        {
            auto connection = db.connect();
            connection->execute("create table T (V varchar(10), C char(6), BL blob sub_type text)");
            Table table(*connection, "Table");
            table.setTableName("T");
            table.open();
            table.insert();
            for (int i = 0; i < 3; ++i) table.setValue(i, accents);
            table.post();
            EXPECT_EQ(selectRows(*connection,
                                 "select cast(V as varchar(10) character set octets), "
                                 "cast(C as char(6) character set octets), BL from T"),
                      (std::vector<std::vector<Value>>{{accents, accents, accents}}));
        }
        // Firebird's own isql shows the stored octets in hexadecimal.
        const std::string isql = testing::runIsql(
            db.folder(), "connect '" + db.file().string() +
                             "' user 'SYSDBA';\nselect cast(V as varchar(10) character set "
                             "octets) as HEX from T;\n");
        EXPECT_NE(isql.find("E0E8ECF2F980"), std::string::npos) << isql;
    }
}

TEST(Table, deletesFromTheTableItInsertsInto) {
    TempDatabase db;
    auto connection = db.connect();
    connection->execute("create table \"imp_lower\" (A integer)");
    connection->execute("create table IMP_LOWER (A integer)");
    Table table(*connection, "Table");
    struct Case {
        const char* name;
        const char* itself;  // the table the name resolves to
        const char* other;   // the table that must keep its rows
    };
    for (const Case c : {Case{"imp_lower", "\"imp_lower\"", "IMP_LOWER"},
                         Case{"IMP_LOWER", "IMP_LOWER", "\"imp_lower\""}}) {
        SCOPED_TRACE(c.name);
        connection->execute("insert into \"imp_lower\" values (1)");
        connection->execute("insert into IMP_LOWER values (2)");
        table.setTableName(c.name);
        EXPECT_THROW(table.deleteAllRows(), DatabaseError);  // not open yet
        table.open();
        const int64_t otherBefore =
            selectCount(*connection, "select count(*) from " + std::string(c.other));
        table.deleteAllRows();
        table.insert();
        table.setValue(0, int64_t{7});
        table.post();
        EXPECT_EQ(selectText(*connection, "select list(A) from " + std::string(c.itself)), "7");
        EXPECT_EQ(selectCount(*connection, "select count(*) from " + std::string(c.other)),
                  otherBefore);
    }
}

}  // namespace
}  // namespace tarvolen::database
