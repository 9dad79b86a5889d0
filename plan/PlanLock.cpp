#include "plan/PlanLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "plan/Errors.h"
#include "plan/FileIO.h"

namespace tarvolen {
namespace {

// The process id the holder wrote into the lock file; 0 when there is none yet.
long holderOf(int fd) {
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return 0;
    long pid = 0;
    for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i)
        pid = pid * 10 + (text[i] - '0');
    return pid;
}

// True while the open file is still the one the path names: the holder before us removes the
// file as it lets go, and a lock on a removed file keeps nobody out.
bool stillNamed(int fd, const std::string& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

PlanLock::PlanLock(const std::string& planPath) : m_lockPath(resolvedFile(planPath) + ".lock") {
    while (true) {
        const int fd = ::open(m_lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            throw EFCreateError("Cannot create file \"" + fullPath(m_lockPath) + "\". " +
                                std::strerror(errno));
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            const long pid = error == EWOULDBLOCK ? holderOf(fd) : 0;
            ::close(fd);
            if (error != EWOULDBLOCK) {
                throw EFCreateError("Cannot create file \"" + fullPath(m_lockPath) + "\". " +
                                    std::strerror(error));
            }
            throw PlanInUse("Cannot use the plan \"" + fullPath(planPath) +
                                "\": plan in use by process " +
                                (pid > 0 ? std::to_string(pid) : std::string("(unknown)")),
                            pid);
        }
        if (stillNamed(fd, m_lockPath)) {
            m_fd = fd;
            break;
        }
        ::close(fd);  // taken just as its holder removed it: take the new one
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(m_fd, 0) != 0 ||
        ::pwrite(m_fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The lock holds all the same; only the holder's id is missing from a refusal.
    }
}

PlanLock::~PlanLock() {
    // Removed while still held, so no process can take a lock on a file about to vanish.
    ::unlink(m_lockPath.c_str());
    ::close(m_fd);
}

}  // namespace tarvolen
