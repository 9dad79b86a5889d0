// tarvolen-run: runs the update plan against one database from a shell or a scheduler, with the
// same engine as the desktop. `tarvolen-run --help` says how.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/os/Process.h"
#include "base/os/Terminal.h"
#include "db/DatabaseError.h"
#include "engine/BatchRun.h"
#include "engine/BatchStopped.h"
#include "engine/DatabaseBackup.h"
#include "engine/DryRun.h"
#include "engine/EngineHost.h"
#include "engine/RunLog.h"
#include "engine/StopSignals.h"
#include "engine/dm_main.h"
#include "plan/PlanLayout.h"
#include "plan/PlanLock.h"
#include "plan/SharedPlanFile.h"
#include "tools/cli/CommandLine.h"
#include "tools/cli/Login.h"
#include "tools/cli/ProgressLine.h"
#include "tools/cli/TerminalText.h"

namespace {

using namespace tarvolen;
using namespace tarvolen::cli;
using SteadyClock = std::chrono::steady_clock;

constexpr int kExitCorrect = 0;
constexpr int kExitWithErrors = 1;
constexpr int kExitFailed = 2;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: tarvolen-run --alias NAME [--user NAME] [--password-file FILE] [--plan FILE]\n"
    "                    [--no-statistics] [--backup DIR | --no-backup] [--verify-backup]\n"
    "                    [--dry-run] [--stop-on-error] [--log FILE] [--quiet] [--verbose]\n"
    "       tarvolen-run --help | --version\n";

constexpr const char* kHelp =
    "Runs the update plan against the database behind an alias, as the desktop's \"Esegui\"\n"
    "does: recalculates the index statistics, walks the plan in ID order, runs every phase\n"
    "that is due and marks it done, printing each log line as it happens and the summary last.\n"
    "\n"
    "options:\n"
    "  --alias NAME          the database's alias (required)\n"
    "  --user NAME           the user name (default: $ISC_USER, else SYSDBA)\n"
    "  --password-file FILE  read the password from FILE, a regular file only its owner may\n"
    "                        read (chmod 600); the password is never taken from the command line\n"
    "  --plan FILE           the plan file (default: ./dbquery.xml)\n"
    "  --no-statistics       do not recalculate the index statistics first\n"
    "  --backup DIR          back the database up into the folder DIR (which must exist) before\n"
    "                        anything else, through the database engine's own backup: the file\n"
    "                        <alias>-<version>-<YYYYMMDD-HHMMSS>.fbk; a backup that fails stops\n"
    "                        the run with nothing applied (default: $TARVOLEN_BACKUP_DIR, else no\n"
    "                        backup)\n"
    "  --no-backup           no backup, even with TARVOLEN_BACKUP_DIR set\n"
    "  --verify-backup       restore the fresh backup into a scratch database and compare every\n"
    "                        table's row count with the database's before the first phase\n"
    "  --dry-run             change nothing and take no lock: say for each phase whether it is\n"
    "                        done, skipped for version or would run, and what a run would report\n"
    "  --stop-on-error       end the run at the first statement or import that fails; its phase\n"
    "                        stays due\n"
    "  --log FILE            also append every log line to FILE with its time, each phase's\n"
    "                        duration and, at the end, the failed statements and the run's\n"
    "                        duration; written line by line as the run goes. Every run keeps\n"
    "                        the same log in log/ beside the plan as well, one file per run\n"
    "                        (YYYYMMDD-HHMMSS-<alias>.log; tarvolen-plan history lists them)\n"
    "  --quiet               no progress line on the terminal\n"
    "  --verbose             also print notes that are no problem for a run (a database without\n"
    "                        the registry tables); --log always holds them\n"
    "  --help                print this help and exit\n"
    "  --version             print the version and exit\n"
    "\n"
    "While the run goes, a terminal on standard error shows one status line: the phase, its ID,\n"
    "the script lines or rows done out of the total (for the backup: the tables and the bytes\n"
    "written), and the time elapsed. After the summary, the phases in which statements failed\n"
    "or whose import failed are listed.\n"
    "\n"
    "environment:\n"
    "  TARVOLEN_PASSWORD     the password, when --password-file is not given\n"
    "  TARVOLEN_BACKUP_DIR   the folder of the backup before the run, when neither --backup nor\n"
    "                        --no-backup is given\n"
    "  TARVOLEN_ALIASES      the alias file (default: ~/.config/tarvolen/aliases.ini, else\n"
    "                        aliases.ini beside the executable)\n"
    "  ISC_USER              the user name, when --user is not given\n"
    "  FIREBIRD_LOCK         the lock folder of the in-process database engine, for databases\n"
    "                        opened without a server\n"
    "\n"
    "exit status:\n"
    "  0    \"Batch eseguito correttamente\"; for --dry-run: nothing a run would log as an error\n"
    "  1    \"Batch eseguito con errori\"; for --dry-run: something a run would log as an error\n"
    "       (script text that never runs, a data file that cannot be read, a missing table)\n"
    "  2    a failure or a lost connection ended the run (its message on standard error), the\n"
    "       backup before it failed (nothing was applied), the plan is in use by another run,\n"
    "       or the command line is wrong\n"
    "  129, 130, 143  SIGHUP, SIGINT or SIGTERM stopped the run after the statement in flight;\n"
    "       the phases done so far stay marked\n"
    "\n"
    "See tarvolen-run(1) and docs/plan.md.\n";

struct Options {
    std::string alias;
    std::string user;
    std::optional<std::string> passwordFile;
    std::string plan = kPlanFileName;
    std::optional<std::string> logFile;
    std::optional<std::string> backupFolder;  // none: no backup
    bool verifyBackup = false;
    bool statistics = true;
    bool dryRun = false;
    bool stopOnError = false;
    bool quiet = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
};

Options parseOptions(int argc, char** argv) {
    Options o;
    bool noBackup = false;
    OptionCursor cursor(argc, argv);
    while (cursor.next()) {
        const std::string& arg = cursor.name();
        const auto flag = [&](bool& target, bool set = true) {
            cursor.requireNoValue();
            target = set;
        };
        if (arg == "--alias") {
            o.alias = cursor.value();
        } else if (arg == "--user") {
            o.user = cursor.value();
        } else if (arg == "--password-file") {
            o.passwordFile = cursor.value();
        } else if (arg == "--plan") {
            o.plan = cursor.value();
        } else if (arg == "--log") {
            o.logFile = cursor.value();
        } else if (arg == "--backup") {
            o.backupFolder = cursor.value();
            if (o.backupFolder->empty()) throw UsageError("--backup needs a folder");
        } else if (arg == "--no-backup") {
            flag(noBackup);
        } else if (arg == "--verify-backup") {
            flag(o.verifyBackup);
        } else if (arg == "--no-statistics") {
            flag(o.statistics, false);
        } else if (arg == "--dry-run") {
            flag(o.dryRun);
        } else if (arg == "--stop-on-error") {
            flag(o.stopOnError);
        } else if (arg == "--quiet") {
            flag(o.quiet);
        } else if (arg == "--verbose") {
            flag(o.verbose);
        } else if (arg == "--help" || arg == "-h") {
            flag(o.help);
        } else if (arg == "--version") {
            flag(o.version);
        } else if (arg.starts_with("-")) {
            throw UsageError("unknown option " + arg);
        } else {
            throw UsageError("unexpected argument " + arg);
        }
    }
    if (!o.help && !o.version && o.alias.empty()) throw UsageError("--alias NAME is required");
    if (noBackup && o.backupFolder) throw UsageError("--backup and --no-backup exclude each other");
    // A backup by default only where the administrator has said where backups go: a run from
    // a scheduler over many databases must not fill a disk it was never told about.
    if (const char* folder = std::getenv("TARVOLEN_BACKUP_DIR");
        !noBackup && !o.backupFolder && folder != nullptr && *folder != '\0')
        o.backupFolder = folder;
    if (noBackup) o.backupFolder.reset();
    if (o.verifyBackup && !o.backupFolder)
        throw UsageError("--verify-backup needs a backup: --backup DIR or TARVOLEN_BACKUP_DIR");
    return o;
}

// The engine's window, on a terminal: log lines and message boxes become printed lines, the
// progress a status line on standard error, and everything also goes to the log file.
class TerminalHost : public EngineHost {
  public:
    TerminalHost(const TerminalText& text, const StopSignals& signals, ProgressLine* progress,
                 std::vector<RunLogFile*> logs, bool verbose)
        : m_text(text),
          m_signals(signals),
          m_progress(progress),
          m_logs(std::move(logs)),
          m_verbose(verbose) {}

    void appendLog(std::string_view text) override { print(stdout, text); }
    void processEvents() override {}
    void reportProgress(const RunProgress& progress) override {
        if (m_progress != nullptr) m_progress->update(progress, SteadyClock::now());
    }
    bool stopRequested() override { return m_signals.received() != 0; }
    void phaseEnded(const PhaseTiming& timing) override {
        logOnly("FASE " + std::to_string(timing.phaseId) +
                " DURATA: " + DurationText(timing.duration));
    }
    void showMessage(std::string_view text, std::string_view, MessageIcon icon) override {
        print(icon == MessageIcon::Error ? stderr : stdout, text);
    }

    // A failure that ends the run: standard error and the log.
    void failure(std::string_view text) { print(stderr, text); }
    // A note that is no problem for the run: the log, and standard error when verbose.
    void note(std::string_view text) {
        if (m_verbose) {
            print(stderr, text);
        } else {
            logOnly(text);
        }
    }
    void logOnly(std::string_view text) {
        const auto now = std::chrono::system_clock::now();
        for (RunLogFile* log : m_logs) log->write(text, now);
    }

  private:
    void print(std::FILE* stream, std::string_view text) {
        if (m_progress != nullptr) m_progress->clear();
        m_text.print(stream, text);
        logOnly(text);
        if (m_progress != nullptr) m_progress->restore(SteadyClock::now());
    }

    const TerminalText& m_text;
    const StopSignals& m_signals;
    ProgressLine* m_progress;
    std::vector<RunLogFile*> m_logs;
    bool m_verbose;
};

// "FASI CON ERRORI: 10 (2 ISTRUZIONI FALLITE, CONSIDERATA ESEGUITA), 40 (IMPORT FALLITO, RESTA
// DA ESEGUIRE)"; empty when no phase had a failure.
std::string FailedPhasesLine(const RunSummary& run) {
    std::string line;
    for (const PhaseFailures& phase : run.failedPhases) {
        line += line.empty() ? "FASI CON ERRORI: " : ", ";
        line += std::to_string(phase.id) + " (";
        if (phase.importFailed) {
            line += "IMPORT FALLITO, RESTA DA ESEGUIRE)";
        } else {
            line += std::to_string(phase.failedStatements) +
                    (phase.failedStatements == 1 ? " ISTRUZIONE FALLITA" : " ISTRUZIONI FALLITE") +
                    ", CONSIDERATA ESEGUITA)";
        }
    }
    return line;
}

// "Comune di …" when the database names the municipality that manages it.
void NoteMunicipality(TdmMain& dm, TerminalHost& host) {
    try {
        const std::string comune = dm.ManagingMunicipality();
        if (!comune.empty()) host.appendLog("Comune di " + comune);
    } catch (const database::ConnectionLost&) {
        throw;  // no note on the registry tables: the run cannot go on
    } catch (const std::runtime_error&) {
        // The registry tables are missing: the desktop says so in a box and goes on; here it is
        // no problem at all, so it is only noted.
        host.note("Il database non \xE8 corretto.");
    }
}

// A dry run: what a run would do, and whether the backup it would take is possible.
int ReportDryRun(TdmMain& dm, const Options& options, const BackupRequest& backup,
                 TerminalHost& host) {
    const DryRunReport report = DryRun(dm);
    for (const std::string& line : DryRunLogLines(report)) host.appendLog(line);
    bool backupUsable = true;
    if (options.backupFolder) host.appendLog(BackupPreviewLine(dm, backup, backupUsable));
    dm.cdsQuery().SetFileName("");  // a dry run never writes the plan back
    dm.cdsQuery().Close();
    return DryRunFoundErrors(report) || !backupUsable ? kExitWithErrors : kExitCorrect;
}

// The walk of the plan; the plan is written back however it ends.
int WalkPlan(TdmMain& dm, TerminalHost& host, const StopSignals& signals, RunSummary& summary) {
    // The phases marked before a failure still reach the plan file.
    const auto closePlan = [&] {
        try {
            dm.DataModuleDestroy();
        } catch (const std::exception& closing) {
            host.failure(closing.what());
        }
    };
    const auto listFailedPhases = [&] {
        summary = dm.LastRun();
        if (const std::string line = FailedPhasesLine(summary); !line.empty()) host.appendLog(line);
    };
    try {
        dm.RunBatch();
    } catch (const BatchStopped& stop) {
        listFailedPhases();
        closePlan();
        host.failure(stop.what());
        return stop.reason() == BatchStopped::Reason::StopRequested && signals.received() != 0
                   ? StopSignals::exitStatusFor(signals.received())
                   : kExitFailed;
    } catch (const std::exception&) {
        listFailedPhases();
        closePlan();
        throw;
    }
    listFailedPhases();
    dm.DataModuleDestroy();
    return summary.BatchHasErrors ? kExitWithErrors : kExitCorrect;
}

// `summary` receives what the walk came to, however the run ends; it stays empty when the run
// ends before its walk.
int run(const Options& options, TerminalHost& host, const StopSignals& signals,
        RunSummary& summary) {
    TdmMain dm;
    dm.setHost(&host);
    dm.cdsQuery().SetFileName(options.plan);
    // The run holds the plan from before it reads it to after its last write. A dry run
    // writes nothing, so it may look at a plan another run holds.
    std::optional<SharedPlanFile::Hold> held;
    if (!options.dryRun) held.emplace(dm.PlanFile().hold());
    dm.PlanFile().SetConflictReporter(
        [&host](const PlanConflict& conflict) { host.failure(PlanConflictMessage(conflict)); });
    dm.LoginUser = LoginUser(options.user);
    dm.LoginPassword = LoginPassword(options.passwordFile);
    dm.StopOnError = options.stopOnError;
    // Before connecting: under a file-size limit the in-process database engine dies on its
    // own lock file, so this refusal must come first.
    if (!options.dryRun) dm.CheckPlanFile();

    dm.Connect(options.alias);
    dm.ReloadPlan();
    if (!options.dryRun) dm.CheckPlanForRun();
    NoteMunicipality(dm, host);

    BackupRequest backup;
    if (options.backupFolder) backup = {*options.backupFolder, false, options.verifyBackup};
    if (options.dryRun) return ReportDryRun(dm, options, backup, host);

    // The copy of the database as it is before anything of the run touches it; without it,
    // nothing runs.
    if (options.backupFolder) {
        try {
            BackupDatabaseBeforeRun(dm, backup);
        } catch (const BatchStopped& stop) {
            host.failure(stop.what());
            return signals.received() != 0 ? StopSignals::exitStatusFor(signals.received())
                                           : kExitFailed;
        }
    }

    if (options.statistics) {
        dm.CollectTableNames();
        dm.RecalculateStatistics();
    }
    return WalkPlan(dm, host, signals, summary);
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit then fails a write with its own error instead of killing the process;
    // what goes to standard output is the same bytes on every platform.
    os::prepareCommandLineProcess();
    // The database client installed handlers of its own as it was loaded; these take their
    // place before anything reaches the database.
    const StopSignals signals;
    const TerminalText text;
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError& e) {
        printUsageError(stderr, "tarvolen-run", e, kUsage);
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        std::fputs("\n", stdout);
        std::fputs(kHelp, stdout);
        return kExitCorrect;
    }
    if (options.version) {
        std::puts("tarvolen-run " TARVOLEN_VERSION);
        return kExitCorrect;
    }

    const auto started = SteadyClock::now();
    const LogEncoding encoding = text.raw() ? LogEncoding::Unchanged : LogEncoding::Utf8;
    std::optional<RunLogFile> log;
    // Every run but a dry one leaves its log beside the plan, whatever --log says.
    std::optional<RunLogFile> keptLog;
    try {
        if (options.logFile) log.emplace(*options.logFile, encoding);
        if (!options.dryRun) {
            keptLog.emplace(
                CreateKeptRunLog(options.plan, options.alias, std::chrono::system_clock::now()),
                LogEncoding::Utf8);
        }
    } catch (const std::exception& e) {
        text.print(stderr, e.what());
        return kExitFailed;
    }
    std::vector<RunLogFile*> logs;
    if (log) logs.push_back(&*log);
    if (keptLog) logs.push_back(&*keptLog);
    std::optional<ProgressLine> progress;
    if (!options.quiet && os::isTerminal(stderr))
        progress.emplace(stderr, os::terminalColumns(stderr), started);
    TerminalHost host(text, signals, progress ? &*progress : nullptr, std::move(logs),
                      options.verbose);
    const RunIdentity identity{"tarvolen-run " TARVOLEN_VERSION, options.alias, options.plan,
                               LoginUser(options.user), options.dryRun};
    host.logOnly(RunStartLine(identity));
    host.logOnly(RunUsersLine(identity));
    if (keptLog) host.note("Log dell'esecuzione: " + keptLog->path());
    if (!options.dryRun && !options.backupFolder)
        host.logOnly("NESSUN BACKUP DEL DATABASE PRIMA DELL'AGGIORNAMENTO (--backup DIR)");

    RunSummary summary;
    int status = kExitFailed;
    try {
        status = run(options, host, signals, summary);
    } catch (const std::exception& e) {
        host.failure(e.what());
    }
    if (progress) progress->finish();
    if (!options.dryRun) {
        host.logOnly(RunCountsLine(summary.failedStatements, summary.failedImports));
    }
    host.logOnly(RunEndLine(SteadyClock::now() - started, status));
    return status;
}
