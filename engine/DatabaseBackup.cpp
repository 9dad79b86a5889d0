#include "engine/DatabaseBackup.h"

#include <algorithm>
#include <filesystem>
#include <memory>

#include "base/os/Files.h"
#include "base/os/SystemError.h"
#include "db/DatabaseService.h"
#include "engine/BackupFiles.h"
#include "engine/BatchStopped.h"
#include "engine/EngineHost.h"
#include "engine/RunLog.h"
#include "engine/StopLines.h"
#include "engine/dm_main.h"
#include "plan/FileIO.h"

namespace tarvolen {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string quoted(const std::string& path) {
    return "\"" + path + "\"";
}

// Why the folder cannot take a backup now; empty when it can. Makes it, when asked, if it is
// missing.
std::string folderProblem(const std::string& folder, bool create) {
    std::error_code why;
    const os::FileKind kind = os::kindOf(folder, why);
    if (kind == os::FileKind::Missing) {
        if (why == std::errc::no_such_file_or_directory && create) {
            why = os::makeFolder(folder);
            if (!why) return {};
        }
        return "la cartella " + quoted(folder) + " non esiste o non si pu\xF2 usare (" +
               os::errorText(why) + ")";
    }
    if (kind != os::FileKind::Directory) return quoted(folder) + " non \xE8 una cartella";
    // A probe of a file made and removed, as the backup's own file will be made.
    const std::string probe = TemporaryNameBeside((fs::path(folder) / "prova.fbk").string());
    if (!os::File::createNew(probe, why).isOpen()) {
        return "nella cartella " + quoted(folder) + " non si possono scrivere file (" +
               os::errorText(why) + ")";
    }
    os::removeFile(probe);
    return {};
}

// Gives the whole file its backup's name: the first name for this second that no other file
// has. Returns the name given. Throws std::system_error.
std::string nameBackup(const std::string& temporary, const std::string& folder,
                       const std::string& alias, const std::string& version,
                       std::chrono::system_clock::time_point started) {
    for (int sequence = 1; sequence < 1000; ++sequence) {
        std::string name =
            (fs::path(folder) / BackupFileName(alias, version, started, sequence)).string();
        // A second name never takes another file's place: a name taken meanwhile is passed
        // over.
        std::error_code error = os::addName(temporary, name);
        if (!error) {
            os::removeFile(temporary);
            return name;
        }
        if (error == std::errc::file_exists) continue;
        if (error != std::errc::operation_not_permitted &&
            error != std::errc::operation_not_supported && error != std::errc::cross_device_link)
            throw std::system_error(error);
        // A file system without hard links: a rename that refuses a taken name.
        error = os::renameToFreeName(temporary, name);
        if (!error) return name;
        if (error != std::errc::file_exists) throw std::system_error(error);
    }
    throw std::system_error(std::make_error_code(std::errc::file_exists));
}

// Reports a backup's or check's progress to the host, and asks whether to go on.
class ProgressReporter {
  public:
    ProgressReporter(EngineHost* host, RunProgress::Stage stage, size_t tables) : m_host(host) {
        m_progress.stage = stage;
        m_progress.unit = RunProgress::Unit::Tables;
        m_progress.total = tables;
    }
    bool operator()(const database::ServiceProgress& progress) {
        if (m_host == nullptr) return true;
        m_progress.done = std::min(progress.tablesDone, m_progress.total);
        m_progress.bytes = progress.fileBytes;
        m_host->reportProgress(m_progress);
        m_host->processEvents();
        return !m_host->stopRequested();
    }

  private:
    EngineHost* m_host;
    RunProgress m_progress;
};

// The scratch database of the check: a file of this machine, opened in-process, dropped when
// the check is done however it ends.
class ScratchDatabase {
  public:
    ScratchDatabase(const std::string& folder, const database::AliasSettings& source)
        : m_file(TemporaryNameBeside((fs::path(folder) / "verifica.fdb").string())) {
        m_config = std::make_shared<database::AliasConfig>(database::AliasConfig::parse(
            "[verifica]\nDatabase = \"" + m_file + "\"\nCharset = " + source.charset + "\n",
            fs::path(folder) / "verifica.ini"));
        m_settings = m_config->find("verifica");
    }
    ~ScratchDatabase() {
        if (m_connection && m_connection->connected()) {
            try {
                m_connection->dropDatabase();
            } catch (const database::DatabaseError&) {
                // The file goes below all the same; the engine has let it go with its connection.
                m_connection->close();
            }
        }
        std::error_code ignored;
        fs::remove(m_file, ignored);
    }
    ScratchDatabase(const ScratchDatabase&) = delete;
    ScratchDatabase& operator=(const ScratchDatabase&) = delete;

    const std::string& file() const { return m_file; }
    const database::AliasSettings& settings() const { return m_settings; }
    database::Connection& open(const std::string& user) {
        m_connection = std::make_unique<database::Connection>("verifica");
        m_connection->setAliasConfig(m_config);
        m_connection->setAliasName("verifica");
        m_connection->params().setValue("USER NAME", user);
        m_connection->open();
        return *m_connection;
    }

  private:
    std::string m_file;
    std::shared_ptr<database::AliasConfig> m_config;
    database::AliasSettings m_settings;
    std::unique_ptr<database::Connection> m_connection;
};

// Restores the backup into a scratch database and compares every table's row count with the
// database's. Returns the log line of a check that found them equal; throws BackupFailed
// naming the tables that differ.
std::string checkBackup(TdmMain& dm, const std::string& folder, const std::string& backup,
                        const database::AliasSettings& source, size_t tables) {
    const auto started = Clock::now();
    ScratchDatabase scratch(folder, source);
    ProgressReporter report(dm.host(), RunProgress::Stage::BackupCheck, tables);
    database::RestoreDatabase(scratch.settings(), dm.dbsagg().params(), backup, scratch.file(),
                              [&](const database::ServiceProgress& p) { return report(p); });
    const auto restored =
        database::TableRowCounts(scratch.open(dm.dbsagg().params().value("USER NAME")));
    const auto original = database::TableRowCounts(dm.dbsagg());
    std::string differences;
    int64_t rows = 0;
    for (const auto& table : original) {
        rows += table.second;
        const auto found = std::find_if(restored.begin(), restored.end(),
                                        [&](const auto& r) { return r.first == table.first; });
        if (found != restored.end() && found->second == table.second) continue;
        if (!differences.empty()) differences += ", ";
        differences += table.first;
        differences += " (database " + std::to_string(table.second) + ", backup ";
        differences +=
            found == restored.end() ? std::string("assente") : std::to_string(found->second);
        differences += ")";
    }
    if (!differences.empty()) {
        const std::string why =
            "il backup ripristinato non ha le righe del database: " + differences;
        throw BackupFailed(why, why);
    }
    return "VERIFICA DEL BACKUP RIUSCITA: " + std::to_string(original.size()) + " TABELLE, " +
           std::to_string(rows) + " RIGHE, COME NEL DATABASE (" +
           DurationText(Clock::now() - started) + ")";
}

std::string failureText(const std::string& why) {
    return "Backup del database non riuscito: " + why +
           ". L'aggiornamento non \xE8 stato eseguito: nessuna fase \xE8 stata applicata.";
}

}  // namespace

std::string BackupDoneLine(const BackupResult& result) {
    return std::string(kBackupDoneOpening) + result.file + ": " + SizeText(result.bytes) + " IN " +
           DurationText(result.took);
}

BackupResult BackupDatabaseBeforeRun(TdmMain& dm, const BackupRequest& given) {
    // The log names the file wherever it is read from; the engine gets a path it cannot misread.
    BackupRequest request = given;
    request.folder = fullPath(given.folder);
    EngineHost* host = dm.host();
    const auto log = [host](const std::string& line) {
        if (host != nullptr) host->appendLog(line);
    };
    const auto fail = [&](const std::string& why) -> BackupFailed {
        log("BACKUP DEL DATABASE NON RIUSCITO: " + why);
        return BackupFailed(failureText(why), why);
    };
    log("Backup del database in corso...");
    const auto started = Clock::now();
    const auto startedAt = std::chrono::system_clock::now();
    if (const std::string problem = folderProblem(request.folder, request.createFolder);
        !problem.empty())
        throw fail(problem);
    RemoveAbandonedTemporaries(request.folder, ".fbk");
    RemoveAbandonedTemporaries(request.folder, ".fdb");

    const std::string version = dm.ReadDatabaseVersion()->AsText();
    const database::AliasSettings settings = dm.dbsagg().aliasSettings();
    const size_t tables = dm.dbsagg().tableNames().size();
    const std::string temporary = TemporaryNameBeside(
        (fs::path(request.folder) / BackupFileName(dm.dbsagg().aliasName(), version, startedAt))
            .string());
    // Whatever ends the backup early, nothing of it is left but a whole, named file.
    struct Leftover {
        const std::string& path;
        bool keep = false;
        ~Leftover() {
            if (!keep) os::removeFile(path);
        }
    } leftover{temporary};

    ProgressReporter report(host, RunProgress::Stage::Backup, tables);
    try {
        database::BackupDatabase(settings, dm.dbsagg().params(), temporary,
                                 [&](const database::ServiceProgress& p) { return report(p); });
    } catch (const database::ServiceStopped&) {
        log("BACKUP DEL DATABASE INTERROTTO: NESSUNA FASE ESEGUITA.");
        throw BatchStopped(BatchStopped::Reason::StopRequested,
                           "ESECUZIONE INTERROTTA DURANTE IL BACKUP DEL DATABASE: " +
                               std::string(kStopRequestedCause) + ".");
    } catch (const database::DatabaseError& e) {
        throw fail(e.what());
    }
    if (const std::error_code error = os::flushFile(temporary)) throw fail(os::errorText(error));
    BackupResult result;
    if (const auto stamp = os::stampOf(temporary)) result.bytes = stamp->size;
    try {
        result.file =
            nameBackup(temporary, request.folder, dm.dbsagg().aliasName(), version, startedAt);
    } catch (const std::system_error& e) {
        throw fail("il file del backup non si pu\xF2 nominare (" + os::errorText(e.code()) + ")");
    }
    leftover.keep = true;
    os::syncFolder(request.folder);
    result.took = Clock::now() - started;
    log(BackupDoneLine(result));

    if (request.verify) {
        log("Verifica del backup in corso...");
        try {
            log(checkBackup(dm, request.folder, result.file, settings, tables));
        } catch (const database::ServiceStopped&) {
            log("VERIFICA DEL BACKUP INTERROTTA: NESSUNA FASE ESEGUITA.");
            throw BatchStopped(BatchStopped::Reason::StopRequested,
                               "ESECUZIONE INTERROTTA DURANTE LA VERIFICA DEL BACKUP: " +
                                   std::string(kStopRequestedCause) + ".");
        } catch (const BackupFailed& e) {
            throw fail("verifica fallita, " + e.reason());
        } catch (const database::DatabaseError& e) {
            throw fail(std::string("il backup non si ripristina (") + e.what() + ")");
        }
    }
    return result;
}

std::string BackupPreviewLine(TdmMain& dm, const BackupRequest& given, bool& usable) {
    BackupRequest request = given;
    request.folder = fullPath(given.folder);
    usable = false;
    std::error_code why;
    const bool missing = os::kindOf(request.folder, why) == os::FileKind::Missing &&
                         why == std::errc::no_such_file_or_directory;
    if (missing && request.createFolder) {
        usable = true;
        return "BACKUP NELLA CARTELLA " + request.folder + " (CHE VERRA' CREATA)";
    }
    if (const std::string problem = folderProblem(request.folder, false); !problem.empty())
        return "BACKUP IMPOSSIBILE: " + problem;
    const std::string version = dm.ReadDatabaseVersion()->AsText();
    const std::string name =
        BackupFileName(dm.dbsagg().aliasName(), version, std::chrono::system_clock::now());
    const uint64_t available = os::freeSpace(request.folder);
    const uint64_t database = database::DatabaseBytes(dm.dbsagg());
    std::string line = "BACKUP NELLA CARTELLA " + request.folder + ", FILE " + name +
                       ": SPAZIO LIBERO " + SizeText(available) + ", DATABASE " +
                       SizeText(database);
    if (available < database) {
        line += " (LO SPAZIO POTREBBE NON BASTARE)";
        return line;
    }
    usable = true;
    return line;
}

}  // namespace tarvolen
