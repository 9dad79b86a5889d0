#include <firebird/Interface.h>

#include "ConnectionImpl.h"
#include "MessageCodec.h"
#include "SqlText.h"
#include "Statement.h"
#include "TableImpl.h"
#include "db/Table.h"

namespace tarvolen::database {

using namespace Firebird;

Table::Table(Connection& connection, std::string name)
    : Dataset(connection, std::move(name)), m_impl(std::make_unique<Impl>()) {}

Table::~Table() {
    close();
}

void Table::setTableName(std::string tableName) {
    close();
    m_tableName = std::move(tableName);
}

bool Table::isOpen() const {
    return m_impl->open;
}

void Table::open() {
    if (isOpen()) return;
    Connection::Impl& conn = impl();
    IAttachment* attachment = conn.attached(connection().connectionName());
    Impl& t = *m_impl;
    const std::string table =
        fb::guard([&] { return conn.resolveTable(connection().connectionName(), m_tableName); });
    std::vector<ColumnInfo> columns = connection().columns(table);

    std::string names, marks;
    std::vector<int> parameterOf;
    int count = 0;
    for (const ColumnInfo& column : columns) {
        if (column.computed) {
            parameterOf.push_back(-1);
            continue;
        }
        names += (count > 0 ? ", " : "") + fb::quoteName(column.name);
        marks += count > 0 ? ", ?" : "?";
        parameterOf.push_back(count++);
    }
    const std::string sql =
        "insert into " + fb::quoteName(table) + " (" + names + ") values (" + marks + ")";

    fb::guard([&] {
        ITransaction* transaction = conn.current() != nullptr ? conn.current() : conn.reader();
        t.insert.emplace(attachment, transaction, sql);
        t.parameters = std::move(t.insert->inputs);
        t.buffer = std::move(t.insert->inBuffer);
    });
    for (size_t i = 0; i < columns.size(); ++i)
        if (parameterOf[i] >= 0)
            t.parameters[static_cast<size_t>(parameterOf[i])].name = columns[i].name;
    t.columns = std::move(columns);
    t.parameterOf = std::move(parameterOf);
    t.catalogueName = table;
    t.open = true;
    t.inserting = false;
}

void Table::close() {
    Impl& t = *m_impl;
    t.insert.reset();
    t.columns.clear();
    t.parameterOf.clear();
    t.parameters.clear();
    t.buffer.clear();
    t.blobs.clear();
    t.catalogueName.clear();
    t.inserting = false;
    t.open = false;
}

void Table::deleteAllRows() {
    if (!isOpen()) throw DatabaseError(name() + ": table is not open");
    connection().execute("delete from " + fb::quoteName(m_impl->catalogueName));
}

int Table::columnCount() const {
    if (!isOpen()) throw DatabaseError(name() + ": table is not open");
    return static_cast<int>(m_impl->columns.size());
}

const ColumnInfo& Table::column(int position) const {
    if (position < 0 || position >= columnCount())
        throw DatabaseError(name() + ": column position " + std::to_string(position) +
                            " out of range (the table has " + std::to_string(columnCount()) +
                            " columns)");
    return m_impl->columns[static_cast<size_t>(position)];
}

std::vector<std::string> Table::indexNames() {
    return connection().indexNames(m_tableName);
}

void Table::insert() {
    if (!isOpen()) throw DatabaseError(name() + ": table is not open");
    Impl& t = *m_impl;
    for (const auto& parameter : t.parameters) fb::setNullIn(parameter, t.buffer.data());
    t.blobs.clear();
    t.inserting = true;
}

bool Table::inserting() const {
    return m_impl->inserting;
}

void Table::setValue(int position, const Value& value) {
    if (!inserting()) throw DatabaseError(name() + ": not inserting a row");
    column(position);  // range check
    Impl& t = *m_impl;
    const int parameter = t.parameterOf[static_cast<size_t>(position)];
    if (parameter < 0) return;
    std::erase_if(t.blobs, [&](const auto& blob) { return blob.first == parameter; });
    fb::guard([&] {
        if (auto bytes = fb::encode(t.parameters[static_cast<size_t>(parameter)], value,
                                    t.buffer.data(), name()))
            t.blobs.emplace_back(parameter, std::move(*bytes));
    });
}

void Table::post() {
    if (!inserting()) return;
    Impl& t = *m_impl;
    Connection::Impl& conn = impl();
    IAttachment* attachment = conn.attached(connection().connectionName());
    fb::guard([&] {
        conn.write([&](ITransaction* transaction) {
            for (const auto& [parameter, bytes] : t.blobs)
                fb::writeBlob(t.parameters[static_cast<size_t>(parameter)], bytes, t.buffer.data(),
                              attachment, transaction);
            fb::Status status;
            t.insert->statement->execute(&status, transaction, t.insert->in.get(), t.buffer.data(),
                                         nullptr, nullptr);
        });
    });
    t.blobs.clear();
    t.inserting = false;
}

void Table::cancel() {
    m_impl->blobs.clear();
    m_impl->inserting = false;
}

}  // namespace tarvolen::database
