#pragma once
// A plan's phases as `tarvolen-plan list` prints them: aligned columns for people, JSON for
// programs.

#include <string>
#include <vector>

#include "engine/PlanListing.h"

namespace tarvolen::cli {

// A header and one line per phase: ID, type, done mark, version (as a run reads it, followed by
// the stored text in quotes when that is not exactly a.b.c.d), separator, and the table and file
// of an import or the first line of a script. Columns are padded with blanks; an empty value
// shows as "-". Windows-1252 text, as the plan holds it; each line ends with LF.
std::string PlanListText(const std::vector<PhaseSummary>& phases);

// A JSON array, one object per phase, in UTF-8:
// {"id":10,"type":"script","tipo":"S","stato":"N","done":false,"version":"1.1.0.0",
//  "versionText":"1.1.0.0","versionClean":true,"separator":";","table":"","file":"",
//  "emptyTable":false,"scriptLines":3,"firstLine":"create table ..."}
// "id" is null for a row without ID, "version" null for a blank VERSIONE; "type" is "script",
// "import" or "unknown".
std::string PlanListJson(const std::vector<PhaseSummary>& phases);

}  // namespace tarvolen::cli
