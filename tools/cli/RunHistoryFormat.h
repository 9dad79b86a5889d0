#pragma once
// The runs of a plan as `tarvolen-plan history` prints them: one line per run, oldest first.

#include <string>
#include <vector>

#include "engine/RunHistory.h"

namespace tarvolen::cli {

// Columns: when the run began, the program (tarvolen-run, or tarvolen for the window), the
// system and database users, the alias, the version before and after, the phases it ran, the
// statements (and imports) that failed, the exit status ("-" for a run whose log ends before it
// did: killed, or still running) and the backup it took ("-" for none). A value not in the log
// shows as "-". Text as the logs hold it (UTF-8).
std::string RunHistoryText(const std::vector<RunRecord>& runs);

}  // namespace tarvolen::cli
