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
    CheckPlanRows(cdsQuery);
    CheckPlanFile();
}

void TdmMain::CheckPlanFile() {
    const std::string& file = cdsQuery.FileName();
    if (file.empty()) return;
    std::error_code ec;
    const uintmax_t found = std::filesystem::file_size(file, ec);
    const uint64_t size = ec ? 0 : static_cast<uint64_t>(found);
    checkReplaceable(file, size + kPlanGrowth);
}

void TdmMain::RecordVersion(const TVersione& version) {
    // Reopened, so each write finds the row the last one appended.
    qryVersioneDB.close();
    WriteDatabaseVersion(version);
}

void TdmMain::SavePlan() {
    if (!cdsQuery.FileName().empty()) cdsQuery.SaveFile(cdsQuery.FileName());
}

int TdmMain::ApplyMarksJournal() {
    if (cdsQuery.FileName().empty()) return 0;
    return ApplyJournalledMarks(cdsQuery, MarksJournal(cdsQuery.FileName()));
}

void TdmMain::SettleMarks(MarksJournal& journal) {
    SavePlan();
    journal.Remove();
}

void TdmMain::RunBatch() {
    // Nobody else writes the plan from here to the walk's end, and the walk starts from what
    // the file holds now: a phase another program marked done meanwhile is not run again.
    std::optional<SharedPlanFile::Hold> held;
    if (!cdsQuery.FileName().empty()) {
        held.emplace(PlanFile().hold());
        PlanFile().BringUpToDate();
    }
    CheckPlanForRun();
    // Marks appended after each phase, written into the plan whole when the walk ends.
    std::optional<MarksJournal> journal;
    if (!cdsQuery.FileName().empty()) {
        journal.emplace(cdsQuery.FileName());
        // What a killed run earned reaches the plan file before anything is decided. Reading
        // the plan applied those marks already: whether the journal holds any is what counts.
        if (!journal->Read().empty()) {
            ApplyMarksJournal();
            SettleMarks(*journal);
        } else {
            journal->Remove();  // none, or stale
        }
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
    BatchHasErrors = false;
    FailedStatements = 0;
    FailedImports = 0;
    FailedPhases.clear();
    StartVersion = ReadDatabaseVersion();
    Log("Versione del DB PRIMA dell'aggiornamento: " + StartVersion->AsText());
    ReachedVersion = std::make_unique<TVersione>();
    ReachedVersion->Assign(*StartVersion);
    m_recordedVersion.Assign(*StartVersion);
    // The imports reserve their marks in the journal while the walk lasts.
    struct MarksDuringWalk {
        MarksJournal*& marks;
        ~MarksDuringWalk() { marks = nullptr; }
    } marksDuringWalk{m_marks};
    m_marks = journal ? &*journal : nullptr;
    cdsQuery.First();
    m_progress = RunProgress{};
    m_progress.phaseCount = cdsQuery.RecordCount();

    // Runs after the walk however it ends: frees the versions and shows the outcome.
    auto summary = [this] {
        StartVersion.reset();
        ReachedVersion.reset();
        if (m_host != nullptr) {
            m_host->beforeSummary();
            m_host->showMessage(
                BatchHasErrors ? "Batch eseguito con errori" : "Batch eseguito correttamente",
                "Query batch", MessageIcon::Warning);
        }
    };

    try {
        bool stopped = false;
        while (!cdsQuery.Eof() && !stopped) {
            ++m_progress.phase;
            m_progress.phaseId = static_cast<int>(cdsQuery.FieldByName("ID").AsInteger());
            m_progress.unit = RunProgress::Unit::None;
            m_progress.done = m_progress.total = 0;
            Pump();
            const std::string id = PhaseId();
            if (StopRequested()) {
                throw BatchStopped(BatchStopped::Reason::StopRequested,
                                   BeforePhaseStopLine(id, kStopRequestedCause));
            }
            const PhaseDecision decision = DecideCurrentPhase(cdsQuery, *StartVersion);
            if (PassesOver(decision)) {
                Log(PassedOverLogLine(id, decision));
                cdsQuery.Next();
                continue;
            }

            const auto phaseStarted = std::chrono::steady_clock::now();
            bool markDone = true;
            if (decision == PhaseDecision::Script) {
                stopped = !RunScriptPhase(*ReachedVersion);
                markDone = !stopped;
            } else if (decision == PhaseDecision::Import) {
                std::string phase = "FASE " + id + " IMPORT TABELLA ";
                phase += cdsQuery.FieldByName("NOME_TABELLA").AsString();
                Log(phase + " IN ESECUZIONE.");
                ImportTable();
                Log(phase + " TERMINATO.");
                // A failed import stays due, so it runs again once its file is fixed.
                markDone = !ImportFailed;
            }
            if (markDone) {
                // The version first: a phase whose version is recorded is skipped by version
                // on the next run even if the plan's mark never reaches the file.
                if (ReachedVersion->CompareTo(m_recordedVersion) > 0) {
                    try {
                        RecordVersion(*ReachedVersion);
                    } catch (const database::ConnectionLost& e) {
                        throw BatchStopped(
                            BatchStopped::Reason::ConnectionLost,
                            VersionStopLine(id, ReachedVersion->AsText(), ConnectionLostCause(e)));
                    }
                    m_recordedVersion.Assign(*ReachedVersion);
                }
                cdsQuery.Edit();
                cdsQuery.FieldByName("STATO").SetAsString("S");
                cdsQuery.Post();
                if (journal) {
                    try {
                        journal->Append(cdsQuery.FieldByName("ID").AsInteger());
                    } catch (const EFCreateError&) {
                        // No journal (a full disk?): the mark goes the long way, and the
                        // journal, stale now, starts again at the next mark.
                        try {
                            SavePlan();
                        } catch (const std::runtime_error& e) {
                            if (decision == PhaseDecision::NoAction) throw;  // nothing applied
                            // The phase is in the database all the same: say what the next
                            // run will make of it.
                            const std::string versione(
                                trimmed(cdsQuery.FieldByName("VERSIONE").AsString()));
                            const bool byVersion =
                                !versione.empty() && m_recordedVersion.CompareToText(versione) >= 0;
                            const std::string line = MarkNotSavedLine(
                                id, e.what(), byVersion ? m_recordedVersion.AsText() : "");
                            Log(line);
                            throw MarkNotSaved(line);
                        }
                        journal->Remove();
                    }
                }
            }
            if (m_host != nullptr && !stopped && decision != PhaseDecision::NoAction) {
                m_host->phaseEnded(
                    {m_progress.phaseId, std::chrono::steady_clock::now() - phaseStarted});
            }
            if (!stopped) cdsQuery.Next();
        }
        if (!stopped) {
            RecordVersion(*ReachedVersion);
            Log("Versione del DB DOPO l'aggiornamento: " + ReachedVersion->AsText());
        }
        settle(false);
    } catch (const BatchStopped& stop) {
        BatchHasErrors = true;
        Log(stop.what());
        settle(true);
        summary();
        throw;
    } catch (...) {
        settle(true);
        // A run that a failure ended did not go well, whatever its statements did: the summary
        // must not call it correct before the failure is shown.
        BatchHasErrors = true;
        summary();
        throw;  // the failure goes on to the caller once the box is closed
    }
    summary();
}

}  // namespace tarvolen
