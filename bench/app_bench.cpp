// The desktop program's figures, on a display (run it under xvfb-run):
//
//   bench_app startup [--runs N]
//     process start to the main window painted, on the demo without a default alias (goal
//     < 0.5 s); N runs (default 10), a fresh process each.
//   bench_app run [--statements N] [--fail-every K] [--tool-first 0|1]
//     a script phase of N statements (default 100,000), every K-th failing (default 10) so the
//     log fills, run in the window: its wall time against tarvolen-run on the same plan and a
//     fresh copy of the same database (goal <= 1.2x), the longest wait of a 1 ms timer during
//     the run, i.e. the longest gap between two event-loop passes (goal < 100 ms), and whether
//     the window's log holds every line tarvolen-run printed.
//   bench_app run --import-rows N [--tool-first 0|1]
//     the same for a plan of one import phase of N rows from an XML data file instead.

#include <sys/wait.h>
#include <time.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ImportGenerator.h"
#include "app/Dialogs.h"
#include "app/LoginDlg.h"
#include "app/Program.h"
#include "app/settings/DefaultAlias.h"
#include "engine/ImportFile.h"
#include "engine/dm_main.h"
#include "plan/DataPacket.h"
#include "plan/PacketCodec.h"
#include "plan/PlanLayout.h"

namespace {

using namespace tarvolen;
using bench::Clock;
using bench::Folder;
using bench::secondsSince;

int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

int option(int argc, char** argv, const char* name, int fallback) {
    for (int i = 2; i + 1 < argc; ++i)
        if (std::string(argv[i]) == name) return std::atoi(argv[i + 1]);
    return fallback;
}

// The program as its entry starts it, in the current folder, with no settings file beside the
// "executable": it prints the moment the main window has been painted, then ends.
int startupChild(int argc, char** argv) {
    QApplication application(argc, argv);
    const Dialogs dialogs(execDialog, applicationTitle(QCoreApplication::applicationFilePath()));
    ShellSettings shell;
    shell.executableFolder = "senza-impostazioni";
    shell.openRegistry = [] { return settings::systemRegistry({}); };
    Program program(dialogs, std::move(shell), {});

    class FirstPaint : public QObject {
      public:
        explicit FirstPaint(QWidget& window) : m_window(window) {}
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (!m_seen && event->type() == QEvent::Paint && watched->isWidgetType() &&
                static_cast<QWidget*>(watched)->window() == &m_window) {
                m_seen = true;
                // Once this round of painting is over.
                QTimer::singleShot(0, [] {
                    std::printf("%lld\n", static_cast<long long>(monotonicNs()));
                    std::fflush(stdout);
                    QCoreApplication::quit();
                });
            }
            return false;
        }

      private:
        QWidget& m_window;
        bool m_seen = false;
    } firstPaint(program.fmMain());
    application.installEventFilter(&firstPaint);
    program.show();
    QApplication::exec();
    program.finish();
    return 0;
}

void benchStartup(const char* self, int runs) {
    Folder folder;
    const std::string demo = (folder.path() / "demo").string();
    const std::string lock = (folder.path() / "lock").string();
    std::filesystem::create_directories(lock);
    const std::string env = "FIREBIRD_LOCK='" + lock + "' TARVOLEN_ALIASES='" + demo +
                            "/aliases.ini' TARVOLEN_REGISTRY='" + demo + "/registry.reg' ";
    if (std::system((env + "bash '" TARVOLEN_DEMO_DIR "/create-demo' '" + demo + "' > /dev/null")
                        .c_str()) != 0) {
        std::fputs("bench_app: the demo could not be made\n", stderr);
        return;
    }
    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        const std::string command =
            "cd '" + demo + "' && " + env + "'" + self + "' --startup-child";
        const int64_t start = monotonicNs();
        FILE* child = popen(command.c_str(), "r");
        long long painted = 0;
        if (child == nullptr || std::fscanf(child, "%lld", &painted) != 1) {
            std::fputs("bench_app: the program did not report its window\n", stderr);
            if (child != nullptr) pclose(child);
            return;
        }
        pclose(child);
        seconds.push_back(static_cast<double>(painted - start) / 1e9);
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf(
        "start-up to main window painted, demo without default alias, %d runs: min %.3f s, "
        "median %.3f s, max %.3f s (goal < 0.5 s)\n",
        runs, seconds.front(), seconds[seconds.size() / 2], seconds.back());
}

const char* const kAliases =
    "[finestra]\nDatabase = finestra.fdb\nCharset = WIN1252\n"
    "[riga]\nDatabase = riga.fdb\nCharset = WIN1252\n"
    "[motore]\nDatabase = motore.fdb\nCharset = WIN1252\n";

// A host that shows nothing: the engine alone, in this process.
class QuietHost : public EngineHost {
  public:
    void appendLog(std::string_view) override {}
    void processEvents() override {}
    void showMessage(std::string_view, std::string_view, MessageIcon) override {}
};

// Made by isql-fb in a process of its own: a database the bench's own engine had created would
// stay open in it, and the other side's process would then share every page write with it.
bool createDatabase(const Folder& folder, const std::string& alias) {
    const std::filesystem::path script = folder.path() / (alias + ".sql");
    std::ofstream(script) << "create database '" << (folder.path() / (alias + ".fdb")).string()
                          << "' user 'SYSDBA' default character set WIN1252;\n"
                             "create table SYSDBVER (MAJOR_VERSION integer, MINOR_VERSION "
                             "integer, RELEASE_VERSION integer, BUILD integer, APPID "
                             "varchar(3));\n"
                             "create table T (ID integer not null primary key, NOME "
                             "varchar(40), NATO date, IMPORTO numeric(12,2), NOTE blob sub_type "
                             "text);\ncommit;\n";
    return std::system(("isql-fb -q -b -i '" + script.string() + "'").c_str()) == 0;
}

// One script phase: statement i inserts row i; every `failEvery`-th inserts an existing key.
std::string planXml(int statements, int failEvery) {
    std::string script;
    for (int i = 1; i <= statements; ++i) {
        const int id = failEvery > 0 && i % failEvery == 0 ? i - 1 : i;
        script += "insert into T (ID, NOME) values (" + std::to_string(id) + ", 'riga " +
                  std::to_string(i) + "');\r\n";
    }
    DataPacket plan = emptyPlanPacket();
    plan.rows.push_back(
        {0,
         {int64_t{1}, std::string("N"), std::string("S"), std::string(";"), makeBlob(script),
          int64_t{1}, FieldValue{}, FieldValue{}, FieldValue{}, std::string("2.0.0.0")}});
    return encodeXmlPacket(plan);
}

// One import phase of `rows` rows from the data file `dati.xml`, written here too.
std::string importPlanXml(int rows, const std::filesystem::path& folder) {
    std::ofstream(folder / "dati.xml", std::ios::binary)
        << encodeXmlPacket(bench::importPacket(rows));
    DataPacket plan = emptyPlanPacket();
    plan.rows.push_back(
        {0,
         {int64_t{1}, std::string("N"), std::string("I"), FieldValue{}, FieldValue{}, int64_t{1},
          std::string("T"), (folder / "dati.xml").string(), std::string("S"), FieldValue{}}});
    return encodeXmlPacket(plan);
}

// Rows of T in a database, read by isql-fb.
long rowsIn(const Folder& folder, const std::string& alias) {
    const std::string command = "echo 'select count(*) from T;' | isql-fb -q '" +
                                (folder.path() / (alias + ".fdb")).string() +
                                "' | awk 'NF == 1 && $1 ~ /^[0-9]+$/ { print $1 }'";
    FILE* out = popen(command.c_str(), "r");
    long rows = -1;
    if (out != nullptr) {
        if (std::fscanf(out, "%ld", &rows) != 1) rows = -1;
        pclose(out);
    }
    return rows;
}

std::vector<std::string> lines(std::string text) {
    std::vector<std::string> out;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

void benchRun(int argc, char** argv, int statements, int failEvery, int importRows,
              bool toolFirst) {
    QApplication application(argc, argv);
    Folder folder;
    std::ofstream(folder.path() / "aliases.ini") << kAliases;
    if (!createDatabase(folder, "finestra") || !createDatabase(folder, "riga") ||
        !createDatabase(folder, "motore")) {
        std::fputs("bench_app: the databases could not be made\n", stderr);
        return;
    }
    std::ofstream(folder.path() / "dbquery.xml", std::ios::binary)
        << (importRows > 0 ? importPlanXml(importRows, folder.path())
                           : planXml(statements, failEvery));
    std::filesystem::copy_file(folder.path() / "dbquery.xml", folder.path() / "riga.xml");
    std::filesystem::copy_file(folder.path() / "dbquery.xml", folder.path() / "motore.xml");
    setenv("TARVOLEN_ALIASES", (folder.path() / "aliases.ini").c_str(), 1);
    std::filesystem::current_path(folder.path());

    // tarvolen-run on its own copy of the database and plan.
    double runSeconds = 0;
    int rc = -1;
    auto runTool = [&] {
        const auto start = Clock::now();
        const std::string command = "TARVOLEN_PASSWORD=x '" TARVOLEN_RUN_TOOL
                                    "' --alias riga --user SYSDBA --no-statistics --plan riga.xml "
                                    "> riga.log 2> /dev/null";
        const int status = std::system(command.c_str());
        rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        runSeconds = secondsSince(start);
    };
    if (toolFirst) runTool();

    // The window.
    double windowSeconds = 0;
    Clock::time_point clicked;
    const DialogRunner runner = [&](QDialog& dialog) {
        if (auto* login = qobject_cast<TfdLogin*>(&dialog)) {
            login->EDLogin->setText("SYSDBA");
            login->EDPasswd->setText("x");
            login->BitBtn1->click();
            return login->result();
        }
        windowSeconds = secondsSince(clicked);  // the summary box: the run is over
        return int{QMessageBox::Ok};
    };
    const Dialogs dialogs(runner, "bench_app");
    Program program(dialogs, ShellSettings{}, {});
    TfmMain& window = program.fmMain();
    window.show();
    window.DatabaseComboBox1->setCurrentIndex(window.DatabaseComboBox1->findText("finestra"));
    emit window.DatabaseComboBox1->activated(window.DatabaseComboBox1->currentIndex());
    window.chkStatistics->setChecked(false);
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();

    QTimer beat;
    beat.setInterval(1);
    int64_t lastBeat = 0;
    int64_t longestGap = 0;
    std::vector<int64_t> gaps;
    long beats = 0;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const int64_t now = monotonicNs();
        if (lastBeat != 0) {
            longestGap = std::max(longestGap, now - lastBeat);
            gaps.push_back(now - lastBeat);
        }
        lastBeat = now;
        ++beats;
    });
    QTimer::singleShot(0, [&] {
        beat.start();
        clicked = Clock::now();
        window.SpeedButton1->click();
        beat.stop();
        QCoreApplication::quit();
    });
    QApplication::exec();

    const std::vector<std::string> shown = lines(window.logText().toStdString());
    program.finish();
    if (!toolFirst) runTool();

    // The same engine with no window, in this process: what the window itself adds.
    double engineSeconds = 0;
    {
        QuietHost quiet;
        TdmMain dm;
        dm.setHost(&quiet);
        dm.LoginUser = "SYSDBA";
        dm.Connect("motore");
        dm.cdsQuery().SetFileName("motore.xml");
        dm.ReloadPlan();
        const auto start = Clock::now();
        dm.RunBatch();
        engineSeconds = secondsSince(start);
        dm.cdsQuery().Close();
    }
    // The import reads and decodes its whole data file before its first row, with no event-loop
    // pass in between: this is the part of the longest gap that comes from there.
    double loadSeconds = 0;
    if (importRows > 0) {
        TClientDataSet reader("reader");
        const auto start = Clock::now();
        LoadImportFile(reader, (folder.path() / "dati.xml").string());
        loadSeconds = secondsSince(start);
    }
    std::ifstream printedFile("riga.log", std::ios::binary);
    std::stringstream printed;
    printed << printedFile.rdbuf();
    std::vector<std::string> expected = lines(printed.str());
    if (!expected.empty()) expected.pop_back();  // the summary, a message box in the window
    const bool same = shown == expected;

    if (importRows > 0)
        std::printf("import of %d rows from XML, no statistics:\n", importRows);
    else
        std::printf("%d statements, every %d-th failing, no statistics:\n", statements, failEvery);
    std::printf("  window      %.2f s, %zu log lines, %s tarvolen-run's\n", windowSeconds,
                shown.size(), same ? "the same as" : "DIFFERENT from");
    std::printf("  tarvolen-run %.2f s (exit %d)\n", runSeconds, rc);
    std::printf("  engine alone in this process, no window: %.2f s\n", engineSeconds);
    std::printf("  rows inserted: window %ld, tarvolen-run %ld\n", rowsIn(folder, "finestra"),
                rowsIn(folder, "riga"));
    std::printf("  ratio window / tarvolen-run = %.2f (goal <= 1.2)\n", windowSeconds / runSeconds);
    std::printf(
        "  longest gap between event-loop passes: %.1f ms over %ld passes (goal < 100 ms)\n",
        static_cast<double>(longestGap) / 1e6, beats);
    if (importRows > 0)
        std::printf("  reading and decoding the data file alone, in this process: %.0f ms\n",
                    loadSeconds * 1e3);
    std::sort(gaps.begin(), gaps.end());
    if (!gaps.empty()) {
        const auto over50 = gaps.end() - std::lower_bound(gaps.begin(), gaps.end(), 50000000);
        std::printf("  gaps: median %.1f ms, 99th percentile %.1f ms, %ld of 50 ms or more\n",
                    static_cast<double>(gaps[gaps.size() / 2]) / 1e6,
                    static_cast<double>(gaps[gaps.size() * 99 / 100]) / 1e6,
                    static_cast<long>(over50));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--startup-child") return startupChild(argc, argv);
    if (mode == "startup") {
        benchStartup(std::filesystem::canonical("/proc/self/exe").c_str(),
                     option(argc, argv, "--runs", 10));
        return 0;
    }
    if (mode == "run") {
        benchRun(argc, argv, option(argc, argv, "--statements", 100000),
                 option(argc, argv, "--fail-every", 10), option(argc, argv, "--import-rows", 0),
                 option(argc, argv, "--tool-first", 1) != 0);
        return 0;
    }
    std::fputs(
        "usage: bench_app startup [--runs N] | run [--statements N] [--fail-every K] "
        "[--import-rows N] [--tool-first 0|1]\n",
        stderr);
    return 2;
}
