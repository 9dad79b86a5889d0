#include "engine/PlanListing.h"

#include "base/Text.h"
#include "engine/ScriptSplitter.h"
#include "engine/Versione.h"
#include "plan/PlanLayout.h"

namespace tarvolen {

std::vector<PhaseSummary> SummarizePlan(TClientDataSet& plan) {
    std::vector<PhaseSummary> phases;
    for (plan.First(); !plan.Eof(); plan.Next()) {
        PhaseSummary p;
        if (const TField& id = plan.FieldByName(planfield::kId); !id.IsNull())
            p.id = id.AsInteger();
        p.tipo = plan.FieldByName(planfield::kTipo).AsString();
        p.stato = plan.FieldByName(planfield::kStato).AsString();
        p.versionText = plan.FieldByName(planfield::kVersione).AsString();
        if (!isBlank(p.versionText)) {
            p.version = TVersione::CreateFromText(trimmed(p.versionText))->AsText();
            p.versionClean = IsCleanVersionText(p.versionText);
        }
        p.separator = plan.FieldByName(planfield::kSeparatore).AsString();
        p.table = plan.FieldByName(planfield::kNomeTabella).AsString();
        p.file = plan.FieldByName(planfield::kNomeFile).AsString();
        p.emptyTable = plan.FieldByName(planfield::kSvuotaTabella).AsString();
        const std::string script = plan.FieldByName(planfield::kTesto).AsString();
        const std::vector<std::string_view> lines = SplitScriptLines(script);
        p.scriptLines = lines.size();
        for (std::string_view line : lines) {
            if (isBlank(line)) continue;
            p.firstLine = std::string(trimmed(line));
            break;
        }
        phases.push_back(std::move(p));
    }
    plan.First();
    return phases;
}

}  // namespace tarvolen
