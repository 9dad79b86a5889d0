#pragma once
// Runs Firebird's own isql on a script file, for checks made outside the layer under test.

#include <stdio.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/ShellCommand.h"

namespace tarvolen::database::testing {

// Output (stdout and stderr) of `isql-fb -q -i script`; the script's bytes reach isql as
// written. A hard kill ends an isql that hangs on a lock.
inline std::string runIsql(const std::filesystem::path& folder, const std::string& script) {
    const auto file = folder / "probe.sql";
    std::ofstream(file, std::ios::binary) << script;
    const std::string command = "timeout -s KILL 60 isql-fb -q -i '" + file.string() + "' 2>&1";
    std::string output = tarvolen::testing::runShellCommand(command).out;
    std::filesystem::remove(file);
    return output;
}

// Another program holding a database open without a server, as the desktop does: an isql that
// connects to the file and waits for its input to end, which comes when the object goes. A hard
// kill ends it after a minute whatever happens.
class IsqlHolding {
  public:
    IsqlHolding(const std::filesystem::path& folder, const std::filesystem::path& database)
        : m_held(folder / "isql-holds"), m_output(folder / "isql-holding.txt") {
        std::filesystem::remove(m_held);
        const std::string command =
            "timeout -s KILL 60 isql-fb -q > '" + m_output.string() + "' 2>&1";
        m_isql = popen(command.c_str(), "w");
        if (m_isql == nullptr) return;
        // isql runs the shell command only once it is connected.
        const std::string script = "connect '" + database.string() + "' user 'SYSDBA';\n" +
                                   "shell touch '" + m_held.string() + "';\n";
        fputs(script.c_str(), m_isql);
        fflush(m_isql);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!std::filesystem::exists(m_held) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~IsqlHolding() {
        if (m_isql != nullptr) pclose(m_isql);
    }
    IsqlHolding(const IsqlHolding&) = delete;
    IsqlHolding& operator=(const IsqlHolding&) = delete;

    bool holding() const { return std::filesystem::exists(m_held); }
    // What isql printed so far: its errors, when it could not connect.
    std::string output() const {
        std::ifstream in(m_output, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

  private:
    std::filesystem::path m_held;
    std::filesystem::path m_output;
    FILE* m_isql = nullptr;
};

}  // namespace tarvolen::database::testing
