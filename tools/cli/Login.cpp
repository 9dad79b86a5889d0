#include "tools/cli/Login.h"

#include <cstdlib>

#include "plan/FileIO.h"

namespace tarvolen::cli {

std::string LoginUser(const std::string& fromCommandLine) {
    if (!fromCommandLine.empty()) return fromCommandLine;
    const char* env = std::getenv("ISC_USER");
    return env != nullptr && *env != '\0' ? env : "SYSDBA";
}

std::string LoginPassword(const std::optional<std::string>& passwordFile) {
    if (passwordFile) {
        std::string text = readPrivateFile(*passwordFile);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
    }
    const char* env = std::getenv("TARVOLEN_PASSWORD");
    return env != nullptr ? env : "";
}

}  // namespace tarvolen::cli
