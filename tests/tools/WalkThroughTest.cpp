// The walk-through of docs/plan.md, run exactly as written: its sh blocks, in order, in one
// shell in an empty folder, with the built tools first on the PATH and a real embedded
// database made by the walk-through itself. What each block prints must be the text block the
// page shows after it.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "plan/FileIO.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/TempDatabase.h"

namespace tarvolen::testing {
namespace {

struct Step {
    std::string commands;
    std::optional<std::string> expectedOutput;  // none when the page shows no output
};

// The sh blocks between the walk-through's markers, each with the text block that follows it.
std::vector<Step> walkThroughSteps(const std::string& page) {
    const std::string begin = "<!-- walk-through: begin -->";
    const std::string end = "<!-- walk-through: end -->";
    const size_t from = page.find(begin);
    const size_t to = page.find(end);
    if (from == std::string::npos || to == std::string::npos || to < from)
        throw std::runtime_error("docs/plan.md has no walk-through markers");

    std::vector<Step> steps;
    std::string block;
    std::string kind;  // the open block's language; empty outside blocks
    size_t at = from + begin.size();
    while (at < to) {
        const size_t eol = page.find('\n', at);
        const std::string line = page.substr(at, eol - at);
        at = eol + 1;
        if (kind.empty()) {
            if (line.starts_with("```")) {
                kind = line.substr(3);
                block.clear();
            }
            continue;
        }
        if (line != "```") {
            block += line + "\n";
            continue;
        }
        if (kind == "sh") {
            steps.push_back({block, std::nullopt});
        } else if (kind == "text") {
            if (steps.empty() || steps.back().expectedOutput)
                throw std::runtime_error("a text block that follows no command block");
            steps.back().expectedOutput = block;
        }
        kind.clear();
    }
    return steps;
}

// A line of its own that no command prints, between the output of two steps.
std::string markerOf(size_t step) {
    return "@@ walk-through step " + std::to_string(step) + " @@";
}

TEST(WalkThrough, runsAsTheDocumentationShowsIt) {
    const std::vector<Step> steps =
        walkThroughSteps(readWholeFile(TARVOLEN_SOURCE_DIR "/docs/plan.md"));
    ASSERT_GE(steps.size(), 8u);

    const std::filesystem::path folder = database::testing::makeTempFolder("tarvolen-walk-");
    std::string script =
        "set -euo pipefail\n"
        "unset TARVOLEN_ALIASES TARVOLEN_PASSWORD ISC_USER\n"
        "export PATH='" TARVOLEN_TOOLS_DIR
        "':\"$PATH\"\n"
        "cd '" +
        folder.string() + "'\n";
    for (size_t i = 0; i < steps.size(); ++i)
        script += "printf '%s\\n' '" + markerOf(i) + "'\n" + steps[i].commands;
    script += "printf '%s\\n' '" + markerOf(steps.size()) + "'\n";
    const std::filesystem::path scriptPath = folder / "walk-through.sh";
    std::ofstream(scriptPath) << script;

    const CommandResult walk = runShellCommand(
        "timeout -s KILL 300 bash '" + scriptPath.string() + "'", folder / "stderr.txt");
    const std::string& out = walk.out;
    const int exitCode = walk.exitCode;
    const std::string& err = walk.err;
    EXPECT_EQ(exitCode, 0) << out << err;

    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i + 1) + ":\n" + steps[i].commands);
        const size_t start = out.find(markerOf(i));
        const size_t next = out.find(markerOf(i + 1));
        ASSERT_NE(start, std::string::npos) << out << err;
        ASSERT_NE(next, std::string::npos) << "the step did not finish\n" << out << err;
        const size_t from = start + markerOf(i).size() + 1;
        const std::string printed = out.substr(from, next - from);
        EXPECT_EQ(printed, steps[i].expectedOutput.value_or("")) << err;
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tarvolen::testing
