// The batch over the update plan: TdmMain::RunBatch.

#include <chrono>
#include <filesystem>
#include <optional>
#include <vector>

#include "base/Text.h"
#include "db/DatabaseError.h"
#include "engine/BatchStopped.h"
#include "engine/EngineHost.h"
#include "engine/MarkNotSaved.h"
#include "engine/PhaseDecision.h"
#include "engine/StopLines.h"
#include "engine/dm_main.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "plan/MarksJournal.h"
#include "plan/PlanLayout.h"
#include "plan/SharedPlanFile.h"

namespace tarvolen {
namespace {

// Room a save needs beyond the plan's present size: the marks of a run add row versions.
constexpr uint64_t kPlanGrowth = uint64_t{64} * 1024;

}  // namespace

void TdmMain::CheckPlanForRun() {
    CheckPlanRows(m_cdsQuery);
    CheckPlanFile();
}

void TdmMain::CheckPlanFile() {
    const std::string& file = m_cdsQuery.FileName();
    if (file.empty()) return;
    std::error_code ec;
    const uintmax_t found = std::filesystem::file_size(file, ec);
    const uint64_t size = ec ? 0 : static_cast<uint64_t>(found);
    checkReplaceable(file, size + kPlanGrowth);
}

void TdmMain::RecordVersion(const TVersione& version) {
    // Reopened, so each write finds the row the last one appended.
    m_qryVersioneDB.close();
    WriteDatabaseVersion(version);
}

void TdmMain::SavePlan() {
    if (!m_cdsQuery.FileName().empty()) m_cdsQuery.SaveFile(m_cdsQuery.FileName());
}

int TdmMain::ApplyMarksJournal() {
    if (m_cdsQuery.FileName().empty()) return 0;
    return ApplyJournalledMarks(m_cdsQuery, MarksJournal(m_cdsQuery.FileName()));
}

void TdmMain::SettleMarks(MarksJournal& journal) {
    SavePlan();
    journal.Remove();
}

void TdmMain::ApplyKilledRunJournal(MarksJournal& journal) {
    // What a killed run earned reaches the plan file before anything is decided. Reading the
    // plan applied those marks already: whether the journal holds any is what counts.
    if (!journal.Read().empty()) {
        ApplyMarksJournal();
        SettleMarks(journal);
    } else {
        journal.Remove();  // none, or stale
    }
}

RunSummary TdmMain::RunBatch() {
    // Nobody else writes the plan from here to the walk's end, and the walk starts from what
    // the file holds now: a phase another program marked done meanwhile is not run again.
    std::optional<SharedPlanFile::Hold> held;
    if (!m_cdsQuery.FileName().empty()) {
        held.emplace(PlanFile().hold());
        PlanFile().BringUpToDate();
    }
    CheckPlanForRun();
    // Marks appended after each phase, written into the plan whole when the walk ends.
    std::optional<MarksJournal> journal;
    if (!m_cdsQuery.FileName().empty()) {
        journal.emplace(m_cdsQuery.FileName());
        ApplyKilledRunJournal(*journal);
    }
    // Whatever ends the walk, the marks it earned are written into the plan. Quiet when the
    // walk already fails: the journal keeps the marks and the next run writes them.
    const auto settle = [this, &journal](bool quietly) {
        if (!journal || !journal->pending()) return;
        try {
            SettleMarks(*journal);
        } catch (const std::exception&) {
            if (!quietly) throw;
        }
    };
    m_lastRun = RunSummary{};
    BatchRun run(*ReadDatabaseVersion(), journal ? &*journal : nullptr);
    Log("Versione del DB PRIMA dell'aggiornamento: " + run.StartVersion.AsText());
    run.progress.phaseCount = m_cdsQuery.RecordCount();

    try {
        if (WalkPhases(run) == WalkEnd::Complete) {
            RecordVersion(run.ReachedVersion);
            Log("Versione del DB DOPO l'aggiornamento: " + run.ReachedVersion.AsText());
        }
        settle(false);
    } catch (const BatchStopped& stop) {
        run.summary.BatchHasErrors = true;
        Log(stop.what());
        settle(true);
        ShowSummary(run.summary);
        throw;
    } catch (...) {
        settle(true);
        // A run that a failure ended did not go well, whatever its statements did: the summary
        // must not call it correct before the failure is shown.
        run.summary.BatchHasErrors = true;
        ShowSummary(run.summary);
        throw;  // the failure goes on to the caller once the box is closed
    }
    ShowSummary(run.summary);
    return m_lastRun;
}

void TdmMain::ShowSummary(const RunSummary& summary) {
    m_lastRun = summary;
    if (m_host == nullptr) return;
    m_host->beforeSummary();
    m_host->showMessage(
        summary.BatchHasErrors ? "Batch eseguito con errori" : "Batch eseguito correttamente",
        "Query batch", MessageIcon::Warning);
}

TdmMain::WalkEnd TdmMain::WalkPhases(BatchRun& run) {
    for (m_cdsQuery.First(); !m_cdsQuery.Eof(); m_cdsQuery.Next()) {
        // The phase stays where it is, unmarked, and nothing after it runs.
        if (RunOnePhase(run) == PhaseEnd::WalkEnds) return WalkEnd::SeparatorUnreadable;
    }
    return WalkEnd::Complete;
}

TdmMain::PhaseEnd TdmMain::RunOnePhase(BatchRun& run) {
    RunProgress& progress = run.progress;
    ++progress.phase;
    progress.phaseId = static_cast<int>(m_cdsQuery.FieldByName(planfield::kId).AsInteger());
    progress.unit = RunProgress::Unit::None;
    progress.done = progress.total = 0;
    Pump(progress);
    const std::string id = PhaseId();
    if (StopRequested()) {
        throw BatchStopped(BatchStopped::Reason::StopRequested,
                           BeforePhaseStopLine(id, kStopRequestedCause));
    }
    const PhaseDecision decision = DecideCurrentPhase(m_cdsQuery, run.StartVersion);
    if (PassesOver(decision)) {
        Log(PassedOverLogLine(id, decision));
        return PhaseEnd::Next;
    }

    const auto phaseStarted = std::chrono::steady_clock::now();
    bool markDone = true;
    if (decision == PhaseDecision::Script) {
        if (!RunScriptPhase(run)) return PhaseEnd::WalkEnds;
    } else if (decision == PhaseDecision::Import) {
        std::string phase = "FASE " + id + " IMPORT TABELLA ";
        phase += m_cdsQuery.FieldByName(planfield::kNomeTabella).AsString();
        Log(phase + " IN ESECUZIONE.");
        ImportTable(run);
        Log(phase + " TERMINATO.");
        // A failed import stays due, so it runs again once its file is fixed.
        markDone = !run.summary.ImportFailed;
    }
    if (markDone) RecordVersionThenMark(run, decision != PhaseDecision::NoAction);
    if (m_host != nullptr && decision != PhaseDecision::NoAction)
        m_host->phaseEnded({progress.phaseId, std::chrono::steady_clock::now() - phaseStarted});
    return PhaseEnd::Next;
}

void TdmMain::RecordVersionThenMark(BatchRun& run, bool applied) {
    // The version first: a phase whose version is recorded is skipped by version on the next
    // run even if the plan's mark never reaches the file.
    if (run.ReachedVersion.CompareTo(run.recordedVersion) > 0) {
        try {
            RecordVersion(run.ReachedVersion);
        } catch (const database::ConnectionLost& e) {
            throw BatchStopped(
                BatchStopped::Reason::ConnectionLost,
                VersionStopLine(PhaseId(), run.ReachedVersion.AsText(), ConnectionLostCause(e)));
        }
        run.recordedVersion.Assign(run.ReachedVersion);
    }
    m_cdsQuery.Edit();
    m_cdsQuery.FieldByName(planfield::kStato).SetAsString("S");
    m_cdsQuery.Post();
    if (run.marks == nullptr) return;
    try {
        run.marks->Append(m_cdsQuery.FieldByName(planfield::kId).AsInteger());
    } catch (const EFCreateError&) {
        SaveMarkWithoutJournal(run, applied);
    }
}

void TdmMain::SaveMarkWithoutJournal(BatchRun& run, bool applied) {
    // No journal (a full disk?): the mark goes the long way, and the journal, stale now,
    // starts again at the next mark.
    try {
        SavePlan();
    } catch (const std::runtime_error& e) {
        if (!applied) throw;  // nothing applied
        // The phase is in the database all the same: say what the next run will make of it.
        const std::string versione(
            trimmed(m_cdsQuery.FieldByName(planfield::kVersione).AsString()));
        const bool byVersion =
            !versione.empty() && run.recordedVersion.CompareToText(versione) >= 0;
        const std::string line =
            MarkNotSavedLine(PhaseId(), e.what(), byVersion ? run.recordedVersion.AsText() : "");
        Log(line);
        throw MarkNotSaved(line);
    }
    run.marks->Remove();
}

}  // namespace tarvolen
