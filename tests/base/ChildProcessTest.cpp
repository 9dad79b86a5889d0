// Another program run to its end: its lines as they come, its exit status, a stop that kills
// it, and a program that cannot be started.

#include "base/ChildProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace tarvolen {
namespace {

using Clock = std::chrono::steady_clock;

ChildRun shell(const std::string& script, std::vector<std::string>& lines) {
    ChildRun run;
    run.argv = {"sh", "-c", script};
    run.onLine = [&lines](std::string_view line) { lines.emplace_back(line); };
    return run;
}

TEST(ChildProcess, linesOfBothOutputsAndTheExitStatusComeBack) {
    std::vector<std::string> lines;
    ChildRun run = shell("echo uno; echo due >&2; printf 'tre\\r\\nquattro'; exit 3", lines);
    run.environment = {{"TARVOLEN_TEST_SECRET", "segreta"}};
    const ChildOutcome outcome = RunChild(run);
    EXPECT_EQ(outcome.exitStatus, 3);
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(lines, (std::vector<std::string>{"uno", "due", "tre", "quattro"}));

    // The environment's pairs reach the child alone.
    lines.clear();
    run = shell("echo \"$TARVOLEN_TEST_SECRET\"", lines);
    run.environment = {{"TARVOLEN_TEST_SECRET", "segreta"}};
    EXPECT_EQ(RunChild(run).exitStatus, 0);
    EXPECT_EQ(lines, std::vector<std::string>{"segreta"});
    EXPECT_EQ(std::getenv("TARVOLEN_TEST_SECRET"), nullptr);
}

TEST(ChildProcess, aStopKillsTheChildAtTheNextLook) {
    std::vector<std::string> lines;
    ChildRun run = shell("echo started; exec sleep 30", lines);
    int looks = 0;
    run.keepGoing = [&] { return ++looks < 3; };
    run.interval = std::chrono::milliseconds(20);
    const auto start = Clock::now();
    const ChildOutcome outcome = RunChild(run);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(outcome.exitStatus, 128 + 9);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(lines, std::vector<std::string>{"started"});
}

TEST(ChildProcess, aProgramThatCannotStartSaysWhy) {
    std::vector<std::string> lines;
    ChildRun run;
    run.argv = {"/nonexistent/gbak", "-b"};
    run.onLine = [&lines](std::string_view line) { lines.emplace_back(line); };
    EXPECT_EQ(RunChild(run).exitStatus, 127);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "cannot start /nonexistent/gbak: No such file or directory");
}

}  // namespace
}  // namespace tarvolen
