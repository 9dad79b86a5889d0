#include "engine/PlanListing.h"

#include "base/Text.h"
#include "engine/ScriptSplitter.h"
#include "engine/Versione.h"

namespace tarvolen {

std::vector<PhaseSummary> SummarizePlan(TClientDataSet& plan) {
    std::vector<PhaseSummary> phases;
    for (plan.First(); !plan.Eof(); plan.Next()) {
        PhaseSummary p;
        if (const TField& id = plan.FieldByName("ID"); !id.IsNull()) p.id = id.AsInteger();
        p.tipo = plan.FieldByName("TIPO").AsString();
        p.stato = plan.FieldByName("STATO").AsString();
        p.versionText = plan.FieldByName("VERSIONE").AsString();
        if (!isBlank(p.versionText)) {
            p.version = TVersione::CreateFromText(trimmed(p.versionText))->AsText();
            p.versionClean = IsCleanVersionText(p.versionText);
        }
        p.separator = plan.FieldByName("SEPARATORE").AsString();
        p.table = plan.FieldByName("NOME_TABELLA").AsString();
        p.file = plan.FieldByName("NOME_FILE").AsString();
        p.emptyTable = plan.FieldByName("SVUOTA_TABELLA").AsString();
        const std::string script = plan.FieldByName("TESTO").AsString();
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
