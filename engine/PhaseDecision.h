#pragma once
// What a run does with one phase of the plan, decided before anything of it runs. The batch
// and the dry run ask the same question, so they cannot disagree.

#include <string>
#include <string_view>

#include "engine/Versione.h"
#include "plan/ClientDataSet.h"

namespace tarvolen {

enum class PhaseDecision {
    AlreadyDone,        // STATO is "S"
    SkippedForVersion,  // the database stood at or above the phase's VERSIONE when the run began
    Script,             // TIPO "S": the script runs
    Import,             // TIPO "I": the data file is imported
    NoAction,           // any other TIPO, empty included: marked done without running anything
};

// The decision over a phase's stored texts. Flags compare exactly and case-sensitively;
// VERSIONE is trimmed of blanks before the test and ignored when blank. `startVersion` is the
// database's version when the run began, however far the run has raised it since.
PhaseDecision DecidePhase(std::string_view stato, std::string_view versione, std::string_view tipo,
                          const TVersione& startVersion);

// The decision for the current row of the plan table.
PhaseDecision DecideCurrentPhase(TClientDataSet& plan, const TVersione& startVersion);

// True for the decisions under which the run neither runs nor marks the phase.
inline bool PassesOver(PhaseDecision decision) {
    return decision == PhaseDecision::AlreadyDone || decision == PhaseDecision::SkippedForVersion;
}

// The log line of a phase the run passes over ("FASE 2 PROCEDURA GIA' ESEGUITA."); empty for a
// phase that runs or is marked.
std::string PassedOverLogLine(std::string_view phaseId, PhaseDecision decision);

}  // namespace tarvolen
