// tarvolen-backup: the backups a run takes, on their own: make one, list them, put a database
// back as one holds it. `tarvolen-backup --help` says how.

#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Text.h"
#include "base/os/Process.h"
#include "base/os/Terminal.h"
#include "engine/BackupFiles.h"
#include "engine/BatchStopped.h"
#include "engine/DatabaseBackup.h"
#include "engine/DatabaseRestore.h"
#include "engine/EngineHost.h"
#include "engine/PlanEditing.h"
#include "engine/PlanListing.h"
#include "engine/RunLog.h"
#include "engine/StopSignals.h"
#include "engine/Versione.h"
#include "engine/dm_main.h"
#include "plan/FileIO.h"
#include "plan/PlanLayout.h"
#include "tools/cli/CommandLine.h"
#include "tools/cli/Login.h"
#include "tools/cli/ProgressLine.h"
#include "tools/cli/TerminalText.h"
#include "tools/cli/TextTable.h"

namespace {

using namespace tarvolen;
using namespace tarvolen::cli;
using SteadyClock = std::chrono::steady_clock;

constexpr int kExitDone = 0;
constexpr int kExitRefused = 1;
constexpr int kExitFailed = 2;  // also: a wrong command line

constexpr const char* kUsage =
    "usage: tarvolen-backup create --alias NAME [--user NAME] [--password-file FILE] [--verify]\n"
    "                              [--quiet] DIR\n"
    "       tarvolen-backup list [--alias NAME] DIR\n"
    "       tarvolen-backup restore --alias NAME [--user NAME] [--password-file FILE] [--yes]\n"
    "                               [--plan FILE] [--quiet] FILE\n"
    "       tarvolen-backup --help | --version\n";

constexpr const char* kHelp =
    "Makes, lists and restores backups of the databases tarvolen updates, through the database\n"
    "engine's own backup: the same backup a run takes before its first phase with --backup\n"
    "(tarvolen-run) or \"Backup del database prima dell'aggiornamento\" (the window).\n"
    "\n"
    "commands:\n"
    "  create    back the database of the alias up into the folder DIR (which must exist): the\n"
    "            file <alias>-<version>-<YYYYMMDD-HHMMSS>.fbk, written under a temporary name\n"
    "            and given its name only once whole and on disk; --verify also restores it into a\n"
    "            scratch database and compares every table's row count with the database's\n"
    "  list      the backups in DIR, newest first: file, alias, version, when, size; --alias\n"
    "            shows only that alias's\n"
    "  restore   put the database of the alias back as the backup FILE holds it: refused while\n"
    "            any other connection is attached to it (they are named); the backup is\n"
    "            restored into a new file beside the database, and only once that is complete\n"
    "            does it take the database's place; the replaced database stays beside it as\n"
    "            <file>.sostituito-YYYYMMDD-HHMMSS. Asks first, unless --yes. Afterwards the\n"
    "            version record is the backup's; the plan (--plan FILE, default ./dbquery.xml)\n"
    "            is not changed, and the phases it marks done above that version are listed,\n"
    "            to be marked N again with tarvolen-plan mark ID N. For a database behind a\n"
    "            server, the server restores it into its own folder, and the two files are\n"
    "            swapped with the database shut down: run restore on the server's machine\n"
    "\n"
    "options:\n"
    "  --alias NAME          the database's alias\n"
    "  --user NAME           the user name (default: $ISC_USER, else SYSDBA)\n"
    "  --password-file FILE  read the password from FILE, a regular file only its owner may read\n"
    "  --verify              (create) check the backup by restoring it into a scratch database\n"
    "  --yes                 (restore) do not ask before replacing the database\n"
    "  --plan FILE           (restore) the plan whose done phases to compare (./dbquery.xml)\n"
    "  --quiet               no progress line on the terminal\n"
    "  --help                print this help and exit\n"
    "  --version             print the version and exit\n"
    "\n"
    "environment:\n"
    "  TARVOLEN_PASSWORD     the password, when --password-file is not given\n"
    "  TARVOLEN_ALIASES      the alias file (default: ~/.config/tarvolen/aliases.ini, else\n"
    "                        aliases.ini beside the executable)\n"
    "  ISC_USER              the user name, when --user is not given\n"
    "  FIREBIRD_LOCK         the lock folder of the in-process database engine\n"
    "\n"
    "exit status:\n"
    "  0    done\n"
    "  1    refused, nothing changed: other connections attached, the database's file not on\n"
    "       this machine, the restore not confirmed\n"
    "  2    could not do it: the backup or restore failed (the database is as it was), a file\n"
    "       or folder that cannot be read or written, a database that cannot be reached, or a\n"
    "       wrong command line\n"
    "  130, 143  SIGINT or SIGTERM stopped it; nothing it had begun was left behind\n"
    "\n"
    "See tarvolen-backup(1), and docs/plan.md: \"When a phase went wrong\".\n";

using Arguments = CommandArguments;

const std::map<std::string, CommandRules>& commandRules() {
    static const std::map<std::string, CommandRules> commands = {
        // Each command takes one more argument at most: the database or backup it works on.
        {"create", {{"--alias", "--user", "--password-file"}, {"--verify", "--quiet"}, 1}},
        {"list", {{"--alias"}, {}, 1}},
        {"restore", {{"--alias", "--user", "--password-file", "--plan"}, {"--yes", "--quiet"}, 1}},
    };
    return commands;
}

Arguments parseArguments(int argc, char** argv) {
    return parseCommandArguments(argc, argv, commandRules());
}

const std::string& onePositional(const Arguments& a, const char* what) {
    if (a.positional.size() != 1) throw UsageError(a.command + " needs " + what);
    return a.positional[0];
}

// The engine's window, on a terminal: log lines on standard output, the progress a status line
// on standard error (on a terminal, unless quiet), and the stop signals as the stop request.
class TerminalHost : public EngineHost {
  public:
    TerminalHost(const TerminalText& text, const StopSignals& signals, bool quiet)
        : m_text(text), m_signals(signals) {
        if (!quiet && os::isTerminal(stderr))
            m_progress.emplace(stderr, os::terminalColumns(stderr), SteadyClock::now());
    }
    ~TerminalHost() override {
        if (m_progress) m_progress->finish();
    }
    TerminalHost(const TerminalHost&) = delete;
    TerminalHost& operator=(const TerminalHost&) = delete;

    void appendLog(std::string_view text) override { print(stdout, text); }
    void processEvents() override {}
    void reportProgress(const RunProgress& progress) override {
        if (m_progress) m_progress->update(progress, SteadyClock::now());
    }
    bool stopRequested() override { return m_signals.received() != 0; }
    void showMessage(std::string_view text, std::string_view, MessageIcon icon) override {
        print(icon == MessageIcon::Error ? stderr : stdout, text);
    }
    void print(std::FILE* stream, std::string_view text) {
        if (m_progress) m_progress->clear();
        m_text.print(stream, text);
        if (m_progress) m_progress->restore(SteadyClock::now());
    }
    int stopStatus() const { return StopSignals::exitStatusFor(m_signals.received()); }

  private:
    const TerminalText& m_text;
    const StopSignals& m_signals;
    std::optional<ProgressLine> m_progress;
};

// A data module logged in as the command line says, showing on the terminal.
void prepare(TdmMain& dm, const Arguments& a, TerminalHost& host) {
    dm.setHost(&host);
    const std::string* user = a.value("--user");
    dm.LoginUser = LoginUser(user != nullptr ? *user : "");
    const std::string* passwordFile = a.value("--password-file");
    dm.LoginPassword = LoginPassword(
        passwordFile != nullptr ? std::optional<std::string>(*passwordFile) : std::nullopt);
}

int create(const Arguments& a, const TerminalText& text, const StopSignals& signals) {
    const std::string& folder = onePositional(a, "the folder DIR");
    TerminalHost host(text, signals, a.has("--quiet"));
    TdmMain dm;
    prepare(dm, a, host);
    dm.Connect(a.required("--alias"));
    try {
        BackupDatabaseBeforeRun(dm, {folder, false, a.has("--verify")});
    } catch (const BatchStopped& stop) {
        host.print(stderr, stop.what());
        return host.stopStatus();
    } catch (const BackupFailed& e) {
        host.print(stderr, "tarvolen-backup: backup failed: " + e.reason());
        return kExitFailed;
    }
    return kExitDone;
}

int list(const Arguments& a, const TerminalText& text) {
    const std::string& folder = onePositional(a, "the folder DIR");
    const std::string* alias = a.value("--alias");
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"FILE", "ALIAS", "VERSION", "TAKEN", "SIZE"});
    for (const BackupFileInfo& backup : ListBackups(folder)) {
        if (alias != nullptr && !equalsNoCase(backup.alias, *alias)) continue;
        rows.push_back({backup.path, backup.alias, backup.version, backup.takenText(),
                        SizeText(backup.bytes)});
    }
    std::string table = AlignedTable(rows);
    if (!table.empty() && table.back() == '\n') table.pop_back();
    text.print(stdout, table);
    return kExitDone;
}

// True when the answer on standard input is yes.
bool confirmed(const std::string& question) {
    std::fputs((question + " [y/N] ").c_str(), stdout);
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        std::fputs("\n", stdout);
        return false;
    }
    const std::string_view word = trimmed(answer);
    return equalsNoCase(word, "y") || equalsNoCase(word, "yes") || equalsNoCase(word, "s") ||
           equalsNoCase(word, "si");
}

// The phases the plan marks done above `version`: after a restore to that version, a run
// would pass them over although the database no longer holds what they did.
void listPhasesAbove(const std::string& planFile, bool planNamed, const std::string& version,
                     const TerminalText& text) {
    if (!fileExists(planFile)) {
        text.print(stdout, "No plan " + planFile +
                               " to compare with the restored version (--plan FILE names one).");
        return;
    }
    TClientDataSet plan("cdsQuery");
    OpenPlanFile(plan, planFile);
    const auto restored = TVersione::CreateFromText(version);
    std::vector<std::string> above;
    std::vector<std::string> unversioned;
    for (const PhaseSummary& phase : SummarizePlan(plan)) {
        if (phase.stato != "S" || !phase.id) continue;
        if (phase.version.empty())
            unversioned.push_back(std::to_string(*phase.id));
        else if (restored->CompareToText(phase.version) < 0)
            above.push_back(std::to_string(*phase.id));
    }
    if (above.empty()) {
        text.print(stdout,
                   "The plan " + planFile + " marks no phase done above version " + version + ".");
    } else {
        std::string ids;
        std::string commands;
        for (const std::string& id : above) {
            ids += (ids.empty() ? "" : ", ") + id;
            commands +=
                "\n  tarvolen-plan mark " + id + " N" + (planNamed ? " --plan " + planFile : "");
        }
        text.print(stdout, "The plan " + planFile + " marks done phases above version " + version +
                               ", which the restored database does not hold: " + ids +
                               ". To run them again:" + commands);
    }
    if (!unversioned.empty()) {
        std::string ids;
        for (const std::string& id : unversioned) ids += (ids.empty() ? "" : ", ") + id;
        text.print(stdout,
                   "Phases marked done without a version (check them by hand): " + ids + ".");
    }
}

int restore(const Arguments& a, const TerminalText& text, const StopSignals& signals) {
    const std::string& backup = onePositional(a, "the backup FILE");
    const std::string& alias = a.required("--alias");
    const std::string* planOption = a.value("--plan");
    const std::string plan = planOption != nullptr ? *planOption : kPlanFileName;
    TerminalHost host(text, signals, a.has("--quiet"));
    TdmMain dm;
    prepare(dm, a, host);
    std::optional<DatabaseRestore> restore;
    try {
        restore.emplace(dm, alias, backup);
    } catch (const RestoreRefused& e) {
        host.print(stderr, std::string("tarvolen-backup: restore refused: ") + e.what() + ".");
        return kExitRefused;
    }
    const auto named = ParseBackupFileName(std::filesystem::path(backup).filename().string());
    std::string what = "the backup " + backup;
    if (named) what += " (version " + named->version + ", taken " + named->takenText() + ")";
    const std::string question = "Replace the database of alias " + alias + " (" +
                                 restore->databaseFile() + ", version " +
                                 restore->currentVersion() + ") with " + what + "?";
    if (!a.has("--yes") && !confirmed(question)) {
        host.print(stderr, "tarvolen-backup: restore not confirmed; nothing changed.");
        return kExitRefused;
    }
    text.print(stdout, "Restoring " + backup + " into a new file beside " +
                           restore->databaseFile() + "...");
    const auto started = SteadyClock::now();
    RunProgress progress;
    progress.stage = RunProgress::Stage::Restore;
    progress.unit = RunProgress::Unit::Tables;
    RestoreOutcome outcome;
    try {
        outcome = restore->Run([&](const database::ServiceProgress& p) {
            progress.done = p.tablesDone;
            host.reportProgress(progress);
            return !host.stopRequested();
        });
    } catch (const database::ServiceStopped&) {
        host.print(stderr, "tarvolen-backup: restore stopped; the database is as it was.");
        return host.stopStatus();
    } catch (const RestoreRefused& e) {
        host.print(stderr, std::string("tarvolen-backup: restore refused: ") + e.what() + ".");
        return kExitRefused;
    } catch (const database::DatabaseError& e) {
        host.print(stderr, std::string("tarvolen-backup: restore failed, the database is as it "
                                       "was: ") +
                               e.what());
        return kExitFailed;
    }
    text.print(stdout, "The database of alias " + alias + " is now the backup's, version " +
                           outcome.version + " (it was " + restore->currentVersion() + "), in " +
                           DurationText(SteadyClock::now() - started) +
                           ". The replaced database is kept as " + outcome.keptAs + ".");
    listPhasesAbove(plan, planOption != nullptr, outcome.version, text);
    return kExitDone;
}

int run(const Arguments& a, const TerminalText& text, const StopSignals& signals) {
    if (a.command == "create") return create(a, text, signals);
    if (a.command == "list") return list(a, text);
    return restore(a, text, signals);
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit then fails a write with its own error instead of killing the process;
    // what goes to standard output is the same bytes on every platform.
    os::prepareCommandLineProcess();
    const StopSignals signals;
    const TerminalText text;
    Arguments arguments;
    try {
        arguments = parseArguments(argc, argv);
        if (arguments.has("--help")) {
            std::fputs(kUsage, stdout);
            std::fputs("\n", stdout);
            std::fputs(kHelp, stdout);
            return kExitDone;
        }
        if (arguments.has("--version")) {
            std::puts("tarvolen-backup " TARVOLEN_VERSION);
            return kExitDone;
        }
        if (arguments.command.empty()) throw UsageError("no command given");
        return run(arguments, text, signals);
    } catch (const UsageError& e) {
        printUsageError(stderr, "tarvolen-backup", e, kUsage);
        return kExitFailed;
    } catch (const std::exception& e) {
        text.print(stderr, std::string("tarvolen-backup: ") + e.what());
        return kExitFailed;
    }
}
