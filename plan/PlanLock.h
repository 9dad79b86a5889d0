#pragma once
// Keeps a plan to one user at a time. A run marks phases as done in the plan, so two runs on
// one plan would each apply every due phase: the second one must refuse instead.

#include <stdexcept>
#include <string>
#include <utility>

#include "base/os/Files.h"

namespace tarvolen {

// "Cannot use the plan "<full path>": plan in use by process <pid>"
class PlanInUse : public std::runtime_error {
  public:
    PlanInUse(const std::string& message, std::string planFile, long pid)
        : std::runtime_error(message), m_planFile(std::move(planFile)), m_pid(pid) {}
    // The plan's full path.
    const std::string& planFile() const { return m_planFile; }
    // The holder's process id; 0 when it could not be read.
    long pid() const { return m_pid; }

  private:
    std::string m_planFile;
    long m_pid;
};

// "Cannot use the plan "<full path>": the file has N hard links, ..." A plan reachable by
// another name would escape the lock, which lives beside the name.
class PlanHardLinked : public std::runtime_error {
  public:
    PlanHardLinked(const std::string& message, unsigned long links)
        : std::runtime_error(message), m_links(links) {}
    unsigned long links() const { return m_links; }

  private:
    unsigned long m_links;
};

// An exclusive lock on a plan for as long as the object lives: flock (LockFileEx on Windows) on
// "<plan>.lock" beside the file the plan's path finally names (so every link to one plan shares
// one lock), holding the holder's process id. The lock file goes when the lock is released. A
// process that dies releases the lock with it.
class PlanLock {
  public:
    // Takes the lock at once or throws: PlanInUse when another process holds it, EFCreateError
    // when the lock file cannot be created, PlanHardLinked when the plan file has another name
    // than its own (its backup and a write's temporary files aside), checked once the lock is
    // held so that no write of ours is halfway through.
    explicit PlanLock(const std::string& planPath);
    PlanLock(const PlanLock&) = delete;
    PlanLock& operator=(const PlanLock&) = delete;

    const std::string& lockPath() const { return m_lockPath; }

  private:
    std::string m_lockPath;
    os::LockFile m_file;
};

}  // namespace tarvolen
