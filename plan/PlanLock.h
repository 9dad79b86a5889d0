#pragma once
// Keeps a plan to one user at a time. A run marks phases as done in the plan, so two runs on
// one plan would each apply every due phase: the second one must refuse instead.

#include <stdexcept>
#include <string>

#include "base/os/Files.h"

namespace tarvolen {

// "Cannot use the plan "<full path>": plan in use by process <pid>"
class PlanInUse : public std::runtime_error {
  public:
    PlanInUse(const std::string& message, long pid) : std::runtime_error(message), m_pid(pid) {}
    // The holder's process id; 0 when it could not be read.
    long pid() const { return m_pid; }

  private:
    long m_pid;
};

// An exclusive lock on a plan for as long as the object lives: flock (LockFileEx on Windows) on
// "<plan>.lock" beside the file the plan's path finally names (so every link to one plan shares
// one lock), holding the holder's process id. The lock file goes when the lock is released. A
// process that dies releases the lock with it.
class PlanLock {
  public:
    // Takes the lock at once or throws: PlanInUse when another process holds it, EFCreateError
    // when the lock file cannot be created.
    explicit PlanLock(const std::string& planPath);
    PlanLock(const PlanLock&) = delete;
    PlanLock& operator=(const PlanLock&) = delete;

    const std::string& lockPath() const { return m_lockPath; }

  private:
    std::string m_lockPath;
    os::LockFile m_file;
};

}  // namespace tarvolen
