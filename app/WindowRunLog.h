#pragma once
// The log a run from the window keeps beside its plan, line for line what tarvolen-run keeps
// for a run of its own: the same file name, the same opening and closing lines, every log line
// with its time, each phase's duration.

#include <chrono>
#include <string>
#include <string_view>

#include "engine/EngineHost.h"
#include "engine/RunLog.h"

namespace tarvolen {

class WindowRunLog {
  public:
    // Creates "log/YYYYMMDD-HHMMSS-<alias>.log" beside the plan and writes its opening lines.
    // Throws EFCreateError when the folder or the file cannot be made.
    WindowRunLog(const std::string& planFile, const std::string& alias,
                 const std::string& databaseUser);

    void write(std::string_view line) { m_file.write(line); }
    void phaseEnded(const PhaseTiming& timing);
    // The closing lines: the failed statements and imports, the run's duration and its exit
    // status as tarvolen-run would give it (0 correct, 1 with errors, 2 a failure ended it).
    void finish(size_t failedStatements, size_t failedImports, int exitStatus);
    const std::string& path() const { return m_file.path(); }

  private:
    RunLogFile m_file;
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
};

}  // namespace tarvolen
