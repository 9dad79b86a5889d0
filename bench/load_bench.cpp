// tarvolen-run under load, each case on a fresh embedded database in a temporary folder:
//   1. a plan of P script phases, each a comment of about 2.4 KB and one insert, with rising
//      versions (so every phase also writes the version record): about 50 MB of plan file;
//   2. one script phase of S inserts;
//   3. an import of R rows from an XML and from a binary data file (goal: peak resident memory
//      of tarvolen-run under 1.5x the data file, which the import reads in pieces).
// For each: wall and processor time and the peak resident memory of the tarvolen-run process
// (its own rusage, from wait4), and a check that every row arrived. A baseline run of a
// one-phase plan gives the process's fixed part (program, client library, the database's page
// cache).
//
//   bench_load [--phases P] [--statements S] [--rows R]   (defaults 20000, 100000, 1000000;
//                                                           0 skips a case)

#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ImportGenerator.h"
#include "plan/PacketCodec.h"
#include "plan/PlanLayout.h"

namespace {

namespace fs = std::filesystem;
using namespace tarvolen;
using bench::Clock;
using bench::Folder;
using bench::secondsSince;

constexpr const char* kAliases = "[bench]\nDatabase = bench.fdb\nCharset = WIN1252\n";

// The database of the case, with the tables the plans use, made by isql-fb in a process of its
// own: a database this process's engine had opened would stay open in it and share every page
// write with tarvolen-run.
void createDatabase(const Folder& folder) {
    std::ofstream(folder.path() / "aliases.ini") << kAliases;
    const fs::path script = folder.path() / "create.sql";
    std::ofstream(script) << "create database '" << (folder.path() / "bench.fdb").string()
                          << "' user 'SYSDBA' default character set WIN1252;\n"
                             "create table SYSDBVER (MAJOR_VERSION integer, MINOR_VERSION "
                             "integer, RELEASE_VERSION integer, BUILD integer, APPID "
                             "varchar(3));\n"
                             "create table T (ID integer, NOME varchar(40), NATO date, IMPORTO "
                             "numeric(12,2), NOTE blob sub_type text);\ncommit;\n";
    if (std::system(("isql-fb -q -b -i '" + script.string() + "'").c_str()) != 0)
        throw std::runtime_error("isql-fb could not make the database");
}

// Rows of T, read by isql-fb.
int64_t countRows(const Folder& folder) {
    const std::string command = "echo 'select count(*) from T;' | isql-fb -q '" +
                                (folder.path() / "bench.fdb").string() +
                                "' | awk 'NF == 1 && $1 ~ /^[0-9]+$/ { print $1 }'";
    FILE* out = popen(command.c_str(), "r");
    long long rows = -1;
    if (out != nullptr) {
        if (std::fscanf(out, "%lld", &rows) != 1) rows = -1;
        pclose(out);
    }
    return rows;
}

struct RunResult {
    double seconds = 0;
    double peakMb = 0;  // maximum resident set of the tarvolen-run process
    double cpuSeconds = 0;  // its processor time, user and system
    int exitCode = -1;
};

// Runs tarvolen-run on the folder's plan; its output and errors go to run.log in the folder.
RunResult runTool(const Folder& folder) {
    const std::string dir = folder.path().string();
    const std::string aliases = (folder.path() / "aliases.ini").string();
    const std::string log = (folder.path() / "run.log").string();
    std::fflush(nullptr);  // or the child writes this process's pending output again
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        setenv("TARVOLEN_ALIASES", aliases.c_str(), 1);
        if (!std::freopen(log.c_str(), "w", stdout)) _exit(126);
        if (dup2(STDOUT_FILENO, STDERR_FILENO) < 0) _exit(126);
        execl(TARVOLEN_RUN_TOOL, "tarvolen-run", "--alias", "bench", "--no-statistics",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("wait4 failed");
    RunResult r;
    r.seconds = secondsSince(start);
    r.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    r.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::vector<FieldValue> scriptPhase(int id, std::string script, std::string version = {}) {
    return {int64_t{id},
            std::string("N"),
            std::string("S"),
            std::string(";"),
            makeBlob(std::move(script)),
            int64_t{id},
            {},
            {},
            std::string("N"),
            version.empty() ? FieldValue{} : FieldValue{std::move(version)}};
}

std::vector<FieldValue> importPhase(int id, const std::string& dataFile) {
    return {int64_t{id},      std::string("N"), std::string("I"), {}, {}, int64_t{id},
            std::string("T"), dataFile,         std::string("S"), {}};
}

void writePlan(const Folder& folder, DataPacket& plan) {
    std::ofstream(folder.path() / "dbquery.xml", std::ios::binary) << encodeXmlPacket(plan);
}

double megabytes(uintmax_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// Prints the case's figures; when it did not complete, also the end of tarvolen-run's output.
void report(const char* name, const Folder& folder, const RunResult& r, int64_t expected,
            int64_t found) {
    std::printf("%s: %.1f s wall, %.1f s processor, peak RSS %.1f MB, exit %d, rows %lld of "
                "%lld%s\n",
                name, r.seconds, r.cpuSeconds, r.peakMb, r.exitCode, static_cast<long long>(found),
                static_cast<long long>(expected),
                r.exitCode == 0 && found == expected ? "" : "  ** INCOMPLETE **");
    if (r.exitCode != 0 || found != expected) {
        std::ifstream log(folder.path() / "run.log");
        std::vector<std::string> tail;
        for (std::string line; std::getline(log, line);) {
            tail.push_back(line);
            if (tail.size() > 5) tail.erase(tail.begin());
        }
        for (const auto& line : tail) std::printf("  | %s\n", line.c_str());
    }
    std::fflush(stdout);
}

void baseline() {
    Folder folder;
    createDatabase(folder);
    DataPacket plan = emptyPlanPacket();
    plan.rows.push_back({0, scriptPhase(1, "insert into T (ID) values (1);\r\n")});
    writePlan(folder, plan);
    const RunResult r = runTool(folder);  // before the count
    report("baseline, a plan of one statement", folder, r, 1, countRows(folder));
}

void manyPhases(int phases) {
    Folder folder;
    createDatabase(folder);
    // A header comment of the kind update scripts carry, about 2.4 KB.
    std::string comment = "/*\r\n";
    while (comment.size() < 2400)
        comment +=
            " * aggiornamento anagrafe: ricalcolo dei codici e delle famiglie; vedi note\r\n";
    comment += " */\r\n";
    DataPacket plan = emptyPlanPacket();
    for (int i = 1; i <= phases; ++i) {
        const std::string version = "1." + std::to_string(i / 10000) + "." +
                                    std::to_string(i / 100 % 100) + "." + std::to_string(i % 100);
        plan.rows.push_back(
            {0, scriptPhase(i,
                            comment + "insert into T (ID, NOME) values (" + std::to_string(i) +
                                ", 'fase " + std::to_string(i) + "');\r\n",
                            version)});
    }
    writePlan(folder, plan);
    std::printf("plan of %d phases: %.1f MB\n", phases,
                megabytes(fs::file_size(folder.path() / "dbquery.xml")));
    const RunResult r = runTool(folder);  // before the count
    report("many phases", folder, r, phases, countRows(folder));
}

void longScript(int statements) {
    Folder folder;
    createDatabase(folder);
    std::string script;
    for (int i = 0; i < statements; ++i)
        script += "insert into T (ID, NOME) values (" + std::to_string(i) + ", 'riga " +
                  std::to_string(i) + "');\r\n";
    DataPacket plan = emptyPlanPacket();
    plan.rows.push_back({0, scriptPhase(1, std::move(script))});
    writePlan(folder, plan);
    std::printf("script phase of %d statements: %.1f MB of plan\n", statements,
                megabytes(fs::file_size(folder.path() / "dbquery.xml")));
    const RunResult r = runTool(folder);  // before the count
    report("long script", folder, r, statements, countRows(folder));
}

void bigImport(int rows) {
    Folder files;
    const std::string xml = (files.path() / "data.xml").string();
    const std::string binary = (files.path() / "data.cds").string();
    {
        const DataPacket packet = bench::importPacket(rows);
        std::ofstream(xml, std::ios::binary) << encodeXmlPacket(packet);
        std::ofstream(binary, std::ios::binary) << encodeBinaryPacket(packet);
    }
    for (const std::string& data : {xml, binary}) {
        Folder folder;
        createDatabase(folder);
        DataPacket plan = emptyPlanPacket();
        plan.rows.push_back({0, importPhase(1, data)});
        writePlan(folder, plan);
        const double fileMb = megabytes(fs::file_size(data));
        const bool isXml = data == xml;
        const RunResult r = runTool(folder);
        report(isXml ? "import from XML" : "import from binary", folder, r, rows,
               countRows(folder));
        std::printf("  data file %.1f MB, peak RSS / file = %.2f (goal < 1.5), %.0f rows/s\n",
                    fileMb, r.peakMb / fileMb, rows / r.seconds);
        std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int phases = 20000;
    int statements = 100000;
    int rows = 1000000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--phases") == 0) phases = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--statements") == 0) statements = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--rows") == 0) rows = std::atoi(argv[i + 1]);
    }
    try {
        baseline();
        if (rows > 0) bigImport(rows);
        if (statements > 0) longScript(statements);
        if (phases > 0) manyPhases(phases);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_load: %s\n", e.what());
        return 1;
    }
    return 0;
}
