// The file operations on Windows.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <aclapi.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <vector>

#include "base/os/Files.h"
#include "base/os/Process.h"
#include "base/os/SystemError.h"
#include "base/os/TemporaryNames.h"
#include "base/os/WindowsText.h"

namespace tarvolen::os {
namespace {

using detail::wideFromAnsi;

std::error_code windowsError(DWORD code) {
    SetLastError(code);
    return lastError();
}

// File keeps its handle as an integer, the type its header shares with POSIX descriptors.
HANDLE handleOf(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);  // NOLINT(performance-no-int-to-ptr)
}

std::string folderOf(const std::string& file) {
    const std::filesystem::path path(file);
    return path.has_parent_path() ? path.parent_path().string() : std::string(".");
}

// Closes a handle when it goes out of scope.
class Handle {
  public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (valid()) CloseHandle(m_handle);
    }
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE get() const { return m_handle; }
    HANDLE release() {
        const HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return handle;
    }

  private:
    HANDLE m_handle;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::error_code writeAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return lastError();
        if (written == 0) return windowsError(ERROR_DISK_FULL);
        bytes.remove_prefix(written);
    }
    return {};
}

FileKind kindOfHandle(HANDLE file) {
    if (GetFileType(file) != FILE_TYPE_DISK) return FileKind::Other;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return FileKind::Missing;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::Directory
                                                                   : FileKind::Regular;
}

std::optional<FileStamp> stampOfHandle(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
    auto join = [](DWORD high, DWORD low) {
        return (static_cast<uint64_t>(high) << 32) | low;
    };
    return FileStamp{info.dwVolumeSerialNumber, join(info.nFileIndexHigh, info.nFileIndexLow),
                     join(info.nFileSizeHigh, info.nFileSizeLow),
                     static_cast<int64_t>(join(info.ftLastWriteTime.dwHighDateTime,
                                               info.ftLastWriteTime.dwLowDateTime))};
}

// A named temporary file beside the target, removed unless it was put in place.
class TemporaryFile {
  public:
    TemporaryFile(const std::string& target, DWORD flags) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            m_name = detail::temporaryNameBeside(target);
            m_handle = CreateFileW(wideFromAnsi(m_name).c_str(), GENERIC_WRITE | DELETE | WRITE_DAC,
                                   FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | flags, nullptr);
            if (m_handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) break;
        }
        if (m_handle == INVALID_HANDLE_VALUE) {
            m_error = lastError();
            m_name.clear();
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
        if (!m_name.empty()) DeleteFileW(wideFromAnsi(m_name).c_str());
    }
    const std::error_code& error() const { return m_error; }
    HANDLE handle() const { return m_handle; }
    const std::string& name() const { return m_name; }
    // Flushes and closes the file.
    std::error_code finish() {
        if (!FlushFileBuffers(m_handle)) return lastError();
        const BOOL closed = CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        return closed ? std::error_code() : lastError();
    }
    // The file now has the target's name, or has gone.
    void placed() { m_name.clear(); }

  private:
    std::string m_name;
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    std::error_code m_error;
};

// Gives `file` the access rules of the regular file `model`, as they are: beside the model
// (the file it replaces), entries the model inherits from the folder stay inherited;
// elsewhere the list is protected from its new folder's, so that a copy of a private file
// stays private in any folder. Where the rules cannot be read or set, the file keeps its
// folder's. (Set on the handle as the kernel keeps them: no entry is recomputed.)
void copySecurity(const std::string& model, HANDLE file, bool besideModel) {
    if (kindOf(model) != FileKind::Regular) return;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(wideFromAnsi(model).c_str(), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                              &descriptor) != ERROR_SUCCESS)
        return;
    if (!besideModel) SetSecurityDescriptorControl(descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    SetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
}

// Keeps the file about to be replaced as `backup`: a second name for it (a hard link) renamed
// over the old backup, so the backup is whole at every moment.
std::error_code keepBackup(const std::string& target, const std::string& backup) {
    // A write cut short after its backup was made leaves the backup as a second name of the
    // file itself: it holds this file already.
    const auto current = stampOf(target);
    const auto kept = stampOf(backup);
    if (current && kept && current->device == kept->device && current->index == kept->index)
        return {};
    const std::string temporary = detail::temporaryNameBeside(target, ".bak");
    const std::wstring wideTemporary = wideFromAnsi(temporary);
    if (!CreateHardLinkW(wideTemporary.c_str(), wideFromAnsi(target).c_str(), nullptr)) {
        // A file system without hard links (FAT, some shares): a copy, written as safely as
        // the file itself.
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
    if (!MoveFileExW(wideTemporary.c_str(), wideFromAnsi(backup).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const std::error_code error = lastError();
        DeleteFileW(wideTemporary.c_str());
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
    const DWORD attributes = GetFileAttributesW(wideFromAnsi(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = lastError();
        return FileKind::Missing;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::Directory : FileKind::Regular;
}

bool mayWrite(const std::string& path) {
    return _waccess(wideFromAnsi(path).c_str(), 2) == 0;
}

std::string finalPath(const std::string& path, std::error_code& error) {
    const std::wstring wide = wideFromAnsi(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return path;
    // A symbolic link: the file it finally names, as the system resolves it. A link whose
    // target is missing is written over as it is.
    Handle file(CreateFileW(wide.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) {
        if (GetLastError() == ERROR_CANT_RESOLVE_FILENAME) error = lastError();
        return path;
    }
    std::wstring final(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file.get(), final.data(),
                                             static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
    if (length >= final.size()) {
        final.resize(length + 1);
        length = GetFinalPathNameByHandleW(file.get(), final.data(),
                                           static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
    }
    if (length == 0 || length >= final.size()) return path;
    final.resize(length);
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        final = L"\\\\" + final.substr(8);
    } else if (final.rfind(L"\\\\?\\", 0) == 0) {
        final = final.substr(4);
    }
    return detail::ansiFromWide(final);
}

std::optional<FileStamp> stampOf(const std::string& path) {
    Handle file(CreateFileW(wideFromAnsi(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid() || kindOfHandle(file.get()) != FileKind::Regular) return std::nullopt;
    return stampOfHandle(file.get());
}

uint64_t hardLinkCount(const std::string& path) {
    Handle file(CreateFileW(wideFromAnsi(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.valid() || kindOfHandle(file.get()) != FileKind::Regular ||
        !GetFileInformationByHandle(file.get(), &info))
        return 0;
    return info.nNumberOfLinks;
}

File::~File() {
    if (m_handle != -1) CloseHandle(handleOf(m_handle));
}

File::File(File&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (m_handle != -1) CloseHandle(handleOf(m_handle));
        m_handle = other.m_handle;
        other.m_handle = -1;
    }
    return *this;
}

File File::openToRead(const std::string& path, std::error_code& error) {
    // Backup semantics open a folder too, so that kind() can name it.
    File file;
    const HANDLE handle = CreateFileW(wideFromAnsi(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = lastError();
        return file;
    }
    file.m_handle = reinterpret_cast<intptr_t>(handle);
    return file;
}

File File::openToWrite(const std::string& path, std::error_code& error) {
    File file;
    const HANDLE handle = CreateFileW(wideFromAnsi(path).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = lastError();
        return file;
    }
    file.m_handle = reinterpret_cast<intptr_t>(handle);
    return file;
}

File File::createNew(const std::string& path, std::error_code& error) {
    File file;
    const HANDLE handle = CreateFileW(wideFromAnsi(path).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = lastError();
        return file;
    }
    file.m_handle = reinterpret_cast<intptr_t>(handle);
    return file;
}

bool File::isOpen() const {
    return m_handle != -1;
}

FileKind File::kind() const {
    return kindOfHandle(handleOf(m_handle));
}

uint64_t File::size() const {
    LARGE_INTEGER size{};
    return GetFileSizeEx(handleOf(m_handle), &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
}

std::optional<FileStamp> File::stamp() const {
    return stampOfHandle(handleOf(m_handle));
}

std::string File::whyNotPrivate() const {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handleOf(m_handle), SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return "Its security settings cannot be read";
    struct Free {
        PSECURITY_DESCRIPTOR d;
        ~Free() { LocalFree(d); }
    } free{descriptor};
    if (dacl == nullptr) return "Its security settings let everyone read it: allow only its owner";
    // Besides the owner, the system and the administrators may see every file anyway.
    auto trusted = [&](PSID sid) {
        return EqualSid(sid, owner) || IsWellKnownSid(sid, WinLocalSystemSid) ||
               IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
               IsWellKnownSid(sid, WinCreatorOwnerSid);
    };
    constexpr ACCESS_MASK kReadOrWrite = FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA |
                                         GENERIC_READ | GENERIC_WRITE | GENERIC_ALL;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) continue;
        const auto* header = static_cast<ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0)
            continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        PSID sid = &allowed->SidStart;
        if ((allowed->Mask & kReadOrWrite) == 0 || trusted(sid)) continue;
        char name[256] = "another user";
        char domain[256];
        DWORD nameLength = sizeof name;
        DWORD domainLength = sizeof domain;
        SID_NAME_USE use{};
        if (!LookupAccountSidA(nullptr, sid, name, &nameLength, domain, &domainLength, &use))
            std::snprintf(name, sizeof name, "another user");
        return std::string("Its security settings let ") + name +
               " read it: allow only its owner";
    }
    return {};
}

size_t File::read(char* to, size_t room, std::error_code& error) {
    DWORD done = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(room, 1u << 30));
    if (!ReadFile(handleOf(m_handle), to, chunk, &done, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE) return 0;  // the writer is gone: the end
        error = lastError();
        return 0;
    }
    return done;
}

size_t File::readAt(uint64_t offset, char* to, size_t room, std::error_code& error) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(handleOf(m_handle), at, nullptr, FILE_BEGIN)) {
        error = lastError();
        return 0;
    }
    return read(to, room, error);
}

std::error_code File::writeAt(uint64_t offset, std::string_view bytes) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(handleOf(m_handle), at, nullptr, FILE_BEGIN)) return lastError();
    return writeAll(handleOf(m_handle), bytes);
}

std::error_code File::flush() {
    return FlushFileBuffers(handleOf(m_handle)) ? std::error_code() : lastError();
}

std::error_code File::close() {
    const BOOL closed = CloseHandle(handleOf(m_handle));
    m_handle = -1;
    return closed ? std::error_code() : lastError();
}

std::error_code removeFile(const std::string& path) {
    if (DeleteFileW(wideFromAnsi(path).c_str())) return {};
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
    return windowsError(error);
}

void syncFolder(const std::string&) {
    // The file system's journal keeps names; the renames that matter are written through.
}

std::error_code makeFolder(const std::string& path) {
    if (CreateDirectoryW(wideFromAnsi(path).c_str(), nullptr) ||
        GetLastError() == ERROR_ALREADY_EXISTS)
        return {};
    return lastError();
}

std::vector<std::string> folderEntries(const std::string& folder, std::error_code& error) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(
        (wideFromAnsi(folder.empty() ? std::string(".") : folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        // A folder with nothing in it, not even "." (a drive's root), is no error.
        if (GetLastError() != ERROR_FILE_NOT_FOUND) error = lastError();
        return names;
    }
    do {
        const std::wstring_view name(found.cFileName);
        if (name != L"." && name != L"..") names.push_back(detail::ansiFromWide(name));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

std::error_code flushFile(const std::string& path) {
    Handle file(CreateFileW(wideFromAnsi(path).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return lastError();
    return FlushFileBuffers(file.get()) ? std::error_code() : lastError();
}

uint64_t freeSpace(const std::string& folder) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(wideFromAnsi(folder).c_str(), &available, nullptr, nullptr))
        return 0;
    return available.QuadPart;
}

std::error_code addName(const std::string& existing, const std::string& name) {
    return CreateHardLinkW(wideFromAnsi(name).c_str(), wideFromAnsi(existing).c_str(), nullptr)
               ? std::error_code()
               : lastError();
}

std::error_code renameFile(const std::string& from, const std::string& to) {
    return MoveFileExW(wideFromAnsi(from).c_str(), wideFromAnsi(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? std::error_code()
               : lastError();
}

std::error_code renameToFreeName(const std::string& from, const std::string& to) {
    return MoveFileExW(wideFromAnsi(from).c_str(), wideFromAnsi(to).c_str(),
                       MOVEFILE_WRITE_THROUGH)
               ? std::error_code()
               : lastError();
}

void copyPermissions(const std::string& model, const std::string& file) {
    Handle target(CreateFileW(wideFromAnsi(file).c_str(), READ_CONTROL | WRITE_DAC, kShareAll,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (target.valid()) copySecurity(model, target.get(), folderOf(model) == folderOf(file));
}

bool openFilesBlockRenames() {
    return true;
}

std::error_code replaceFile(const std::string& target, std::string_view bytes,
                            const Replacement& how, std::string& failedPath) {
    failedPath = target;
    TemporaryFile temporary(target, FILE_FLAG_WRITE_THROUGH);
    if (temporary.error()) return temporary.error();
    const std::wstring wideTarget = wideFromAnsi(target);
    const DWORD attributes = GetFileAttributesW(wideTarget.c_str());
    const bool replacing = attributes != INVALID_FILE_ATTRIBUTES;
    // The new file takes the security settings and attributes of the one it replaces, as a
    // file written in place would keep them.
    if (replacing) {
        copySecurity(target, temporary.handle(), true);
    } else if (!how.permissionsOf.empty()) {
        copySecurity(how.permissionsOf, temporary.handle(),
                     folderOf(how.permissionsOf) == folderOf(target));
    }
    if (auto error = writeAll(temporary.handle(), bytes)) return error;
    if (auto error = temporary.finish()) return error;
    const std::wstring wideTemporary = wideFromAnsi(temporary.name());
    if (replacing) {
        constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        if ((attributes & kKept) != 0)
            SetFileAttributesW(wideTemporary.c_str(), attributes & kKept);
    }
    // The backup first, so the temporary file has a name for as short a time as can be.
    if (replacing && !how.backup.empty()) {
        if (auto error = keepBackup(target, how.backup)) {
            failedPath = how.backup;
            return error;
        }
    }
    // One rename over the target: the old file or the new one has the name at every moment
    // (ReplaceFileW would move the old file away first, and a kill then leaves no file).
    if (!MoveFileExW(wideTemporary.c_str(), wideTarget.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return lastError();
    temporary.placed();
    return {};
}

std::error_code checkRoomFor(const std::string& target, uint64_t bytes) {
    TemporaryFile probe(target, FILE_FLAG_DELETE_ON_CLOSE);
    if (probe.error()) return probe.error();
    if (bytes == 0) return {};
    ULARGE_INTEGER available{};
    if (GetDiskFreeSpaceExW(wideFromAnsi(folderOf(target)).c_str(), &available, nullptr,
                            nullptr) &&
        available.QuadPart < bytes)
        return windowsError(ERROR_DISK_FULL);
    // Where the file system reserves the space of a file's end, the probe takes it for real.
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(bytes);
    if (!SetFilePointerEx(probe.handle(), end, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(probe.handle()))
        return lastError();
    return {};
}

void removeStaleTemporaries(const std::string& target) {
    detail::removeTemporariesOfDeadWriters(target);
}

// --- LockFile ---------------------------------------------------------------------------------

namespace {

// The locked range lies far past the holder's id at the start of the file: a lock on Windows
// keeps other processes from reading the bytes it covers.
constexpr DWORD kLockOffsetHigh = 0x40000000;

long holderOf(HANDLE file) {
    char text[32] = {};
    OVERLAPPED at{};
    DWORD n = 0;
    if (!ReadFile(file, text, sizeof text - 1, &n, &at) || n == 0) return 0;
    long pid = 0;
    for (DWORD i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i)
        pid = pid * 10 + (text[i] - '0');
    return pid;
}

}  // namespace

LockFile::Outcome LockFile::take(const std::string& path, long& holder, std::error_code& error) {
    holder = 0;
    const std::wstring wide = wideFromAnsi(path);
    // A lock file its holder is removing refuses to open for a moment: that holder is done.
    for (int attempt = 0; m_handle == -1; ++attempt) {
        if (attempt == 200) {
            if (!error) error = windowsError(ERROR_SHARING_VIOLATION);
            return Outcome::Failed;
        }
        Handle file(CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            error = lastError();
            if (GetLastError() == ERROR_ACCESS_DENIED) {
                Sleep(5);
                continue;
            }
            return Outcome::Failed;
        }
        OVERLAPPED range{};
        range.OffsetHigh = kLockOffsetHigh;
        if (!LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                        &range)) {
            error = lastError();
            if (GetLastError() != ERROR_LOCK_VIOLATION && GetLastError() != ERROR_IO_PENDING)
                return Outcome::Failed;
            holder = holderOf(file.get());
            return Outcome::InUse;
        }
        // Taken just as its holder removed it: take the new one.
        const auto held = stampOfHandle(file.get());
        const auto named = stampOf(path);
        if (!held || !named || held->device != named->device || held->index != named->index)
            continue;
        m_path = path;
        m_handle = reinterpret_cast<intptr_t>(file.release());
    }
    const std::string pid = std::to_string(currentProcessId()) + "\n";
    LARGE_INTEGER start{};
    DWORD written = 0;
    if (!SetFilePointerEx(handleOf(m_handle), start, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(handleOf(m_handle)) ||
        !WriteFile(handleOf(m_handle), pid.data(), static_cast<DWORD>(pid.size()), &written,
                   nullptr)) {
        // The lock holds all the same; only the holder's id is missing from a refusal.
    }
    return Outcome::Taken;
}

LockFile::~LockFile() {
    if (m_handle == -1) return;
    // Removed while still held, so no process can take a lock on a file about to vanish.
    DeleteFileW(wideFromAnsi(m_path).c_str());
    CloseHandle(handleOf(m_handle));
}

}  // namespace tarvolen::os
