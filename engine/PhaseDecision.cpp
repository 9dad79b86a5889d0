#include "engine/PhaseDecision.h"

#include <string>

#include "base/Text.h"
#include "plan/PlanLayout.h"

namespace tarvolen {

PhaseDecision DecidePhase(std::string_view stato, std::string_view versione, std::string_view tipo,
                          const TVersione& startVersion) {
    if (stato == "S") return PhaseDecision::AlreadyDone;
    const std::string_view version = trimmed(versione);
    if (!version.empty() && startVersion.CompareToText(version) >= 0)
        return PhaseDecision::SkippedForVersion;
    if (tipo == "S") return PhaseDecision::Script;
    if (tipo == "I") return PhaseDecision::Import;
    return PhaseDecision::NoAction;
}

PhaseDecision DecideCurrentPhase(TClientDataSet& plan, const TVersione& startVersion) {
    const std::string stato = plan.FieldByName(planfield::kStato).AsString();
    const std::string versione = plan.FieldByName(planfield::kVersione).AsString();
    const std::string tipo = plan.FieldByName(planfield::kTipo).AsString();
    return DecidePhase(stato, versione, tipo, startVersion);
}

std::string PassedOverLogLine(std::string_view phaseId, PhaseDecision decision) {
    std::string line = "FASE ";
    line += phaseId;
    switch (decision) {
        case PhaseDecision::AlreadyDone:
            return line + " PROCEDURA GIA' ESEGUITA.";
        case PhaseDecision::SkippedForVersion:
            return line + " NON ESEGUITA PER VERSIONE DATABASE.";
        case PhaseDecision::Script:
        case PhaseDecision::Import:
        case PhaseDecision::NoAction:
            break;
    }
    return {};
}

}  // namespace tarvolen
