#pragma once
// The plan table's declared settings: file, order and its ten field objects.

#include "plan/ClientDataSet.h"
#include "plan/DataPacket.h"

namespace tarvolen {

// The plan file, relative to the current directory at each use.
inline constexpr const char* kPlanFileName = "./dbquery.xml";

// Sets FileName, the ID order and the ten plan field objects (VERSIONE's object is 15 long
// although the file declares 20). Every write of the plan keeps the replaced file as
// "<plan>.bak", and every read and write of the table's own file goes through a
// SharedPlanFile (SharedPlanOf), so that programs sharing the plan never undo each other's work.
void configurePlanTable(TClientDataSet& cdsQuery);
// The ID order and the ten plan field objects alone: a table holding a plan read from a file,
// with no file of its own.
void configurePlanFields(TClientDataSet& plan);

// Checks every row of the plan table against the rules a post of it would apply: the plan's
// required ID, and every field the file marks as required, none of them empty. A row that breaks
// them would run its phase and then fail on its done-mark. Leaves the table on its first row.
// Throws EDBClient naming the first such row by its place in ID order, and the field:
// "cdsQuery: row 3 (ID 12), field VERSIONE: Field value required."
void CheckPlanRows(TClientDataSet& cdsQuery);

// The plan file's layout with no rows: the ten fields as a plan file declares them.
DataPacket emptyPlanPacket();

}  // namespace tarvolen
