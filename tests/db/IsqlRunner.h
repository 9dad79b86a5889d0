#pragma once
// Runs Firebird's own isql on a script file, for checks made outside the layer under test.

#include <stdio.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>

namespace tarvolen::database::testing {

// Output (stdout and stderr) of `isql-fb -q -i script`; the script's bytes reach isql as
// written. A hard kill ends an isql that hangs on a lock.
inline std::string runIsql(const std::filesystem::path& folder, const std::string& script) {
    const auto file = folder / "probe.sql";
    std::ofstream(file, std::ios::binary) << script;
    const std::string command = "timeout -s KILL 60 isql-fb -q -i '" + file.string() + "' 2>&1";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::array<char, 4096> buffer;
        size_t n = 0;
        while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
            output.append(buffer.data(), n);
        pclose(pipe);
    }
    std::filesystem::remove(file);
    return output;
}

}  // namespace tarvolen::database::testing
