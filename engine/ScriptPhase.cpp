// Script phases: TdmMain::RunScriptPhase and the statements it hands to the database.

#include "base/Text.h"
#include "db/DatabaseError.h"
#include "engine/EngineHost.h"
#include "engine/ScriptSplitter.h"
#include "engine/dm_main.h"
#include "plan/Errors.h"

namespace tarvolen {
namespace {

// The words of a statement once comments are gone, upper-cased.
std::vector<std::string> sqlWords(std::string_view sql) {
    const std::string text = tarvolen::StripComments(sql);
    std::vector<std::string> words;
    std::string word;
    bool lineComment = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (lineComment) {
            lineComment = c != '\r' && c != '\n';
            continue;
        }
        if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
            lineComment = true;
            continue;
        }
        if (static_cast<unsigned char>(c) <= 32 || c == ';') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

// COMMIT [WORK] [RETAIN [SNAPSHOT]] and ROLLBACK [WORK] [RETAIN], as scripts written for isql
// carry them. Each statement already has a transaction of its own, so these end that
// transaction with nothing in it.
bool isTransactionEnd(std::string_view sql) {
    const std::vector<std::string> w = sqlWords(sql);
    if (w.empty() || (w[0] != "COMMIT" && w[0] != "ROLLBACK")) return false;
    size_t i = 1;
    if (i < w.size() && w[i] == "WORK") ++i;
    if (i < w.size() && w[i] == "RETAIN") {
        ++i;
        if (w[0] == "COMMIT" && i < w.size() && w[i] == "SNAPSHOT") ++i;
    }
    return i == w.size();
}

}  // namespace

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

    ScriptSplitter splitter(Separator);
    const auto onStatement = [&](std::vector<std::string_view>&) {
        try {
            ExecuteStatement();
        } catch (const database::DatabaseError&) {
            return;  // already logged; the script goes on with its next statement
        }
        // Only statements that succeed raise the version; it never goes down.
        if (hasVersion && reachedVersion.CompareToText(version) < 0) reachedVersion.Parse(version);
    };
    m_progress.unit = RunProgress::Unit::Lines;
    m_progress.done = 0;
    m_progress.total = ScriptLines.size();
    for (std::string_view line : ScriptLines) {
        Pump();
        ++m_progress.done;
        splitter.WalkLine(line, StatementLines, onStatement);
    }

    // Text after the last separator never runs; say so unless it is only comments.
    if (!StatementLines.empty()) {
        const std::string rest = StatementText(StatementLines);
        StatementLines.clear();
        if (HasSqlText(rest)) {
            BatchHasErrors = true;
            LogError("Testo dopo l'ultimo separatore non eseguito", rest);
        }
    }
    Log("FASE " + id + " TERMINATA.");
    return true;
}

void TdmMain::ExecuteStatement() {
    if (StatementLines.empty()) return;
    const std::string sql = StripComments(StatementText(StatementLines)) + "\r\n";
    Query.close();
    Query.setSql(sql);
    try {
        dbsagg.startTransaction();
        if (!isTransactionEnd(sql)) Query.execSql();
        dbsagg.commit();
    } catch (const database::DatabaseError& e) {
        BatchHasErrors = true;
        LogError(e.what(), Query.sql());
        RollbackQuietly();
        throw;
    } catch (...) {
        RollbackQuietly();  // no statement may run on in this one's transaction
        throw;
    }
}

}  // namespace tarvolen
