#include "plan/PlanLock.h"

#include <string>

#include "base/os/SystemError.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"

namespace tarvolen {

PlanLock::PlanLock(const std::string& planPath) : m_lockPath(resolvedFile(planPath) + ".lock") {
    long holder = 0;
    std::error_code error;
    switch (m_file.take(m_lockPath, holder, error)) {
        case os::LockFile::Outcome::Taken:
            return;
        case os::LockFile::Outcome::InUse:
            throw PlanInUse("Cannot use the plan \"" + fullPath(planPath) +
                                "\": plan in use by process " +
                                (holder > 0 ? std::to_string(holder) : std::string("(unknown)")),
                            holder);
        case os::LockFile::Outcome::Failed:
            break;
    }
    throw EFCreateError("Cannot create file \"" + fullPath(m_lockPath) + "\". " +
                        os::errorText(error));
}

}  // namespace tarvolen
