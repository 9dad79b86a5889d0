#pragma once
// The plan table's declared settings: file, order and its ten field objects.

#include "plan/ClientDataSet.h"
#include "plan/DataPacket.h"

namespace tarvolen {

// The plan's fields, by name: every FieldByName on the plan table goes through these, so that a
// misspelt field does not compile.
namespace planfield {
inline constexpr const char* kId = "ID";
inline constexpr const char* kStato = "STATO";
inline constexpr const char* kTipo = "TIPO";
inline constexpr const char* kSeparatore = "SEPARATORE";
inline constexpr const char* kTesto = "TESTO";
inline constexpr const char* kOrdine = "ORDINE";
inline constexpr const char* kNomeTabella = "NOME_TABELLA";
inline constexpr const char* kNomeFile = "NOME_FILE";
inline constexpr const char* kSvuotaTabella = "SVUOTA_TABELLA";
inline constexpr const char* kVersione = "VERSIONE";
}  // namespace planfield

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
