// The file operations on POSIX systems (Linux first: unnamed temporary files, /proc).

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "base/os/Files.h"
#include "base/os/Process.h"
#include "base/os/SystemError.h"
#include "base/os/TemporaryNames.h"

namespace tarvolen::os {
namespace {

namespace fs = std::filesystem;

std::error_code errnoCode(int error) {
    return {error, std::generic_category()};
}

std::string folderOf(const std::string& file) {
    const fs::path path(file);
    return path.has_parent_path() ? path.parent_path().string() : std::string(".");
}

int fdOf(intptr_t handle) {
    return static_cast<int>(handle);
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
  public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int get() const { return m_fd; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

  private:
    int m_fd;
};

std::error_code writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return lastError();
        if (n == 0) return errnoCode(ENOSPC);
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return {};
}

std::error_code writeAllAt(int fd, std::string_view bytes, uint64_t offset) {
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return lastError();
        if (n == 0) return errnoCode(ENOSPC);
        bytes.remove_prefix(static_cast<size_t>(n));
        offset += static_cast<uint64_t>(n);
    }
    return {};
}

FileStamp stampOfStat(const struct stat& st) {
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
            static_cast<uint64_t>(st.st_size),
            static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// Creates a new, empty file for writing. Unlike mkstemp it lets the mode pass through the
// umask, so a new file gets the usual permissions without changing the process-wide umask,
// which other threads may be creating files under.
int createNamedTemporary(const std::string& target, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = detail::temporaryNameBeside(target);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;  // errno is still EEXIST
}

// True when the folder cannot hold unnamed files (an old kernel, or a file system without
// them), so a named temporary file has to do.
bool unnamedFilesUnsupported(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// The file being written: unnamed until it is given a name beside the target, so that a write
// cut short by a crash or a kill leaves nothing behind.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::string& target) : m_target(target) {
        m_fd = ::open(folderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (m_fd < 0 && unnamedFilesUnsupported(errno)) m_fd = createNamedTemporary(target, m_name);
        if (m_fd < 0) m_error = lastError();
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (m_fd >= 0) ::close(m_fd);
        if (!m_name.empty()) ::unlink(m_name.c_str());
    }
    const std::error_code& error() const { return m_error; }
    int fd() const { return m_fd; }
    // Flushes and closes the file.
    std::error_code finish() {
        if (::fsync(m_fd) != 0) return lastError();
        if (!m_name.empty()) {
            const int rc = ::close(m_fd);
            m_fd = -1;
            if (rc != 0) return lastError();
        }
        return {};
    }
    // Gives the unnamed file a name beside the target.
    std::error_code name() {
        if (!m_name.empty()) return {};
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        for (int attempt = 0; attempt < 100 && m_name.empty(); ++attempt) {
            const std::string name = detail::temporaryNameBeside(m_target);
            int rc = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
            // Without /proc, the descriptor itself can be linked by a privileged process.
            if (rc != 0 && errno == ENOENT)
                rc = ::linkat(m_fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
            if (rc == 0) {
                m_name = name;
            } else if (errno != EEXIST) {
                return lastError();
            }
        }
        if (m_name.empty()) return errnoCode(EEXIST);
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc == 0 ? std::error_code() : lastError();
    }
    // Renames the named file over the target.
    std::error_code renameTo(const std::string& target) {
        if (::rename(m_name.c_str(), target.c_str()) != 0) return lastError();
        m_name.clear();
        return {};
    }

  private:
    std::string m_target;
    std::string m_name;  // empty while the file is unnamed
    int m_fd = -1;
    std::error_code m_error;
};

// Keeps the file about to be replaced as `backup`: a second link to it, renamed over the old
// backup, so the backup is whole at every moment.
std::error_code keepBackup(const std::string& target, const std::string& backup) {
    // A write cut short after its backup was made leaves the backup as a second name of the
    // file itself: it holds this file already, and a rename onto it would do nothing.
    struct stat current {};
    struct stat kept {};
    if (::stat(target.c_str(), &current) != 0) return {};  // nothing there to keep
    if (::stat(backup.c_str(), &kept) == 0 && current.st_dev == kept.st_dev &&
        current.st_ino == kept.st_ino)
        return {};
    const std::string temporary = detail::temporaryNameBeside(target, ".bak");
    if (::link(target.c_str(), temporary.c_str()) != 0) {
        // A file system without hard links: a copy, written as safely as the file itself.
        std::error_code error;
        File old = File::openToRead(target, error);
        std::string bytes;
        char buffer[65536];
        for (size_t n = 1; !error && n > 0;) {
            n = old.read(buffer, sizeof buffer, error);
            bytes.append(buffer, n);
        }
        if (error) return error;
        std::string failed;
        return replaceFile(backup, bytes, {}, failed);
    }
    if (::rename(temporary.c_str(), backup.c_str()) != 0) {
        const std::error_code error = lastError();
        ::unlink(temporary.c_str());
        return error;
    }
    return {};
}

}  // namespace

FileKind kindOf(const std::string& path) {
    std::error_code ignored;
    return kindOf(path, ignored);
}

FileKind kindOf(const std::string& path, std::error_code& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = lastError();
        return FileKind::Missing;
    }
    if (S_ISREG(st.st_mode)) return FileKind::Regular;
    return S_ISDIR(st.st_mode) ? FileKind::Directory : FileKind::Other;
}

bool mayWrite(const std::string& path) {
    return ::access(path.c_str(), W_OK) == 0;
}

std::string finalPath(const std::string& path, std::error_code& error) {
    fs::path current(path);
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current.string();
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n < 0) return current.string();
        target.resize(static_cast<size_t>(n));
        const fs::path next(target);
        current = next.is_absolute() ? next : fs::path(folderOf(current.string())) / next;
    }
    error = errnoCode(ELOOP);
    return path;
}

std::optional<FileStamp> stampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return stampOfStat(st);
}

uint64_t hardLinkCount(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<uint64_t>(st.st_nlink);
}

File::~File() {
    if (m_handle >= 0) ::close(fdOf(m_handle));
}

File::File(File&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (m_handle >= 0) ::close(fdOf(m_handle));
        m_handle = other.m_handle;
        other.m_handle = -1;
    }
    return *this;
}

File File::openToRead(const std::string& path, std::error_code& error) {
    // Without O_NONBLOCK, opening a FIFO would wait for a writer.
    File file;
    file.m_handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (file.m_handle < 0) error = lastError();
    return file;
}

File File::openToWrite(const std::string& path, std::error_code& error) {
    File file;
    file.m_handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file.m_handle < 0) error = lastError();
    return file;
}

File File::createNew(const std::string& path, std::error_code& error) {
    File file;
    file.m_handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file.m_handle < 0) error = lastError();
    return file;
}

bool File::isOpen() const {
    return m_handle >= 0;
}

FileKind File::kind() const {
    struct stat st {};
    if (::fstat(fdOf(m_handle), &st) != 0) return FileKind::Missing;
    if (S_ISREG(st.st_mode)) return FileKind::Regular;
    return S_ISDIR(st.st_mode) ? FileKind::Directory : FileKind::Other;
}

uint64_t File::size() const {
    struct stat st {};
    return ::fstat(fdOf(m_handle), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

std::optional<FileStamp> File::stamp() const {
    struct stat st {};
    if (::fstat(fdOf(m_handle), &st) != 0) return std::nullopt;
    return stampOfStat(st);
}

std::string File::whyNotPrivate() const {
    struct stat st {};
    if (::fstat(fdOf(m_handle), &st) != 0 || (st.st_mode & 077) == 0) return {};
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string("Permissions ") + mode +
           " are too open: other users may read it (chmod 600)";
}

size_t File::read(char* to, size_t room, std::error_code& error) {
    while (true) {
        const ssize_t n = ::read(fdOf(m_handle), to, room);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno != EINTR) {
            error = lastError();
            return 0;
        }
    }
}

size_t File::readAt(uint64_t offset, char* to, size_t room, std::error_code& error) {
    while (true) {
        const ssize_t n = ::pread(fdOf(m_handle), to, room, static_cast<off_t>(offset));
        if (n >= 0) return static_cast<size_t>(n);
        if (errno != EINTR) {
            error = lastError();
            return 0;
        }
    }
}

std::error_code File::writeAt(uint64_t offset, std::string_view bytes) {
    return writeAllAt(fdOf(m_handle), bytes, offset);
}

std::error_code File::flush() {
    return ::fdatasync(fdOf(m_handle)) == 0 ? std::error_code() : lastError();
}

std::error_code File::close() {
    const int rc = ::close(fdOf(m_handle));
    m_handle = -1;
    return rc == 0 ? std::error_code() : lastError();
}

std::error_code removeFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return lastError();
    return {};
}

void syncFolder(const std::string& folder) {
    Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
}

std::error_code makeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return {};
    return lastError();
}

std::vector<std::string> folderEntries(const std::string& folder, std::error_code& error) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        error = lastError();
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

std::error_code flushFile(const std::string& path) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return lastError();
    return ::fsync(fd.get()) == 0 ? std::error_code() : lastError();
}

uint64_t freeSpace(const std::string& folder) {
    struct statvfs vfs {};
    if (::statvfs(folder.c_str(), &vfs) != 0) return 0;
    return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

std::error_code addName(const std::string& existing, const std::string& name) {
    return ::link(existing.c_str(), name.c_str()) == 0 ? std::error_code() : lastError();
}

std::error_code renameFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return lastError();
    syncFolder(folderOf(to));
    if (folderOf(from) != folderOf(to)) syncFolder(folderOf(from));
    return {};
}

std::error_code renameToFreeName(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        syncFolder(folderOf(to));
        return {};
    }
    if (errno != EINVAL && errno != ENOSYS) return lastError();
    // A file system that cannot refuse a taken name in the rename itself: a look first, as
    // rename() would take the place of a file of that name.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) return errnoCode(EEXIST);
    return renameFile(from, to);
}

void copyPermissions(const std::string& model, const std::string& file) {
    struct stat st {};
    if (::stat(model.c_str(), &st) != 0) return;
    ::chmod(file.c_str(), st.st_mode & 07777);
    if (::geteuid() == 0) {
        // When this fails the file keeps the owner it has; its permission bits still hold.
        [[maybe_unused]] const int rc = ::chown(file.c_str(), st.st_uid, st.st_gid);
    }
}

bool openFilesBlockRenames() {
    return false;
}

std::error_code replaceFile(const std::string& target, std::string_view bytes,
                            const Replacement& how, std::string& failedPath) {
    failedPath = target;
    TemporaryFile temporary(target);
    if (temporary.error()) return temporary.error();
    // Keep the permissions (and, where allowed, the owner) of the file being replaced; a new
    // file has 0666 & ~umask already, or the bits of the file it is to be like.
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        ::fchmod(temporary.fd(), st.st_mode & 07777);
        if (::geteuid() == 0) {
            // When this fails the file gets root as its owner; its permission bits still hold.
            [[maybe_unused]] const int rc = ::fchown(temporary.fd(), st.st_uid, st.st_gid);
        }
    } else if (!how.permissionsOf.empty() && ::stat(how.permissionsOf.c_str(), &st) == 0 &&
               S_ISREG(st.st_mode)) {
        ::fchmod(temporary.fd(), st.st_mode & 07777);
    }
    if (auto error = writeAll(temporary.fd(), bytes)) return error;
    if (auto error = temporary.finish()) return error;
    // The backup first, so the temporary file has a name for as short a time as can be.
    if (!how.backup.empty()) {
        if (auto error = keepBackup(target, how.backup)) {
            failedPath = how.backup;
            return error;
        }
    }
    if (auto error = temporary.name()) return error;
    if (auto error = temporary.renameTo(target)) return error;
    syncFolder(folderOf(target));  // the rename itself made durable
    return {};
}

std::error_code checkRoomFor(const std::string& target, uint64_t bytes) {
    TemporaryFile probe(target);
    if (probe.error()) return probe.error();
    if (bytes == 0) return {};
    const int rc = ::posix_fallocate(probe.fd(), 0, static_cast<off_t>(bytes));
    if (rc == 0) return {};
    if (rc != EOPNOTSUPP && rc != EINVAL) return errnoCode(rc);
    // A file system that cannot reserve space: compare with what it says it has free.
    struct statvfs vfs {};
    if (::fstatvfs(probe.fd(), &vfs) == 0 &&
        static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize < bytes)
        return errnoCode(ENOSPC);
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < bytes)
        return errnoCode(EFBIG);
    return {};
}

void removeStaleTemporaries(const std::string& target) {
    detail::removeTemporariesOfDeadWriters(target);
}

// --- LockFile ---------------------------------------------------------------------------------

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

LockFile::Outcome LockFile::take(const std::string& path, long& holder, std::error_code& error) {
    holder = 0;
    while (true) {
        Descriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (fd.get() < 0) {
            error = lastError();
            return Outcome::Failed;
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            error = lastError();
            if (error.value() != EWOULDBLOCK) return Outcome::Failed;
            holder = holderOf(fd.get());
            return Outcome::InUse;
        }
        if (stillNamed(fd.get(), path)) {
            m_path = path;
            m_handle = fd.release();
            break;
        }
        // Taken just as its holder removed it: take the new one.
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fdOf(m_handle), 0) != 0 ||
        ::pwrite(fdOf(m_handle), pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The lock holds all the same; only the holder's id is missing from a refusal.
    }
    return Outcome::Taken;
}

LockFile::~LockFile() {
    if (m_handle < 0) return;
    // Removed while still held, so no process can take a lock on a file about to vanish.
    ::unlink(m_path.c_str());
    ::close(fdOf(m_handle));
}

}  // namespace tarvolen::os
