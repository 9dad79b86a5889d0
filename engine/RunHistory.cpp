#include "engine/RunHistory.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

#include "engine/DatabaseBackup.h"
#include "engine/RunLog.h"
#include "plan/FileIO.h"

namespace tarvolen {
namespace {

namespace fs = std::filesystem;

// "2026-05-02 14:03:07.250 " before every line's text.
constexpr size_t kStampLength = 24;

bool startsWith(std::string_view text, std::string_view opening) {
    return text.substr(0, opening.size()) == opening;
}

// The text between `opening` and `closing` (to the end when `closing` is empty).
std::string between(std::string_view text, std::string_view opening, std::string_view closing) {
    const size_t from = text.find(opening);
    if (from == std::string_view::npos) return {};
    text.remove_prefix(from + opening.size());
    if (closing.empty()) return std::string(text);
    return std::string(text.substr(0, text.find(closing)));
}

template <class Number>
bool readNumber(std::string_view text, Number& value) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end != text.data();
}

}  // namespace

RunRecord ParseRunLog(std::string_view text) {
    RunRecord run;
    bool first = true;
    // An error block quotes the database's message and the statement between two dashed lines:
    // their text is no log line of the run's.
    int errorDashes = -1;
    while (!text.empty()) {
        const size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (line.size() < kStampLength || line[4] != '-' || line[10] != ' ') continue;
        if (first) {
            run.started = std::string(line.substr(0, 19));
            first = false;
        }
        line.remove_prefix(kStampLength);
        if (errorDashes >= 0) {
            if (startsWith(line, "-----") && line.find_first_not_of('-') == std::string_view::npos)
                ++errorDashes;
            if (errorDashes == 2) errorDashes = -1;
            continue;
        }
        if (line == "ERRORE:") {
            errorDashes = 0;
        } else if (startsWith(line, "INIZIO: ")) {
            run.program = between(line, "INIZIO: ", ", alias ");
            run.program = run.program.substr(0, run.program.find(' '));
            run.alias = between(line, ", alias ", ", piano ");
        } else if (startsWith(line, "UTENTI: ")) {
            run.osUser = between(line, "UTENTI: sistema ", ", database ");
            run.databaseUser = between(line, ", database ", "");
        } else if (startsWith(line, "Versione del DB PRIMA dell'aggiornamento: ")) {
            run.versionBefore = between(line, ": ", "");
        } else if (startsWith(line, "Versione del DB DOPO l'aggiornamento: ")) {
            run.versionAfter = between(line, ": ", "");
        } else if (startsWith(line, "FASE ") &&
                   (line.ends_with(" SCRIPT IN ESECUZIONE.") ||
                    (line.find(" IMPORT TABELLA ") != std::string_view::npos &&
                     line.ends_with(" IN ESECUZIONE.")))) {
            int64_t id = 0;
            if (readNumber(line.substr(5), id)) run.phasesRun.push_back(id);
        } else if (startsWith(line, kBackupDoneOpening)) {
            line.remove_prefix(kBackupDoneOpening.size());
            run.backup = std::string(line.substr(0, line.rfind(": ")));
        } else if (startsWith(line, "ISTRUZIONI FALLITE: ")) {
            readNumber(line.substr(20), run.failedStatements);
            readNumber(between(line, "IMPORT FALLITI: ", ""), run.failedImports);
        } else if (startsWith(line, "DURATA DELL'ESECUZIONE: ")) {
            int status = 0;
            if (readNumber(between(line, "CODICE DI USCITA ", ""), status)) run.exitStatus = status;
        }
    }
    return run;
}

std::vector<RunRecord> ReadRunHistory(const std::string& planFile) {
    const fs::path folder(RunLogFolder(planFile));
    std::vector<std::string> logs;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.ends_with(".log") && name.front() != '.' && it->is_regular_file())
            logs.push_back(it->path().string());
    }
    std::vector<std::pair<std::string, RunRecord>> runs;  // by the first line's exact time
    for (const std::string& log : logs) {
        const std::string text = readWholeFile(log);
        RunRecord run = ParseRunLog(text);
        run.logFile = log;
        runs.emplace_back(text.substr(0, 23), std::move(run));
    }
    // Two runs in one second are told apart by the milliseconds of their first lines.
    std::sort(runs.begin(), runs.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.logFile < b.second.logFile;
    });
    std::vector<RunRecord> ordered;
    ordered.reserve(runs.size());
    for (auto& run : runs) ordered.push_back(std::move(run.second));
    return ordered;
}

}  // namespace tarvolen
