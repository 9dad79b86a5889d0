#pragma once
// The dry run: what a run of the plan would do, phase by phase, found without changing the
// plan or the database.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/PhaseDecision.h"
#include "engine/Versione.h"

namespace tarvolen {

class TdmMain;

// One phase as a run would take it. Only the part that matches the decision is filled.
struct PhasePreview {
    struct Script {
        size_t statementCount = 0;  // statements that reach the database
        // Text other than comments after the last separator; a run reports it and never runs it.
        bool textAfterLastSeparator = false;
        // A comment or literal never closed, which swallows the rest of the script.
        bool unclosedComment = false;
        bool unclosedLiteral = false;
        // Text other than comments after a NUL, where the script's text ends.
        bool textAfterNul = false;
    };
    struct Import {
        std::string tableName;
        std::string fileName;
        std::optional<int> rowCount;  // none when the file cannot be loaded
        std::string loadError;        // why the file cannot be loaded
        std::string mappingNote;  // what the run logs on how fields meet columns
        std::string tableError;   // why the table cannot be opened; empty when it can
        // A column that takes no field of the file: the first row fails, and the import with it.
        bool columnWithoutField = false;
        // How an XML file's text beyond ASCII is read ("UTF-8: NESSUNA CODIFICA DICHIARATA,
        // TESTO UTF-8 VALIDO"); empty for the binary form and for ASCII text, which reads alike.
        std::string encoding;
    };

    int64_t id = 0;
    PhaseDecision decision = PhaseDecision::NoAction;
    Script script;
    Import import;
    std::string tipo;  // for NoAction: the TIPO that asks for nothing
};

struct DryRunReport {
    TVersione startVersion;
    std::vector<PhasePreview> phases;  // in the plan table's order
};

// Reads the database version and walks the plan table as RunBatch would, deciding each phase
// by the same rule, cutting scripts into statements and loading data files, but running
// nothing and marking nothing. Leaves the plan table past its last row.
// REQUIRES: dbsagg connected and cdsQuery open.
DryRunReport DryRun(TdmMain& dm);

// The report as log lines: the version line, then one line per phase.
std::vector<std::string> DryRunLogLines(const DryRunReport& report);

// True when the run would log an error without any statement failing on the database: script
// text that never runs, or an import whose file cannot be read, whose table is missing, or whose
// rows would lack a field for a column.
bool DryRunFoundErrors(const DryRunReport& report);

}  // namespace tarvolen
