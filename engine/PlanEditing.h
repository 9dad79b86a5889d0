#pragma once
// Changing a plan from outside the window: a new plan file, phases added, marked and removed.
// Every change goes through the plan table's insert, edit, post and delete, so the plan keeps
// its row versions and change log exactly as an edit in the window keeps them.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "plan/ClientDataSet.h"
#include "plan/PlanLock.h"
#include "plan/SharedPlanFile.h"

namespace tarvolen {

// A change the plan refuses; the message says why, and nothing was changed.
class PlanEditError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct ScriptPhaseSpec {
    int64_t id = 0;
    std::string version;  // a.b.c.d
    std::string script;   // Windows-1252 text, as the plan holds it
    std::string separator = ";";
};

struct ImportPhaseSpec {
    int64_t id = 0;
    std::string version;  // a.b.c.d
    std::string table;
    std::string file;  // as a run opens it: a relative name counts from the run's folder
    bool emptyTable = false;
};

// A script file as a plan holds scripts: Windows-1252 text with CR LF line ends. A file that is
// UTF-8 (with characters beyond ASCII, a leading byte-order mark dropped) is converted; one
// holding a character Windows-1252 lacks is refused with PlanEditError. A lone LF becomes CR LF.
// Throws EFOpenError when the file cannot be read.
std::string ScriptTextFromFile(const std::string& path);

// Adds a phase that is not done (STATO "N", ORDINE = ID) with one insert and post. Refuses with
// PlanEditError, leaving the table as it was: an ID the plan has already, an ID outside 32 bits,
// a value wider than its field, and every problem ValidateCurrentPhase finds in the new row (a
// version that is not a.b.c.d, a script whose text would not run, a data file that cannot be
// read, ...). REQUIRES: `plan` open with the plan's field objects.
void AddScriptPhase(TClientDataSet& plan, const ScriptPhaseSpec& phase);
void AddImportPhase(TClientDataSet& plan, const ImportPhaseSpec& phase);

// Sets STATO of the phase with this ID: "S" done, "N" to run again. Refuses any other mark, an
// ID no phase has and an ID that several phases share.
void MarkPhase(TClientDataSet& plan, int64_t id, std::string_view stato);
// Deletes the phase with this ID; refuses as MarkPhase does.
void RemovePhase(TClientDataSet& plan, int64_t id);

// Writes a plan with the ten plan fields and no rows, as XML, under the plan's lock. Refuses
// with PlanEditError when the file exists already.
void CreatePlanFile(const std::string& path);

// Loads a plan file into a table configured as the plan table, which then never writes itself
// back: for reading only. The marks a killed run left in the plan's journal of done-marks are
// applied, in memory, as a run would apply them. Throws EFOpenError, or the table's decoding and
// binding errors. REQUIRES: `plan` has no field objects yet.
void OpenPlanFile(TClientDataSet& plan, const std::string& path);

// A plan file open for changes: the plan's lock is held from before the file is read until the
// object goes, so no run and no other editor works on the plan meanwhile. Nothing reaches the
// file before Save, and nothing after it unless Save is called again.
class PlanFileEditor {
  public:
    // Throws PlanInUse when another process holds the plan, PlanHardLinked when the file has
    // more than one name, and as OpenPlanFile does.
    explicit PlanFileEditor(std::string path);
    ~PlanFileEditor();
    PlanFileEditor(const PlanFileEditor&) = delete;
    PlanFileEditor& operator=(const PlanFileEditor&) = delete;

    TClientDataSet& plan() { return m_plan; }
    // Writes the whole plan as XML, atomically, keeping the file it replaces as "<plan>.bak",
    // then drops the journal of done-marks whose marks it now holds. Throws EFCreateError; the
    // file is then as it was.
    void Save();

  private:
    TClientDataSet m_plan{"cdsQuery"};
    std::optional<SharedPlanFile::Hold> m_hold;
};

}  // namespace tarvolen
