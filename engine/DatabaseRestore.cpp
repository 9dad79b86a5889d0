#include "engine/DatabaseRestore.h"

#include <ctime>
#include <filesystem>

#include "base/os/Files.h"
#include "base/os/Process.h"
#include "base/os/SystemError.h"
#include "db/DatabaseError.h"
#include "engine/dm_main.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"

namespace tarvolen {
namespace {

namespace fs = std::filesystem;

std::string inQuotes(const std::string& text) {
    return "\"" + text + "\"";
}

std::string folderOf(const std::string& file) {
    const fs::path path(file);
    return path.has_parent_path() ? path.parent_path().string() : std::string(".");
}

[[noreturn]] void failSwap(const std::string& what, const std::error_code& error) {
    throw database::DatabaseError(what + ": " + os::errorText(error));
}

// Puts `restored` in the place of `database`, keeping the replaced file as `kept` (with "-2",
// "-3"... after it when that name is taken): a second name for the database first, then a
// rename of the new file over the old name, so that the name always holds a whole database. The
// new file takes the replaced one's permissions (and, where allowed, its owner). Returns the
// name the replaced database kept.
std::string swapFiles(const std::string& database, const std::string& restored,
                      const std::string& keptName) {
    std::error_code error;
    if (os::kindOf(database, error) == os::FileKind::Missing)
        failSwap("Cannot read " + inQuotes(database), error);
    os::copyPermissions(database, restored);
    std::string kept = keptName;
    error = os::addName(database, kept);
    for (int sequence = 2; error == std::errc::file_exists && sequence < 100; ++sequence) {
        kept = keptName + "-" + std::to_string(sequence);
        error = os::addName(database, kept);
    }
    if (error) {
        if (error != std::errc::operation_not_permitted &&
            error != std::errc::operation_not_supported && error != std::errc::cross_device_link)
            failSwap("Cannot keep the database as " + inQuotes(kept), error);
        // A file system without hard links: the name is free for a moment.
        if (const std::error_code moved = os::renameToFreeName(database, kept))
            failSwap("Cannot keep the database as " + inQuotes(kept), moved);
    }
    if (const std::error_code moved = os::renameFile(restored, database)) {
        if (os::kindOf(database) == os::FileKind::Missing)
            os::renameFile(kept, database);
        else
            os::removeFile(kept);
        failSwap("Cannot put the restored database in place of " + inQuotes(database), moved);
    }
    return kept;
}

// A name beside `file` in its folder, the folder told by the file's own separators (a server
// may name its files the Windows way).
std::string besideOnServer(const std::string& file) {
    if (file.find('/') == std::string::npos && file.find('\\') != std::string::npos) {
        const size_t cut = file.rfind('\\');
        return file.substr(0, cut + 1) + "." + file.substr(cut + 1) + ".ripristino-" +
               std::to_string(os::currentProcessId());
    }
    return TemporaryNameBeside(file);
}

// Throws EFOpenError, as the program's other readers do, when `path` is no readable regular file.
void checkBackupFile(const std::string& path) {
    std::error_code error;
    const os::File file = os::File::openToRead(path, error);
    if (error) {
        throw EFOpenError("Cannot open file \"" + fullPath(path) + "\". " + os::errorText(error));
    }
    if (file.kind() != os::FileKind::Regular)
        throw EFOpenError("Cannot open file \"" + fullPath(path) + "\". Not a regular file");
}

std::string attachmentText(const database::AttachmentInfo& a) {
    std::string text = a.user.empty() ? std::string("(unknown user)") : a.user;
    text += a.address.empty() ? " in this machine's engine" : " from " + a.address;
    if (!a.process.empty()) text += " (" + a.process + ")";
    return text;
}

}  // namespace

std::string ReplacedDatabaseName(const std::string& databaseFile,
                                 std::chrono::system_clock::time_point when) {
    const std::tm local = os::localTime(std::chrono::system_clock::to_time_t(when));
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return databaseFile + ".sostituito-" + stamp;
}

DatabaseRestore::DatabaseRestore(TdmMain& dm, const std::string& alias, std::string backupFile)
    : m_dm(dm), m_alias(alias), m_backup(std::move(backupFile)) {
    // The engine reads the backup as it restores: a file it could not read is refused first.
    checkBackupFile(m_backup);
    try {
        m_dm.Connect(alias);
    } catch (const database::DatabaseInUse& e) {
        throw RestoreRefused("the database of alias " + alias +
                             " is open in another program (the window, tarvolen-run, or a "
                             "server on this machine): close it, then restore (" +
                             e.what() + ")");
    }
    const database::AliasSettings settings = m_dm.dbsagg().aliasSettings();
    const auto others = database::OtherAttachments(m_dm.dbsagg());
    if (!others.empty()) {
        std::string list;
        for (const auto& other : others) list += (list.empty() ? "" : "; ") + attachmentText(other);
        throw RestoreRefused(
            std::to_string(others.size()) +
            (others.size() == 1 ? " other connection is" : " other connections are") +
            " attached to the database of alias " + alias + ": " + list +
            ". Close them, then restore");
    }
    if (!settings.isRemote()) {
        m_file = settings.database;
    } else {
        m_file = database::DatabaseFileName(m_dm.dbsagg());
        // The swap renames the server's files: they must be files of this machine, and the
        // very files the server has open (the same size to the byte).
        const auto stamp = os::stampOf(m_file);
        const bool here = stamp && stamp->size == database::DatabaseBytes(m_dm.dbsagg()) &&
                          os::mayWrite(folderOf(m_file));
        if (!here) {
            throw RestoreRefused(
                "the database of alias " + alias + " is the file " + inQuotes(m_file) +
                " of the server " + database::SplitServerFile(settings.database).server +
                ", which is not a file this program can rename here: run tarvolen-backup "
                "restore on the server's own machine, with an alias that reaches the server "
                "there (localhost)");
        }
    }
    m_version = m_dm.ReadDatabaseVersion()->AsText();
}

RestoreOutcome DatabaseRestore::Run(const database::ServiceObserver& observer) {
    if (m_dm.dbsagg().aliasSettings().isRemote())
        restoreOnServer(observer);
    else
        restoreInProcess(observer);
    m_dm.Connect(m_alias);
    RestoreOutcome outcome;
    outcome.databaseFile = m_file;
    outcome.keptAs = m_keptAs;
    outcome.version = m_dm.ReadDatabaseVersion()->AsText();
    return outcome;
}

void DatabaseRestore::restoreInProcess(const database::ServiceObserver& observer) {
    const database::AliasSettings settings = m_dm.dbsagg().aliasSettings();
    RemoveAbandonedTemporaries(folderOf(m_file), fs::path(m_file).filename().string());
    const std::string restored = TemporaryNameBeside(m_file);
    try {
        database::RestoreDatabase(settings, m_dm.dbsagg().params(), m_backup, restored, observer);
    } catch (...) {
        std::error_code ignored;
        fs::remove(restored, ignored);
        throw;
    }
    // dbsagg still holds the database, so no other program has opened it meanwhile; it lets
    // go of the replaced file once that has its new name. Where an open file cannot be
    // renamed it lets go first: a program that opens the database in the moment between
    // makes the rename fail, and the database stays as it was.
    if (os::openFilesBlockRenames()) m_dm.dbsagg().close();
    try {
        m_keptAs = swapFiles(m_file, restored,
                             ReplacedDatabaseName(m_file, std::chrono::system_clock::now()));
    } catch (...) {
        std::error_code ignored;
        fs::remove(restored, ignored);
        throw;
    }
    m_dm.dbsagg().close();
}

void DatabaseRestore::restoreOnServer(const database::ServiceObserver& observer) {
    const database::AliasSettings settings = m_dm.dbsagg().aliasSettings();
    const database::LoginParams login = m_dm.dbsagg().params();
    const std::string restored = besideOnServer(m_file);
    try {
        database::RestoreDatabase(settings, login, m_backup, restored, observer);
    } catch (...) {
        std::error_code ignored;
        fs::remove(restored, ignored);
        throw;
    }
    const auto removeRestored = [&] {
        std::error_code ignored;
        fs::remove(restored, ignored);
    };
    // The server takes the database down only when nobody is attached, this program included;
    // while it is down nobody can attach, so the files change under no connection.
    m_dm.dbsagg().close();
    try {
        database::ShutDownDatabase(settings, login, m_file);
    } catch (const database::DatabaseError& e) {
        removeRestored();
        throw RestoreRefused("a connection was made to the database of alias " + m_alias +
                             " during the restore, so it was not replaced (" + e.what() +
                             "); the restored copy was removed");
    }
    try {
        m_keptAs = swapFiles(m_file, restored,
                             ReplacedDatabaseName(m_file, std::chrono::system_clock::now()));
    } catch (...) {
        removeRestored();
        try {
            database::BringDatabaseOnline(settings, login, m_file);
        } catch (const database::DatabaseError&) {
            // The swap's own failure is the one to report; the database is whole either way.
        }
        throw;
    }
}

}  // namespace tarvolen
