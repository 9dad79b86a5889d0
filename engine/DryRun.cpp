#include "engine/DryRun.h"

#include <stdexcept>

#include "db/DatabaseError.h"
#include "engine/ImportColumns.h"
#include "engine/ImportFile.h"
#include "engine/ScriptSplitter.h"
#include "engine/dm_main.h"
#include "plan/PlanLayout.h"

namespace tarvolen {
namespace {

PhasePreview::Script previewScript(TClientDataSet& plan, const std::string& charset) {
    const ScriptOutline outline =
        OutlineScript(plan.FieldByName(planfield::kTesto).AsString(),
                      plan.FieldByName(planfield::kSeparatore).AsString(), charset);
    PhasePreview::Script script;
    script.statementCount = outline.statementCount;
    script.unclosedComment = outline.open == ScriptSplitter::OpenAtEnd::Comment;
    script.unclosedLiteral = outline.open == ScriptSplitter::OpenAtEnd::Literal;
    script.textAfterLastSeparator = outline.open == ScriptSplitter::OpenAtEnd::Nothing &&
                                    HasSqlText(outline.textAfterLastSeparator);
    script.textAfterNul = HasSqlText(outline.textAfterNul);
    return script;
}

PhasePreview::Import previewImport(TClientDataSet& plan, database::Connection& connection) {
    PhasePreview::Import import;
    import.tableName = plan.FieldByName(planfield::kNomeTabella).AsString();
    import.fileName = plan.FieldByName(planfield::kNomeFile).AsString();
    // A reader of its own: the data module's import reader is left as the last run left it.
    TClientDataSet reader("cds");
    try {
        const std::optional<TextEncodingNote> encoding = LoadImportFile(reader, import.fileName);
        import.rowCount = reader.RecordCount();
        if (encoding && encoding->beyondAscii) {
            const ImportEncodingText read = DescribeImportEncoding(*encoding);
            import.encoding = read.encoding + (read.reason.empty() ? "" : ": " + read.reason);
        }
    } catch (const std::runtime_error& e) {
        // The run would log this same failure and leave the phase due.
        import.loadError = e.what();
        return import;
    }
    std::vector<std::string> columns;
    try {
        if (import.tableName.empty()) throw database::DatabaseError("No table name given");
        for (const auto& column : connection.columns(import.tableName))
            columns.push_back(column.name);
    } catch (const database::DatabaseError& e) {
        import.tableError = e.what();  // the run fails on it before any mapping
        return import;
    }
    std::vector<std::string> fields;
    for (const auto& field : reader.Packet().fields) fields.push_back(field.name);
    const ColumnMapping mapping = MapImportColumns(fields, columns);
    import.mappingNote = MappingNote(mapping);
    for (size_t field : mapping.fieldOf)
        import.columnWithoutField = import.columnWithoutField || field >= fields.size();
    return import;
}

}  // namespace

DryRunReport DryRun(TdmMain& dm) {
    CheckPlanRows(dm.cdsQuery());
    dm.ApplyMarksJournal();  // as the run would, before it decides anything
    DryRunReport report;
    report.startVersion.Assign(*dm.ReadDatabaseVersion());
    TClientDataSet& plan = dm.cdsQuery();
    for (plan.First(); !plan.Eof(); plan.Next()) {
        PhasePreview phase;
        phase.id = plan.FieldByName(planfield::kId).AsInteger();
        phase.decision = DecideCurrentPhase(plan, report.startVersion);
        switch (phase.decision) {
            case PhaseDecision::Script:
                phase.script = previewScript(plan, dm.dbsagg().characterSet());
                break;
            case PhaseDecision::Import:
                phase.import = previewImport(plan, dm.dbsagg());
                break;
            case PhaseDecision::NoAction:
                phase.tipo = plan.FieldByName(planfield::kTipo).AsString();
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
                if (phase.script.unclosedComment)
                    line += " (COMMENTO NON CHIUSO: TESTO NON ESEGUITO)";
                if (phase.script.unclosedLiteral)
                    line += " (STRINGA NON CHIUSA: TESTO NON ESEGUITO)";
                if (phase.script.textAfterNul)
                    line += " (TESTO DOPO UN CARATTERE NUL NON ESEGUITO)";
                break;
            case PhaseDecision::Import:
                line += "IMPORT TABELLA " + phase.import.tableName + " DAL FILE " +
                        phase.import.fileName + " DA ESEGUIRE: ";
                line += phase.import.rowCount ? std::to_string(*phase.import.rowCount) + " RIGHE"
                                              : "FILE NON LEGGIBILE: " + phase.import.loadError;
                if (!phase.import.encoding.empty())
                    line += " (TESTO LETTO COME " + phase.import.encoding + ")";
                if (!phase.import.tableError.empty())
                    line += " (TABELLA NON UTILIZZABILE: " + phase.import.tableError + ")";
                if (!phase.import.mappingNote.empty())
                    line += " (" + phase.import.mappingNote + ")";
                break;
            case PhaseDecision::NoAction:
                line += "NESSUNA AZIONE (TIPO '" + phase.tipo + "').";
                break;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

bool DryRunFoundErrors(const DryRunReport& report) {
    for (const PhasePreview& phase : report.phases) {
        if (phase.decision == PhaseDecision::Script) {
            const PhasePreview::Script& s = phase.script;
            if (s.textAfterLastSeparator || s.unclosedComment || s.unclosedLiteral ||
                s.textAfterNul)
                return true;
        } else if (phase.decision == PhaseDecision::Import) {
            const PhasePreview::Import& i = phase.import;
            if (!i.rowCount || !i.tableError.empty() || (i.columnWithoutField && *i.rowCount > 0))
                return true;
        }
    }
    return false;
}

}  // namespace tarvolen
