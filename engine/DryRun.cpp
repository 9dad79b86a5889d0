#include "engine/DryRun.h"

#include <stdexcept>

#include "engine/ImportFile.h"
#include "engine/ScriptSplitter.h"
#include "engine/dm_main.h"

namespace tarvolen {
namespace {

PhasePreview::Script previewScript(TClientDataSet& plan) {
    const ScriptOutline outline = OutlineScript(plan.FieldByName("TESTO").AsString(),
                                                plan.FieldByName("SEPARATORE").AsString());
    return {outline.statementCount, HasSqlText(outline.textAfterLastSeparator)};
}

PhasePreview::Import previewImport(TClientDataSet& plan) {
    PhasePreview::Import import;
    import.tableName = plan.FieldByName("NOME_TABELLA").AsString();
    import.fileName = plan.FieldByName("NOME_FILE").AsString();
    // A reader of its own: the data module's import reader is left as the last run left it.
    TClientDataSet reader("cds");
    try {
        LoadImportFile(reader, import.fileName);
        import.rowCount = reader.RecordCount();
    } catch (const std::runtime_error& e) {
        // The run would log this same failure and leave the phase due.
        import.loadError = e.what();
    }
    return import;
}

}  // namespace

DryRunReport DryRun(TdmMain& dm) {
    DryRunReport report;
    report.startVersion.Assign(*dm.ReadDatabaseVersion());
    TClientDataSet& plan = dm.cdsQuery;
    for (plan.First(); !plan.Eof(); plan.Next()) {
        PhasePreview phase;
        phase.id = plan.FieldByName("ID").AsInteger();
        phase.decision = DecideCurrentPhase(plan, report.startVersion);
        switch (phase.decision) {
            case PhaseDecision::Script:
                phase.script = previewScript(plan);
                break;
            case PhaseDecision::Import:
                phase.import = previewImport(plan);
                break;
            case PhaseDecision::NoAction:
                phase.tipo = plan.FieldByName("TIPO").AsString();
                break;
            case PhaseDecision::AlreadyDone:
            case PhaseDecision::SkippedForVersion:
                break;
        }
        report.phases.push_back(std::move(phase));
    }
    return report;
}

std::vector<std::string> DryRunLogLines(const DryRunReport& report) {
    std::vector<std::string> lines;
    lines.reserve(report.phases.size() + 1);
    lines.push_back("Versione del DB: " + report.startVersion.AsText());
    for (const PhasePreview& phase : report.phases) {
        const std::string id = std::to_string(phase.id);
        std::string line = "FASE " + id + " ";
        switch (phase.decision) {
            case PhaseDecision::AlreadyDone:
            case PhaseDecision::SkippedForVersion:
                line = PassedOverLogLine(id, phase.decision);
                break;
            case PhaseDecision::Script:
                line += "SCRIPT DA ESEGUIRE: " + std::to_string(phase.script.statementCount) +
                        " ISTRUZIONI";
                if (phase.script.textAfterLastSeparator)
                    line += " (TESTO DOPO L'ULTIMO SEPARATORE NON ESEGUITO)";
                break;
            case PhaseDecision::Import:
                line += "IMPORT TABELLA " + phase.import.tableName + " DAL FILE " +
                        phase.import.fileName + " DA ESEGUIRE: ";
                line += phase.import.rowCount ? std::to_string(*phase.import.rowCount) + " RIGHE"
                                              : "FILE NON LEGGIBILE: " + phase.import.loadError;
                break;
            case PhaseDecision::NoAction:
                line += "NESSUNA AZIONE (TIPO '" + phase.tipo + "').";
                break;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace tarvolen
