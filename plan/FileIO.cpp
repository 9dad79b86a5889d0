#include "plan/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "plan/Errors.h"

namespace tarvolen {
namespace {

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

std::string openError(const std::string& path, int error) {
    return "Cannot open file \"" + fullPath(path) + "\". " + std::strerror(error);
}

std::string createError(const std::string& path, int error) {
    return "Cannot create file \"" + fullPath(path) + "\". " + std::strerror(error);
}

// Creates a new, empty file beside the target for writing. Unlike mkstemp it lets the mode pass
// through the umask, so a new file gets the usual permissions without changing the process-wide
// umask, which other threads may be creating files under.
int createTemporary(const std::filesystem::path& folder, const std::string& base,
                    std::string& name) {
    static std::atomic<unsigned> counter{0};
    const auto seed = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    std::string prefix = ".";
    prefix += base;
    prefix += '.';
    prefix += std::to_string(::getpid());
    prefix += '.';
    prefix += std::to_string(seed % 1000000);
    prefix += '.';
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = (folder / (prefix + std::to_string(counter.fetch_add(1)))).string();
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;  // errno is still EEXIST
}

}  // namespace

std::string fullPath(const std::string& path) {
    std::error_code ec;
    auto absolute = std::filesystem::absolute(path, ec);
    if (ec) return path;
    return absolute.lexically_normal().string();
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string readWholeFile(const std::string& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) throw EFOpenError(openError(path, errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throw EFOpenError(openError(path, errno));
    if (S_ISDIR(st.st_mode)) throw EFOpenError(openError(path, EISDIR));
    std::string data;
    data.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    auto readInto = [&](char* to, size_t room) {
        while (true) {
            const ssize_t n = ::read(fd.get(), to, room);
            if (n >= 0) return static_cast<size_t>(n);
            if (errno != EINTR) throw EFOpenError(openError(path, errno));
        }
    };
    while (done < data.size()) {
        const size_t n = readInto(data.data() + done, data.size() - done);
        if (n == 0) break;
        done += n;
    }
    data.resize(done);
    // A file that grew since fstat: the rest goes on in pieces. Checked through a small buffer,
    // so a file of the size fstat gave is never copied into a larger string (twice its size).
    char more[65536];
    for (size_t n = readInto(more, sizeof more); n > 0; n = readInto(more, sizeof more)) {
        data.append(more, n);
    }
    return data;
}

void writeFileAtomically(const std::string& path, std::string_view bytes) {
    const std::filesystem::path target(path);
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string tempName;
    FileDescriptor fd(createTemporary(folder, target.filename().string(), tempName));
    if (fd.get() < 0) throw EFCreateError(createError(path, errno));
    auto fail = [&](int error) {
        ::unlink(tempName.c_str());
        throw EFCreateError(createError(path, error));
    };
    // Keep the permissions of the file being replaced; a new file has 0666 & ~umask already.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) ::fchmod(fd.get(), st.st_mode & 07777);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd.get()) != 0) fail(errno);
    if (fd.close() != 0) fail(errno);
    if (::rename(tempName.c_str(), path.c_str()) != 0) fail(errno);
    // Make the rename itself durable.
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
}

}  // namespace tarvolen
