// Import phases: TdmMain::ImportTable copies a data file's rows into a table.

#include <optional>

#include "base/Text.h"
#include "db/DatabaseError.h"
#include "engine/BatchStopped.h"
#include "engine/ImportColumns.h"
#include "engine/ImportFile.h"
#include "engine/ImportRows.h"
#include "engine/StopLines.h"
#include "engine/dm_main.h"
#include "plan/Errors.h"
#include "plan/MarksJournal.h"
#include "plan/PacketStream.h"
#include "plan/PlanLayout.h"

namespace tarvolen {
namespace {

constexpr size_t kRowsPerPump = 500;

}  // namespace

// What an import phase works from: the plan row's settings, and what it finds on its way.
struct TdmMain::ImportPhase {
    std::string id;
    std::string tableName;
    std::string fileName;
    bool emptyFirst = false;
    // The version the import writes with its rows, when it raises the run's.
    std::optional<TVersione> raisesTo;
    // No version to write: the import's mark goes into the journal before it commits.
    bool reservesMark = false;
    size_t failedRecord = 0;  // the data file's record that failed, counting from 1
};

TdmMain::ImportPhase TdmMain::DescribeImport(const BatchRun& run) {
    ImportPhase phase;
    phase.id = PhaseId();
    phase.tableName = m_cdsQuery.FieldByName(planfield::kNomeTabella).AsString();
    phase.fileName = m_cdsQuery.FieldByName(planfield::kNomeFile).AsString();
    phase.emptyFirst = m_cdsQuery.FieldByName(planfield::kSvuotaTabella).AsString() == "S";
    // In a run, what the import did must outlive a mark that cannot be saved. A version above
    // the run's is written with the rows, so a rerun passes the phase over by version; without
    // a version, nothing in the database would tell, so the import commits only once its mark
    // has room in the journal.
    const std::string versione(trimmed(m_cdsQuery.FieldByName(planfield::kVersione).AsString()));
    if (!versione.empty() && run.ReachedVersion.CompareToText(versione) < 0)
        phase.raisesTo.emplace().Parse(versione);
    phase.reservesMark = run.marks != nullptr && versione.empty();
    return phase;
}

void TdmMain::ImportTable(BatchRun& run) {
    run.summary.ImportFailed = false;
    ImportPhase phase = DescribeImport(run);
    // Leaves neither a half-built row nor an open transaction behind.
    const auto abandon = [this] {
        if (m_importTable.isOpen()) m_importTable.cancel();
        RollbackQuietly();
    };
    try {
        // The rows go in as the file is decoded; the delete and every row go in one
        // transaction, opened once the file's layout is read: the table ends up with all of
        // the file or exactly as it was.
        StreamRows(run, phase);
        if (phase.reservesMark) ReserveImportMark(run, phase);
        m_dbsagg.commit();
        if (phase.raisesTo) {
            run.ReachedVersion.Assign(*phase.raisesTo);
            run.recordedVersion.Assign(*phase.raisesTo);
        }
    } catch (const BatchStopped&) {
        abandon();
        throw;
    } catch (const database::ConnectionLost& e) {
        abandon();
        throw BatchStopped(BatchStopped::Reason::ConnectionLost,
                           ImportStopLine(phase.id, phase.tableName, ConnectionLostCause(e)));
    } catch (const std::runtime_error& e) {
        // Every failure of the import (the file, its decoding, the table, a row) is reported
        // the same way and undone as a whole; a row's failure names the row.
        abandon();
        ReportFailedImport(run, phase, e);
        if (StopOnError) {
            throw BatchStopped(BatchStopped::Reason::StatementFailed,
                               ImportStopLine(phase.id, phase.tableName, kImportFailedCause));
        }
    } catch (...) {
        // Not an import failure (out of memory, a broken invariant): it goes on to the
        // caller, but the transaction with the rows posted so far must not stay open.
        abandon();
        throw;
    }
}

void TdmMain::StreamRows(BatchRun& run, ImportPhase& phase) {
    m_importTable.close();
    m_importReader.Close();
    RunProgress& progress = run.progress;
    progress.unit = RunProgress::Unit::Rows;
    progress.done = 0;
    progress.total = 0;  // the rows are counted as the file is read
    ImportRows::Steps steps;
    // The delete empties the very table the rows go into.
    steps.startTransaction = [this, &phase] {
        m_dbsagg.startTransaction();
        if (phase.raisesTo) RecordVersion(*phase.raisesTo);
        if (phase.emptyFirst) m_importTable.deleteAllRows();
    };
    steps.beforeRow = [this, &phase, &progress](size_t rowsSoFar) {
        progress.done = rowsSoFar;
        // A long import keeps the window responsive and its progress visible.
        if (rowsSoFar % kRowsPerPump != 0) return;
        Pump(progress);
        if (StopRequested()) {
            throw BatchStopped(BatchStopped::Reason::StopRequested,
                               ImportStopLine(phase.id, phase.tableName, kStopRequestedCause));
        }
    };
    ImportRows rows(m_importTable, phase.tableName, std::move(steps), phase.failedRecord);
    StreamImportFileAside(phase.fileName, rows, [this, &progress] { Pump(progress); });
    LogHowTheFileWasRead(phase, rows);
    rows.finish();
    progress.done = rows.rowsTaken();
}

// The whole file read as written: the log says what it would have said before the first row
// went in.
void TdmMain::LogHowTheFileWasRead(const ImportPhase& phase, const ImportRows& rows) {
    const std::string prefix = "FASE " + phase.id + " IMPORT TABELLA " + phase.tableName + ": ";
    // Read as UTF-8 although nothing in the file says so: once.
    if (rows.encoding() && rows.encoding()->reason == TextEncodingNote::Reason::Detected) {
        const ImportEncodingText read = DescribeImportEncoding(*rows.encoding());
        Log(prefix + "FILE DI DATI LETTO COME " + read.encoding + " (" + read.reason + ").");
    }
    if (rows.mapping()) {
        if (const std::string note = MappingNote(*rows.mapping()); !note.empty())
            Log(prefix + note + ".");
    }
}

void TdmMain::ReserveImportMark(BatchRun& run, const ImportPhase& phase) {
    try {
        run.marks->Reserve(m_cdsQuery.FieldByName(planfield::kId).AsInteger());
    } catch (const EFCreateError& e) {
        throw BatchStopped(
            BatchStopped::Reason::MarkNotRecordable,
            ImportStopLine(phase.id, phase.tableName, MarkNotRecordableCause(e.what())));
    }
}

void TdmMain::ReportFailedImport(BatchRun& run, ImportPhase& phase, const std::runtime_error& e) {
    run.summary.ImportFailed = true;
    run.summary.BatchHasErrors = true;
    ++run.summary.failedImports;
    run.summary.failedPhases.push_back(
        {m_cdsQuery.FieldByName(planfield::kId).AsInteger(), 0, true});
    if (const auto* refused = dynamic_cast<const database::RowFailed*>(&e))
        phase.failedRecord = refused->row();
    if (const auto* refused = dynamic_cast<const EDataFileRefused*>(&e))
        phase.failedRecord = refused->record();
    std::string what = "IMPORT TABELLA " + phase.tableName + " DAL FILE " + phase.fileName;
    if (phase.failedRecord > 0) what += ", RECORD " + std::to_string(phase.failedRecord);
    LogError(e.what(), what);
}

}  // namespace tarvolen
