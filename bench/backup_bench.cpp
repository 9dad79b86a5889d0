// Backups and restores through the tool against the database engine's own backup utility on the
// same database, as ratios of wall time measured in one run (goal: ours / gbak <= 1.1):
//   1. tarvolen-backup create (the backup a run takes) against gbak -b;
//   2. tarvolen-backup restore (a restore into a new file beside the database, then the swap)
//      against gbak -c into a new database.
// Each on a database of N generated registry rows (people: names, dates, places, tax codes,
// addresses, notes on one row in five; an index on the surname), embedded and then opened by
// the local server (port 3050; SYSDBA's password from TARVOLEN_FB_SYSDBA_PASSWORD or the server
// package's file). Over the server, gbak -b and gbak -c run here as clients of the server, as
// tarvolen-backup's backup does; a restore through the server's own service manager
// (gbak -c -se), which reads a file the server can reach, is timed too. Each side's best of R
// runs, taken in turn. The databases live in the system's temporary folder (TMPDIR). For the
// embedded database, where the engine works inside the process timed, the processor time of
// each side is compared too: what the machine's load changes least.
//
//   bench_backup [--rows N] [--runs R] [--server 0|1]     (defaults 2000000, 3, 1)

#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>

#include "BenchSupport.h"
#include "db/Aliases.h"
#include "db/Connection.h"
#include "engine/BackupFiles.h"
#include "tests/support/ServerPassword.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace tarvolen;
using bench::Clock;
using bench::Folder;
using bench::secondsSince;

constexpr double kGoal = 1.1;

using database::testing::sysdbaPassword;

// One side's time: wall clock, and the processor time of its process (user and system).
struct Timing {
    double wall = std::numeric_limits<double>::max();
    double cpu = std::numeric_limits<double>::max();
    void keepBest(const Timing& other) {
        wall = std::min(wall, other.wall);
        cpu = std::min(cpu, other.cpu);
    }
};

// The database of one measurement: embedded, or opened by the local server.
struct Target {
    const char* name;
    bool server = false;
    std::string password;
};

std::string inQuotes(const std::string& text) {
    return "'" + text + "'";
}

class Bench {
  public:
    Bench(const Target& target, int rows) : m_target(target), m_rows(rows) {
        // The server, running as its own user, creates and reads its files here.
        if (target.server) fs::permissions(m_folder.path(), fs::perms::all);
        std::ofstream(m_folder.path() / "aliases.ini")
            << "[bench]\nDatabase = " << connectionString(database()) << "\nCharset = WIN1252\n";
        fs::create_directory(m_folder.path() / "backup");
        fs::permissions(m_folder.path() / "backup", fs::perms::all);
    }

    std::string database() const { return (m_folder.path() / "bench.fdb").string(); }
    std::string connectionString(const std::string& file) const {
        return m_target.server ? "localhost:" + file : file;
    }

    // The registry: people with names, dates, places, tax codes, addresses, and notes on one
    // row in five, made by the database itself.
    void create() {
        database::Connection c("creator");
        c.setAliasConfig(std::make_shared<database::AliasConfig>(
            database::AliasConfig::load(m_folder.path() / "aliases.ini")));
        c.setAliasName("bench");
        c.params().setValue("USER NAME", "SYSDBA");
        c.params().setValue("PASSWORD", m_target.password);
        c.createDatabase();
        c.execute(
            "create table SYSDBVER (MAJOR_VERSION integer, MINOR_VERSION integer, "
            "RELEASE_VERSION integer, BUILD integer, APPID varchar(3))");
        c.execute("insert into SYSDBVER values (1, 0, 0, 0, 'QLM')");
        c.execute(
            "create table AFINDIVIDUI (ID integer not null primary key, COGNOME varchar(60), "
            "NOME varchar(60), SESSO char(1), DATA_NASCITA date, COMUNE_NASCITA varchar(6), "
            "CODICE_FISCALE char(16), INDIRIZZO varchar(100), NOTE varchar(200))");
        c.execute(
            "execute block as declare i integer = 0; begin while (i < " + std::to_string(m_rows) +
            ") do begin insert into AFINDIVIDUI values (:i, 'Cognome' || mod(:i * 7919, 100003), "
            "'Nome' || mod(:i, 977), iif(mod(:i, 2) = 0, 'M', 'F'), "
            "dateadd(mod(:i, 36500) day to date '1920-01-01'), lpad(mod(:i, 8000), 6, '0'), "
            "'RSSMRA' || lpad(mod(:i, 10000000), 10, '0'), "
            "'Via ' || mod(:i, 5000) || ', ' || mod(:i, 300) || ' - Alba (CN)', "
            "iif(mod(:i, 5) = 0, 'Annotazione di stato civile numero ' || :i, null)); "
            "i = i + 1; end end");
        c.execute("create index AFINDIVIDUI_COGNOME on AFINDIVIDUI (COGNOME)");
        c.close();
        // The server's file is its own; read its size through the file system all the same.
        m_bytes = fs::file_size(database());
    }
    uint64_t bytes() const { return m_bytes; }

    // The tool's backup; returns its wall time.
    Timing toolBackup() {
        clearBackups();
        const Timing seconds =
            timed(tool("'" TARVOLEN_BACKUP_TOOL "' create --quiet --alias bench backup"));
        const auto made = ListBackups((m_folder.path() / "backup").string());
        if (made.size() != 1) fail("tarvolen-backup made no backup");
        m_toolBackupBytes = made[0].bytes;
        m_backup = made[0].path;
        fs::permissions(m_backup, fs::perms::owner_read | fs::perms::owner_write |
                                      fs::perms::group_read | fs::perms::others_read);
        return seconds;
    }
    Timing gbakBackup() {
        const std::string file = (m_folder.path() / "gbak.fbk").string();
        fs::remove(file);
        const Timing seconds =
            timed(gbak("-b " + inQuotes(connectionString(database())) + " " + inQuotes(file)));
        m_gbakBackupBytes = fs::file_size(file);
        fs::remove(file);
        return seconds;
    }
    // The tool's restore of its backup over the database; the replaced database it keeps is
    // removed afterwards, untimed.
    Timing toolRestore() {
        const Timing seconds =
            timed(tool("'" TARVOLEN_BACKUP_TOOL "' restore --quiet --yes --alias bench " +
                       inQuotes(m_backup)));
        for (const auto& entry : fs::directory_iterator(m_folder.path()))
            if (entry.path().filename().string().rfind("bench.fdb.sostituito-", 0) == 0)
                fs::remove(entry.path());
        return seconds;
    }
    // gbak -c of the same backup into a new database, dropped afterwards, untimed.
    Timing gbakRestore(bool throughServiceManager) {
        const std::string file = (m_folder.path() / "gbak.fdb").string();
        const std::string service =
            throughServiceManager ? " -se localhost:service_mgr" : std::string();
        const Timing seconds =
            timed(gbak("-c" + service + " " + inQuotes(m_backup) + " " +
                       inQuotes(throughServiceManager ? file : connectionString(file))));
        fs::remove(file);
        return seconds;
    }

  private:
    static void fail(const std::string& why) {
        std::fprintf(stderr, "bench_backup: %s\n", why.c_str());
        std::exit(1);
    }
    void clearBackups() {
        for (const auto& entry : fs::directory_iterator(m_folder.path() / "backup"))
            fs::remove(entry.path());
    }
    std::string tool(const std::string& command) const {
        std::string env =
            "TARVOLEN_ALIASES=" + inQuotes((m_folder.path() / "aliases.ini").string());
        if (m_target.server) env += " TARVOLEN_PASSWORD=" + inQuotes(m_target.password);
        return "env -C " + inQuotes(m_folder.path().string()) + " " + env + " " + command;
    }
    std::string gbak(const std::string& arguments) const {
        std::string env = "ISC_USER=SYSDBA";
        if (m_target.server) env += " ISC_PASSWORD=" + inQuotes(m_target.password);
        return "env " + env + " gbak " + arguments;
    }
    // Runs the command through the shell, which execs the last program in place (env, gbak, the
    // tool), so the rusage of the child is the program's own.
    static Timing timed(const std::string& command) {
        const std::string line = "exec " + command + " >/dev/null";
        char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                        const_cast<char*>(line.c_str()), nullptr};
        const auto start = Clock::now();
        pid_t pid = -1;
        if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0)
            fail("cannot run: " + command);
        int status = 0;
        rusage usage{};
        ::wait4(pid, &status, 0, &usage);
        Timing timing;
        timing.wall = secondsSince(start);
        timing.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fail("failed: " + command);
        return timing;
    }

    Target m_target;
    int m_rows;
    Folder m_folder;
    uint64_t m_bytes = 0;
    std::string m_backup;
    uint64_t m_toolBackupBytes = 0;
    uint64_t m_gbakBackupBytes = 0;

  public:
    uint64_t toolBackupBytes() const { return m_toolBackupBytes; }
    uint64_t gbakBackupBytes() const { return m_gbakBackupBytes; }
};

// Best of `runs` for each side, the sides taken in turn.
std::pair<Timing, Timing> bestOf(int runs, const std::function<Timing()>& ours,
                                 const std::function<Timing()>& theirs) {
    std::pair<Timing, Timing> best;
    for (int i = 0; i < runs; ++i) {
        best.first.keepBest(ours());
        best.second.keepBest(theirs());
    }
    return best;
}

// The processor time of each side, for the embedded database only: over a server the work is
// the server's.
void printProcessorTime(const Target& target, const std::pair<Timing, Timing>& sides) {
    if (target.server) return;
    std::printf("  %s, processor time: ours %.2f s, gbak %.2f s, ratio ours/gbak = %.2f\n",
                target.name, sides.first.cpu, sides.second.cpu, sides.first.cpu / sides.second.cpu);
}

void measure(const Target& target, int rows, int runs) {
    Bench bench(target, rows);
    const auto made = Clock::now();
    bench.create();
    std::printf("%s: %d registry rows, database %s, made in %.1f s\n", target.name, rows,
                SizeText(bench.bytes()).c_str(), secondsSince(made));
    std::fflush(stdout);

    const auto backup = bestOf(
        runs, [&] { return bench.toolBackup(); }, [&] { return bench.gbakBackup(); });
    std::printf(
        "%s backup, best of %d: tarvolen-backup create %.2f s (%s), gbak -b %.2f s (%s), "
        "ratio ours/gbak = %.2f (goal <= %.1f)\n",
        target.name, runs, backup.first.wall, SizeText(bench.toolBackupBytes()).c_str(),
        backup.second.wall, SizeText(bench.gbakBackupBytes()).c_str(),
        backup.first.wall / backup.second.wall, kGoal);
    printProcessorTime(target, backup);
    std::fflush(stdout);

    const auto restore = bestOf(
        runs, [&] { return bench.toolRestore(); }, [&] { return bench.gbakRestore(false); });
    std::printf(
        "%s restore, best of %d: tarvolen-backup restore %.2f s, gbak -c %.2f s, "
        "ratio ours/gbak = %.2f (goal <= %.1f)\n",
        target.name, runs, restore.first.wall, restore.second.wall,
        restore.first.wall / restore.second.wall, kGoal);
    printProcessorTime(target, restore);
    if (target.server) {
        Timing service;
        for (int i = 0; i < runs; ++i) service.keepBest(bench.gbakRestore(true));
        std::printf(
            "%s restore, best of %d: gbak -c through the server's service manager %.2f s, "
            "ratio ours/that = %.2f\n",
            target.name, runs, service.wall, restore.first.wall / service.wall);
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    int rows = 2000000;
    int runs = 3;
    bool server = true;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--rows") {
            rows = std::atoi(argv[i + 1]);
        } else if (option == "--runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (option == "--server") {
            server = std::atoi(argv[i + 1]) != 0;
        } else {
            std::fprintf(stderr, "usage: bench_backup [--rows N] [--runs R] [--server 0|1]\n");
            return 2;
        }
    }
    measure({"embedded", false, ""}, rows, runs);
    if (server) {
        const std::string password = sysdbaPassword();
        if (password.empty()) {
            std::printf("local server: skipped (the SYSDBA password is unknown)\n");
            return 0;
        }
        measure({"local server", true, password}, rows, runs);
    }
    return 0;
}
