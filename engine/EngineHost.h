#pragma once
// What the engine needs of the window it runs under. The desktop, the headless runner and
// the tests each supply their own; the engine never opens a window itself.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarvolen {

enum class MessageIcon { None, Error, Warning, Information };

// Where a run stands, as reported at each pump point.
struct RunProgress {
    enum class Unit { None, Lines, Rows, Tables };
    // Before the walk come the backup of the database and, when asked, its check by a restore;
    // a restore of a backup over the database is a stage of its own.
    enum class Stage { Walk, Backup, BackupCheck, Restore };
    Stage stage = Stage::Walk;
    int phase = 0;       // 1-based position of the phase being walked; 0 before the walk
    int phaseCount = 0;  // phases in the plan
    int phaseId = 0;     // ID of the phase being walked
    Unit unit = Unit::None;
    size_t done = 0;     // script lines walked or rows copied in this phase
    size_t total = 0;    // lines of the script or rows of the data file; 0 when unknown
    uint64_t bytes = 0;  // the backup: bytes of its file written so far
};

// A phase that ran to its end: how long it took, from its first log line until its done-mark
// was saved (or, for a failed import, until its failure was logged).
struct PhaseTiming {
    int phaseId = 0;
    std::chrono::steady_clock::duration duration{};
};

class EngineHost {
  public:
    virtual ~EngineHost() = default;

    // Appends `text` and a line break at the end of the activity log. A text holding CR LF
    // shows as several lines. Text is 8-bit Windows-1252.
    virtual void appendLog(std::string_view text) = 0;
    // Lets pending window events through once, so the log repaints during long work.
    virtual void processEvents() = 0;
    // Where the run stands; called just before processEvents() at each pump point of a run.
    virtual void reportProgress(const RunProgress& progress) { (void)progress; }
    // Asked at each pump point of a run, and before each statement: true ends the walk there,
    // as cleanly as a lost connection ends it (the statement in flight has finished; the phase
    // in flight stays due; nothing later runs).
    virtual bool stopRequested() { return false; }
    // Called after each script or import phase that ran to its end, stopped walks excepted.
    virtual void phaseEnded(const PhaseTiming& timing) { (void)timing; }
    // Called once when a walk ends, however it ends, just before its summary box.
    virtual void beforeSummary() {}
    // Shows a modal message box with one OK button and returns when it is closed.
    virtual void showMessage(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
};

}  // namespace tarvolen
