// tarvolen-plan: writes, shows and checks an update plan from the shell. `tarvolen-plan --help`
// says how.

#include <charconv>
#include <cstdio>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/os/Process.h"
#include "db/Connection.h"
#include "engine/PlanEditing.h"
#include "engine/PlanListing.h"
#include "engine/PlanValidation.h"
#include "engine/RunHistory.h"
#include "plan/PlanLayout.h"
#include "tools/cli/CommandLine.h"
#include "tools/cli/Login.h"
#include "tools/cli/PlanListFormat.h"
#include "tools/cli/RunHistoryFormat.h"
#include "tools/cli/TerminalText.h"

namespace {

using namespace tarvolen;
using namespace tarvolen::cli;

constexpr int kExitDone = 0;
constexpr int kExitRefused = 1;  // also: validate found problems
constexpr int kExitFailed = 2;   // also: a wrong command line

constexpr const char* kUsage =
    "usage: tarvolen-plan init [FILE]\n"
    "       tarvolen-plan list [FILE] [--json]\n"
    "       tarvolen-plan add --id N --version V --script FILE [--separator S] [--plan FILE]\n"
    "       tarvolen-plan add --id N --version V --table T --file F [--empty-table]\n"
    "                         [--plan FILE]\n"
    "       tarvolen-plan mark ID S|N [--plan FILE]\n"
    "       tarvolen-plan remove ID [--plan FILE]\n"
    "       tarvolen-plan validate [FILE] [--alias NAME [--user NAME] [--password-file FILE]]\n"
    "       tarvolen-plan history [FILE]\n"
    "       tarvolen-plan --help | --version\n";

constexpr const char* kHelp =
    "Writes, shows and checks the update plan that tarvolen and tarvolen-run run. FILE, or\n"
    "--plan FILE, is the plan file; ./dbquery.xml when none is given.\n"
    "\n"
    "commands:\n"
    "  init       write an empty plan: the ten plan fields, no phases (refused when the file\n"
    "             exists)\n"
    "  list       one line per phase in ID order: ID, type, done mark (S done), version as a\n"
    "             run reads it (with the stored text in quotes when that is not exactly\n"
    "             a.b.c.d), separator, and the table <- file of an import or the first line of\n"
    "             a script; --json prints a JSON array instead\n"
    "  add        add a phase that is not done: a script phase from a script file (UTF-8 or\n"
    "             Windows-1252; --separator defaults to ';'), or an import phase of a data file\n"
    "             into a table (--empty-table empties the table first). Refused: an ID the plan\n"
    "             has, a version that is not a.b.c.d, a value wider than its field, a script\n"
    "             whose text would not run, a data file that cannot be read\n"
    "  mark       mark a phase S (done: no run takes it again) or N (to run)\n"
    "  remove     remove a phase\n"
    "  validate   list every problem that would make a run do something other than meant:\n"
    "             rows breaking the field rules, an unknown type, scripts whose text never\n"
    "             runs (no separator, text after the last one, a comment or string never\n"
    "             closed, a NUL), versions that are not a.b.c.d or do not rise with the ID,\n"
    "             data files missing or unreadable, or holding values an import would load\n"
    "             other than as written. With --alias, also against the database: the\n"
    "             SYSDBVER table, each import's table and its columns against the file's\n"
    "             fields (a table that a script phase before the import creates or alters is\n"
    "             left to the run). Lines starting \"note:\" are no problems: how a data\n"
    "             file's text beyond ASCII is read (UTF-8 or Windows-1252)\n"
    "  history    the runs of the plan, from the logs every run keeps in log/ beside the plan,\n"
    "             oldest first: when, the program (tarvolen-run, or tarvolen for the window),\n"
    "             the system and database users, the alias, the version before and after, the\n"
    "             phases run, the statements (and imports) that failed, the exit status (\"-\"\n"
    "             for a run killed before its end) and the backup taken before it\n"
    "\n"
    "Changes are written through a temporary file renamed over the plan, keep the replaced plan\n"
    "as FILE.bak, keep the plan's history of row versions as every edit does, and hold the\n"
    "plan's lock (FILE.lock): a plan that a run is using is refused. Data files named by import\n"
    "phases are opened, as a run opens them, from the current folder.\n"
    "\n"
    "environment (validate --alias):\n"
    "  TARVOLEN_PASSWORD     the password, when --password-file is not given\n"
    "  TARVOLEN_ALIASES      the alias file (default: ~/.config/tarvolen/aliases.ini, else\n"
    "                        aliases.ini beside the executable)\n"
    "  ISC_USER              the user name, when --user is not given\n"
    "  FIREBIRD_LOCK         the lock folder of the in-process database engine\n"
    "\n"
    "exit status:\n"
    "  0    done; for validate: no problem found\n"
    "  1    the change was refused (the message says why), nothing changed; for validate:\n"
    "       problems found, one line each\n"
    "  2    could not do it or could not check: a file that cannot be read or written, a plan\n"
    "       in use, a database that cannot be reached, or a wrong command line\n"
    "\n"
    "See tarvolen-plan(1) and docs/plan.md.\n";

using Arguments = CommandArguments;

const std::map<std::string, CommandRules>& commandRules() {
    static const std::map<std::string, CommandRules> commands = {
        {"init", {{"--plan"}, {}, 1}},
        {"list", {{"--plan"}, {"--json"}, 1}},
        {"add",
         {{"--plan", "--id", "--version", "--script", "--separator", "--table", "--file"},
          {"--empty-table"},
          0}},
        {"mark", {{"--plan"}, {}, 2}},
        {"remove", {{"--plan"}, {}, 1}},
        {"validate", {{"--plan", "--alias", "--user", "--password-file"}, {}, 1}},
        {"history", {{"--plan"}, {}, 1}},
    };
    return commands;
}

Arguments parseArguments(int argc, char** argv) {
    return parseCommandArguments(argc, argv, commandRules());
}

int64_t parseId(const std::string& text) {
    int64_t id = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, id);
    if (text.empty() || error != std::errc() || at != end)
        throw UsageError("an ID is a whole number, not '" + text + "'");
    return id;
}

// The plan file: --plan, or the one positional argument a command allows for it.
std::string planPath(const Arguments& a, size_t positionalAt) {
    const std::string* option = a.value("--plan");
    if (option != nullptr && a.positional.size() > positionalAt)
        throw UsageError("give the plan file once: as FILE or with --plan");
    if (option != nullptr) return *option;
    return a.positional.size() > positionalAt ? a.positional[positionalAt] : kPlanFileName;
}

int init(const Arguments& a, const TerminalText& text) {
    const std::string path = planPath(a, 0);
    CreatePlanFile(path);
    text.print(stdout, "empty plan written to " + path);
    return kExitDone;
}

int list(const Arguments& a, const TerminalText& text) {
    TClientDataSet plan("cdsQuery");
    OpenPlanFile(plan, planPath(a, 0));
    const std::vector<PhaseSummary> phases = SummarizePlan(plan);
    if (a.has("--json")) {
        const std::string json = PlanListJson(phases);  // UTF-8 already
        std::fwrite(json.data(), 1, json.size(), stdout);
    } else {
        std::string listing = PlanListText(phases);
        if (!listing.empty() && listing.back() == '\n') listing.pop_back();
        text.print(stdout, listing);
    }
    return kExitDone;
}

int add(const Arguments& a, const TerminalText& text) {
    const bool script = a.value("--script") != nullptr;
    const bool import = a.value("--table") != nullptr || a.value("--file") != nullptr;
    if (script == import) throw UsageError("add needs either --script FILE or --table T --file F");
    if (script && (a.has("--empty-table")))
        throw UsageError("--empty-table belongs to an import phase");
    if (import && a.value("--separator") != nullptr)
        throw UsageError("--separator belongs to a script phase");
    const int64_t id = parseId(a.required("--id"));
    const std::string& version = a.required("--version");
    PlanFileEditor editor(planPath(a, 0));
    if (script) {
        ScriptPhaseSpec phase;
        phase.id = id;
        phase.version = version;
        phase.script = ScriptTextFromFile(*a.value("--script"));
        if (const std::string* separator = a.value("--separator")) phase.separator = *separator;
        AddScriptPhase(editor.plan(), phase);
    } else {
        ImportPhaseSpec phase;
        phase.id = id;
        phase.version = version;
        phase.table = a.required("--table");
        phase.file = a.required("--file");
        phase.emptyTable = a.has("--empty-table");
        AddImportPhase(editor.plan(), phase);
    }
    editor.Save();
    text.print(stdout, "phase " + std::to_string(id) + " added");
    return kExitDone;
}

int mark(const Arguments& a, const TerminalText& text) {
    if (a.positional.size() != 2) throw UsageError("mark needs ID and S or N");
    const int64_t id = parseId(a.positional[0]);
    PlanFileEditor editor(planPath(a, 2));
    MarkPhase(editor.plan(), id, a.positional[1]);
    editor.Save();
    text.print(stdout, "phase " + std::to_string(id) + " marked " + a.positional[1]);
    return kExitDone;
}

int remove(const Arguments& a, const TerminalText& text) {
    if (a.positional.size() != 1) throw UsageError("remove needs ID");
    const int64_t id = parseId(a.positional[0]);
    PlanFileEditor editor(planPath(a, 1));
    RemovePhase(editor.plan(), id);
    editor.Save();
    text.print(stdout, "phase " + std::to_string(id) + " removed");
    return kExitDone;
}

int validate(const Arguments& a, const TerminalText& text) {
    if (a.value("--alias") == nullptr &&
        (a.value("--user") != nullptr || a.value("--password-file") != nullptr))
        throw UsageError("--user and --password-file go with --alias");
    TClientDataSet plan("cdsQuery");
    OpenPlanFile(plan, planPath(a, 0));
    std::vector<PlanProblem> notes;
    std::vector<PlanProblem> problems = ValidatePlan(plan, &notes);
    if (const std::string* alias = a.value("--alias")) {
        database::Connection connection("dbsagg");
        connection.setAliasName(*alias);
        const std::string* user = a.value("--user");
        connection.params().setValue("USER NAME", LoginUser(user != nullptr ? *user : ""));
        const std::string* passwordFile = a.value("--password-file");
        connection.params().setValue(
            "PASSWORD",
            LoginPassword(passwordFile != nullptr ? std::optional<std::string>(*passwordFile)
                                                  : std::nullopt));
        connection.open();
        const std::vector<PlanProblem> database = ValidateAgainstDatabase(plan, connection);
        problems.insert(problems.end(), database.begin(), database.end());
    }
    for (const PlanProblem& problem : problems) text.print(stdout, ProblemText(problem));
    for (const PlanProblem& note : notes) text.print(stdout, "note: " + ProblemText(note));
    if (problems.empty()) {
        text.print(stdout, "no problems found");
        return kExitDone;
    }
    text.print(stdout, std::to_string(problems.size()) +
                           (problems.size() == 1 ? " problem found" : " problems found"));
    return kExitRefused;
}

int history(const Arguments& a) {
    const std::string listing = RunHistoryText(ReadRunHistory(planPath(a, 0)));  // UTF-8 already
    std::fwrite(listing.data(), 1, listing.size(), stdout);
    return kExitDone;
}

int run(const Arguments& a, const TerminalText& text) {
    if (a.command == "init") return init(a, text);
    if (a.command == "list") return list(a, text);
    if (a.command == "add") return add(a, text);
    if (a.command == "mark") return mark(a, text);
    if (a.command == "remove") return remove(a, text);
    if (a.command == "history") return history(a);
    return validate(a, text);
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit then fails a write with its own error instead of killing the process;
    // what goes to standard output is the same bytes on every platform.
    os::prepareCommandLineProcess();
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
            std::puts("tarvolen-plan " TARVOLEN_VERSION);
            return kExitDone;
        }
        if (arguments.command.empty()) throw UsageError("no command given");
        return run(arguments, text);
    } catch (const UsageError& e) {
        printUsageError(stderr, "tarvolen-plan", e, kUsage);
        return kExitFailed;
    } catch (const PlanEditError& e) {
        text.print(stderr, std::string("tarvolen-plan: ") + e.what());
        return kExitRefused;
    } catch (const std::exception& e) {
        text.print(stderr, std::string("tarvolen-plan: ") + e.what());
        return kExitFailed;
    }
}
