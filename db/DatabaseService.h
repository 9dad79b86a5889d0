#pragma once
// The database engine's own backup and restore, and what a backup or a restore needs to know of
// a database: who else is attached to it, where its file lies, how large it is and how many rows
// each of its tables holds.
//
// A database opened in-process is backed up and restored by the engine inside this process.
// For a database behind a server the backup file stays on this machine too: the backup is
// written by the engine's backup utility run here as a client of the server (the server's own
// backup can hand its file over only a kilobyte per round trip), and a restore sends the file
// to the server, whose engine builds the database from it as it arrives.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "db/Aliases.h"
#include "db/Connection.h"
#include "db/DatabaseError.h"

namespace tarvolen::database {

// How far a backup or a restore has gone, as the engine reports it.
struct ServiceProgress {
    size_t tablesDone = 0;   // tables whose rows are all written (backup) or read back (restore)
    std::string table;       // the table whose rows are on their way; empty before the first
    uint64_t rows = 0;       // rows of that table so far, in steps of ten thousand
    uint64_t fileBytes = 0;  // bytes of the backup file written so far; 0 for a restore
};

// Called at least every 50 ms while a backup or restore goes on; false stops it.
using ServiceObserver = std::function<bool(const ServiceProgress&)>;

// A backup or restore that its observer stopped. What it had written is gone.
class ServiceStopped : public DatabaseError {
  public:
    using DatabaseError::DatabaseError;
};

// Writes a backup of the database behind `settings` into `file`, a file on this machine that
// must not exist yet (a folder that refuses it, a full disk or a lost connection fail the
// backup with the engine's text, and whatever it wrote is removed).
void BackupDatabase(const AliasSettings& settings, const LoginParams& login,
                    const std::filesystem::path& file, const ServiceObserver& observer);

// Builds a new database `target` from the backup `file` on this machine. `target` is a file on
// this machine for a database opened in-process (settings.isRemote() false), else a file on the
// server behind `settings`; the engine refuses one that exists. A failed restore leaves no
// database behind.
void RestoreDatabase(const AliasSettings& settings, const LoginParams& login,
                     const std::filesystem::path& file, const std::string& target,
                     const ServiceObserver& observer);

// Takes the database `file` (a file on the server behind `settings`) down, so no connection
// can be made to it; fails, changing nothing, while any connection is attached.
void ShutDownDatabase(const AliasSettings& settings, const LoginParams& login,
                      const std::string& file);
// Lets connections to a database taken down by ShutDownDatabase be made again.
void BringDatabaseOnline(const AliasSettings& settings, const LoginParams& login,
                         const std::string& file);

// Splits a server's connection string ("host:/path", "host/3051:/path", "inet://host/path")
// into the server part and the file on the server.
struct ServerFile {
    std::string server;  // "host", "host/3051", "inet://host"
    std::string file;    // the database file as the server names it
};
ServerFile SplitServerFile(const std::string& database);

// A connection to the database other than the one asking.
struct AttachmentInfo {
    std::string user;
    std::string address;  // the client's network address; empty for one in the same process
    std::string process;  // the client program, when the client said which
};
// The user connections attached to the connected database besides `connection` itself (the
// engine's own workers are left out).
std::vector<AttachmentInfo> OtherAttachments(Connection& connection);

// The connected database's file, as the engine that opened it names it.
std::string DatabaseFileName(Connection& connection);
// The size of the connected database: its pages times the page size.
uint64_t DatabaseBytes(Connection& connection);
// Every user table that holds rows of its own (no views, no temporary or external tables), in
// name order, with its row count.
std::vector<std::pair<std::string, int64_t>> TableRowCounts(Connection& connection);

}  // namespace tarvolen::database
