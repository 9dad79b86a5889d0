#pragma once
// A query on a connection: a select read row by row, optionally live (its current row can be
// edited, or a row appended, and posted back), or a statement run with execSql().

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "db/Connection.h"
#include "db/Value.h"

namespace tarvolen::database {

class Query : public Dataset {
  public:
    enum class State { Inactive, Browse, Edit, Insert };

    Query(Connection& connection, std::string name);
    ~Query() override;

    // Replaces the statement text; closes the query first. The text reaches the server as
    // written: a colon is statement text, never a parameter.
    void setSql(std::string sql);
    const std::string& sql() const { return m_sql; }
    // A live query lets its rows be edited and appended. Set it while the query is closed.
    void setRequestLive(bool live);
    bool requestLive() const { return m_live; }

    // Runs the select and makes its first row current (eof() at once when there is none).
    // Does nothing when the query is already open: the current row stays.
    void open();
    // Drops an unposted edit or append and the rows not yet read.
    void close() override;
    bool isOpen() const override { return m_state != State::Inactive; }
    State state() const { return m_state; }
    bool eof() const;
    // Moves to the next row.
    void next();

    // Runs the text as a statement that returns no rows (Connection::execute).
    void execSql();

    int fieldCount() const;
    const std::string& fieldName(int index) const;
    // Values of the current row (or of the row being edited or appended), by column name
    // without regard to case; past the last row every column reads as null. Throws naming the
    // query when it is closed or has no such column.
    const Value& value(std::string_view field) const;
    bool isNull(std::string_view field) const { return database::isNull(value(field)); }
    // A null reads as 0; a value that is not a whole number in range is an error. Text is an
    // integer when it is an optional single sign then digits, blanks around it allowed.
    int32_t asInteger(std::string_view field) const;
    // A null reads as the empty text.
    std::string asString(std::string_view field) const;

    // Puts the current row into edit. REQUIRES: a live query on a row.
    void edit();
    // Starts a new row, every column null. REQUIRES: an open live query.
    void append();
    // Sets a column of the row being edited or appended, converting the value to the column's
    // type at once. On an append, any column of the query's table may be set, not only the
    // columns the select lists.
    void setValue(std::string_view field, Value value);
    // Writes the row: an edit changes exactly the row the query returned (found by its
    // RDB$DB_KEY, never by its values), an append inserts one. Outside an explicit
    // transaction the change is committed at once. Afterwards the posted row is current,
    // as the table now holds it. A row posted in the explicit transaction is that
    // transaction's: the query closes when it ends, so a rollback leaves no row on show that
    // the table does not hold.
    void post();
    // Drops an unposted edit or append.
    void cancel();

    struct Impl;  // private to db/

  private:
    void transactionEnded() override;
    std::string m_sql;
    bool m_live = false;
    State m_state = State::Inactive;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tarvolen::database
