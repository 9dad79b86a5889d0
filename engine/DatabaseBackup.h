#pragma once
// The backup of the database a run takes before its first phase, through the database engine's
// own backup: the way back from a phase that went wrong. The file lands in a folder on this
// machine, named as BackupFiles.h says, written under a temporary name and renamed only once it
// is whole and on disk, so a file with a backup's name is always a whole backup.

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace tarvolen {

class TdmMain;

struct BackupRequest {
    std::string folder;
    // Make the folder (one level) when it is missing: the window's own default folder.
    bool createFolder = false;
    // Restore the fresh backup into a scratch database and compare every table's row count
    // with the database's.
    bool verify = false;
};

struct BackupResult {
    std::string file;
    uint64_t bytes = 0;
    std::chrono::steady_clock::duration took{};
};

// The backup could not be made (or, asked for, its check failed); no file under a backup's name
// was left. The message says why and that the run applied nothing; reason() says only why.
class BackupFailed : public std::runtime_error {
  public:
    BackupFailed(const std::string& message, std::string reason)
        : std::runtime_error(message), m_reason(std::move(reason)) {}
    const std::string& reason() const { return m_reason; }

  private:
    std::string m_reason;
};

// Backs up the database dbsagg is connected to. Logs "Backup del database in corso..." and then
// the file, its size and the time taken (and the check's outcome), reporting its progress to
// the host as it goes. A stop the host asks for throws BatchStopped; a failure logs why and
// throws BackupFailed. REQUIRES: dbsagg connected.
BackupResult BackupDatabaseBeforeRun(TdmMain& dm, const BackupRequest& request);

// For a dry run: the line that says where the backup would go and whether the folder can take
// it; `usable` is false when it cannot (missing, not a folder, not writable, less free space
// than the database takes). REQUIRES: dbsagg connected.
std::string BackupPreviewLine(TdmMain& dm, const BackupRequest& request, bool& usable);

// The log line of a backup made: "BACKUP ESEGUITO NEL FILE <file>: <size> IN <duration>".
std::string BackupDoneLine(const BackupResult& result);
inline constexpr std::string_view kBackupDoneOpening = "BACKUP ESEGUITO NEL FILE ";

}  // namespace tarvolen
