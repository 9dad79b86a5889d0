// Import phases: TdmMain::ImportTable copies a data file's rows into a table.

#include <chrono>
#include <future>
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

namespace tarvolen {
namespace {

constexpr size_t kRowsPerPump = 500;
constexpr auto kLoadPumpInterval = std::chrono::milliseconds(20);

// Reads and decodes the data file on a thread of its own while this one keeps passing through
// the host's event loop: a file of a million rows takes more than a second to decode. The
// file's errors come out of get() as LoadImportFile raised them; should `pump` throw, the
// future's destructor still waits for the thread, which uses `reader`.
template <class Pump>
std::optional<TextEncodingNote> LoadImportFilePumping(TClientDataSet& reader,
                                                      const std::string& fileName, Pump&& pump) {
    auto loading = std::async(std::launch::async,
                              [&reader, &fileName] { return LoadImportFile(reader, fileName); });
    while (loading.wait_for(kLoadPumpInterval) != std::future_status::ready) pump();
    return loading.get();
}

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
        // The data file is loaded and checked before anything in the database changes.
        Table.close();
        cds.Close();
        m_progress.unit = RunProgress::Unit::Rows;
        m_progress.done = 0;
        m_progress.total = 0;  // not known until the file is read
        const std::optional<TextEncodingNote> encoding =
            LoadImportFilePumping(cds, fileName, [this] { Pump(); });
        // Read as UTF-8 although nothing in the file says so: the log says it, once.
        if (encoding && encoding->reason == TextEncodingNote::Reason::Detected) {
            const ImportEncodingText read = DescribeImportEncoding(*encoding);
            Log("FASE " + id + " IMPORT TABELLA " + tableName + ": FILE DI DATI LETTO COME " +
                read.encoding + " (" + read.reason + ").");
        }
        Table.setTableName(tableName);
        Table.open();
        const auto& fields = cds.Packet().fields;
        const int columns = Table.columnCount();
        std::vector<std::string> fieldNames;
        fieldNames.reserve(fields.size());
        for (const auto& field : fields) fieldNames.push_back(field.name);
        std::vector<std::string> columnNames;
        columnNames.reserve(static_cast<size_t>(columns));
        for (int i = 0; i < columns; ++i) columnNames.push_back(Table.column(i).name);
        const ColumnMapping mapping = MapImportColumns(fieldNames, columnNames);
        if (const std::string note = MappingNote(mapping); !note.empty())
            Log("FASE " + id + " IMPORT TABELLA " + tableName + ": " + note + ".");

        // The delete and every row go in one transaction: the table ends up with all of the
        // file or exactly as it was. The delete empties the very table the rows go into.
        dbsagg.startTransaction();
        if (raisesTo) RecordVersion(*raisesTo);
        if (emptyFirst) Table.deleteAllRows();
        m_progress.unit = RunProgress::Unit::Rows;
        m_progress.done = 0;
        m_progress.total = static_cast<size_t>(cds.RecordCount());
        // Rows go to the server many to a statement; a row the server refuses is named by
        // its place in the file.
        database::RowBatch rows(Table);
        for (cds.First(); !cds.Eof(); cds.Next()) {
            // A long import keeps the window responsive and its progress visible.
            if (m_progress.done % kRowsPerPump == 0) {
                Pump();
                if (StopRequested()) {
                    throw BatchStopped(BatchStopped::Reason::StopRequested,
                                       ImportStopLine(id, tableName, kStopRequestedCause));
                }
            }
            const size_t record = ++m_progress.done;
            try {
                rows.insert();
                for (int i = 0; i < columns; ++i) {
                    const size_t field = mapping.fieldOf[static_cast<size_t>(i)];
                    if (field >= fields.size()) {
                        throw database::DatabaseError("The data file has no field for column " +
                                                      Table.column(i).name + " (position " +
                                                      std::to_string(i + 1) + ")");
                    }
                    rows.setValue(i, importValue(fields[field], cds.CurrentValue(field)));
                }
            } catch (const database::DatabaseError&) {
                // The rows before this one reach the server first: one of them may fail
                // before this record's value does.
                rows.cancel();
                rows.send();
                failedRecord = record;
                throw;
            }
            rows.post();
        }
        rows.send();
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
        FailedPhases.push_back({cdsQuery.FieldByName("ID").AsInteger(), 0, true});
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
