#pragma once
// What each phase of a plan is, in a form to list: the stored texts, and the version as a run
// reads it beside the text it is read from.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "plan/ClientDataSet.h"

namespace tarvolen {

struct PhaseSummary {
    std::optional<int64_t> id;
    std::string tipo;          // "S" script, "I" import, anything else as stored
    std::string stato;         // "S" done; anything else is due
    std::string versionText;   // VERSIONE as stored
    std::string version;       // as a run reads it (blanks trimmed); empty when VERSIONE is blank
    bool versionClean = true;  // the text is exactly a.b.c.d, read as written
    std::string separator;
    std::string table;
    std::string file;
    std::string emptyTable;  // SVUOTA_TABELLA as stored
    std::string firstLine;   // the script's first line that is not blank, without its blanks
    size_t scriptLines = 0;  // lines of the script as a run cuts them
};

// One summary per phase, in ID order. Leaves the table on its first row.
std::vector<PhaseSummary> SummarizePlan(TClientDataSet& plan);

}  // namespace tarvolen
