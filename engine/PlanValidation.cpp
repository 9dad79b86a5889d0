#include "engine/PlanValidation.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "base/Cp1252.h"
#include "base/Text.h"
#include "db/Connection.h"
#include "db/DatabaseError.h"
#include "engine/ImportColumns.h"
#include "engine/ImportFile.h"
#include "engine/ScriptSplitter.h"
#include "engine/Versione.h"
#include "plan/DataFileReading.h"
#include "plan/PlanLayout.h"

namespace tarvolen {
namespace {

constexpr const char* kVersionTable = "SYSDBVER";
constexpr const char* kVersionColumns[] = {"MAJOR_VERSION", "MINOR_VERSION", "RELEASE_VERSION",
                                           "BUILD", "APPID"};

// Quoted for a message; control characters are shown by their code, so a NUL or a CR in a
// value cannot break the line the message is printed on.
std::string inQuotes(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 32) {
            out += "\\x";
            constexpr const char* kHex = "0123456789ABCDEF";
            out += kHex[(static_cast<unsigned char>(c) >> 4) & 0xF];
            out += kHex[static_cast<unsigned char>(c) & 0xF];
        } else {
            out += c;
        }
    }
    return out + "'";
}

// The first line of a text that holds SQL, shortened for a message.
std::string firstSqlLine(std::string_view text) {
    for (std::string_view line : SplitScriptLines(text)) {
        const std::string_view t = trimmed(line);
        if (t.empty()) continue;
        return t.size() > 60 ? std::string(t.substr(0, 57)) + "..." : std::string(t);
    }
    return {};
}

bool isEmptyValue(const FieldValue& v) {
    if (isNull(v)) return true;
    if (const auto* s = std::get_if<std::string>(&v)) return s->empty();
    return false;
}

// Gathers the problems of one row under its place and ID.
class RowProblems {
  public:
    RowProblems(TClientDataSet& plan, int row, std::vector<PlanProblem>& out)
        : m_plan(plan), m_row(row), m_out(out) {
        const TField& id = plan.FieldByName(planfield::kId);
        if (!id.IsNull()) m_id = id.AsInteger();
    }
    void add(std::string field, std::string message) {
        m_out.push_back({m_row, m_id, std::move(field), std::move(message)});
    }
    std::string text(const char* field) const { return m_plan.FieldByName(field).AsString(); }

  private:
    TClientDataSet& m_plan;
    int m_row;
    std::optional<int64_t> m_id;
    std::vector<PlanProblem>& m_out;
};

void checkRequiredFields(TClientDataSet& plan, RowProblems& problems) {
    const DataPacket& packet = plan.Packet();
    for (size_t i = 0; i < packet.fields.size(); ++i) {
        const FieldDef& field = packet.fields[i];
        if (!field.required() && field.name != planfield::kId) continue;
        if (isEmptyValue(plan.CurrentValue(i)))
            problems.add(field.name, "no value, although the field is required");
    }
}

void checkFlag(RowProblems& problems, const char* field, const char* meaning) {
    const std::string value = problems.text(field);
    if (value.empty() || value == "S" || value == "N") return;
    problems.add(field, inQuotes(value) + " is neither S nor N: only S " + meaning);
}

void checkScript(RowProblems& problems) {
    const std::string separator = problems.text(planfield::kSeparatore);
    const std::string script = problems.text(planfield::kTesto);
    if (isBlank(WithoutByteOrderMark(script))) {
        problems.add(planfield::kTesto, "the script is empty: the phase runs nothing");
        return;
    }
    if (const size_t nul = script.find('\0'); nul != std::string::npos) {
        problems.add(planfield::kTesto, "the script holds a NUL character at byte " +
                                            std::to_string(nul + 1) +
                                            ": the text after it is never read");
    }
    if (separator.empty()) {
        problems.add(planfield::kSeparatore, "no separator: no statement of the script runs");
        return;
    }
    for (char c : separator) {
        if (cp1252::toUpper(c) != c) {
            problems.add(planfield::kSeparatore,
                         inQuotes(separator) +
                             " holds a lower-case letter: script lines are upper-cased before "
                             "the separator is searched for, so it never matches");
            return;
        }
    }
    if (isBlank(separator)) {
        problems.add(planfield::kSeparatore,
                     "the separator is only blanks: lines are searched without "
                     "their blanks, so it never matches");
        return;
    }

    // Walked as a run walks it, counting every statement a separator completes (isql's own
    // commands included: they show the separator is there).
    ScriptSplitter splitter(separator);
    std::vector<std::string_view> statementLines;
    size_t statements = 0;
    size_t setTerms = 0;
    std::string lastSeparator = separator;
    for (std::string_view line : SplitScriptLines(script)) {
        splitter.WalkLine(line, statementLines,
                          [&](std::vector<std::string_view>&) { ++statements; });
        if (splitter.Separator() != lastSeparator) {
            ++setTerms;
            lastSeparator = splitter.Separator();
        }
    }
    const std::string rest = StatementText(statementLines);
    switch (splitter.Open()) {
        case ScriptSplitter::OpenAtEnd::Comment:
            problems.add(planfield::kTesto, "a comment is never closed: the script's text from \"" +
                                                firstSqlLine(rest) + "\" on never runs");
            return;
        case ScriptSplitter::OpenAtEnd::Literal:
            problems.add(planfield::kTesto,
                         "a quoted string or name is never closed: the script's text "
                         "from \"" +
                             firstSqlLine(rest) + "\" on never runs");
            return;
        case ScriptSplitter::OpenAtEnd::Nothing:
            break;
    }
    if (statements == 0 && setTerms == 0) {
        problems.add(planfield::kTesto,
                     "the separator " + inQuotes(separator) +
                         " never ends a statement in the script: nothing of it runs");
        return;
    }
    if (HasSqlText(rest)) {
        problems.add(planfield::kTesto, "text after the last separator never runs: \"" +
                                            firstSqlLine(rest) + "\" (separator " +
                                            inQuotes(splitter.Separator()) + ")");
    }
}

void checkImport(RowProblems& problems, RowProblems* notes) {
    if (problems.text(planfield::kNomeTabella).empty())
        problems.add(planfield::kNomeTabella, "no table to import into");
    checkFlag(problems, planfield::kSvuotaTabella, "empties the table first");
    TClientDataSet reader("cds");
    try {
        const std::optional<TextEncodingNote> encoding =
            LoadImportFile(reader, problems.text(planfield::kNomeFile));
        if (notes != nullptr && encoding && encoding->beyondAscii) {
            notes->add(planfield::kNomeFile,
                       "the data file's text is read as " + describeTextEncoding(*encoding));
        }
    } catch (const std::runtime_error& e) {
        problems.add(planfield::kNomeFile,
                     std::string("the data file cannot be read: ") + e.what());
    }
}

void checkVersionText(RowProblems& problems) {
    const std::string version = problems.text(planfield::kVersione);
    if (version.empty() || IsCleanVersionText(version)) return;
    const std::string parsed = TVersione::CreateFromText(version)->AsText();
    problems.add(planfield::kVersione,
                 inQuotes(version) + " is not four numbers a.b.c.d: a run reads it as " + parsed);
}

bool isDone(TClientDataSet& plan) {
    return plan.FieldByName(planfield::kStato).AsString() == "S";
}

bool isNameCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
}

// The word that ends just before `end`, or starts at `start`, in an upper-cased script; a name
// in double quotes is taken without them.
std::string_view wordBefore(std::string_view text, size_t end) {
    while (end > 0 && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
    size_t start = end;
    while (start > 0 && isNameCharacter(text[start - 1])) --start;
    return text.substr(start, end - start);
}
std::string_view wordAfter(std::string_view text, size_t start) {
    while (start < text.size() && static_cast<unsigned char>(text[start]) <= ' ') ++start;
    if (start < text.size() && text[start] == '"') {
        const size_t close = text.find('"', start + 1);
        if (close == std::string_view::npos) return {};
        return text.substr(start + 1, close - start - 1);
    }
    size_t end = start;
    while (end < text.size() && isNameCharacter(text[end])) ++end;
    return text.substr(start, end - start);
}

// How a script phase changes a table before an import reaches it.
struct TableChanges {
    bool created = false;  // CREATE or RECREATE TABLE
    bool altered = false;  // ALTER TABLE
};

// What the upper-cased script does to the table named `table` (upper-cased too).
TableChanges changesOf(std::string_view script, std::string_view table) {
    TableChanges changes;
    constexpr std::string_view kTable = "TABLE";
    for (size_t at = script.find(kTable); at != std::string_view::npos;
         at = script.find(kTable, at + kTable.size())) {
        if (at > 0 && isNameCharacter(script[at - 1])) continue;
        const size_t after = at + kTable.size();
        if (after < script.size() && isNameCharacter(script[after])) continue;
        if (wordAfter(script, after) != table) continue;
        const std::string_view verb = wordBefore(script, at);
        changes.created = changes.created || verb == "CREATE" || verb == "RECREATE";
        changes.altered = changes.altered || verb == "ALTER";
    }
    return changes;
}

}  // namespace

std::string ProblemText(const PlanProblem& problem) {
    std::string text;
    if (problem.row == 0) {
        text = "database, table " + problem.field;
    } else {
        text = "row " + std::to_string(problem.row) + " (" +
               (problem.id ? "ID " + std::to_string(*problem.id) : std::string("no ID")) +
               "), field " + problem.field;
    }
    return text + ": " + problem.message;
}

std::vector<PlanProblem> ValidateCurrentPhase(TClientDataSet& plan, int row,
                                              std::vector<PlanProblem>* notes) {
    std::vector<PlanProblem> out;
    RowProblems problems(plan, row, out);
    std::optional<RowProblems> rowNotes;
    if (notes != nullptr) rowNotes.emplace(plan, row, *notes);
    checkRequiredFields(plan, problems);
    checkFlag(problems, planfield::kStato, "counts as done, so the phase runs");
    checkVersionText(problems);
    if (isDone(plan)) return out;  // no run takes it again
    const std::string tipo = problems.text(planfield::kTipo);
    if (tipo == "S") {
        checkScript(problems);
    } else if (tipo == "I") {
        checkImport(problems, rowNotes ? &*rowNotes : nullptr);
    } else {
        problems.add(planfield::kTipo,
                     "unknown type " + inQuotes(tipo) +
                         " (S script, I import): a run marks the phase done without "
                         "running anything");
    }
    return out;
}

std::vector<PlanProblem> ValidatePlan(TClientDataSet& plan, std::vector<PlanProblem>* notes) {
    std::vector<PlanProblem> out;
    std::map<int64_t, std::vector<int>> rowsById;
    struct Raised {
        TVersione version;
        int row = 0;
        int64_t id = 0;
    };
    std::optional<Raised> highest;  // the highest version a script phase before brings
    int row = 0;
    for (plan.First(); !plan.Eof(); plan.Next()) {
        ++row;
        std::vector<PlanProblem> own = ValidateCurrentPhase(plan, row, notes);
        out.insert(out.end(), own.begin(), own.end());
        const TField& idField = plan.FieldByName(planfield::kId);
        const std::optional<int64_t> id =
            idField.IsNull() ? std::nullopt : std::optional<int64_t>(idField.AsInteger());
        if (id) rowsById[*id].push_back(row);

        // Once a phase has run, the database stands at its version, and every later phase at or
        // below it is skipped for version by the next run.
        const std::string version = plan.FieldByName(planfield::kVersione).AsString();
        if (isBlank(version)) continue;
        TVersione parsed;
        parsed.Parse(trimmed(version));
        if (highest && parsed.CompareTo(highest->version) <= 0) {
            out.push_back({row, id, planfield::kVersione,
                           parsed.AsText() + " does not rise above " + highest->version.AsText() +
                               " of phase " + std::to_string(highest->id) +
                               " before it: once that phase has run, this one is skipped for "
                               "version"});
        }
        if (plan.FieldByName(planfield::kTipo).AsString() == "S" &&
            (!highest || parsed.CompareTo(highest->version) > 0)) {
            highest = Raised{parsed, row, id.value_or(0)};
        }
    }
    for (const auto& [id, rows] : rowsById) {
        if (rows.size() < 2) continue;
        std::string list;
        for (int r : rows) list += (list.empty() ? "" : ", ") + std::to_string(r);
        out.push_back({rows[1], id, planfield::kId,
                       "ID " + std::to_string(id) + " is shared by rows " + list +
                           ": the order in which they run is not defined"});
    }
    plan.First();
    return out;
}

namespace {

// The version table and the columns a run reads and writes in it.
void CheckVersionTable(database::Connection& connection, std::vector<PlanProblem>& out) {
    try {
        const auto columns = connection.columns(kVersionTable);
        for (const char* name : kVersionColumns) {
            const bool present = std::any_of(columns.begin(), columns.end(),
                                             [&](const auto& c) { return c.name == name; });
            if (!present) {
                out.push_back({0, std::nullopt, kVersionTable,
                               std::string("no column ") + name +
                                   ": a run cannot read or record the database's version"});
            }
        }
    } catch (const database::DatabaseError&) {
        out.push_back({0, std::nullopt, kVersionTable,
                       "the table is missing: a run cannot read or record the database's "
                       "version"});
    }
}

// How the data file's fields reach the table's columns, when that is not what its author
// likely meant; empty when every column takes its own field.
std::string MappingDifference(const std::vector<std::string>& fields,
                              const std::vector<std::string>& columns) {
    // The same mapping as the run's: by name, every column finds its field.
    const ColumnMapping mapping = MapImportColumns(fields, columns);
    std::string difference;
    for (size_t i = 0; i < columns.size() && difference.empty() &&
                       mapping.kind == ColumnMapping::Kind::ByPosition;
         ++i) {
        if (i >= fields.size()) {
            difference = "column " + std::to_string(i + 1) + " (" + columns[i] +
                         ") has no field in the file, so every row fails";
        } else if (!SameColumnName(fields[i], columns[i])) {
            difference = "column " + std::to_string(i + 1) + " (" + columns[i] +
                         ") receives the field " + fields[i];
        }
    }
    if (difference.empty() && mapping.firstUnusedField != std::string::npos) {
        const size_t unused = mapping.firstUnusedField;
        difference = "the file's field " + fields[unused] + " (position " +
                     std::to_string(unused + 1) + ") has no column, so its values are not imported";
    }
    return difference;
}

}  // namespace

std::vector<PlanProblem> ValidateAgainstDatabase(TClientDataSet& plan,
                                                 database::Connection& connection) {
    std::vector<PlanProblem> out;
    CheckVersionTable(connection, out);

    // The scripts of the phases a run takes before each import, upper-cased: a table they
    // create or alter is not yet as the run will find it.
    std::vector<std::string> scriptsBefore;
    int row = 0;
    for (plan.First(); !plan.Eof(); plan.Next()) {
        ++row;
        if (isDone(plan)) continue;
        const std::string tipo = plan.FieldByName(planfield::kTipo).AsString();
        if (tipo == "S") {
            std::string script = plan.FieldByName(planfield::kTesto).AsString();
            for (char& c : script) c = cp1252::toUpper(c);
            scriptsBefore.push_back(std::move(script));
        }
        if (tipo != "I") continue;
        RowProblems problems(plan, row, out);
        const std::string table = problems.text(planfield::kNomeTabella);
        if (table.empty()) continue;  // ValidatePlan says so
        std::string upperTable = table;
        for (char& c : upperTable) c = cp1252::toUpper(c);
        TableChanges changes;
        for (const std::string& script : scriptsBefore) {
            const TableChanges found = changesOf(script, upperTable);
            changes.created = changes.created || found.created;
            changes.altered = changes.altered || found.altered;
        }
        // Left to the run: the table is made, or its columns changed, before the import.
        if (changes.created || changes.altered) continue;
        std::vector<std::string> columns;
        try {
            for (const auto& column : connection.columns(table)) columns.push_back(column.name);
        } catch (const database::DatabaseError&) {
            problems.add(planfield::kNomeTabella, "the database has no table " + inQuotes(table));
            continue;
        }
        TClientDataSet reader("cds");
        try {
            LoadImportFile(reader, problems.text(planfield::kNomeFile));
        } catch (const std::runtime_error&) {
            continue;  // ValidatePlan says so
        }
        std::vector<std::string> fields;
        for (const auto& field : reader.Packet().fields) fields.push_back(field.name);
        if (const std::string difference = MappingDifference(fields, columns);
            !difference.empty()) {
            std::string message = "the fields of the data file differ from the columns of ";
            message += table;
            message += ": ";
            message += difference;
            problems.add(planfield::kNomeFile, std::move(message));
        }
    }
    plan.First();
    return out;
}

}  // namespace tarvolen
