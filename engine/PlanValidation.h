#pragma once
// Finding, before a run, what would make the run do something other than the plan's author
// meant: rows that break the field rules, scripts whose text never reaches the database,
// versions that do not read as written or do not rise, data files that cannot be read, and,
// against a database, import tables and the version table that are not as the plan needs them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "plan/ClientDataSet.h"

namespace tarvolen {

namespace database {
class Connection;
}

// One problem, named by the plan row and field it is found in.
struct PlanProblem {
    int row = 0;                // 1-based place in ID order; 0 for the database as a whole
    std::optional<int64_t> id;  // the row's ID, when it has one
    std::string field;          // the plan field at fault, or the database table for row 0
    std::string message;
};

// "row 2 (ID 20), field VERSIONE: <message>"; "database, table SYSDBVER: <message>".
std::string ProblemText(const PlanProblem& problem);

// Every problem of the plan on its own, in ID order, then those between rows (shared IDs,
// versions that do not rise). Phases marked done are not run again, so their scripts and data
// files are not examined; their fields and versions are. Data files are looked up as a run looks
// them up, from the current directory, and read as an import reads them. `notes`, when given,
// receives what is worth knowing and no problem: how each XML data file's text beyond ASCII is
// read. Leaves the table on its first row.
// REQUIRES: `plan` open with the plan's field objects (configurePlanTable).
std::vector<PlanProblem> ValidatePlan(TClientDataSet& plan,
                                      std::vector<PlanProblem>* notes = nullptr);

// The problems of the current row taken alone (fields, TIPO, script, data file, version
// format), as ValidatePlan finds them for that row. `row` is its 1-based place in ID order.
// Works on the pending values while the row is being inserted or edited.
std::vector<PlanProblem> ValidateCurrentPhase(TClientDataSet& plan, int row,
                                              std::vector<PlanProblem>* notes = nullptr);

// What the database lacks for the plan: the version table SYSDBVER and its columns, and for
// each import phase not yet done, its table, and columns that differ from its data file's fields
// as a run maps them (MapImportColumns; a data file that cannot be read is left to
// ValidatePlan). A table that a script phase still
// due before the import creates or alters (CREATE, RECREATE or ALTER TABLE in its text) is not
// checked: the run finds it changed. Reads the catalogue only. Leaves the table on its first row.
std::vector<PlanProblem> ValidateAgainstDatabase(TClientDataSet& plan,
                                                 database::Connection& connection);

}  // namespace tarvolen
