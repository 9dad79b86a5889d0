#pragma once
// Whole-file reads and crash-safe writes, with the file errors the user sees. Nothing here locks
// a file or keeps two writers apart: when two writes meet, the later rename wins. Keeping a run
// and an editor of the plan apart is the job of PlanLock, held above this layer.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/os/Files.h"
#include "plan/Errors.h"

namespace tarvolen {

// Absolute form of a (possibly relative) path, resolved against the current directory now.
std::string fullPath(const std::string& path);
bool fileExists(const std::string& path);

// The file a path finally names: symbolic links followed, also one whose target does not exist
// yet; any other path as it is. Throws EFCreateError for a loop of links.
std::string resolvedFile(const std::string& path);

// Which file a path names and in what state: every write through writeFileAtomically makes a
// new file, and an edit in place changes the size or the time.
using FileIdentity = os::FileStamp;
// The identity of the regular file the path names now; none when there is no such file.
std::optional<FileIdentity> fileIdentity(const std::string& path);

// Reads the whole file as it stands, without a lock. A file that writeFileAtomically replaces
// meanwhile is read whole in its old or its new contents, never a mix of both, since the
// replacement is a rename; a program that writes the file in place can still be seen midway.
// Only a regular file is read: a directory, device, FIFO, pipe or socket is refused before
// anything is read from it (a FIFO without a writer does not block the caller).
// Throws EFOpenError: Cannot open file "<full path>". <system error text>
std::string readWholeFile(const std::string& path);
// Opens a file to read it as readWholeFile does, refusing what it refuses with its messages.
// Throws EFOpenError.
os::File openFileToRead(const std::string& path);
// The EFOpenError of reading the file, for `why` (the system's words).
EFOpenError fileReadError(const std::string& path, const std::string& why);
// The same, also giving the identity of the very file the bytes came from.
std::string readWholeFile(const std::string& path, FileIdentity& identity);

// As readWholeFile, for a file holding a secret: also refused when users other than its owner
// may read or write it (any of the mode bits 077 set; on Windows, an entry of its security
// settings that lets another account than its owner, the system or the administrators read or
// write it).
std::string readPrivateFile(const std::string& path);

struct WriteOptions {
    // Keep the file being replaced as "<file>.bak" beside it, replacing the one kept before.
    // The backup is put in place by a hard link and a rename (a copy written the same way
    // where the file system has no hard links), so it is always a whole file; a write whose
    // bytes equal the file's present contents leaves the backup as it was.
    bool keepBackup = false;
    // A file that does not exist yet takes the permissions of the regular file this names
    // (its permission bits; on Windows its security settings); a file being replaced keeps its
    // own. Empty, or no such file: 0666 less the umask (on Windows, the folder's settings).
    std::string newFileLike;
};

// Replaces the file's contents: writes an unnamed temporary file in the same folder (a named
// one where the file system cannot make it unnamed, and always on Windows), flushes it to disk
// and renames it over the target in one step (MoveFileExW written through, on Windows), so a
// failure at any point leaves the old file whole. A path that is a symbolic link is written
// through to the file it names, and the link stays. The replaced file's permission bits (its
// security settings and attributes, on Windows) are kept. Temporary files left by processes
// that died during a write are removed.
// Throws EFCreateError: Cannot create file "<full path>". <system error text>
void writeFileAtomically(const std::string& path, std::string_view bytes,
                         const WriteOptions& options = {});

// Checks that writeFileAtomically could replace the file now: its folder takes a new file and
// has room for `bytes` more (the limits of the process on file size included). Writes nothing
// that stays, and removes the temporary files of writers that died, as a write does.
// Throws EFCreateError naming the file, as a failed write would.
void checkReplaceable(const std::string& path, uint64_t bytes);

// A new name beside `path` for a file that is written whole (by this process or a program it
// runs) before it is renamed to `path`, marked as this process's own the way the temporary
// files of writeFileAtomically are, so that one left by a process that died can be told from
// one still being written.
std::string TemporaryNameBeside(const std::string& path);

// Removes the temporary files in `folder` (those of writeFileAtomically and those named by
// TemporaryNameBeside) of targets whose name ends in `suffix`, left by processes that died.
void RemoveAbandonedTemporaries(const std::string& folder, std::string_view suffix);

}  // namespace tarvolen
