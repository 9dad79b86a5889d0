#include "plan/PlanLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
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

// Names in the plan's own folder that a write of the plan links to the plan file for a moment,
// or leaves linked to it when it is cut short: "<plan>.bak", and the temporary files
// ".<plan>.<writer>..." and ".<plan>.bak.<writer>...".
bool isWriteCompanion(const std::string& name, const std::string& base) {
    return name == base + ".bak" || name.rfind("." + base + ".", 0) == 0;
}

// Links to the plan file beyond its own name, less those a write of the plan makes.
unsigned long foreignLinks(const std::string& plan, unsigned long& total) {
    struct stat st {};
    if (::stat(plan.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    total = static_cast<unsigned long>(st.st_nlink);
    if (total <= 1) return 0;
    const std::filesystem::path file(plan);
    const std::string base = file.filename().string();
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    unsigned long companions = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        struct stat other {};
        if (!isWriteCompanion(name, base) || ::lstat(entry.path().c_str(), &other) != 0) continue;
        if (other.st_dev == st.st_dev && other.st_ino == st.st_ino) ++companions;
    }
    return total - 1 > companions ? total - 1 - companions : 0;
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
                            fullPath(planPath), pid);
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
    unsigned long links = 1;
    if (foreignLinks(resolvedFile(planPath), links) > 0) {
        release();
        throw PlanHardLinked("Cannot use the plan \"" + fullPath(planPath) + "\": the file has " +
                                 std::to_string(links) +
                                 " hard links, and a run through another of its names would not "
                                 "see this one's lock; give the plan one name only (remove the "
                                 "other links, or make the plan a copy)",
                             links);
    }
}

void PlanLock::release() {
    // Removed while still held, so no process can take a lock on a file about to vanish.
    ::unlink(m_lockPath.c_str());
    ::close(m_fd);
    m_fd = -1;
}

PlanLock::~PlanLock() {
    if (m_fd >= 0) release();
}

}  // namespace tarvolen
