#pragma once
// tarvolen-run as the administrator runs it: a separate process on a database of the test's
// own, waited for to its end or started in the background to be signalled or killed midway.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "../db/TempDatabase.h"
#include "EngineTestSupport.h"
#include "plan/FileIO.h"

extern char** environ;

namespace tarvolen::testing {

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

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
        const std::string line =
            shellPrefix + command(arguments) + " 2>'" + path("stderr.txt") + "'";
        Result r;
        if (FILE* pipe = popen(line.c_str(), "r")) {
            std::array<char, 4096> buffer{};
            size_t n = 0;
            while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
                r.out.append(buffer.data(), n);
            const int status = pclose(pipe);
            r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        r.err = readWholeFile(path("stderr.txt"));
        return r;
    }
    // Starts the tool in the background, its output going to <tag>.out and <tag>.err. The id
    // returned is that of the time limit, which runs the tool in a process group of its own
    // and passes SIGINT, SIGTERM and SIGHUP on to it.
    pid_t start(const std::string& arguments, const std::string& tag) const {
        const std::string line =
            command(arguments) + " >'" + path(tag + ".out") + "' 2>'" + path(tag + ".err") + "'";
        const char* argv[] = {"/bin/sh", "-c", line.c_str(), nullptr};
        pid_t pid = -1;
        if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
            return -1;
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
            if (::waitpid(pid, nullptr, WNOHANG) == pid) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    // Waits for the started tool to end: its exit status, or 128 + the signal that ended it.
    static int finish(pid_t pid) {
        int status = 0;
        if (::waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
    // The STATO of each phase in the plan file on disk, in ID order.
    std::string statiOnDisk(const std::string& file = "dbquery.xml") const {
        TClientDataSet plan("cdsQuery");
        configurePlanTable(plan);
        plan.SetFileName("");
        plan.LoadFile(path(file));
        std::string stati;
        for (plan.First(); !plan.Eof(); plan.Next()) stati += plan.FieldByName("STATO").AsString();
        return stati;
    }

    database::testing::TempDatabase m_db;
};

}  // namespace tarvolen::testing
