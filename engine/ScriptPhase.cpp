// Script phases: TdmMain::RunScriptPhase and the statements it hands to the database.

#include "base/Text.h"
#include "db/DatabaseError.h"
#include "engine/BatchStopped.h"
#include "engine/EngineHost.h"
#include "engine/ScriptSplitter.h"
#include "engine/StopLines.h"
#include "engine/dm_main.h"
#include "plan/Errors.h"

namespace tarvolen {

std::string TdmMain::StripComments(std::string_view text) const {
    return tarvolen::StripComments(text);
}

size_t TdmMain::FindSeparator(std::string_view line, size_t offset) const {
    return tarvolen::FindSeparator(line, Separator, offset);
}

bool TdmMain::RunScriptPhase(TVersione& reachedVersion) {
    const std::string id = PhaseId();
    Log("FASE " + id + " SCRIPT IN ESECUZIONE.");
    try {
        Separator = cdsQuery.FieldByName("SEPARATORE").AsString();
    } catch (const EDatabaseError&) {
        // Without a separator nothing of the script can be run: the batch stops here.
        if (m_host != nullptr) {
            m_host->showMessage("Non \xE8 possibile eseguire lo script.", "Errore batch",
                                MessageIcon::Error);
        }
        return false;
    }

    m_scriptText = cdsQuery.FieldByName("TESTO").AsString();
    ScriptLines = SplitScriptLines(m_scriptText);
    StatementLines.clear();
    const std::string version = cdsQuery.FieldByName("VERSIONE").AsString();
    const bool hasVersion = !isBlank(version);
    const std::string charset = dbsagg.characterSet();

    const size_t failedBefore = FailedStatements;
    size_t statement = 0;  // statements handed over so far
    size_t line = 0;       // lines read so far
    const auto stop = [&](BatchStopped::Reason reason, size_t at, std::string_view cause) {
        return BatchStopped(reason, ScriptStopLine(id, at, line, cause));
    };
    ScriptSplitter splitter(Separator);
    const auto onStatement = [&](std::vector<std::string_view>&) {
        ++statement;
        if (StopRequested())
            throw stop(BatchStopped::Reason::StopRequested, statement, kStopRequestedCause);
        // isql's own commands have nothing to do here; neither is a statement that succeeded.
        if (IsClientOnlyStatement(StatementText(StatementLines), charset)) return;
        try {
            ExecuteStatement();
        } catch (const database::ConnectionLost& e) {
            throw stop(BatchStopped::Reason::ConnectionLost, statement, ConnectionLostCause(e));
        } catch (const database::DatabaseError&) {
            // Already logged; the script goes on with its next statement unless told to stop.
            if (StopOnError)
                throw stop(BatchStopped::Reason::StatementFailed, statement, kStatementFailedCause);
            return;
        }
        // Only statements that succeed raise the version; it never goes down.
        if (hasVersion && reachedVersion.CompareToText(version) < 0) reachedVersion.Parse(version);
    };
    m_progress.unit = RunProgress::Unit::Lines;
    m_progress.done = 0;
    m_progress.total = ScriptLines.size();
    for (std::string_view text : ScriptLines) {
        Pump();
        ++m_progress.done;
        ++line;
        if (StopRequested())
            throw stop(BatchStopped::Reason::StopRequested, statement + 1, kStopRequestedCause);
        splitter.WalkLine(text, StatementLines, onStatement);
    }

    // What never reaches the database is said, unless it is only comments: the text after the
    // last separator, all of it when a comment or literal is never closed, and whatever follows
    // a NUL, where the script's text ends.
    const ScriptSplitter::OpenAtEnd open = splitter.Open();
    if (!StatementLines.empty() || open != ScriptSplitter::OpenAtEnd::Nothing) {
        const std::string rest = StatementText(StatementLines);
        StatementLines.clear();
        if (open == ScriptSplitter::OpenAtEnd::Comment) {
            BatchHasErrors = true;
            LogError("Commento non chiuso alla fine dello script: testo non eseguito", rest);
        } else if (open == ScriptSplitter::OpenAtEnd::Literal) {
            BatchHasErrors = true;
            LogError("Stringa non chiusa alla fine dello script: testo non eseguito", rest);
        } else if (HasSqlText(rest)) {
            BatchHasErrors = true;
            LogError("Testo dopo l'ultimo separatore non eseguito", rest);
        }
    }
    const std::string afterNul = TextAfterNul(m_scriptText);
    if (HasSqlText(afterNul)) {
        BatchHasErrors = true;
        LogError("Testo dopo un carattere NUL non eseguito", afterNul);
    }
    Log("FASE " + id + " TERMINATA.");
    // What to do about it is the operator's choice: the phase will not run again by itself.
    if (const size_t failed = FailedStatements - failedBefore; failed > 0) {
        FailedPhases.push_back({cdsQuery.FieldByName("ID").AsInteger(), failed, false});
        Log("FASE " + id + ": " + std::to_string(failed) +
            (failed == 1 ? " ISTRUZIONE FALLITA" : " ISTRUZIONI FALLITE") +
            "; LA FASE E' CONSIDERATA ESEGUITA E NON VERRA' RIPETUTA.");
    }
    return true;
}

void TdmMain::ExecuteStatement() {
    if (StatementLines.empty()) return;
    const std::string sql = StripComments(StatementText(StatementLines)) + "\r\n";
    Query.close();
    Query.setSql(sql);
    try {
        dbsagg.startTransaction();
        Query.execSql();
        dbsagg.commit();
    } catch (const database::ConnectionLost&) {
        RollbackQuietly();  // no failure of the statement: the walk ends, and says so itself
        throw;
    } catch (const database::DatabaseError& e) {
        BatchHasErrors = true;
        ++FailedStatements;
        LogError(e.what(), Query.sql());
        RollbackQuietly();
        throw;
    } catch (...) {
        RollbackQuietly();  // no statement may run on in this one's transaction
        throw;
    }
}

}  // namespace tarvolen
