#pragma once
// Rows appended to a table many to a statement. Over a network every statement costs a round
// trip, and a long value passed as a blob costs more; so rows are queued and sent together, in
// one EXECUTE BLOCK that inserts each of them, with long values passed as text. A row that
// cannot go in a block (a long value too long to pass as text) is sent alone, as Table::post
// sends it.
//
// What reaches the table is what Table::post would write, row for row and in the same order:
// each value is converted when it is set, by the table's own rules and with its errors; and
// when the server refuses a block, its rows are sent again one by one, so that the rows it
// takes stay and the first it refuses fails with the server's own text for that row.

#include <cstddef>
#include <memory>
#include <string>

#include "db/DatabaseError.h"
#include "db/Table.h"
#include "db/Value.h"

namespace tarvolen::database {

// A row the server refused, with the server's text for it, unchanged.
class RowFailed : public DatabaseError {
  public:
    RowFailed(const DatabaseError& cause, size_t row);
    // Which row, counting from 1 the rows posted to the batch.
    size_t row() const { return m_row; }

  private:
    size_t m_row;
};

class RowBatch {
  public:
    // REQUIRES: the table is open and its connection is in its explicit transaction; both stay
    // so while the batch lives, and the transaction does not end with rows still queued.
    // Throws DatabaseError when either is not so, or when the catalogue cannot be read.
    explicit RowBatch(Table& table);
    ~RowBatch();
    RowBatch(const RowBatch&) = delete;
    RowBatch& operator=(const RowBatch&) = delete;

    // Starts, fills and drops a row as Table::insert, setValue and cancel do: each value is
    // converted at once, and one that does not convert fails with the table's error.
    void insert();
    void setValue(int position, const Value& value);
    void cancel();
    // Queues the row; the queued rows go to the server once they fill a statement. Throws
    // RowFailed for a row the server refuses (this or a queued one), ConnectionLost when the
    // connection is gone. After a failure the queue is empty: the caller rolls back.
    void post();
    // Sends every queued row; throws as post() does.
    void send();

    // What has been sent so far: statements, and the rows that went in blocks or alone.
    struct Counts {
        size_t statements = 0;
        size_t rowsInBlocks = 0;
        size_t rowsAlone = 0;
    };
    const Counts& counts() const;
    // The most rows a statement carries when the rows' long values are short; 1 when the
    // table's rows go alone (a block the server would not take as planned makes them go alone
    // from then on, and counts() shows it).
    size_t rowsPerStatement() const;

    struct Impl;  // private to db/

  private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tarvolen::database
