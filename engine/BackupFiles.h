#pragma once
// The backup files of databases: "<alias>-<version>-<YYYYMMDD-HHMMSS>.fbk", the alias the
// database was backed up through, the version its SYSDBVER held and the local time the backup
// began. A second backup in the same second takes "-2" before ".fbk", and so on.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvolen {

struct BackupFileInfo {
    std::string path;     // as found: the folder given, then the name
    std::string alias;    // as the name holds it (characters a file name cannot hold are "_")
    std::string version;  // a.b.c.d
    std::string stamp;    // YYYYMMDD-HHMMSS
    uint64_t bytes = 0;

    // "2026-05-02 14:03:07"
    std::string takenText() const;
};

// "<alias>-<version>-<YYYYMMDD-HHMMSS>.fbk" for a backup beginning at `time` (local time); with
// `sequence` above 1, "-<sequence>" before ".fbk".
std::string BackupFileName(std::string_view alias, std::string_view version,
                           std::chrono::system_clock::time_point time, int sequence = 1);

// The parts of a backup's file name (no folder); nullopt for a name not made by BackupFileName.
std::optional<BackupFileInfo> ParseBackupFileName(std::string_view name);

// The backups in `folder`, newest first (by the time in their names, then by name). Files of
// other names and backups still being written are left out. Throws EFOpenError when the folder
// cannot be read.
std::vector<BackupFileInfo> ListBackups(const std::string& folder);

// "1.5 MB", "312.0 KB", "17 B": binary multiples, one decimal.
std::string SizeText(uint64_t bytes);

}  // namespace tarvolen
