#pragma once
// A walk over the plan that ended before the plan did, for a reason that is no failure of a
// statement: the connection is gone, the operator asked to stop, the run was told to stop at
// the first failed statement, or the journal of done-marks could not take a phase's mark. The
// phase in flight stays due, no later phase is walked, and every statement before the stop was
// committed.

#include <stdexcept>
#include <string>

namespace tarvolen {

class BatchStopped : public std::runtime_error {
  public:
    enum class Reason { ConnectionLost, StopRequested, StatementFailed, MarkNotRecordable };

    // `logLine` is the one line that tells where the walk stopped and why.
    BatchStopped(Reason reason, const std::string& logLine)
        : std::runtime_error(logLine), m_reason(reason) {}
    Reason reason() const { return m_reason; }

  private:
    Reason m_reason;
};

}  // namespace tarvolen
