#include "app/WindowRunLog.h"

namespace tarvolen {

WindowRunLog::WindowRunLog(const std::string& planFile, const std::string& alias,
                           const std::string& databaseUser)
    : m_file(CreateKeptRunLog(planFile, alias, std::chrono::system_clock::now()),
             LogEncoding::Utf8) {
    const RunIdentity run{"tarvolen " TARVOLEN_VERSION, alias, planFile, databaseUser, false};
    m_file.write(RunStartLine(run));
    m_file.write(RunUsersLine(run));
}

void WindowRunLog::phaseEnded(const PhaseTiming& timing) {
    m_file.write("FASE " + std::to_string(timing.phaseId) +
                 " DURATA: " + DurationText(timing.duration));
}

void WindowRunLog::finish(size_t failedStatements, size_t failedImports, int exitStatus) {
    m_file.write(RunCountsLine(failedStatements, failedImports));
    m_file.write(RunEndLine(std::chrono::steady_clock::now() - m_started, exitStatus));
}

}  // namespace tarvolen
