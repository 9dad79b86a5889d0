#pragma once
// One walk of the plan: what RunBatch learns as it goes, handed to the script and import phases,
// and the summary the front ends print once it ends.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/EngineHost.h"
#include "engine/Versione.h"

namespace tarvolen {

class MarksJournal;

// A phase of the run in which statements failed (the phase counts as done) or whose import
// failed (the phase stays due).
struct PhaseFailures {
    int64_t id = 0;
    size_t failedStatements = 0;
    bool importFailed = false;
};

// What a walk of the plan came to, however it ended.
struct RunSummary {
    // A statement or an import failed, or a failure ended the walk: the summary box says
    // "Batch eseguito con errori".
    bool BatchHasErrors = false;
    // The last import phase that ran failed and was undone.
    bool ImportFailed = false;
    // Statements the database refused, and imports that failed and were undone.
    size_t failedStatements = 0;
    size_t failedImports = 0;
    // The phases with a failure, in the order they ran.
    std::vector<PhaseFailures> failedPhases;
};

// The state of one walk. RunBatch creates it and hands it to each phase it runs.
struct BatchRun {
    // REQUIRES: `marks` outlives the run (none for a plan without a file).
    BatchRun(const TVersione& start, MarksJournal* marks) : marks(marks) {
        StartVersion.Assign(start);
        ReachedVersion.Assign(start);
        recordedVersion.Assign(start);
    }

    RunSummary summary;
    // Every version test of the walk compares against the version the run started from, even
    // after the run raised the version it reached.
    TVersione StartVersion;
    TVersione ReachedVersion;
    // What the database's version record holds.
    TVersione recordedVersion;
    // Where the imports reserve their marks; none for a plan without a file.
    MarksJournal* marks = nullptr;
    RunProgress progress;

    // The running script phase: its separator, its text, and the lines the text splits into.
    std::string Separator;
    std::string scriptText;
    std::vector<std::string_view> ScriptLines;     // point into scriptText
    std::vector<std::string_view> StatementLines;  // the statement being gathered
};

}  // namespace tarvolen
