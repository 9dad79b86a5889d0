#include "engine/ImportRows.h"

#include "db/DatabaseError.h"
#include "engine/BatchStopped.h"
#include "engine/ImportValue.h"

namespace tarvolen {

ImportRows::ImportRows(database::Table& table, std::string tableName, Steps steps,
                       size_t& failedRecord)
    : m_table(table),
      m_tableName(std::move(tableName)),
      m_steps(std::move(steps)),
      m_failedRecord(failedRecord) {}

template <class Step>
void ImportRows::keepFailure(Step&& step) {
    try {
        step();
    } catch (const BatchStopped&) {
        throw;
    } catch (const database::ConnectionLost&) {
        throw;
    } catch (...) {
        m_failure = std::current_exception();
    }
}

void ImportRows::layout(const DataPacket& packet, const std::optional<TextEncodingNote>& encoding) {
    m_encoding = encoding;
    m_fields = packet.fields;
    keepFailure([this] {
        m_table.setTableName(m_tableName);
        m_table.open();
        const int columns = m_table.columnCount();
        std::vector<std::string> fieldNames;
        fieldNames.reserve(m_fields.size());
        for (const auto& field : m_fields) fieldNames.push_back(field.name);
        std::vector<std::string> columnNames;
        columnNames.reserve(static_cast<size_t>(columns));
        for (int i = 0; i < columns; ++i) columnNames.push_back(m_table.column(i).name);
        m_mapping = MapImportColumns(fieldNames, columnNames);
        m_steps.startTransaction();
        // Rows go to the server many to a statement; a row the server refuses is named by its
        // place in the file.
        m_rows.emplace(m_table);
    });
}

void ImportRows::row(const StreamedRow& row) {
    if (!row.visible) return;
    m_steps.beforeRow(m_rowsSoFar);
    if (m_failure) {
        ++m_rowsSoFar;
        return;
    }
    keepFailure([&] { take(*row.values); });
}

void ImportRows::take(const std::vector<FieldValue>& values) {
    const size_t record = ++m_rowsSoFar;
    const int columns = m_table.columnCount();
    try {
        m_rows->insert();
        for (int i = 0; i < columns; ++i) {
            const size_t field = m_mapping->fieldOf[static_cast<size_t>(i)];
            if (field >= m_fields.size()) {
                throw database::DatabaseError("The data file has no field for column " +
                                              m_table.column(i).name + " (position " +
                                              std::to_string(i + 1) + ")");
            }
            m_rows->setValue(i, importValue(m_fields[field], values[field]));
        }
    } catch (const database::DatabaseError&) {
        // The rows before this one reach the server first: one of them may fail before this
        // record's value does.
        m_rows->cancel();
        m_rows->send();
        m_failedAt = record;
        throw;
    }
    m_rows->post();
}

void ImportRows::finish() {
    if (m_failure) {
        m_failedRecord = m_failedAt;
        std::rethrow_exception(m_failure);
    }
    m_rows->send();
}

}  // namespace tarvolen
