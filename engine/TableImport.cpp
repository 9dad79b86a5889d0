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
#include "engine/StopLines.h"
#include "engine/dm_main.h"
#include "plan/Errors.h"
#include "plan/MarksJournal.h"
#include "plan/PlanLayout.h"

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
    ColumnMapping mapping;
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
        // The data file is loaded and checked before anything in the database changes.
        LoadDataFile(run, phase);
        OpenImportTable(phase);
        // The delete and every row go in one transaction: the table ends up with all of the
        // file or exactly as it was. The delete empties the very table the rows go into.
        m_dbsagg.startTransaction();
        if (phase.raisesTo) RecordVersion(*phase.raisesTo);
        if (phase.emptyFirst) m_importTable.deleteAllRows();
        InsertRows(run, phase);
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

void TdmMain::LoadDataFile(BatchRun& run, const ImportPhase& phase) {
    m_importTable.close();
    m_importReader.Close();
    RunProgress& progress = run.progress;
    progress.unit = RunProgress::Unit::Rows;
    progress.done = 0;
    progress.total = 0;  // not known until the file is read
    const std::optional<TextEncodingNote> encoding = LoadImportFilePumping(
        m_importReader, phase.fileName, [this, &progress] { Pump(progress); });
    // Read as UTF-8 although nothing in the file says so: the log says it, once.
    if (encoding && encoding->reason == TextEncodingNote::Reason::Detected) {
        const ImportEncodingText read = DescribeImportEncoding(*encoding);
        Log("FASE " + phase.id + " IMPORT TABELLA " + phase.tableName +
            ": FILE DI DATI LETTO COME " + read.encoding + " (" + read.reason + ").");
    }
}

void TdmMain::OpenImportTable(ImportPhase& phase) {
    m_importTable.setTableName(phase.tableName);
    m_importTable.open();
    const auto& fields = m_importReader.Packet().fields;
    const int columns = m_importTable.columnCount();
    std::vector<std::string> fieldNames;
    fieldNames.reserve(fields.size());
    for (const auto& field : fields) fieldNames.push_back(field.name);
    std::vector<std::string> columnNames;
    columnNames.reserve(static_cast<size_t>(columns));
    for (int i = 0; i < columns; ++i) columnNames.push_back(m_importTable.column(i).name);
    phase.mapping = MapImportColumns(fieldNames, columnNames);
    if (const std::string note = MappingNote(phase.mapping); !note.empty())
        Log("FASE " + phase.id + " IMPORT TABELLA " + phase.tableName + ": " + note + ".");
}

void TdmMain::InsertRows(BatchRun& run, ImportPhase& phase) {
    const auto& fields = m_importReader.Packet().fields;
    const int columns = m_importTable.columnCount();
    RunProgress& progress = run.progress;
    progress.unit = RunProgress::Unit::Rows;
    progress.done = 0;
    progress.total = static_cast<size_t>(m_importReader.RecordCount());
    // Rows go to the server many to a statement; a row the server refuses is named by its
    // place in the file.
    database::RowBatch rows(m_importTable);
    for (m_importReader.First(); !m_importReader.Eof(); m_importReader.Next()) {
        // A long import keeps the window responsive and its progress visible.
        if (progress.done % kRowsPerPump == 0) {
            Pump(progress);
            if (StopRequested()) {
                throw BatchStopped(BatchStopped::Reason::StopRequested,
                                   ImportStopLine(phase.id, phase.tableName, kStopRequestedCause));
            }
        }
        const size_t record = ++progress.done;
        try {
            rows.insert();
            for (int i = 0; i < columns; ++i) {
                const size_t field = phase.mapping.fieldOf[static_cast<size_t>(i)];
                if (field >= fields.size()) {
                    throw database::DatabaseError("The data file has no field for column " +
                                                  m_importTable.column(i).name + " (position " +
                                                  std::to_string(i + 1) + ")");
                }
                rows.setValue(i, importValue(fields[field], m_importReader.CurrentValue(field)));
            }
        } catch (const database::DatabaseError&) {
            // The rows before this one reach the server first: one of them may fail before
            // this record's value does.
            rows.cancel();
            rows.send();
            phase.failedRecord = record;
            throw;
        }
        rows.post();
    }
    rows.send();
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
