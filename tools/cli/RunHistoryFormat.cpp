#include "tools/cli/RunHistoryFormat.h"

#include "tools/cli/TextTable.h"

namespace tarvolen::cli {
namespace {

std::string orDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

std::string phasesColumn(const std::vector<int64_t>& phases) {
    std::string text;
    for (const int64_t id : phases) text += (text.empty() ? "" : ",") + std::to_string(id);
    return orDash(text);
}

std::string failedColumn(const RunRecord& run) {
    std::string text = std::to_string(run.failedStatements);
    if (run.failedImports > 0)
        text += " +" + std::to_string(run.failedImports) +
                (run.failedImports == 1 ? " import" : " imports");
    return text;
}

}  // namespace

std::string RunHistoryText(const std::vector<RunRecord>& runs) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"STARTED", "PROGRAM", "OS USER", "DB USER", "ALIAS", "BEFORE", "AFTER",
                    "PHASES RUN", "FAILED", "EXIT", "BACKUP"});
    for (const RunRecord& run : runs) {
        rows.push_back({orDash(run.started), orDash(run.program), orDash(run.osUser),
                        orDash(run.databaseUser), orDash(run.alias), orDash(run.versionBefore),
                        orDash(run.versionAfter), phasesColumn(run.phasesRun), failedColumn(run),
                        run.exitStatus ? std::to_string(*run.exitStatus) : "-",
                        orDash(run.backup)});
    }
    return AlignedTable(rows);
}

}  // namespace tarvolen::cli
