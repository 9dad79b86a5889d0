#pragma once
// The signals that ask a command-line run to stop (SIGINT, SIGTERM, SIGHUP), caught for the life
// of the object. A handler only records which signal came; the run asks at each of its pump
// points and ends its walk there, so the statement in flight finishes or fails and the marks
// earned so far are saved. The database client is told to leave its connections alone on
// these signals, which it would otherwise shut under the running statement.

#include <csignal>

namespace tarvolen {

class StopSignals {
  public:
    // Installs the handlers. Create it before the first connection.
    StopSignals();
    // Puts back the handlers it replaced, where its own are still installed.
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The first stop signal received, or 0.
    int received() const;
    // The exit status of a process ended by `signal`, as a shell reports it (130 for SIGINT).
    static int exitStatusFor(int signal) { return 128 + signal; }

  private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction m_old[3] = {};
};

}  // namespace tarvolen
