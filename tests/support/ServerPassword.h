#pragma once
// The SYSDBA password of the installed Firebird server, for the tests on a server: the local one
// (LocalServer.h) and a test's own (tests/engine/PrivateServer.h), whose copy of the user
// database holds the same.

#include <cstdlib>
#include <fstream>
#include <string>

namespace tarvolen::database::testing {

// TARVOLEN_FB_SYSDBA_PASSWORD, else the password the server package keeps for SYSDBA; empty
// when neither is there.
inline std::string sysdbaPassword() {
    if (const char* env = std::getenv("TARVOLEN_FB_SYSDBA_PASSWORD"); env != nullptr && *env)
        return env;
    std::ifstream in("/etc/firebird/3.0/SYSDBA.password");
    const std::string key = "ISC_PASSWORD=";
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return {};
}

}  // namespace tarvolen::database::testing
