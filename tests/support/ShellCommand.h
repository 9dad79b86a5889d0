#pragma once
// A command of the shell run to its end, as an administrator runs the tools: its exit status,
// what it wrote on standard output, and, when asked, what it wrote on standard error.

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tarvolen::testing {

struct CommandResult {
    int exitCode = -1;  // -1 when a signal ended it
    std::string out;
    std::string err;
};

// Runs `command` with /bin/sh. With `errorFile`, standard error goes to that file (left in place
// for a failing test to look at) and is read back into `err`; without, it goes where `command`
// sends it.
inline CommandResult runShellCommand(const std::string& command,
                                     const std::filesystem::path& errorFile = {}) {
    const std::string line =
        errorFile.empty() ? command : command + " 2>'" + errorFile.string() + "'";
    CommandResult r;
    if (FILE* pipe = ::popen(line.c_str(), "r")) {
        std::array<char, 4096> buffer{};
        size_t n = 0;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
            r.out.append(buffer.data(), n);
        const int status = ::pclose(pipe);
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (!errorFile.empty()) {
        std::ifstream in(errorFile, std::ios::binary);
        r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return r;
}

}  // namespace tarvolen::testing
