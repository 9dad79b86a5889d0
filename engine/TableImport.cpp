// Import phases: TdmMain::ImportTable copies a data file's rows into a table.

#include <optional>

#include "base/Text.h"
#include "db/DatabaseError.h"
#include "engine/BatchStopped.h"
#include "engine/ImportColumns.h"
#include "engine/ImportFile.h"
#include "engine/ImportRows.h"
#include "plan/MarksJournal.h"
#include "engine/StopLines.h"
#include "engine/dm_main.h"
#include "plan/Errors.h"
#include "plan/PacketStream.h"

namespace tarvolen {
namespace {

constexpr size_t kRowsPerPump = 500;

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
        m_progress.total = 0;  // the rows are counted as the file is read
        // The rows are taken as the file is decoded. The delete and every row go in one
        // transaction, opened once the file's layout is read: the table ends up with all of the
        // file or exactly as it was. The delete empties the very table the rows go into.
        ImportRows::Steps steps;
        steps.startTransaction = [&] {
            dbsagg.startTransaction();
            if (raisesTo) RecordVersion(*raisesTo);
            if (emptyFirst) Table.deleteAllRows();
        };
        steps.beforeRow = [&](size_t rowsSoFar) {
            m_progress.done = rowsSoFar;
            // A long import keeps the window responsive and its progress visible.
            if (rowsSoFar % kRowsPerPump != 0) return;
            Pump();
            if (StopRequested()) {
                throw BatchStopped(BatchStopped::Reason::StopRequested,
                                   ImportStopLine(id, tableName, kStopRequestedCause));
            }
        };
        ImportRows rows(Table, tableName, std::move(steps), failedRecord);
        StreamImportFileAside(fileName, rows, [this] { Pump(); });
        // The whole file read as written: the log says what it would have said before the
        // first row went in. Read as UTF-8 although nothing in the file says so: once.
        if (rows.encoding() && rows.encoding()->reason == TextEncodingNote::Reason::Detected) {
            const ImportEncodingText read = DescribeImportEncoding(*rows.encoding());
            Log("FASE " + id + " IMPORT TABELLA " + tableName + ": FILE DI DATI LETTO COME " +
                read.encoding + " (" + read.reason + ").");
        }
        if (rows.mapping()) {
            if (const std::string note = MappingNote(*rows.mapping()); !note.empty())
                Log("FASE " + id + " IMPORT TABELLA " + tableName + ": " + note + ".");
        }
        rows.finish();
        m_progress.done = rows.rowsTaken();
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
