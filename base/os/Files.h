#pragma once
// The file operations the plan store and the engine need, one implementation per platform
// (FilesPosix.cpp, FilesWindows.cpp). Paths are the program's narrow strings: bytes on POSIX,
// the ANSI code page on Windows. Failures come back as error codes; the callers word them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace tarvolen::os {

enum class FileKind { Missing, Regular, Directory, Other };

// What `path` names, symbolic links followed.
FileKind kindOf(const std::string& path);
// The same; when it is Missing, `error` says why (no such file, a folder on the way that may
// not be searched...).
FileKind kindOf(const std::string& path, std::error_code& error);

// True when this process may write the file.
bool mayWrite(const std::string& path);

// The file `path` finally names: symbolic links followed, also to a file that does not exist
// yet; any other path as it is. Sets `error` for a loop of links.
std::string finalPath(const std::string& path, std::error_code& error);

// What tells one state of a file from another: which file it is (device and inode; volume
// serial and file index on Windows), its size and when it last changed. A file written anew or
// copied over gets another stamp.
struct FileStamp {
    uint64_t device = 0;
    uint64_t index = 0;
    uint64_t size = 0;
    int64_t modified = 0;  // in nanoseconds on POSIX, 100 ns steps on Windows
    bool operator==(const FileStamp&) const = default;
};
// The stamp of the regular file `path` names, symbolic links followed; none when it names no
// regular file.
std::optional<FileStamp> stampOf(const std::string& path);

// How many names (hard links) the regular file `path` names has; 0 when it names no regular
// file.
uint64_t hardLinkCount(const std::string& path);

// An open file, closed when the object goes.
class File {
  public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens for reading; a FIFO without a writer does not block. kind() says what was opened.
    static File openToRead(const std::string& path, std::error_code& error);
    // Opens for writing at given places (writeAt), created when missing and emptied first,
    // for a file each of whose writes must be on disk before the program goes on.
    static File openToWrite(const std::string& path, std::error_code& error);
    // Creates a new, empty file for writing; fails with std::errc::file_exists when a file
    // of that name exists, so that two processes never get the same new file.
    static File createNew(const std::string& path, std::error_code& error);

    bool isOpen() const;
    FileKind kind() const;
    uint64_t size() const;
    // The open file's stamp as it is now.
    std::optional<FileStamp> stamp() const;
    // Why users other than the file's owner may read or write it; empty when none may.
    std::string whyNotPrivate() const;

    // Reads up to `room` bytes; 0 at the end of the file.
    size_t read(char* to, size_t room, std::error_code& error);
    // Reads up to `room` bytes at byte `offset` of the file; 0 at its end.
    size_t readAt(uint64_t offset, char* to, size_t room, std::error_code& error);
    // Writes all of `bytes` at byte `offset` of the file.
    std::error_code writeAt(uint64_t offset, std::string_view bytes);
    // Puts the file's contents on disk.
    std::error_code flush();
    // Closes now, reporting an error a deferred write may surface only here.
    std::error_code close();

  private:
    intptr_t m_handle = -1;
};

// Removes a file; a missing one is no error.
std::error_code removeFile(const std::string& path);

// Makes the names in a folder durable (a file created, renamed or removed there).
void syncFolder(const std::string& folder);

// Makes a folder; one that is there already is no error.
std::error_code makeFolder(const std::string& path);

// The names in a folder ("." and ".." left out), in no particular order.
std::vector<std::string> folderEntries(const std::string& folder, std::error_code& error);

// Puts the contents of the file `path`, written by this process or another, on disk.
std::error_code flushFile(const std::string& path);

// Bytes this process may still write to the file system that holds `folder`; 0 when unknown.
uint64_t freeSpace(const std::string& folder);

// Gives the file `existing` a second name, `name` (a hard link). Never takes the place of a
// file: std::errc::file_exists when `name` is taken. Where the file system has no hard links
// the error compares equal to std::errc::operation_not_supported,
// std::errc::operation_not_permitted or std::errc::cross_device_link.
std::error_code addName(const std::string& existing, const std::string& name);

// Renames a file, taking the place of the file `to` names if there is one, in one step; the
// rename is on disk when this returns.
std::error_code renameFile(const std::string& from, const std::string& to);

// Renames a file to a name no file has: std::errc::file_exists when `to` is taken.
std::error_code renameToFreeName(const std::string& from, const std::string& to);

// Gives the file `file` the permissions of the file `model`: its permission bits and, where
// this process may, its owner (on Windows, its security settings).
void copyPermissions(const std::string& model, const std::string& file);

// True where a file some process holds open cannot be renamed or take another's place
// (Windows): a program must let go of a file before it is renamed or replaced.
bool openFilesBlockRenames();

struct Replacement {
    // When not empty, the file being replaced takes this name, and is whole there at every
    // moment.
    std::string backup;
    // When `target` does not exist yet, the new file takes the permissions of this file (its
    // permission bits; its security settings on Windows), when it names one.
    std::string permissionsOf;
};

// Replaces `target` with a new file holding `bytes`: a temporary file beside it, written and
// put on disk, then put in place in one step, so that a failure at any point leaves the old
// file whole. The replaced file's permissions are kept. On failure `failedPath` names the file
// that could not be made: `target` or the backup.
std::error_code replaceFile(const std::string& target, std::string_view bytes,
                            const Replacement& how, std::string& failedPath);

// Whether a file could be put in place of `target` now: its folder takes a new file and has
// room for `bytes` (the process's limit on file size included). Leaves nothing behind.
std::error_code checkRoomFor(const std::string& target, uint64_t bytes);

// Removes the temporary files replaceFile left beside `target` in processes that died.
void removeStaleTemporaries(const std::string& target);

// A new name beside `target` for a file that is written whole (by this process or a program it
// runs) before it is renamed to `target`, in the scheme of replaceFile's temporary files: one
// left by a process that died can be told from one still being written.
std::string temporaryNameBeside(const std::string& target);

// Removes the temporary files in `folder` (replaceFile's, and those named by
// temporaryNameBeside) of targets whose name ends in `suffix`, left by processes that died.
void removeStaleTemporariesIn(const std::string& folder, std::string_view suffix);

// An exclusive lock on a file beside the thing it keeps, holding the holder's process id; the
// lock ends with the object or with the process. The file is removed when the lock is let go.
class LockFile {
  public:
    LockFile() = default;
    ~LockFile();
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    enum class Outcome { Taken, InUse, Failed };
    // Tries once to take the lock, creating the file when missing. InUse: `holder` is the
    // holder's process id (0 when unknown). Failed: `error` says why.
    Outcome take(const std::string& path, long& holder, std::error_code& error);

  private:
    std::string m_path;
    intptr_t m_handle = -1;
};

}  // namespace tarvolen::os
