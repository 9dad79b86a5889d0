// Another program run to its end: its lines as they come, its exit status, the arguments and
// the environment it is given, a stop that kills it, and a program that cannot be started. The
// child is os_test_child, so the same cases run on Linux and, under Wine, on Windows.

#include "base/os/ChildProcess.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <vector>

namespace tarvolen::os {
namespace {

using Clock = std::chrono::steady_clock;

void setVariable(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

void unsetVariable(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

ChildRun testChild(const std::vector<std::string>& arguments, std::vector<std::string>& lines) {
    ChildRun run;
    run.argv = {TARVOLEN_OS_CHILD};
    run.argv.insert(run.argv.end(), arguments.begin(), arguments.end());
    run.onLine = [&lines](std::string_view line) { lines.emplace_back(line); };
    return run;
}

TEST(ChildProcess, linesOfBothOutputsAndTheExitStatusComeBack) {
    std::vector<std::string> lines;
    const ChildOutcome outcome = runChild(testChild({"lines"}, lines));
    EXPECT_EQ(outcome.exitStatus, 3);
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(lines, (std::vector<std::string>{"uno", "due", "tre", "quattro"}));
}

TEST(ChildProcess, theRunsPairsReachTheChildAloneOverThisProcesssEnvironment) {
    setVariable("TARVOLEN_TEST_KEPT", "dal padre");
    setVariable("TARVOLEN_TEST_SECRET", "vecchia");
    std::vector<std::string> lines;
    ChildRun run = testChild({"env", "TARVOLEN_TEST_KEPT", "TARVOLEN_TEST_SECRET"}, lines);
    run.environment = {{"TARVOLEN_TEST_SECRET", "segreta con spazi"}};
    EXPECT_EQ(runChild(run).exitStatus, 0);
    EXPECT_EQ(lines, (std::vector<std::string>{"TARVOLEN_TEST_KEPT=dal padre",
                                               "TARVOLEN_TEST_SECRET=segreta con spazi"}));
    EXPECT_EQ(std::string(std::getenv("TARVOLEN_TEST_SECRET")), "vecchia");

    // A pair this process does not have.
    unsetVariable("TARVOLEN_TEST_SECRET");
    lines.clear();
    EXPECT_EQ(runChild(run).exitStatus, 0);
    EXPECT_EQ(lines.back(), "TARVOLEN_TEST_SECRET=segreta con spazi");
    EXPECT_EQ(std::getenv("TARVOLEN_TEST_SECRET"), nullptr);
    unsetVariable("TARVOLEN_TEST_KEPT");
}

TEST(ChildProcess, argumentsReachTheChildAsGiven) {
    // Blanks, quotes and backslashes in every place the command-line rules of Windows treat
    // apart, an empty argument, and a path of a folder with its closing separator.
    const std::vector<std::string> arguments = {"semplice",
                                                "con spazi",
                                                "",
                                                "\"tra virgolette\"",
                                                "a\"b",
                                                "a\\\\\"b",
                                                "C:\\Programmi\\Firebird\\",
                                                "C:\\con spazi\\",
                                                "\\\\server\\condivisa",
                                                "fine\\",
                                                "\t",
                                                "anagrafe-1.0.0.0-20260502.fbk"};
    std::vector<std::string> args = {"args"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<std::string> lines;
    EXPECT_EQ(runChild(testChild(args, lines)).exitStatus, 0);
    std::vector<std::string> expected;
    for (const auto& argument : arguments) expected.push_back("[" + argument + "]");
    EXPECT_EQ(lines, expected);
}

TEST(ChildProcess, aStopKillsTheChildAtTheNextLook) {
    std::vector<std::string> lines;
    ChildRun run = testChild({"sleep"}, lines);
    int looks = 0;
    bool started = false;
    run.onLine = [&](std::string_view line) {
        lines.emplace_back(line);
        started = true;
    };
    // Asked to stop at the third look once the child said it started.
    run.keepGoing = [&] { return !started || ++looks < 3; };
    run.interval = std::chrono::milliseconds(20);
    const auto start = Clock::now();
    const ChildOutcome outcome = runChild(run);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(outcome.exitStatus, kKilledChildStatus);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(lines, std::vector<std::string>{"started"});
}

TEST(ChildProcess, aProgramThatCannotStartSaysWhy) {
    std::vector<std::string> lines;
    ChildRun run;
    run.argv = {"/nonexistent/gbak", "-b"};
    run.onLine = [&lines](std::string_view line) { lines.emplace_back(line); };
    EXPECT_EQ(runChild(run).exitStatus, 127);
    ASSERT_EQ(lines.size(), 1u);
#ifdef _WIN32
    // The system's own words, which Windows and Wine put differently.
    const std::string opening = "cannot start /nonexistent/gbak: ";
    EXPECT_EQ(lines[0].substr(0, opening.size()), opening);
    EXPECT_GT(lines[0].size(), opening.size());
#else
    EXPECT_EQ(lines[0], "cannot start /nonexistent/gbak: No such file or directory");
#endif
}

}  // namespace
}  // namespace tarvolen::os
