#include <firebird/Interface.h>

#include "ConnectionImpl.h"
#include "MessageCodec.h"
#include "SqlText.h"
#include "Statement.h"
#include "base/Text.h"
#include "db/Query.h"
#include "db/ValueParsing.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace tarvolen::database {

using namespace Firebird;

struct Query::Impl {
    // Its outputs and output buffer are moved to columns and buffer, which outlive a close.
    std::optional<fb::PreparedStatement> prepared;
    IResultSet* cursor = nullptr;
    ITransaction* transaction = nullptr;  // the cursor's; owned by the connection
    bool inExplicit = false;
    // A row was posted in the explicit transaction: what the query shows of it is the
    // transaction's, gone from the table if it rolls back.
    bool postedInExplicit = false;
    std::vector<fb::Column> columns;  // as fetched; the first is RDB$DB_KEY when keyed
    std::vector<unsigned char> buffer;
    bool keyed = false;
    bool editable = false;
    std::string relation;

    bool hasRow = false;
    std::vector<Value> row;
    // The current row's RDB$DB_KEY; absent when the server gives it none (a row a view's
    // trigger inserted), and such a row cannot be found again to be edited.
    std::optional<std::string> dbKey;
    std::vector<Value> editRow;
    std::vector<std::pair<std::string, Value>> assigned;  // table column -> value, as set

    size_t first() const { return keyed ? 1 : 0; }
    size_t visibleCount() const { return columns.size() - first(); }
    const fb::Column& visible(size_t i) const { return columns[i + first()]; }
};

namespace {

// A row key as the server returns it: none for null, else its bytes. Any other type is no key.
std::optional<std::string> rowKey(const Value& key, const std::string& owner) {
    if (isNull(key)) return std::nullopt;
    if (const auto* bytes = std::get_if<std::string>(&key)) return *bytes;
    throw DatabaseError(owner + ": RDB$DB_KEY came back as " + valueText(key) +
                        " instead of a row key");
}

}  // namespace

Query::Query(Connection& connection, std::string name)
    : Dataset(connection, std::move(name)), m_impl(std::make_unique<Impl>()) {}

Query::~Query() {
    close();
}

void Query::setSql(std::string sql) {
    close();
    m_sql = std::move(sql);
}

void Query::setRequestLive(bool live) {
    if (isOpen()) throw DatabaseError(name() + ": cannot change RequestLive on an open query");
    m_live = live;
}

void Query::open() {
    if (isOpen()) return;
    Connection::Impl& conn = impl();
    IAttachment* attachment = conn.attached(connection().connectionName());
    Impl& q = *m_impl;
    fb::guard([&] {
        q.inExplicit = conn.current() != nullptr;
        q.transaction = q.inExplicit ? conn.current() : conn.reader();
        // Kept by the query only once its cursor is open; freed here when anything fails.
        std::optional<fb::PreparedStatement> prepared;
        q.keyed = false;
        if (m_live) {
            // Live rows carry their RDB$DB_KEY, so a post reaches exactly the row it came from.
            if (const auto keyedSql = fb::withDbKey(m_sql)) {
                try {
                    prepared.emplace(attachment, q.transaction, *keyedSql);
                    q.keyed = true;
                } catch (const FbException&) {
                    // Not a single-table select: it stays read-only, prepared as written below.
                }
            }
        }
        if (!prepared) prepared.emplace(attachment, q.transaction, m_sql);
        q.columns = std::move(prepared->outputs);
        q.buffer = std::move(prepared->outBuffer);
        q.editable = q.keyed && q.visibleCount() > 0;
        q.relation = q.keyed ? q.columns[0].relation : std::string{};
        for (size_t i = 0; i < q.visibleCount() && q.editable; ++i)
            q.editable = q.visible(i).relation == q.relation && !q.visible(i).field.empty();
        fb::Status status;
        q.cursor = prepared->statement->openCursor(&status, q.transaction, nullptr, nullptr,
                                                   prepared->out.get(), 0);
        q.prepared = std::move(prepared);
    });
    m_state = State::Browse;
    try {
        next();
    } catch (...) {
        close();
        throw;
    }
}

void Query::next() {
    if (m_state == State::Edit || m_state == State::Insert) post();
    if (m_state != State::Browse) throw DatabaseError(name() + ": query is not open");
    Impl& q = *m_impl;
    if (q.cursor == nullptr) {
        q.hasRow = false;
        return;
    }
    fb::guard([&] {
        fb::Status status;
        const bool fetched = q.cursor->fetchNext(&status, q.buffer.data()) == IStatus::RESULT_OK;
        // The row is built aside and taken whole: a blob that fails to read must not leave a
        // short row behind that value() would index past.
        std::vector<Value> row;
        std::optional<std::string> dbKey;
        if (fetched) {
            IAttachment* attachment = impl().attachment;
            if (q.keyed)
                dbKey = rowKey(fb::decode(q.columns[0], q.buffer.data(), attachment, q.transaction),
                               name());
            row.reserve(q.visibleCount());
            for (size_t i = 0; i < q.visibleCount(); ++i)
                row.push_back(fb::decode(q.visible(i), q.buffer.data(), attachment, q.transaction));
        }
        q.row = std::move(row);
        q.dbKey = std::move(dbKey);
        q.hasRow = fetched;
    });
}

bool Query::eof() const {
    return !m_impl->hasRow;
}

void Query::close() {
    Impl& q = *m_impl;
    if (q.cursor != nullptr) {
        fb::QuietStatus status;
        q.cursor->close(&status);
        // Rows nobody reads any more: a cursor the server cannot close is only released.
        if (status.failed()) q.cursor->release();
        q.cursor = nullptr;
    }
    q.prepared.reset();
    q.transaction = nullptr;
    q.postedInExplicit = false;
    q.hasRow = false;
    q.row.clear();
    q.editRow.clear();
    q.assigned.clear();
    q.dbKey.reset();
    m_state = State::Inactive;
}

void Query::transactionEnded() {
    if (m_impl->inExplicit || m_impl->postedInExplicit) close();
}

void Query::execSql() {
    connection().execute(m_sql);
}

int Query::fieldCount() const {
    return static_cast<int>(m_impl->visibleCount());
}

const std::string& Query::fieldName(int index) const {
    if (index < 0 || index >= fieldCount())
        throw DatabaseError(name() + ": field index " + std::to_string(index) + " out of range");
    return m_impl->visible(static_cast<size_t>(index)).name;
}

namespace {

std::optional<size_t> findColumn(const Query::Impl& q, std::string_view field) {
    for (size_t i = 0; i < q.visibleCount(); ++i)
        if (equalsNoCase(q.visible(i).name, field)) return i;
    return std::nullopt;
}

}  // namespace

const Value& Query::value(std::string_view field) const {
    static const Value null;
    if (!isOpen()) throw DatabaseError(name() + ": query is not open");
    const auto index = findColumn(*m_impl, field);
    if (!index) throw DatabaseError(name() + ": field '" + std::string(field) + "' not found");
    if (m_state == State::Edit || m_state == State::Insert) return m_impl->editRow[*index];
    // Past the last row every column reads as null.
    return m_impl->hasRow ? m_impl->row[*index] : null;
}

int32_t Query::asInteger(std::string_view field) const {
    const Value& v = value(field);
    const std::string shown = valueText(v);
    auto fail = [&]() -> int32_t {
        throw DatabaseError(name() + ": \"" + shown + "\" in field '" + std::string(field) +
                            "' is not a valid integer");
    };
    auto inRange = [&](int64_t i) {
        if (i < std::numeric_limits<int32_t>::min() || i > std::numeric_limits<int32_t>::max())
            return fail();
        return static_cast<int32_t>(i);
    };
    if (database::isNull(v)) return 0;
    if (const auto* i = std::get_if<int64_t>(&v)) return inRange(*i);
    if (const auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    if (const auto* d = std::get_if<double>(&v)) {
        if (!std::isfinite(*d) || std::fabs(*d) > 4.0e9) return fail();
        return inRange(static_cast<int64_t>(std::nearbyint(*d)));
    }
    if (const auto* s = std::get_if<std::string>(&v)) {
        if (const auto i = parseInteger(*s)) return inRange(*i);
        return fail();
    }
    return fail();
}

std::string Query::asString(std::string_view field) const {
    return valueText(value(field));
}

void Query::edit() {
    if (m_state == State::Edit) return;
    if (m_state == State::Insert) post();
    if (m_state != State::Browse) throw DatabaseError(name() + ": query is not open");
    if (!m_impl->editable) throw DatabaseError(name() + ": cannot modify a read-only query");
    if (!m_impl->hasRow) throw DatabaseError(name() + ": no current row to edit");
    if (!m_impl->dbKey)
        throw DatabaseError(name() + ": the current row has no RDB$DB_KEY and cannot be edited");
    m_impl->editRow = m_impl->row;
    m_impl->assigned.clear();
    m_state = State::Edit;
}

void Query::append() {
    if (m_state == State::Edit || m_state == State::Insert) post();
    if (m_state != State::Browse) throw DatabaseError(name() + ": query is not open");
    if (!m_impl->editable) throw DatabaseError(name() + ": cannot modify a read-only query");
    m_impl->editRow.assign(m_impl->visibleCount(), Value{});
    m_impl->assigned.clear();
    m_state = State::Insert;
}

void Query::setValue(std::string_view field, Value value) {
    if (m_state != State::Edit && m_state != State::Insert)
        throw DatabaseError(name() + ": not in edit or append mode");
    Impl& q = *m_impl;
    std::string column;
    if (const auto index = findColumn(q, field)) {
        const fb::Column& c = q.visible(*index);
        // Converted now, so a bad value fails where it is set and reads back as the column
        // holds it.
        std::vector<unsigned char> scratch(q.buffer.size(), 0);
        fb::guard([&] {
            if (auto blob = fb::encode(c, value, scratch.data(), name())) {
                value = std::move(*blob);
            } else {
                value = fb::decode(c, scratch.data(), nullptr, nullptr);
            }
        });
        q.editRow[*index] = value;
        column = c.field;
    } else {
        for (const ColumnInfo& info : connection().columns(q.relation))
            if (equalsNoCase(info.name, field)) column = info.name;
        if (column.empty())
            throw DatabaseError(name() + ": field '" + std::string(field) + "' not found");
    }
    const auto it = std::find_if(q.assigned.begin(), q.assigned.end(),
                                 [&](const auto& a) { return a.first == column; });
    if (it != q.assigned.end())
        it->second = std::move(value);
    else
        q.assigned.emplace_back(column, std::move(value));
}

void Query::cancel() {
    if (m_state != State::Edit && m_state != State::Insert) return;
    m_impl->editRow.clear();
    m_impl->assigned.clear();
    m_state = State::Browse;
}

namespace {

// Runs one prepared-on-the-spot statement with the given values as its parameters; returns
// the first output column (the RETURNING value) when the statement has one.
std::optional<Value> runWithValues(IAttachment* attachment, ITransaction* transaction,
                                   const std::string& sql, const std::vector<Value>& values,
                                   const std::string& owner) {
    fb::Status status;
    fb::PreparedStatement prepared(attachment, transaction, sql);
    unsigned char* inBuffer = prepared.inBuffer.data();
    for (size_t i = 0; i < prepared.inputs.size(); ++i) {
        if (auto blob = fb::encode(prepared.inputs[i], values.at(i), inBuffer, owner))
            fb::writeBlob(prepared.inputs[i], *blob, inBuffer, attachment, transaction);
    }
    prepared.statement->execute(&status, transaction, prepared.in.get(), inBuffer,
                                prepared.out.get(), prepared.outBuffer.data());
    std::optional<Value> returned;
    if (!prepared.outputs.empty())
        returned =
            fb::decode(prepared.outputs[0], prepared.outBuffer.data(), attachment, transaction);
    return returned;
}

}  // namespace

void Query::post() {
    if (m_state != State::Edit && m_state != State::Insert) return;
    Impl& q = *m_impl;
    Connection::Impl& conn = impl();
    IAttachment* attachment = conn.attached(connection().connectionName());
    const std::string table = fb::quoteName(q.relation);

    std::vector<Value> values;
    std::string sql;
    if (m_state == State::Edit) {
        if (q.assigned.empty()) {
            cancel();
            return;
        }
        sql = "update " + table + " set ";
        for (size_t i = 0; i < q.assigned.size(); ++i) {
            sql += (i > 0 ? ", " : "") + fb::quoteName(q.assigned[i].first) + " = ?";
            values.push_back(q.assigned[i].second);
        }
        sql += " where RDB$DB_KEY = ?";
        values.emplace_back(*q.dbKey);  // edit() takes only a row that has one
    } else {
        std::string names, marks;
        for (size_t i = 0; i < q.assigned.size(); ++i) {
            names += (i > 0 ? ", " : "") + fb::quoteName(q.assigned[i].first);
            marks += i > 0 ? ", ?" : "?";
            values.push_back(q.assigned[i].second);
        }
        sql = "insert into " + table +
              (q.assigned.empty() ? " default values" : " (" + names + ") values (" + marks + ")") +
              " returning RDB$DB_KEY";
    }

    std::optional<std::string> key = m_state == State::Edit ? q.dbKey : std::nullopt;
    if (conn.current() != nullptr) q.postedInExplicit = true;
    fb::guard([&] {
        conn.write([&](ITransaction* transaction) {
            const auto returned = runWithValues(attachment, transaction, sql, values, name());
            if (m_state == State::Insert && returned) key = rowKey(*returned, name());
        });
    });
    // Posted: the row is current from here on, even if re-reading it below fails.
    q.row = std::move(q.editRow);
    q.dbKey = key;
    q.hasRow = true;
    q.editRow.clear();
    q.assigned.clear();
    m_state = State::Browse;

    // The row as the table now holds it: defaults, triggers and conversions included. A row
    // without a key cannot be found again and keeps the values that were posted.
    if (!key) return;
    fb::guard([&] {
        std::string select;
        for (size_t i = 0; i < q.visibleCount(); ++i)
            select += (i > 0 ? ", " : "") + fb::quoteName(q.visible(i).field);
        select = "select " + select + " from " + table + " where RDB$DB_KEY = ?";
        ITransaction* reader = conn.current() != nullptr ? conn.current() : conn.reader();
        fb::Status status;
        fb::PreparedStatement prepared(attachment, reader, select);
        fb::encode(prepared.inputs[0], *key, prepared.inBuffer.data(), name());
        fb::Ref<IResultSet> cursor(prepared.statement->openCursor(
            &status, reader, prepared.in.get(), prepared.inBuffer.data(), prepared.out.get(), 0));
        // A row its own table no longer shows keeps the values that were posted.
        if (cursor->fetchNext(&status, prepared.outBuffer.data()) == IStatus::RESULT_OK) {
            std::vector<Value> row;  // taken whole, so a failed read keeps the posted row
            row.reserve(prepared.outputs.size());
            for (const auto& column : prepared.outputs)
                row.push_back(fb::decode(column, prepared.outBuffer.data(), attachment, reader));
            q.row = std::move(row);
        }
        cursor->close(&status);
        (void)cursor.release();  // close() has let the handle go
    });
}

}  // namespace tarvolen::database
