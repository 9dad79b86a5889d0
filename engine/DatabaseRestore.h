#pragma once
// Putting a database back as one of its backups holds it: the backup is restored into a new
// file beside the database, and only once that restore is complete does the new file take the
// database's place, the replaced database staying beside it under another name.
//
// A database opened in-process is restored by the engine of this process, which keeps every
// other program off it from the first check to the swap. A database behind a server is restored
// by the server (the backup is sent to it) into a new file in the database's folder, and the
// swap is made, with the database shut down, by renaming the two files; so the database's folder
// must be a folder of this machine (the server runs here, or its folder is shared here).

#include <stdexcept>
#include <string>

#include "db/DatabaseService.h"

namespace tarvolen {

class TdmMain;

// The restore would not be safe now; nothing was changed. The message says why.
class RestoreRefused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct RestoreOutcome {
    std::string databaseFile;  // the database's file (on the server, for a server)
    std::string keptAs;        // where the replaced database now is
    std::string version;       // the version record of the restored database
};

class DatabaseRestore {
  public:
    // Connects dm.dbsagg() to `alias` and checks that the database can be replaced now: no other
    // connection is attached (for an in-process database, no other program holds it), and the
    // database's file is a file of this machine. Throws RestoreRefused, or the connection's
    // DatabaseError when the alias cannot be reached. REQUIRES: the credentials set in `dm`.
    DatabaseRestore(TdmMain& dm, const std::string& alias, std::string backupFile);

    const std::string& databaseFile() const { return m_file; }
    // The database's version record now, before the restore.
    const std::string& currentVersion() const { return m_version; }

    // Restores the backup and puts it in the database's place. A failed restore leaves the
    // database as it was (DatabaseError with the engine's text); a connection made meanwhile
    // to a server's database refuses the swap (RestoreRefused), and the restored file is
    // removed. dm.dbsagg() is connected to the restored database afterwards.
    RestoreOutcome Run(const database::ServiceObserver& observer);

  private:
    void restoreInProcess(const database::ServiceObserver& observer);
    void restoreOnServer(const database::ServiceObserver& observer);

    TdmMain& m_dm;
    std::string m_alias;
    std::string m_backup;
    std::string m_file;
    std::string m_version;
    std::string m_keptAs;
};

// "<database file>.sostituito-YYYYMMDD-HHMMSS": the name the replaced database keeps.
std::string ReplacedDatabaseName(const std::string& databaseFile,
                                 std::chrono::system_clock::time_point when);

}  // namespace tarvolen
