#include "plan/FileIO.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "plan/Errors.h"

namespace tarvolen {
namespace {

namespace fs = std::filesystem;

// Closes a file descriptor when it goes out of scope.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int get() const { return m_fd; }
    // Closes now, reporting the error a deferred write may surface only here.
    int close() {
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc;
    }

  private:
    int m_fd;
};

std::string openError(const std::string& path, const char* why) {
    return "Cannot open file \"" + fullPath(path) + "\". " + why;
}

std::string createError(const std::string& path, int error) {
    return "Cannot create file \"" + fullPath(path) + "\". " + std::strerror(error);
}

fs::path folderOf(const fs::path& file) {
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

// When a process started, in clock ticks after boot; 0 when that cannot be read.
unsigned long long processStartTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string stat{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // The command name, in parentheses, may hold blanks; the fields after it do not.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int number = 3; number <= 22; ++number) {  // the start time is field 22
        if (!(fields >> field)) return 0;
    }
    return std::strtoull(field.c_str(), nullptr, 10);
}

// Temporary files beside a target are named ".<target name>.<pid>-<start>.<unique>" (and
// ".<target name>.bak.<pid>-<start>.<unique>" for a backup being put in place), so that one left
// by a process that died can be told from one still being written, also once the process id
// has gone to another process.
std::string temporaryPrefix(const std::string& base) {
    return "." + base + ".";
}

const std::string& writerIdentity() {
    static const std::string identity =
        std::to_string(::getpid()) + '-' + std::to_string(processStartTicks(::getpid()));
    return identity;
}

std::string uniqueTemporaryName(const fs::path& folder, const std::string& base) {
    static std::atomic<unsigned> counter{0};
    const auto seed = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    return (folder / (temporaryPrefix(base) + writerIdentity() + '.' +
                      std::to_string(seed % 1000000) + '.' + std::to_string(counter.fetch_add(1))))
        .string();
}

struct Writer {
    pid_t pid = -1;                // -1: not a temporary file of ours
    unsigned long long start = 0;  // 0: not in the name
};

// Reads a run of digits at the front of `text`, removing it; false when there is none.
bool takeNumber(std::string_view& text, unsigned long long& value) {
    size_t digits = 0;
    value = 0;
    while (digits < text.size() && digits < 19 && text[digits] >= '0' && text[digits] <= '9')
        value = value * 10 + static_cast<unsigned>(text[digits++] - '0');
    text.remove_prefix(digits);
    return digits > 0;
}

// Who wrote a temporary file, as its name says.
Writer writerOf(std::string_view name, const std::string& base) {
    const std::string prefix = temporaryPrefix(base);
    if (name.substr(0, prefix.size()) != prefix) return {};
    name.remove_prefix(prefix.size());
    if (name.substr(0, 4) == "bak.") name.remove_prefix(4);
    unsigned long long pid = 0;
    if (!takeNumber(name, pid) || pid == 0 || pid > 4194304) return {};
    Writer writer;
    if (!name.empty() && name.front() == '-') {
        name.remove_prefix(1);
        if (!takeNumber(name, writer.start)) return {};
    }
    if (name.empty() || name.front() != '.') return {};
    writer.pid = static_cast<pid_t>(pid);
    return writer;
}

// True while the process that wrote a temporary file may still be writing it.
bool stillWriting(const Writer& writer) {
    if (::kill(writer.pid, 0) != 0 && errno == ESRCH) return false;
    if (writer.start == 0) return true;  // only the id to go by
    const unsigned long long start = processStartTicks(writer.pid);
    return start == 0 || start == writer.start;  // another process now has the id
}

// Removes the temporary files of writes whose process is gone. A temporary file is unnamed
// while it is written, but it has a name for a moment before the rename, and a file system
// without unnamed files gives it one throughout: a process killed then leaves it behind.
void removeStaleTemporaries(const fs::path& folder, const std::string& base) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;  // the write itself will say what is wrong with the folder
    while (const dirent* entry = ::readdir(dir)) {
        const Writer writer = writerOf(entry->d_name, base);
        if (writer.pid < 0 || stillWriting(writer)) continue;
        ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

// The target a temporary file was written for, and its writer, as its name says:
// ".<target>.<pid>-<start>.<seed>.<counter>".
std::pair<std::string, Writer> targetOf(std::string_view name) {
    if (name.size() < 2 || name.front() != '.') return {};
    // The last two parts are numbers; the one before them names the writer.
    size_t end = name.size();
    for (int part = 0; part < 3; ++part) {
        const size_t dot = name.rfind('.', end - 1);
        if (dot == std::string_view::npos || dot == 0) return {};
        end = dot;
    }
    std::string base(name.substr(1, end - 1));
    if (base.size() > 4 && base.substr(base.size() - 4) == ".bak") base.resize(base.size() - 4);
    const Writer writer = writerOf(name, base);
    if (writer.pid < 0) return {};
    return {base, writer};
}

// Creates a new, empty file beside the target for writing. Unlike mkstemp it lets the mode pass
// through the umask, so a new file gets the usual permissions without changing the process-wide
// umask, which other threads may be creating files under.
int createNamedTemporary(const fs::path& folder, const std::string& base, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = uniqueTemporaryName(folder, base);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;  // errno is still EEXIST
}

// True when the folder cannot hold unnamed files (an old kernel, or a file system without them),
// so a named temporary file has to do.
bool unnamedFilesUnsupported(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// The file being written: unnamed until it is given a name beside the target, so that a write
// cut short by a crash or a kill leaves nothing behind.
class TemporaryFile {
  public:
    TemporaryFile(const fs::path& folder, std::string base)
        : m_folder(folder), m_base(std::move(base)) {
        m_fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (m_fd < 0 && unnamedFilesUnsupported(errno))
            m_fd = createNamedTemporary(folder, m_base, m_name);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (m_fd >= 0) ::close(m_fd);
        if (!m_name.empty()) ::unlink(m_name.c_str());
    }
    int fd() const { return m_fd; }
    // Flushes and closes the file; 0 or the error.
    int finish() {
        if (::fsync(m_fd) != 0) return errno;
        if (!m_name.empty()) {
            const int rc = ::close(m_fd);
            m_fd = -1;
            return rc == 0 ? 0 : errno;
        }
        return 0;
    }
    // Gives the unnamed file a name beside the target; 0 or the error.
    int name() {
        if (!m_name.empty()) return 0;
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        std::string name;
        for (int attempt = 0; attempt < 100; ++attempt) {
            name = uniqueTemporaryName(m_folder, m_base);
            int rc = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
            // Without /proc, the descriptor itself can be linked by a privileged process.
            if (rc != 0 && errno == ENOENT)
                rc = ::linkat(m_fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
            if (rc == 0) {
                m_name = name;
                break;
            }
            if (errno != EEXIST) return errno;
        }
        if (m_name.empty()) return EEXIST;
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc == 0 ? 0 : errno;
    }
    // Renames the named file over the target; 0 or the error.
    int renameTo(const std::string& target) {
        if (::rename(m_name.c_str(), target.c_str()) != 0) return errno;
        m_name.clear();
        return 0;
    }

  private:
    fs::path m_folder;
    std::string m_base;
    std::string m_name;  // empty while the file is unnamed
    int m_fd = -1;
};

// Keeps the file about to be replaced as "<file>.bak": a second link to it, renamed over the
// old backup, so the backup is whole at every moment.
// Throws EFCreateError naming the backup when it cannot be put in place.
void keepBackupOf(const std::string& target, std::string_view newBytes) {
    std::string old;
    try {
        old = readWholeFile(target);
    } catch (const EFOpenError&) {
        return;  // nothing there to keep; the write itself says what is wrong with the target
    }
    if (old == newBytes) return;  // the backup keeps the contents before this same state
    const std::string backup = target + ".bak";
    // A write cut short after its backup was made leaves the backup as a second name of the
    // file itself: it holds this file already, and a rename onto it would do nothing.
    struct stat current {};
    struct stat kept {};
    if (::stat(target.c_str(), &current) == 0 && ::stat(backup.c_str(), &kept) == 0 &&
        current.st_dev == kept.st_dev && current.st_ino == kept.st_ino)
        return;
    const std::string temporary = uniqueTemporaryName(
        folderOf(fs::path(target)), fs::path(target).filename().string() + ".bak");
    if (::link(target.c_str(), temporary.c_str()) != 0) {
        // A file system without hard links: a copy, written as safely as the file itself.
        writeFileAtomically(backup, old);
        return;
    }
    if (::rename(temporary.c_str(), backup.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw EFCreateError(createError(backup, error));
    }
}

// Reads an open regular file to its end.
std::string readOpenFile(int fd, const std::string& path, size_t sizeHint) {
    auto readInto = [&](char* to, size_t room) {
        while (true) {
            const ssize_t n = ::read(fd, to, room);
            if (n >= 0) return static_cast<size_t>(n);
            if (errno != EINTR) throw EFOpenError(openError(path, std::strerror(errno)));
        }
    };
    std::string data;
    data.resize(sizeHint);
    size_t done = 0;
    while (done < data.size()) {
        const size_t n = readInto(data.data() + done, data.size() - done);
        if (n == 0) break;
        done += n;
    }
    data.resize(done);
    // A file that grew since fstat: the rest goes on in pieces. Checked through a small buffer,
    // so a file of the size fstat gave is never copied into a larger string (twice its size).
    char more[65536];
    for (size_t n = readInto(more, sizeof more); n > 0; n = readInto(more, sizeof more))
        data.append(more, n);
    return data;
}

FileIdentity identityOf(const struct stat& st) {
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
            static_cast<uint64_t>(st.st_size),
            static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::string readRegularFile(const std::string& path, bool privateOnly,
                            FileIdentity* identity = nullptr) {
    // Without O_NONBLOCK, opening a FIFO would wait for a writer before the check below.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) throw EFOpenError(openError(path, std::strerror(errno)));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throw EFOpenError(openError(path, std::strerror(errno)));
    if (S_ISDIR(st.st_mode)) throw EFOpenError(openError(path, std::strerror(EISDIR)));
    if (!S_ISREG(st.st_mode)) throw EFOpenError(openError(path, "Not a regular file"));
    if (privateOnly && (st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        throw EFOpenError(openError(path, (std::string("Permissions ") + mode +
                                           " are too open: other users may read it (chmod 600)")
                                              .c_str()));
    }
    std::string bytes = readOpenFile(fd.get(), path, static_cast<size_t>(st.st_size));
    if (identity != nullptr) {
        // Taken after the read, so that a file written in place meanwhile shows as changed.
        if (::fstat(fd.get(), &st) != 0) throw EFOpenError(openError(path, std::strerror(errno)));
        *identity = identityOf(st);
    }
    return bytes;
}

}  // namespace

std::string fullPath(const std::string& path) {
    std::error_code ec;
    auto absolute = fs::absolute(path, ec);
    if (ec) return path;
    return absolute.lexically_normal().string();
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string resolvedFile(const std::string& path) {
    fs::path current(path);
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current.string();
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n < 0) return current.string();
        target.resize(static_cast<size_t>(n));
        const fs::path next(target);
        current = next.is_absolute() ? next : folderOf(current) / next;
    }
    throw EFCreateError(createError(path, ELOOP));
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return identityOf(st);
}

std::string readWholeFile(const std::string& path) {
    return readRegularFile(path, false);
}

std::string readWholeFile(const std::string& path, FileIdentity& identity) {
    return readRegularFile(path, false, &identity);
}

std::string readPrivateFile(const std::string& path) {
    return readRegularFile(path, true);
}

void writeFileAtomically(const std::string& path, std::string_view bytes,
                         const WriteOptions& options) {
    const std::string target = resolvedFile(path);
    const fs::path folder = folderOf(fs::path(target));
    const std::string base = fs::path(target).filename().string();
    removeStaleTemporaries(folder, base);

    TemporaryFile temporary(folder, base);
    if (temporary.fd() < 0) throw EFCreateError(createError(path, errno));
    auto fail = [&](int error) { throw EFCreateError(createError(path, error)); };
    // Keep the permissions (and, where allowed, the owner) of the file being replaced; a new
    // file has 0666 & ~umask already.
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) {
        if (options.newFileMode) ::fchmod(temporary.fd(), *options.newFileMode & 07777);
    } else {
        ::fchmod(temporary.fd(), st.st_mode & 07777);
        if (::geteuid() == 0) {
            // When this fails the file gets root as its owner; its permission bits still hold.
            [[maybe_unused]] const int rc = ::fchown(temporary.fd(), st.st_uid, st.st_gid);
        }
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(temporary.fd(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        done += static_cast<size_t>(n);
    }
    if (const int error = temporary.finish()) fail(error);
    // The backup first, so the temporary file has a name for as short a time as can be.
    if (options.keepBackup) keepBackupOf(target, bytes);
    if (const int error = temporary.name()) fail(error);
    if (const int error = temporary.renameTo(target)) fail(error);
    // Make the rename itself durable.
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
}

std::string TemporaryNameBeside(const std::string& path) {
    const fs::path target(path);
    return uniqueTemporaryName(folderOf(target), target.filename().string());
}

void RemoveAbandonedTemporaries(const std::string& folder, std::string_view suffix) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        const auto [base, writer] = targetOf(entry->d_name);
        if (writer.pid < 0 || base.size() < suffix.size() ||
            std::string_view(base).substr(base.size() - suffix.size()) != suffix ||
            stillWriting(writer))
            continue;
        ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

void checkReplaceable(const std::string& path, uint64_t bytes) {
    const std::string target = resolvedFile(path);
    const fs::path folder = folderOf(fs::path(target));
    auto fail = [&](int error) { throw EFCreateError(createError(path, error)); };
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) fail(EISDIR);
    // A write killed at the wrong moment left one; the next write would remove it, but a run
    // that finds nothing to write never makes one.
    removeStaleTemporaries(folder, fs::path(target).filename().string());

    TemporaryFile probe(folder, fs::path(target).filename().string());
    if (probe.fd() < 0) fail(errno);
    if (bytes == 0) return;
    const int rc = ::posix_fallocate(probe.fd(), 0, static_cast<off_t>(bytes));
    if (rc == 0) return;
    if (rc != EOPNOTSUPP && rc != EINVAL) fail(rc);
    // A file system that cannot reserve space: compare with what it says it has free.
    struct statvfs vfs {};
    if (::fstatvfs(probe.fd(), &vfs) == 0 &&
        static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize < bytes)
        fail(ENOSPC);
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < bytes)
        fail(EFBIG);
}

}  // namespace tarvolen
