#pragma once
// An import's rows taken into its table as the data file is decoded (streamImportData): the
// file's layout opens the table and its transaction, each visible row goes to the server in
// blocks. Nothing is kept of a row once it is sent, so an import holds neither the file nor its
// rows whole.

#include <cstddef>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "db/RowBatch.h"
#include "db/Table.h"
#include "engine/ImportColumns.h"
#include "plan/PacketStream.h"

namespace tarvolen {

class ImportRows final : public PacketRowConsumer {
  public:
    struct Steps {
        // Once the table is open and its columns mapped: opens the transaction the rows go in
        // (and whatever goes in it before them).
        std::function<void()> startTransaction;
        // Before each visible row, with the rows taken so far (also once a failure is kept):
        // where a long import lets events through and a stop is asked for. What it throws ends
        // the import at once.
        std::function<void(size_t rowsSoFar)> beforeRow;
    };

    // `failedRecord` receives, when finish() throws a row's failure, the place in the file
    // (from 1, visible rows) of that row, when it failed on its own, not through a row before it.
    ImportRows(database::Table& table, std::string tableName, Steps steps, size_t& failedRecord);

    // The table opened and its columns mapped; the transaction started; rows to follow.
    void layout(const DataPacket& packet, const std::optional<TextEncodingNote>& encoding) override;
    // A visible version's values go to the table; the others are passed over.
    void row(const StreamedRow& row) override;

    // How the file's text was taken, as the layout came with it.
    const std::optional<TextEncodingNote>& encoding() const { return m_encoding; }
    // How the file's fields meet the table's columns, once the table has opened.
    const std::optional<ColumnMapping>& mapping() const { return m_mapping; }
    // After the whole file was read as written: throws the failure kept from the table or a
    // row, else sends the rows still queued (throwing as RowBatch::send does).
    void finish();
    // The visible rows read so far.
    size_t rowsTaken() const { return m_rowsSoFar; }

  private:
    void take(const std::vector<FieldValue>& values);

    // A failure of the table or of a row is kept, not thrown, and the file is read on to its
    // end: a file that does not read as written is refused with its own message before
    // anything the database said, as when the whole file was read before the first row went
    // in. A stop and a lost connection end the import at once.
    template <class Step>
    void keepFailure(Step&& step);

    database::Table& m_table;
    std::string m_tableName;
    Steps m_steps;
    size_t& m_failedRecord;
    std::optional<TextEncodingNote> m_encoding;
    std::vector<FieldDef> m_fields;
    std::optional<ColumnMapping> m_mapping;
    std::optional<database::RowBatch> m_rows;
    size_t m_rowsSoFar = 0;
    std::exception_ptr m_failure;
    size_t m_failedAt = 0;  // the row of m_failure, when it is one's own
};

}  // namespace tarvolen
