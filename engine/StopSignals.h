#pragma once
// The requests that ask a command-line run to stop (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl+C,
// Ctrl+Break, a closed console and the end of the session), caught for the life of the object.
// A handler only records which request came; the run asks at each of its pump points and ends
// its walk there, so the statement in flight finishes or fails and the marks earned so far are
// saved. The database client is told to leave its connections alone on these requests, which
// it would otherwise shut under the running statement.

#include "base/os/Process.h"

namespace tarvolen {

class StopSignals {
  public:
    // Loads the database client when the machine has one and installs the handlers after its
    // own. Create it before the first connection.
    StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The first request received, numbered as the POSIX signal that carries it, or 0.
    int received() const;
    // The exit status of a process ended by `signal`, as a shell reports it (130 for SIGINT).
    static int exitStatusFor(int signal) { return 128 + signal; }

  private:
    // Declared first: the client's own handlers are in place before the program's.
    struct ClientFirst {
        ClientFirst();
    } m_clientFirst;
    os::StopRequests m_requests;
};

}  // namespace tarvolen
