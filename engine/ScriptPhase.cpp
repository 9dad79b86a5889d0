// Script phases: TdmMain::RunScriptPhase and the statements it hands to the database.

#include "base/Text.h"
#include "db/DatabaseError.h"
#include "engine/BatchStopped.h"
#include "engine/EngineHost.h"
#include "engine/ScriptSplitter.h"
#include "engine/StopLines.h"
#include "engine/dm_main.h"
#include "plan/Errors.h"
#include "plan/PlanLayout.h"

namespace tarvolen {

// What a statement of the running script needs besides its lines.
struct TdmMain::ScriptPhase {
    std::string id;
    std::string version;  // VERSIONE as stored: the reached version rises to it
    bool hasVersion = false;
    std::string charset;   // the connection's, for isql's SET NAMES
    size_t statement = 0;  // statements handed over so far
    size_t line = 0;       // lines read so far

    BatchStopped stop(BatchStopped::Reason reason, size_t at, std::string_view cause) const {
        return BatchStopped(reason, ScriptStopLine(id, at, line, cause));
    }
};

bool TdmMain::RunScriptPhase(BatchRun& run) {
    ScriptPhase phase;
    phase.id = PhaseId();
    Log("FASE " + phase.id + " SCRIPT IN ESECUZIONE.");
    try {
        run.Separator = m_cdsQuery.FieldByName(planfield::kSeparatore).AsString();
    } catch (const EDatabaseError&) {
        // Without a separator nothing of the script can be run: the batch stops here.
        if (m_host != nullptr) {
            m_host->showMessage("Non \xE8 possibile eseguire lo script.", "Errore batch",
                                MessageIcon::Error);
        }
        return false;
    }

    run.scriptText = m_cdsQuery.FieldByName(planfield::kTesto).AsString();
    run.ScriptLines = SplitScriptLines(run.scriptText);
    run.StatementLines.clear();
    phase.version = m_cdsQuery.FieldByName(planfield::kVersione).AsString();
    phase.hasVersion = !isBlank(phase.version);
    phase.charset = m_dbsagg.characterSet();

    const size_t failedBefore = run.summary.failedStatements;
    ScriptSplitter splitter(run.Separator);
    const auto onStatement = [&](std::vector<std::string_view>& lines) {
        ++phase.statement;
        RunStatement(run, phase, lines);
    };
    RunProgress& progress = run.progress;
    progress.unit = RunProgress::Unit::Lines;
    progress.done = 0;
    progress.total = run.ScriptLines.size();
    for (std::string_view text : run.ScriptLines) {
        Pump(progress);
        ++progress.done;
        ++phase.line;
        if (StopRequested()) {
            throw phase.stop(BatchStopped::Reason::StopRequested, phase.statement + 1,
                             kStopRequestedCause);
        }
        splitter.WalkLine(text, run.StatementLines, onStatement);
    }
    LogUnrunText(run, splitter);
    Log("FASE " + phase.id + " TERMINATA.");
    // What to do about it is the operator's choice: the phase will not run again by itself.
    if (const size_t failed = run.summary.failedStatements - failedBefore; failed > 0) {
        run.summary.failedPhases.push_back(
            {m_cdsQuery.FieldByName(planfield::kId).AsInteger(), failed, false});
        Log("FASE " + phase.id + ": " + std::to_string(failed) +
            (failed == 1 ? " ISTRUZIONE FALLITA" : " ISTRUZIONI FALLITE") +
            "; LA FASE E' CONSIDERATA ESEGUITA E NON VERRA' RIPETUTA.");
    }
    return true;
}

void TdmMain::RunStatement(BatchRun& run, const ScriptPhase& phase,
                           const std::vector<std::string_view>& lines) {
    if (StopRequested())
        throw phase.stop(BatchStopped::Reason::StopRequested, phase.statement, kStopRequestedCause);
    // isql's own commands have nothing to do here; neither is a statement that succeeded.
    if (IsClientOnlyStatement(StatementText(lines), phase.charset)) return;
    try {
        ExecuteStatement(lines, run);
    } catch (const database::ConnectionLost& e) {
        throw phase.stop(BatchStopped::Reason::ConnectionLost, phase.statement,
                         ConnectionLostCause(e));
    } catch (const database::DatabaseError&) {
        // Already logged; the script goes on with its next statement unless told to stop.
        if (StopOnError) {
            throw phase.stop(BatchStopped::Reason::StatementFailed, phase.statement,
                             kStatementFailedCause);
        }
        return;
    }
    // Only statements that succeed raise the version; it never goes down.
    if (phase.hasVersion && run.ReachedVersion.CompareToText(phase.version) < 0)
        run.ReachedVersion.Parse(phase.version);
}

void TdmMain::LogUnrunText(BatchRun& run, const ScriptSplitter& splitter) {
    // What never reaches the database is said, unless it is only comments: the text after the
    // last separator, all of it when a comment or literal is never closed, and whatever follows
    // a NUL, where the script's text ends.
    const auto failure = [&](std::string_view message, std::string_view text) {
        run.summary.BatchHasErrors = true;
        LogError(message, text);
    };
    const ScriptSplitter::OpenAtEnd open = splitter.Open();
    if (!run.StatementLines.empty() || open != ScriptSplitter::OpenAtEnd::Nothing) {
        const std::string rest = StatementText(run.StatementLines);
        run.StatementLines.clear();
        if (open == ScriptSplitter::OpenAtEnd::Comment) {
            failure("Commento non chiuso alla fine dello script: testo non eseguito", rest);
        } else if (open == ScriptSplitter::OpenAtEnd::Literal) {
            failure("Stringa non chiusa alla fine dello script: testo non eseguito", rest);
        } else if (HasSqlText(rest)) {
            failure("Testo dopo l'ultimo separatore non eseguito", rest);
        }
    }
    const std::string afterNul = TextAfterNul(run.scriptText);
    if (HasSqlText(afterNul)) failure("Testo dopo un carattere NUL non eseguito", afterNul);
}

void TdmMain::ExecuteStatement(const std::vector<std::string_view>& statement, BatchRun& run) {
    if (statement.empty()) return;
    const std::string sql = StripComments(StatementText(statement)) + "\r\n";
    m_statementQuery.close();
    m_statementQuery.setSql(sql);
    try {
        m_dbsagg.startTransaction();
        m_statementQuery.execSql();
        m_dbsagg.commit();
    } catch (const database::ConnectionLost&) {
        RollbackQuietly();  // no failure of the statement: the walk ends, and says so itself
        throw;
    } catch (const database::DatabaseError& e) {
        run.summary.BatchHasErrors = true;
        ++run.summary.failedStatements;
        LogError(e.what(), m_statementQuery.sql());
        RollbackQuietly();
        throw;
    } catch (...) {
        RollbackQuietly();  // no statement may run on in this one's transaction
        throw;
    }
}

}  // namespace tarvolen
