#pragma once
// Rows of every column type, written once through one-row inserts and once through a RowBatch,
// so that a test can compare what each left in its table.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/Connection.h"
#include "db/RowBatch.h"
#include "db/Table.h"
#include "tests/support/TempDatabase.h"

namespace tarvolen::database::testing {

// Every type a data file's value can land in; two tables of it, one per way of writing.
inline std::string everyTypeTable(const std::string& name) {
    return "create table " + name +
           " (ID integer, I smallint, B bigint, N numeric(9,2), NB numeric(18,4), "
           "DE decimal(9,3), F float, D double precision, DT date, TM time, TS timestamp, "
           "C char(5), V varchar(12), BO boolean, TX blob sub_type text, BI blob, "
           "VU varchar(12) character set utf8, TN blob sub_type text character set none)";
}

// The long value of row i, in bytes: mostly short, some needing a wider text than others, and
// every 97th too long to pass as text at all.
inline size_t longValueLength(size_t i) {
    if (i % 97 == 3) return 40000;
    if (i % 50 == 7) return 5000;
    if (i % 13 == 5) return 700;
    return i % 40;
}

// Row i of the every-type table. `accented` is a word in the connection's character set. Each
// column is null in one row of eleven, a different one for each column.
inline std::vector<Value> everyTypeRow(size_t i, const std::string& accented) {
    const int n = static_cast<int>(i);
    std::string text(longValueLength(i), 'x');
    for (size_t k = 0; k < text.size(); ++k) text[k] = static_cast<char>('a' + (k + i) % 26);
    if (!text.empty()) text.replace(0, std::min(text.size(), accented.size()), accented);
    std::string binary(longValueLength(i + 1), '\0');
    for (size_t k = 0; k < binary.size(); ++k) binary[k] = static_cast<char>((k * 7 + i) % 256);
    std::vector<Value> row = {
        int64_t{n},
        int64_t{n % 30000 - 15000},
        int64_t{n} * 1000003 * 1000,
        std::to_string(n) + ".25",
        n / 8.0,
        std::string("-") + std::to_string(n % 1000) + ".125",
        1.5 * n,
        n / 3.0,
        Date{2000 + n % 20, 1 + n % 12, 1 + n % 28},
        Time{n % 24, n % 60, (n * 7) % 60, (n * 13) % 10000},
        Timestamp{{1990 + n % 30, 1 + n % 12, 1 + n % 28}, {n % 24, n % 60, n % 60, n % 10000}},
        std::string(n % 3 == 0 ? "ab" : "abcde"),
        accented + " " + std::to_string(n),
        n % 2 == 0,
        text,
        binary,
        accented + " " + std::to_string(n),
        text,
    };
    for (size_t c = 1; c < row.size(); ++c)
        if ((i + c) % 11 == 0) row[c] = std::monostate{};
    return row;
}

// Writes the rows through one-row inserts, in one transaction.
inline void postAlone(Connection& connection, const std::string& tableName,
                      const std::vector<std::vector<Value>>& rows) {
    Table table(connection, "Table");
    table.setTableName(tableName);
    table.open();
    connection.startTransaction();
    for (const auto& row : rows) {
        table.insert();
        for (size_t c = 0; c < row.size(); ++c) table.setValue(static_cast<int>(c), row[c]);
        table.post();
    }
    connection.commit();
}

// Writes the rows through a batch, in one transaction; returns what the batch sent.
inline RowBatch::Counts postInBatch(Connection& connection, const std::string& tableName,
                                    const std::vector<std::vector<Value>>& rows,
                                    size_t* rowsPerStatement = nullptr) {
    Table table(connection, "Table");
    table.setTableName(tableName);
    table.open();
    connection.startTransaction();
    RowBatch batch(table);
    for (const auto& row : rows) {
        batch.insert();
        for (size_t c = 0; c < row.size(); ++c) batch.setValue(static_cast<int>(c), row[c]);
        batch.post();
    }
    batch.send();
    connection.commit();
    if (rowsPerStatement != nullptr) *rowsPerStatement = batch.rowsPerStatement();
    return batch.counts();
}

}  // namespace tarvolen::database::testing
