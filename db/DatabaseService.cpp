#include "db/DatabaseService.h"

#include <firebird/Interface.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <mutex>

#include "SqlText.h"
#include "Status.h"
#include "Xpb.h"
#include "base/Text.h"
#include "base/os/ChildProcess.h"
#include "base/os/Files.h"
#include "db/Query.h"

namespace tarvolen::database {

using namespace Firebird;

namespace {

namespace fs = std::filesystem;
using fb::Xpb;

constexpr auto kObserverInterval = std::chrono::milliseconds(50);
// The most a query of the service manager carries in one item.
constexpr size_t kChunk = 65535;
// The service waits this long for output before it answers an empty query (seconds).
constexpr unsigned char kQueryTimeout = 1;
constexpr const char* kBackupProgram = "gbak";

// A number of a service's answer: `bytes` bytes, least significant first. (Read here: the
// client library is loaded at run time and offers no more than its interfaces.)
uint64_t littleEndian(const unsigned char* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

std::string userOf(const LoginParams& login) {
    std::string user = login.value("USER NAME");
    if (!user.empty()) return user;
    const char* isc = std::getenv("ISC_USER");
    return isc != nullptr && *isc != '\0' ? isc : "SYSDBA";
}

// What the engine's backup utility says as it goes, in the words it uses whether it runs
// here as a program or inside the engine: "writing data for table X", "restoring data for table
// X", "10000 records written".
class ProgressLines {
  public:
    void read(std::string_view line) {
        if (line.substr(0, 5) == "gbak:") line.remove_prefix(5);
        line = trimmed(line);
        for (std::string_view opening : {"writing data for table ", "restoring data for table "}) {
            if (line.substr(0, opening.size()) == opening) {
                std::lock_guard guard(m_mutex);
                if (!m_progress.table.empty()) ++m_progress.tablesDone;
                m_progress.table = std::string(trimmed(line.substr(opening.size())));
                m_progress.rows = 0;
                return;
            }
        }
        const size_t space = line.find(' ');
        const std::string_view rest = space == std::string_view::npos ? "" : line.substr(space + 1);
        if (rest == "records written" || rest == "records restored") {
            std::lock_guard guard(m_mutex);
            m_progress.rows =
                std::strtoull(std::string(line.substr(0, space)).c_str(), nullptr, 10);
            return;
        }
        // An error says what went wrong over the lines that follow it.
        if (line.find("ERROR:") != std::string_view::npos || !m_error.empty()) {
            std::string text(line);
            if (const size_t at = text.find("ERROR:"); at != std::string::npos)
                text = std::string(trimmed(text.substr(at + 6)));
            if (text.empty() || text.find("Exiting before completion") != std::string::npos) return;
            std::lock_guard guard(m_mutex);
            if (!m_error.empty()) m_error += "\n";
            m_error += text;
        }
    }
    // The tables a finished run went through.
    void finish() {
        std::lock_guard guard(m_mutex);
        if (!m_progress.table.empty()) ++m_progress.tablesDone;
        m_progress.table.clear();
    }
    ServiceProgress progress() const {
        std::lock_guard guard(m_mutex);
        return m_progress;
    }
    std::string error() const {
        std::lock_guard guard(m_mutex);
        return m_error;
    }

  private:
    mutable std::mutex m_mutex;
    ServiceProgress m_progress;
    std::string m_error;
};

uint64_t fileSize(const fs::path& file) {
    const auto stamp = os::stampOf(file.string());
    return stamp ? stamp->size : 0;
}

// Runs `work` on a thread of its own while this one reports to the observer at its pace; a
// stop the observer asks for reaches `work` through the flag it polls.
template <class Work>
void runObserved(Work&& work, const ProgressLines& lines, const fs::path& backupFile,
                 bool countBytes, const ServiceObserver& observer) {
    std::atomic<bool> stop{false};
    auto running = std::async(std::launch::async, [&] { work(stop); });
    const auto report = [&] {
        ServiceProgress progress = lines.progress();
        if (countBytes) progress.fileBytes = fileSize(backupFile);
        return !observer || observer(progress);
    };
    while (running.wait_for(kObserverInterval) != std::future_status::ready) {
        if (!stop && !report()) stop = true;
    }
    running.get();
    if (stop) throw ServiceStopped("stopped");
    report();
}

// The service manager of the engine that opens a database: the one in this process for a
// local file, the server's for a server.
class ServiceManager {
  public:
    ServiceManager(const AliasSettings& settings, const LoginParams& login) {
        Xpb spb(IXpbBuilder::SPB_ATTACH);
        spb.text(isc_spb_user_name, userOf(login));
        if (const auto password = login.value("PASSWORD"); !password.empty())
            spb.text(isc_spb_password, password);
        if (!settings.role.empty()) spb.text(isc_spb_sql_role_name, settings.role);
        std::string name = "service_mgr";
        if (settings.isRemote()) {
            name = SplitServerFile(settings.database).server;
            name += name.find("://") != std::string::npos ? "/service_mgr" : ":service_mgr";
        }
        spb.text(isc_spb_config, settings.isRemote() ? "Providers=Remote" : "Providers=Engine12");
        const auto bytes = spb.bytes();
        fb::guard([&] {
            fb::Status status;
            m_service = fb::provider()->attachServiceManager(
                &status, name.c_str(), static_cast<unsigned>(bytes.size()), bytes.data());
        });
    }
    ~ServiceManager() {
        if (m_service == nullptr) return;
        // A detach while the service runs stops it; the engine removes what it wrote.
        fb::QuietStatus status;
        m_service->detach(&status);
        if (status.failed()) m_service->release();
    }
    ServiceManager(const ServiceManager&) = delete;
    ServiceManager& operator=(const ServiceManager&) = delete;

    void start(std::vector<unsigned char> spb) {
        fb::guard([&] {
            fb::Status status;
            m_service->start(&status, static_cast<unsigned>(spb.size()), spb.data());
        });
    }

    // Reads the service's output until it ends, handing each line to `lines`, and sending the
    // bytes `input` gives whenever the service asks for input. Throws the service's failure.
    void drain(ProgressLines& lines, const std::function<size_t(char*, size_t)>& input,
               const std::atomic<bool>& stop) {
        std::vector<unsigned char> send(kChunk + 8);
        std::vector<unsigned char> answer(kChunk + 64);
        unsigned wanted = 0;  // bytes of input the service asked for
        const unsigned char withInput[] = {isc_info_svc_stdin, isc_info_svc_line};
        const unsigned char outputOnly[] = {isc_info_svc_line};
        while (!stop) {
            size_t sendLength = 0;
            if (wanted > 0 && input) {
                const size_t n = input(reinterpret_cast<char*>(send.data()) + 3,
                                       std::min<size_t>(wanted, kChunk - 8));
                send[0] = isc_info_svc_line;
                send[1] = static_cast<unsigned char>(n & 0xFF);
                send[2] = static_cast<unsigned char>(n >> 8);
                sendLength = n + 3;
            } else {
                send[0] = isc_info_svc_timeout;
                send[1] = kQueryTimeout;
                send[2] = send[3] = send[4] = 0;
                sendLength = 5;
            }
            const unsigned char* items = input ? withInput : outputOnly;
            const unsigned itemCount = input ? sizeof withInput : sizeof outputOnly;
            fb::guard([&] {
                fb::Status status;
                m_service->query(&status, static_cast<unsigned>(sendLength), send.data(), itemCount,
                                 items, static_cast<unsigned>(answer.size()), answer.data());
            });
            bool more = false;
            wanted = 0;
            const unsigned char* p = answer.data();
            const unsigned char* const end = answer.data() + answer.size();
            while (p < end && *p != isc_info_end) {
                const unsigned char item = *p++;
                if (item == isc_info_svc_stdin) {
                    wanted = static_cast<unsigned>(littleEndian(p, 4));
                    p += 4;
                    more = more || wanted > 0;
                } else if (item == isc_info_svc_line) {
                    const auto length = static_cast<size_t>(littleEndian(p, 2));
                    p += 2;
                    if (length > 0) {
                        lines.read(std::string_view(reinterpret_cast<const char*>(p), length));
                        more = true;
                    }
                    p += length;
                } else if (item == isc_info_svc_timeout || item == isc_info_data_not_ready ||
                           item == isc_info_truncated) {
                    more = true;
                } else {
                    break;
                }
            }
            if (!more) return;
        }
    }

  private:
    IService* m_service = nullptr;
};

// Opens and closes a database in this process once, so that the engine has ended its own use
// of it before the program goes on (and may end: the engine's closing of a database a
// service used last can still be running when the process exits, and fail there).
void settle(const AliasSettings& settings, const LoginParams& login, const std::string& file) {
    if (settings.isRemote()) return;
    Xpb dpb(IXpbBuilder::DPB);
    dpb.text(isc_dpb_user_name, userOf(login));
    dpb.text(isc_dpb_config, "Providers=Engine12");
    const auto bytes = dpb.bytes();
    fb::QuietStatus status;
    IAttachment* attachment = fb::provider()->attachDatabase(
        &status, file.c_str(), static_cast<unsigned>(bytes.size()), bytes.data());
    if (status.failed() || attachment == nullptr) return;
    attachment->detach(&status);
    if (status.failed()) attachment->release();
}

// The backup utility, run here as a client of the server, writes the file here.
void backupThroughUtility(const AliasSettings& settings, const LoginParams& login,
                          const fs::path& file, const ServiceObserver& observer) {
    ProgressLines lines;
    os::ChildRun run;
    run.argv = {kBackupProgram, "-b", "-v", "-user", userOf(login)};
    if (!settings.role.empty()) {
        run.argv.push_back("-role");
        run.argv.push_back(settings.role);
    }
    run.argv.push_back(settings.database);
    run.argv.push_back(file.string());
    // In its environment, where no process listing shows it.
    if (const auto password = login.value("PASSWORD"); !password.empty())
        run.environment.emplace_back("ISC_PASSWORD", password);
    std::vector<std::string> output;
    run.onLine = [&](std::string_view line) {
        lines.read(line);
        if (output.size() < 200) output.emplace_back(line);
    };
    bool stopped = false;
    run.keepGoing = [&] {
        ServiceProgress progress = lines.progress();
        progress.fileBytes = fileSize(file);
        if (observer && !observer(progress)) stopped = true;
        return !stopped;
    };
    run.interval = kObserverInterval;
    const os::ChildOutcome outcome = os::runChild(run);
    if (outcome.stopped || outcome.exitStatus != 0) {
        std::error_code ignored;
        fs::remove(file, ignored);
    }
    if (outcome.stopped) throw ServiceStopped("stopped");
    if (outcome.exitStatus != 0) {
        std::string error = lines.error();
        if (error.empty() && !output.empty()) error = output.back();
        if (error.empty())
            error = std::string(kBackupProgram) + " ended with status " +
                    std::to_string(outcome.exitStatus);
        throw DatabaseError(error);
    }
    lines.finish();
    if (observer) {
        ServiceProgress progress = lines.progress();
        progress.fileBytes = fileSize(file);
        observer(progress);
    }
}

}  // namespace

ServerFile SplitServerFile(const std::string& database) {
    const size_t scheme = database.find("://");
    if (scheme != std::string::npos) {
        const size_t slash = database.find('/', scheme + 3);
        if (slash == std::string::npos) return {database, ""};
        return {database.substr(0, slash), database.substr(slash + 1)};
    }
    const size_t colon = database.find(':');
    if (colon == std::string::npos) return {"", database};
    return {database.substr(0, colon), database.substr(colon + 1)};
}

void BackupDatabase(const AliasSettings& settings, const LoginParams& login, const fs::path& file,
                    const ServiceObserver& observer) {
    if (settings.isRemote()) {
        backupThroughUtility(settings, login, file, observer);
        return;
    }
    ProgressLines lines;
    try {
        runObserved(
            [&](const std::atomic<bool>& stop) {
                ServiceManager manager(settings, login);
                Xpb spb(IXpbBuilder::SPB_START);
                spb.tag(isc_action_svc_backup)
                    .text(isc_spb_dbname, settings.database)
                    .text(isc_spb_bkp_file, file.string())
                    .tag(isc_spb_verbose);
                manager.start(spb.bytes());
                manager.drain(lines, nullptr, stop);
                lines.finish();
            },
            lines, file, true, observer);
    } catch (const DatabaseError&) {
        std::error_code ignored;
        fs::remove(file, ignored);
        settle(settings, login, settings.database);
        throw;
    }
    settle(settings, login, settings.database);
}

void RestoreDatabase(const AliasSettings& settings, const LoginParams& login, const fs::path& file,
                     const std::string& target, const ServiceObserver& observer) {
    ProgressLines lines;
    const bool sent = settings.isRemote();
    std::ifstream in;
    if (sent) {
        in.open(file, std::ios::binary);
        if (!in) throw DatabaseError("Cannot open file \"" + file.string() + "\"");
    }
    const auto input = [&in](char* to, size_t room) {
        in.read(to, static_cast<std::streamsize>(room));
        return static_cast<size_t>(in.gcount());
    };
    try {
        runObserved(
            [&](const std::atomic<bool>& stop) {
                ServiceManager manager(settings, login);
                Xpb spb(IXpbBuilder::SPB_START);
                spb.tag(isc_action_svc_restore)
                    .text(isc_spb_bkp_file, sent ? std::string("stdin") : file.string())
                    .text(isc_spb_dbname, target)
                    .integer(isc_spb_options, isc_spb_res_create)
                    .tag(isc_spb_verbose);
                manager.start(spb.bytes());
                manager.drain(lines, sent ? std::function<size_t(char*, size_t)>(input) : nullptr,
                              stop);
                lines.finish();
            },
            lines, file, false, observer);
    } catch (const DatabaseError&) {
        settle(settings, login, target);
        throw;
    }
    settle(settings, login, target);
}

namespace {

void changeProperties(const AliasSettings& settings, const LoginParams& login,
                      const std::string& file, bool down) {
    ServiceManager manager(settings, login);
    Xpb spb(IXpbBuilder::SPB_START);
    spb.tag(isc_action_svc_properties).text(isc_spb_dbname, file);
    if (down) {
        // Full: no connection at all, not even the owner's; 0 s: refused at once while any
        // connection is attached, instead of waiting for it or cutting it off.
        spb.byte(isc_spb_prp_shutdown_mode, isc_spb_prp_sm_full)
            .integer(isc_spb_prp_attachments_shutdown, 0);
    } else {
        spb.byte(isc_spb_prp_online_mode, isc_spb_prp_sm_normal);
    }
    manager.start(spb.bytes());
    ProgressLines lines;
    const std::atomic<bool> stop{false};
    manager.drain(lines, nullptr, stop);
}

}  // namespace

void ShutDownDatabase(const AliasSettings& settings, const LoginParams& login,
                      const std::string& file) {
    changeProperties(settings, login, file, true);
}

void BringDatabaseOnline(const AliasSettings& settings, const LoginParams& login,
                         const std::string& file) {
    changeProperties(settings, login, file, false);
}

std::vector<AttachmentInfo> OtherAttachments(Connection& connection) {
    Query query(connection, "attachments");
    query.setSql(
        "select MON$USER, MON$REMOTE_ADDRESS, MON$REMOTE_PROCESS from MON$ATTACHMENTS "
        "where MON$ATTACHMENT_ID <> CURRENT_CONNECTION and coalesce(MON$SYSTEM_FLAG, 0) = 0 "
        "order by MON$ATTACHMENT_ID");
    query.open();
    std::vector<AttachmentInfo> found;
    for (; !query.eof(); query.next()) {
        found.push_back({std::string(trimmedRight(query.asString("MON$USER"))),
                         std::string(trimmedRight(query.asString("MON$REMOTE_ADDRESS"))),
                         std::string(trimmedRight(query.asString("MON$REMOTE_PROCESS")))});
    }
    query.close();
    return found;
}

std::string DatabaseFileName(Connection& connection) {
    Query query(connection, "database");
    query.setSql("select MON$DATABASE_NAME from MON$DATABASE");
    query.open();
    std::string name(trimmedRight(query.asString("MON$DATABASE_NAME")));
    query.close();
    return name;
}

uint64_t DatabaseBytes(Connection& connection) {
    Query query(connection, "database");
    query.setSql("select cast(MON$PAGES * MON$PAGE_SIZE as bigint) as B from MON$DATABASE");
    query.open();
    const Value value = query.value("B");
    query.close();
    const auto* bytes = std::get_if<int64_t>(&value);
    return bytes != nullptr && *bytes > 0 ? static_cast<uint64_t>(*bytes) : 0;
}

std::vector<std::pair<std::string, int64_t>> TableRowCounts(Connection& connection) {
    std::vector<std::string> tables;
    {
        Query query(connection, "tables");
        query.setSql(
            "select RDB$RELATION_NAME from RDB$RELATIONS where coalesce(RDB$SYSTEM_FLAG, 0) = 0 "
            "and RDB$VIEW_BLR is null and coalesce(RDB$RELATION_TYPE, 0) = 0 "
            "order by RDB$RELATION_NAME");
        for (query.open(); !query.eof(); query.next())
            tables.emplace_back(trimmedRight(query.asString("RDB$RELATION_NAME")));
    }
    std::vector<std::pair<std::string, int64_t>> counts;
    for (const std::string& table : tables) {
        Query query(connection, "count");
        query.setSql("select count(*) as N from " + fb::quoteName(table));
        query.open();
        const Value value = query.value("N");
        const auto* n = std::get_if<int64_t>(&value);
        counts.emplace_back(table, n != nullptr ? *n : -1);
    }
    return counts;
}

}  // namespace tarvolen::database
