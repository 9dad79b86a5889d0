// Import phases: TdmMain::ImportTable copies a data file's rows into a table.

#include <chrono>
#include <exception>
#include <optional>

#include "base/Text.h"
#include "db/DatabaseError.h"
#include "db/RowBatch.h"
#include "engine/BatchStopped.h"
#include "engine/ImportColumns.h"
#include "engine/ImportFile.h"
#include "engine/ImportValue.h"
#include "plan/MarksJournal.h"
#include "engine/StopLines.h"
#include "engine/dm_main.h"
#include "plan/Errors.h"
#include "plan/PacketStream.h"

namespace tarvolen {
namespace {

constexpr size_t kRowsPerPump = 500;
constexpr auto kReadPumpInterval = std::chrono::milliseconds(20);

// The data file's visible rows, taken as they are decoded: `open` once with the layout, `take`
// with each row's values, `drain` instead of `take` once either has failed. A failure is kept,
// not thrown, and the file is read on to its end: a file that does not read as written is
// refused with its own message before anything the database said, as when the whole file was
// read before the first row went in. A stop and a lost connection end the import at once.
template <class Open, class Take, class Drain>
class RowsAsDecoded final : public PacketRowConsumer {
  public:
    RowsAsDecoded(Open open, Take take, Drain drain)
        : m_open(std::move(open)), m_take(std::move(take)), m_drain(std::move(drain)) {}

    void layout(const DataPacket& packet, const std::optional<TextEncodingNote>& encoding) override {
        encodingRead = encoding;
        keepFailure([&] { m_open(packet); });
    }

    void row(const StreamedRow& row) override {
        if (!row.visible) return;
        if (failure) {
            m_drain();
            return;
        }
        keepFailure([&] { m_take(*row.values); });
    }

    std::optional<TextEncodingNote> encodingRead;
    std::exception_ptr failure;  // the first failure of `open` or `take`

  private:
    template <class Step>
    void keepFailure(Step&& step) {
        try {
            step();
        } catch (const BatchStopped&) {
            throw;
        } catch (const database::ConnectionLost&) {
            throw;
        } catch (...) {
            failure = std::current_exception();
        }
    }

    Open m_open;
    Take m_take;
    Drain m_drain;
};

}  // namespace

void TdmMain::ImportTable() {
    ImportFailed = false;
    const std::string id = PhaseId();
    const std::string tableName = cdsQuery.FieldByName("NOME_TABELLA").AsString();
    const std::string fileName = cdsQuery.FieldByName("NOME_FILE").AsString();
    const bool emptyFirst = cdsQuery.FieldByName("SVUOTA_TABELLA").AsString() == "S";
    // In a run, what the import did must outlive a mark that cannot be saved. A version above
    // the run's is written with the rows, so a rerun passes the phase over by version; without
    // a version, nothing in the database would tell, so the import commits only once its mark
    // has room in the journal.
    const std::string versione(trimmed(cdsQuery.FieldByName("VERSIONE").AsString()));
    std::optional<TVersione> raisesTo;
    if (ReachedVersion && !versione.empty() && ReachedVersion->CompareToText(versione) < 0)
        raisesTo.emplace().Parse(versione);
    const bool reservesMark = m_marks != nullptr && versione.empty();
    // Leaves neither a half-built row nor an open transaction behind.
    const auto abandon = [this] {
        if (Table.isOpen()) Table.cancel();
        RollbackQuietly();
    };
    size_t failedRecord = 0;  // the data file's record that failed, counting from 1
    try {
        Table.close();
        cds.Close();
        m_progress.unit = RunProgress::Unit::Rows;
        m_progress.done = 0;
        m_progress.total = 0;  // the rows are counted as they are read
        std::vector<FieldDef> fields;
        int columns = 0;
        ColumnMapping mapping;
        bool mapped = false;
        std::optional<database::RowBatch> rows;
        // The delete and every row go in one transaction, opened once the file's layout is
        // read: the table ends up with all of the file or exactly as it was. The delete empties
        // the very table the rows go into.
        const auto open = [&](const DataPacket& packet) {
            fields = packet.fields;
            Table.setTableName(tableName);
            Table.open();
            columns = Table.columnCount();
            std::vector<std::string> fieldNames;
            fieldNames.reserve(fields.size());
            for (const auto& field : fields) fieldNames.push_back(field.name);
            std::vector<std::string> columnNames;
            columnNames.reserve(static_cast<size_t>(columns));
            for (int i = 0; i < columns; ++i) columnNames.push_back(Table.column(i).name);
            mapping = MapImportColumns(fieldNames, columnNames);
            mapped = true;
            dbsagg.startTransaction();
            if (raisesTo) RecordVersion(*raisesTo);
            if (emptyFirst) Table.deleteAllRows();
            // Rows go to the server many to a statement; a row the server refuses is named by
            // its place in the file.
            rows.emplace(Table);
        };
        // A long import keeps the window responsive and its progress visible.
        const auto pumpNow = [&] {
            if (m_progress.done % kRowsPerPump != 0) return;
            Pump();
            if (StopRequested()) {
                throw BatchStopped(BatchStopped::Reason::StopRequested,
                                   ImportStopLine(id, tableName, kStopRequestedCause));
            }
        };
        const auto take = [&](const std::vector<FieldValue>& values) {
            pumpNow();
            const size_t record = ++m_progress.done;
            try {
                rows->insert();
                for (int i = 0; i < columns; ++i) {
                    const size_t field = mapping.fieldOf[static_cast<size_t>(i)];
                    if (field >= fields.size()) {
                        throw database::DatabaseError("The data file has no field for column " +
                                                      Table.column(i).name + " (position " +
                                                      std::to_string(i + 1) + ")");
                    }
                    rows->setValue(i, importValue(fields[field], values[field]));
                }
            } catch (const database::DatabaseError&) {
                // The rows before this one reach the server first: one of them may fail
                // before this record's value does.
                rows->cancel();
                rows->send();
                failedRecord = record;
                throw;
            }
            rows->post();
        };
        size_t drained = 0;
        const auto drain = [&] {
            if (++drained % kRowsPerPump == 0) Pump();
        };
        RowsAsDecoded consumer(open, take, drain);
        auto lastPump = std::chrono::steady_clock::now();
        StreamImportFile(fileName, consumer, [&] {
            // Reading a large file before its first row, or between rows, lets events through.
            const auto now = std::chrono::steady_clock::now();
            if (now - lastPump < kReadPumpInterval) return;
            lastPump = now;
            Pump();
        });
        // The file read as written: what the log says of it, as before any row went in.
        // Read as UTF-8 although nothing in the file says so: the log says it, once.
        if (consumer.encodingRead &&
            consumer.encodingRead->reason == TextEncodingNote::Reason::Detected) {
            const ImportEncodingText read = DescribeImportEncoding(*consumer.encodingRead);
            Log("FASE " + id + " IMPORT TABELLA " + tableName + ": FILE DI DATI LETTO COME " +
                read.encoding + " (" + read.reason + ").");
        }
        if (mapped) {
            if (const std::string note = MappingNote(mapping); !note.empty())
                Log("FASE " + id + " IMPORT TABELLA " + tableName + ": " + note + ".");
        }
        if (consumer.failure) std::rethrow_exception(consumer.failure);
        rows->send();
        if (reservesMark) {
            try {
                m_marks->Reserve(cdsQuery.FieldByName("ID").AsInteger());
            } catch (const EFCreateError& e) {
                throw BatchStopped(BatchStopped::Reason::MarkNotRecordable,
                                   ImportStopLine(id, tableName, MarkNotRecordableCause(e.what())));
            }
        }
        dbsagg.commit();
        if (raisesTo) {
            ReachedVersion->Assign(*raisesTo);
            m_recordedVersion.Assign(*raisesTo);
        }
    } catch (const BatchStopped&) {
        abandon();
        throw;
    } catch (const database::ConnectionLost& e) {
        abandon();
        throw BatchStopped(BatchStopped::Reason::ConnectionLost,
                           ImportStopLine(id, tableName, ConnectionLostCause(e)));
    } catch (const std::runtime_error& e) {
        // Every failure of the import (the file, its decoding, the table, a row) is reported
        // the same way and undone as a whole; a row's failure names the row.
        abandon();
        ImportFailed = true;
        BatchHasErrors = true;
        ++FailedImports;
        if (const auto* refused = dynamic_cast<const database::RowFailed*>(&e))
            failedRecord = refused->row();
        if (const auto* refused = dynamic_cast<const EDataFileRefused*>(&e))
            failedRecord = refused->record();
        std::string what = "IMPORT TABELLA " + tableName + " DAL FILE " + fileName;
        if (failedRecord > 0) what += ", RECORD " + std::to_string(failedRecord);
        LogError(e.what(), what);
        if (StopOnError) {
            throw BatchStopped(BatchStopped::Reason::StatementFailed,
                               ImportStopLine(id, tableName, kImportFailedCause));
        }
    } catch (...) {
        // Not an import failure (out of memory, a broken invariant): it goes on to the
        // caller, but the transaction with the rows posted so far must not stay open.
        abandon();
        throw;
    }
}

}  // namespace tarvolen
