#pragma once
// A table on a connection, for appending rows by column position, and for the names of its
// indexes.

#include <memory>
#include <string>
#include <vector>

#include "db/Connection.h"
#include "db/Value.h"

namespace tarvolen::database {

class Table : public Dataset {
  public:
    Table(Connection& connection, std::string name);
    ~Table() override;

    // Closes the table first.
    void setTableName(std::string tableName);
    const std::string& tableName() const { return m_tableName; }

    // Reads the table's columns, in the table's own order, and readies the insert. Does
    // nothing when already open. Errors carry the server's text (an unknown table, ...).
    void open();
    // Drops a row not yet posted.
    void close() override;
    bool isOpen() const override;

    // REQUIRES: open.
    int columnCount() const;
    const ColumnInfo& column(int position) const;

    // Index names of the table named by tableName(); the table need not be open.
    std::vector<std::string> indexNames();

    // Deletes every row of the opened table: the very table the rows are inserted into, also
    // when tableName() differs from it in case or quoting. In the explicit transaction when one
    // is open, else committed at once. REQUIRES: open.
    void deleteAllRows();

    // Starts a new row with every column null. A row not yet posted is dropped.
    void insert();
    // Sets the column at a 0-based position. The value is converted to the column's type at
    // once: a value that does not convert, a number out of range or a text longer than the
    // column is an error naming the column, and nothing is cut or guessed. Null stays null.
    // A computed column takes no value: the server derives it, so what is given is ignored.
    void setValue(int position, const Value& value);
    // Writes the new row. Outside an explicit transaction it is committed at once.
    void post();
    // Drops the new row.
    void cancel();
    bool inserting() const;

    struct Impl;  // private to db/

  private:
    friend class RowBatch;  // posts the rows it sends alone through this table
    std::string m_tableName;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tarvolen::database
