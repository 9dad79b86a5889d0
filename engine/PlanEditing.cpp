#include "engine/PlanEditing.h"

#include <limits>
#include <vector>

#include "base/Cp1252.h"
#include "engine/PlanValidation.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "plan/MarksJournal.h"
#include "plan/PacketCodec.h"
#include "plan/PlanLayout.h"

namespace tarvolen {
namespace {

bool isAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

std::string withCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

void requireIdInRange(int64_t id) {
    if (id < std::numeric_limits<int32_t>::min() || id > std::numeric_limits<int32_t>::max()) {
        throw PlanEditError("ID " + std::to_string(id) +
                            " does not fit the plan's ID field (a 32-bit integer)");
    }
}

// The visible rows whose ID is `id`, by their place in ID order.
std::vector<int> rowsWithId(TClientDataSet& plan, int64_t id) {
    std::vector<int> rows;
    int row = 0;
    for (plan.First(); !plan.Eof(); plan.Next()) {
        const TField& field = plan.FieldByName(planfield::kId);
        if (!field.IsNull() && field.AsInteger() == id) rows.push_back(row);
        ++row;
    }
    return rows;
}

// Makes the one phase with this ID the current row; refuses an ID no phase or several have.
void moveToPhase(TClientDataSet& plan, int64_t id) {
    const std::vector<int> rows = rowsWithId(plan, id);
    if (rows.empty()) throw PlanEditError("no phase has ID " + std::to_string(id));
    if (rows.size() > 1) {
        throw PlanEditError("ID " + std::to_string(id) + " is shared by " +
                            std::to_string(rows.size()) +
                            " phases: give each its own ID first (in the maintenance window)");
    }
    plan.MoveTo(rows.front());
}

// Sets a string field, refusing a text its field would cut.
void setText(TClientDataSet& plan, const char* name, const std::string& value) {
    TField& field = plan.FieldByName(name);
    if (field.Size() > 0 && value.size() > static_cast<size_t>(field.Size())) {
        throw PlanEditError(std::string(name) + " '" + value + "' is longer than the " +
                            std::to_string(field.Size()) + " characters the field holds");
    }
    if (value.empty()) {
        field.Clear();
    } else {
        field.SetAsString(value);
    }
}

// Inserts a phase whose type-specific fields `fill` sets, after the checks every new phase
// passes; posts it only when the row is free of problems.
template <typename Fill>
void addPhase(TClientDataSet& plan, int64_t id, const std::string& version, const Fill& fill) {
    requireIdInRange(id);
    if (!rowsWithId(plan, id).empty())
        throw PlanEditError("the plan has a phase with ID " + std::to_string(id) + " already");
    plan.Insert();
    try {
        plan.FieldByName(planfield::kId).SetAsInteger(id);
        plan.FieldByName(planfield::kOrdine).SetAsInteger(id);
        setText(plan, planfield::kStato, "N");
        setText(plan, planfield::kVersione, version);
        fill();
        std::vector<PlanProblem> problems = ValidateCurrentPhase(plan, plan.RecordCount() + 1);
        // A plan may hold a blank version (never skipped, never raising the database's), but a
        // new phase states the version it brings.
        if (version.empty())
            problems.insert(problems.begin(), {0, id, planfield::kVersione, "no version"});
        if (!problems.empty()) {
            std::string message = "phase " + std::to_string(id) + " not added:";
            for (const PlanProblem& p : problems) message += "\n  " + p.field + ": " + p.message;
            throw PlanEditError(message);
        }
        plan.Post();
    } catch (...) {
        plan.Cancel();
        throw;
    }
}

}  // namespace

std::string ScriptTextFromFile(const std::string& path) {
    std::string text = readWholeFile(path);
    if (!isAscii(text) && cp1252::isValidUtf8(text)) {
        constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
        if (text.starts_with(kByteOrderMark)) text.erase(0, kByteOrderMark.size());
        std::string converted = cp1252::fromUtf8(text);
        if (cp1252::toUtf8(converted) != text) {
            throw PlanEditError("the script \"" + fullPath(path) +
                                "\" holds characters that Windows-1252 text cannot hold");
        }
        text = std::move(converted);
    }
    return withCrLf(text);
}

void AddScriptPhase(TClientDataSet& plan, const ScriptPhaseSpec& phase) {
    addPhase(plan, phase.id, phase.version, [&] {
        setText(plan, planfield::kTipo, "S");
        setText(plan, planfield::kSeparatore, phase.separator);
        plan.FieldByName(planfield::kTesto).SetAsString(phase.script);
    });
}

void AddImportPhase(TClientDataSet& plan, const ImportPhaseSpec& phase) {
    addPhase(plan, phase.id, phase.version, [&] {
        setText(plan, planfield::kTipo, "I");
        setText(plan, planfield::kNomeTabella, phase.table);
        setText(plan, planfield::kNomeFile, phase.file);
        setText(plan, planfield::kSvuotaTabella, phase.emptyTable ? "S" : "N");
    });
}

void MarkPhase(TClientDataSet& plan, int64_t id, std::string_view stato) {
    if (stato != "S" && stato != "N") {
        throw PlanEditError("a phase is marked S (done) or N (to run), not '" + std::string(stato) +
                            "'");
    }
    moveToPhase(plan, id);
    plan.Edit();
    try {
        plan.FieldByName(planfield::kStato).SetAsString(stato);
        plan.Post();
    } catch (...) {
        plan.Cancel();
        throw;
    }
}

void RemovePhase(TClientDataSet& plan, int64_t id) {
    moveToPhase(plan, id);
    plan.Delete();
}

void CreatePlanFile(const std::string& path) {
    const PlanLock lock(path);
    if (fileExists(path))
        throw PlanEditError("the plan file \"" + fullPath(path) + "\" exists already");
    writeFileAtomically(path, encodeXmlPacket(emptyPlanPacket()));
}

void OpenPlanFile(TClientDataSet& plan, const std::string& path) {
    configurePlanTable(plan);
    plan.SetFileName("");  // read only: never written back
    plan.LoadFile(path);
    // The marks a killed run left in its journal are part of the plan as the next run sees it.
    ApplyJournalledMarks(plan, MarksJournal(path));
}

PlanFileEditor::PlanFileEditor(std::string path) {
    configurePlanTable(m_plan);
    m_plan.SetFileName(std::move(path));
    m_hold.emplace(SharedPlanOf(m_plan).hold());
    // Read as the plan's own file: with the marks a killed run left in its journal.
    m_plan.LoadFile(m_plan.FileName());
}

PlanFileEditor::~PlanFileEditor() {
    // A change that Save did not write (a refused one, a failed write) is not written now.
    m_plan.SetFileName("");
    m_hold.reset();
}

void PlanFileEditor::Save() {
    // Through the plan's merge: with the lock held since the read, the file is as it was read,
    // and the journal the read applied is dropped once the plan holds its marks.
    m_plan.SaveFile({}, TClientDataSet::Format::Xml);
}

}  // namespace tarvolen
