#pragma once
// The status line a run keeps on a terminal: where the run stands, redrawn in place a few times
// a second at most, and cleared before any other output so the log stays readable.

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "engine/EngineHost.h"

namespace tarvolen::cli {

// "phase 3/7 (ID 30): line 120 of 4000, 0:12 elapsed"; the unit part is left out while a phase
// has none, and "of N" when the total is not known. Elapsed time as M:SS, or H:MM:SS from an
// hour on. Before the walk: "backup: table 3 of 12, 120.5 MB, 0:12 elapsed", and "backup check:
// table 3 of 12, 0:20 elapsed" while the backup is restored to be checked.
std::string ProgressText(const RunProgress& progress, std::chrono::steady_clock::duration elapsed);

// The text cut to fit `columns` terminal columns without wrapping (one column is kept free,
// where some terminals wrap early). Fewer than two columns leave nothing.
std::string FitToColumns(const std::string& text, int columns);

// Lets a redraw through when none has been made for at least `interval`.
class RedrawThrottle {
  public:
    explicit RedrawThrottle(std::chrono::steady_clock::duration interval) : m_interval(interval) {}
    // True for the first call and for each call at least `interval` after the last true one.
    bool due(std::chrono::steady_clock::time_point now);

  private:
    std::chrono::steady_clock::duration m_interval;
    std::chrono::steady_clock::time_point m_last{};
    bool m_drawn = false;
};

// The status line on one stream (a terminal): "\r", the text, then "erase to the end of the
// line", so a shorter text leaves nothing of a longer one.
class ProgressLine {
  public:
    // At most four redraws a second.
    static constexpr std::chrono::milliseconds kInterval{250};

    // `columns` is the terminal's width, 0 when it cannot be told (80 is then assumed).
    ProgressLine(std::FILE* stream, int columns, std::chrono::steady_clock::time_point start);

    // Keeps the progress as the latest, and draws it when the throttle lets it through.
    void update(const RunProgress& progress, std::chrono::steady_clock::time_point now);
    // Removes the line, if one is shown, before other output goes to the terminal.
    void clear();
    // Puts back the line `clear` removed, showing the latest progress: a progress the throttle
    // held back is not lost when output comes between.
    void restore(std::chrono::steady_clock::time_point now);
    // Removes the line for good: the run is over.
    void finish();

  private:
    void draw();

    std::FILE* m_stream;
    int m_columns;
    std::chrono::steady_clock::time_point m_start;
    RedrawThrottle m_throttle{kInterval};
    std::optional<RunProgress> m_latest;  // none before the first update and after finish
    std::string m_text;                   // what the line shows, fitted
    bool m_shown = false;
};

}  // namespace tarvolen::cli
