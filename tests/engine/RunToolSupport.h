#pragma once
// tarvolen-run as the administrator runs it: a separate process on a database of the test's
// own, waited for to its end or started in the background to be signalled or killed midway.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/TempDatabase.h"
#include "EngineTestSupport.h"
#include "tests/support/ShellCommand.h"
#include "plan/MarksJournal.h"
#include "plan/FileIO.h"

extern char** environ;

namespace tarvolen::testing {

using Result = CommandResult;

// Phase p (ID p unless given) inserts (p, 'i') for i = 1..n into T (N, S), one statement a
// line, and brings 1.p.0.0.
inline Phase inserts(int p, int n, int id = 0) {
    Phase phase{.id = id != 0 ? id : p, .versione = "1." + std::to_string(p) + ".0.0"};
    for (int i = 1; i <= n; ++i)
        phase.testo +=
            "insert into T values (" + std::to_string(p) + ", '" + std::to_string(i) + "');\r\n";
    return phase;
}

class RunTool : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ofstream(m_db.folder() / "aliases.ini")
            << "[registry]\nDatabase = test.fdb\nCharset = WIN1252\n";
        auto c = m_db.connect();
        c->execute(
            "create table SYSDBVER (MAJOR_VERSION integer, MINOR_VERSION integer, RELEASE_VERSION "
            "integer, "
            "BUILD integer, APPID varchar(3))");
        c->execute("insert into SYSDBVER values (1, 0, 0, 0, 'QLM')");
        c->execute("create table T (N integer, S varchar(10))");
    }
    std::string path(const std::string& name) const { return (m_db.folder() / name).string(); }
    void writeFile(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    // The shell command that runs the tool in the test's folder with the test's alias file,
    // under a hard time limit.
    std::string command(const std::string& arguments) const {
        return "cd '" + m_db.folder().string() + "' && TARVOLEN_ALIASES='" + path("aliases.ini") +
               "' exec timeout -s KILL 120 '" TARVOLEN_RUN_TOOL "' " + arguments;
    }
    // Runs the tool to its end; no connection of this process is open meanwhile.
    Result run(const std::string& arguments, const std::string& shellPrefix = "") const {
        return runShellCommand(shellPrefix + command(arguments), path("stderr.txt"));
    }
    // Starts the tool itself in the background, in the test's folder with the test's alias file,
    // its output going to <tag>.out and <tag>.err; its process id, to signal or kill it by.
    pid_t start(const std::vector<std::string>& arguments, const std::string& tag) const {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, m_db.folder().c_str());
        posix_spawn_file_actions_addopen(&actions, 1, path(tag + ".out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, path(tag + ".err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> env = {"TARVOLEN_ALIASES=" + path("aliases.ini")};
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::string_view(*e).rfind("TARVOLEN_ALIASES=", 0) != 0) env.emplace_back(*e);
        }
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> args = {TARVOLEN_RUN_TOOL};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (posix_spawn(&pid, TARVOLEN_RUN_TOOL, &actions, nullptr, argv.data(), envp.data()) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    // Waits until the started tool has printed `text` (true), or has ended or taken a minute.
    bool waitForOutput(pid_t pid, const std::string& tag, const std::string& text) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream in(path(tag + ".out"), std::ios::binary);
            const std::string out{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
            if (out.find(text) != std::string::npos) return true;
            if (::kill(pid, 0) != 0) return false;
            if (reap(pid, WNOHANG)) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    // Waits until the started tool has printed `count` lines, or has ended or taken a minute.
    void waitForOutputLines(pid_t pid, const std::string& tag, long count) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream in(path(tag + ".out"), std::ios::binary);
            const std::string out{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
            if (std::count(out.begin(), out.end(), '\n') >= count) return;
            if (reap(pid, WNOHANG)) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // Waits for the started tool to end: its exit status, or 128 + the signal that ended it.
    // A tool still running after two minutes is killed (as timeout -s KILL would) and counts
    // as ended by SIGKILL.
    int finish(pid_t pid) const {
        if (m_reaped.count(pid) == 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
            while (!reap(pid, WNOHANG)) {
                if (std::chrono::steady_clock::now() > deadline) {
                    ADD_FAILURE() << "tarvolen-run hung; killed";
                    ::kill(pid, SIGKILL);
                    reap(pid, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        const int status = m_reaped[pid];
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // Collects the started tool's end when it has ended (with `options` 0, waits for it):
    // its status and its peak resident memory.
    bool reap(pid_t pid, int options) const {
        int status = 0;
        rusage usage{};
        if (::wait4(pid, &status, options, &usage) != pid) return false;
        m_reaped[pid] = status;
        m_maxRssKb[pid] = usage.ru_maxrss;
        return true;
    }
    // The peak resident memory of a started tool that has ended, in KiB.
    long maxRssKb(pid_t pid) const {
        const auto found = m_maxRssKb.find(pid);
        return found == m_maxRssKb.end() ? -1 : found->second;
    }
    Result output(const std::string& tag, int exitCode) const {
        return {exitCode, readWholeFile(path(tag + ".out")), readWholeFile(path(tag + ".err"))};
    }
    int64_t count(const std::string& sql) const {
        return database::testing::selectCount(*m_db.connect(), sql);
    }
    std::string text(const std::string& sql) const {
        return database::testing::selectText(*m_db.connect(), sql);
    }
    // The version record as "a.b.c.d".
    std::string databaseVersion() const {
        return text(
            "select MAJOR_VERSION || '.' || MINOR_VERSION || '.' || RELEASE_VERSION || '.' || "
            "BUILD from SYSDBVER");
    }
    // Rows each phase left in T, "p:count" in phase order.
    std::string rowsPerPhase() const {
        return text(
            "select list(N || ':' || C, ' ') from (select N, count(*) as C from T "
            "group by N order by N)");
    }
    // Files of the plan's folder that a write, a lock or a run may leave: none after a clean
    // end.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(m_db.folder())) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(".dbquery.xml.", 0) == 0 || name == "dbquery.xml.lock" ||
                name == "dbquery.xml.marks")
                found.push_back(name);
        }
        return found;
    }
    // The STATO of each phase in the plan file on disk, in ID order.
    // The STATO each phase has on disk, in ID order: in the plan file, or "S" when the plan's
    // live journal of done-marks holds its ID.
    std::string statiOnDisk(const std::string& file = "dbquery.xml") const {
        TClientDataSet plan("cdsQuery");
        configurePlanTable(plan);
        plan.SetFileName("");
        plan.LoadFile(path(file));
        // A run keeps the marks it earns in the plan's journal until its walk ends.
        const std::vector<int64_t> journal = MarksJournal(path(file)).Read();
        std::string stati;
        for (plan.First(); !plan.Eof(); plan.Next()) {
            const bool journalled = std::find(journal.begin(), journal.end(),
                                              plan.FieldByName("ID").AsInteger()) != journal.end();
            stati += journalled ? "S" : plan.FieldByName("STATO").AsString();
        }
        return stati;
    }

    database::testing::TempDatabase m_db;
    mutable std::map<pid_t, int> m_reaped;  // statuses collected while waiting for output
    mutable std::map<pid_t, long> m_maxRssKb;
};

}  // namespace tarvolen::testing
