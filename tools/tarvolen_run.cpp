// tarvolen-run: runs the update plan against one database from a shell or a scheduler, with the
// same engine as the desktop.
//
//   tarvolen-run --alias NAME [--user NAME] [--password-file FILE] [--no-statistics]
//                [--plan FILE] [--dry-run] [--stop-on-error]
//
// The password comes from --password-file (a regular file only its owner may read) or from
// TARVOLEN_PASSWORD, never from the command line. One run at a time holds the plan; another one
// refuses. --stop-on-error ends the walk at the first statement that fails, leaving its phase due.
// Exit status: 0 "Batch eseguito correttamente", 1 "Batch eseguito con errori", 2 when a
// failure or a lost connection ended the run (its message on stderr) or the command line is
// wrong; 130, 143 or 129 when SIGINT, SIGTERM or SIGHUP stopped it (after the statement in
// flight, with the marks earned so far saved).

#include <langinfo.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "base/Cp1252.h"
#include "engine/BatchStopped.h"
#include "engine/DryRun.h"
#include "engine/EngineHost.h"
#include "engine/StopSignals.h"
#include "engine/dm_main.h"
#include "plan/FileIO.h"
#include "plan/PlanLayout.h"
#include "plan/PlanLock.h"

namespace {

using namespace tarvolen;

constexpr int kExitCorrect = 0;
constexpr int kExitWithErrors = 1;
constexpr int kExitFailed = 2;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: tarvolen-run --alias NAME [--user NAME] [--password-file FILE] [--no-statistics]\n"
    "                    [--plan FILE] [--dry-run] [--stop-on-error]\n";

// Text leaves the program in the terminal's encoding: UTF-8 unless the locale asks for Latin-1.
class TerminalText {
  public:
    TerminalText() {
        std::setlocale(LC_CTYPE, "");
        const std::string codeset = nl_langinfo(CODESET);
        m_raw = codeset == "ISO-8859-1" || codeset == "ISO-8859-15" || codeset == "CP1252";
    }
    void print(std::FILE* stream, std::string_view text) const {
        std::string out;
        out.reserve(text.size() + 1);
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
            out += text[i];
        }
        out = m_raw ? out : cp1252::toUtf8(out);
        out += '\n';
        std::fwrite(out.data(), 1, out.size(), stream);
        std::fflush(stream);
    }

  private:
    bool m_raw = false;
};

// The engine's window, on a terminal: log lines and message boxes become printed lines.
class TerminalHost : public EngineHost {
  public:
    TerminalHost(const TerminalText& text, const StopSignals& signals)
        : m_text(text), m_signals(signals) {}
    void appendLog(std::string_view text) override { m_text.print(stdout, text); }
    void processEvents() override {}
    bool stopRequested() override { return m_signals.received() != 0; }
    void showMessage(std::string_view text, std::string_view, MessageIcon icon) override {
        m_text.print(icon == MessageIcon::Error ? stderr : stdout, text);
    }

  private:
    const TerminalText& m_text;
    const StopSignals& m_signals;
};

struct Options {
    std::string alias;
    std::string user;
    std::optional<std::string> passwordFile;
    std::string plan = kPlanFileName;
    bool statistics = true;
    bool dryRun = false;
    bool stopOnError = false;
};

std::optional<Options> parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        if (arg == "--alias") {
            auto v = value();
            if (!v) return std::nullopt;
            o.alias = *v;
        } else if (arg == "--user") {
            auto v = value();
            if (!v) return std::nullopt;
            o.user = *v;
        } else if (arg == "--password-file") {
            o.passwordFile = value();
            if (!o.passwordFile) return std::nullopt;
        } else if (arg == "--plan") {
            auto v = value();
            if (!v) return std::nullopt;
            o.plan = *v;
        } else if (arg == "--no-statistics") {
            o.statistics = false;
        } else if (arg == "--dry-run") {
            o.dryRun = true;
        } else if (arg == "--stop-on-error") {
            o.stopOnError = true;
        } else {
            return std::nullopt;
        }
    }
    if (o.alias.empty()) return std::nullopt;
    return o;
}

std::string readPassword(const Options& o) {
    if (o.passwordFile) {
        std::string text = readPrivateFile(*o.passwordFile);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
    }
    const char* env = std::getenv("TARVOLEN_PASSWORD");
    return env != nullptr ? env : "";
}

std::string defaultUser() {
    const char* env = std::getenv("ISC_USER");
    return env != nullptr && *env != '\0' ? env : "SYSDBA";
}

int run(const Options& options, const TerminalText& text, const StopSignals& signals) {
    TerminalHost host(text, signals);
    // A dry run writes nothing, so it may look at a plan another run holds.
    std::optional<PlanLock> lock;
    if (!options.dryRun) lock.emplace(options.plan);
    TdmMain dm;
    dm.setHost(&host);
    dm.cdsQuery.SetFileName(options.plan);
    dm.LoginUser = options.user.empty() ? defaultUser() : options.user;
    dm.LoginPassword = readPassword(options);
    dm.StopOnError = options.stopOnError;
    // Before connecting: under a file-size limit the in-process database engine dies on its
    // own lock file, so this refusal must come first.
    if (!options.dryRun) dm.CheckPlanFile();

    dm.Connect(options.alias);
    dm.ReloadPlan();
    if (!options.dryRun) dm.CheckPlanForRun();
    try {
        const std::string comune = dm.ManagingMunicipality();
        if (!comune.empty()) host.appendLog("Comune di " + comune);
    } catch (const std::runtime_error&) {
        // The registry tables are missing: the desktop says so in a box and goes on.
        host.showMessage("Il database non \xE8 corretto.", "Error", MessageIcon::Error);
    }

    if (options.dryRun) {
        for (const std::string& line : DryRunLogLines(DryRun(dm))) host.appendLog(line);
        dm.cdsQuery.SetFileName("");  // a dry run never writes the plan back
        dm.cdsQuery.Close();
        return kExitCorrect;
    }

    if (options.statistics) {
        dm.CollectTableNames();
        dm.RecalculateStatistics();
    }
    // The phases marked before a failure still reach the plan file.
    const auto closePlan = [&] {
        try {
            dm.DataModuleDestroy();
        } catch (const std::exception& closing) {
            text.print(stderr, closing.what());
        }
    };
    try {
        dm.RunBatch();
    } catch (const BatchStopped& stop) {
        closePlan();
        text.print(stderr, stop.what());
        return stop.reason() == BatchStopped::Reason::StopRequested && signals.received() != 0
                   ? StopSignals::exitStatusFor(signals.received())
                   : kExitFailed;
    } catch (const std::exception&) {
        closePlan();
        throw;
    }
    dm.DataModuleDestroy();
    return dm.BatchHasErrors ? kExitWithErrors : kExitCorrect;
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit then fails a write with its own error instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    // The database client installed handlers of its own as it was loaded; these take their
    // place before anything reaches the database.
    const StopSignals signals;
    const TerminalText text;
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    try {
        return run(*options, text, signals);
    } catch (const std::exception& e) {
        text.print(stderr, e.what());
        return kExitFailed;
    }
}
