#pragma once
// The runs of a plan as their kept logs tell them (RunLog.h): when each ran, who ran it, on
// which alias, the version before and after, the phases it ran, the statements that failed,
// the backup it took and how it ended.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvolen {

struct RunRecord {
    std::string logFile;
    std::string started;  // "2026-05-02 14:03:07", the time of the log's first line
    std::string program;  // "tarvolen-run", "tarvolen" (the window)
    std::string osUser;
    std::string databaseUser;
    std::string alias;
    std::string versionBefore;       // empty when the run ended before reading it
    std::string versionAfter;        // empty when the walk did not reach its end
    std::vector<int64_t> phasesRun;  // the phases that started, in the order they ran
    size_t failedStatements = 0;
    size_t failedImports = 0;
    std::string backup;             // the backup file the run took; empty for none
    std::optional<int> exitStatus;  // none when the log ends before the run did (a kill)
};

// Reads one kept log. Lines it does not know are passed over.
RunRecord ParseRunLog(std::string_view text);

// The runs whose logs are in "log" beside the plan file, oldest first (by the time of each
// log's first line, to the millisecond). No folder, no runs. Throws EFOpenError for a log
// that cannot be read.
std::vector<RunRecord> ReadRunHistory(const std::string& planFile);

}  // namespace tarvolen
