#include "db/Aliases.h"
#include "base/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "base/os/Process.h"
#include "db/DatabaseError.h"

namespace tarvolen::database {

namespace {

namespace fs = std::filesystem;

std::string quoted(const fs::path& p) {
    return "\"" + p.string() + "\"";
}

// A value ends at a ';' or '#' that follows a blank, so paths keep their own characters;
// a value in double quotes is taken exactly.
std::string parseValue(std::string_view raw, const fs::path& origin, int lineNo) {
    raw = trimmed(raw);
    if (!raw.empty() && raw.front() == '"') {
        const auto close = raw.find('"', 1);
        const auto rest = close == std::string_view::npos ? raw : trimmed(raw.substr(close + 1));
        if (close == std::string_view::npos || !(rest.empty() || rest[0] == ';' || rest[0] == '#'))
            throw DatabaseError("Alias file " + quoted(origin) + ", line " +
                                std::to_string(lineNo) + ": unbalanced quotes");
        return std::string(raw.substr(1, close - 1));
    }
    for (size_t i = 1; i < raw.size(); ++i) {
        if ((raw[i] == ';' || raw[i] == '#') && (raw[i - 1] == ' ' || raw[i - 1] == '\t'))
            return std::string(trimmed(raw.substr(0, i)));
    }
    return std::string(raw);
}

bool looksRemote(std::string_view database) {
    for (std::string_view scheme : {"inet://", "inet4://", "inet6://", "xnet://", "wnet://"})
        if (database.substr(0, scheme.size()) == scheme) return true;
    if (database.empty() || database[0] == '/' || database[0] == '.') return false;
    const auto colon = database.find(':');
    return colon != std::string_view::npos && colon > 0;
}

}  // namespace

bool AliasSettings::isRemote() const {
    return looksRemote(database);
}

AliasConfig AliasConfig::load(const fs::path& file) {
    // Only a regular file: a FIFO would block the open, a device such as /dev/zero never end,
    // and a folder read as an empty file.
    std::error_code ec;
    const auto status = fs::status(file, ec);
    if (!ec && fs::exists(status) && !fs::is_regular_file(status))
        throw DatabaseError("Cannot read the alias file " + quoted(file) + ": Not a regular file");
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        const int err = errno;
        throw DatabaseError("Cannot read the alias file " + quoted(file) + ": " +
                            std::strerror(err != 0 ? err : ENOENT));
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw DatabaseError("Cannot read the alias file " + quoted(file));
    return parse(text.str(), file);
}

AliasConfig AliasConfig::parse(std::string_view text, const fs::path& origin) {
    AliasConfig config;
    config.m_origin = origin;
    int lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const auto eol = text.find('\n');
        std::string_view line = trimmed(text.substr(0, eol));
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (lineNo == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line = trimmed(line.substr(3));
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;

        const std::string where =
            "Alias file " + quoted(origin) + ", line " + std::to_string(lineNo) + ": ";
        if (line[0] == '[') {
            const auto close = line.find(']');
            const auto name = close == std::string_view::npos ? std::string_view{}
                                                              : trimmed(line.substr(1, close - 1));
            if (name.empty()) throw DatabaseError(where + "bad section header");
            config.m_sections.push_back({std::string(name), {}});
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string_view::npos || trimmed(line.substr(0, eq)).empty())
            throw DatabaseError(where + "expected [alias] or Key = value");
        if (config.m_sections.empty())
            throw DatabaseError(where + "a key before the first [alias] section");
        config.m_sections.back().keys.emplace_back(std::string(trimmed(line.substr(0, eq))),
                                                   parseValue(line.substr(eq + 1), origin, lineNo));
    }
    return config;
}

std::optional<fs::path> AliasConfig::locate() {
    if (const char* env = std::getenv("TARVOLEN_ALIASES"); env != nullptr && *env != '\0')
        return fs::path(env);
    std::error_code ec;
    if (const fs::path config = os::userConfigFolder(); !config.empty()) {
        fs::path candidate = config / "tarvolen" / "aliases.ini";
        if (fs::exists(candidate, ec)) return candidate;
    }
    if (const fs::path exe = os::executablePath(); !exe.empty()) {
        fs::path candidate = exe.parent_path() / "aliases.ini";
        if (fs::exists(candidate, ec)) return candidate;
    }
    return std::nullopt;
}

AliasConfig AliasConfig::loadDefault() {
    const auto file = locate();
    return file ? load(*file) : AliasConfig{};
}

std::vector<std::string> AliasConfig::names() const {
    std::vector<std::string> result;
    result.reserve(m_sections.size());
    for (const auto& section : m_sections) result.push_back(section.name);
    return result;
}

AliasSettings AliasConfig::find(std::string_view alias) const {
    const std::string named = "\"" + std::string(alias) + "\"";
    // The first section of that name wins, as for any repeated key.
    const auto section = std::find_if(m_sections.begin(), m_sections.end(), [&](const Section& s) {
        return equalsNoCase(s.name, alias);
    });
    if (section == m_sections.end()) {
        if (m_origin.empty())
            throw DatabaseError("Unknown alias " + named +
                                ": no alias file found (set TARVOLEN_ALIASES or create "
                                "~/.config/tarvolen/aliases.ini)");
        throw DatabaseError("Unknown alias " + named + " in " + quoted(m_origin));
    }

    const std::string where = "Alias " + named + " in " + quoted(m_origin);
    auto value = [&](std::string_view key) -> std::optional<std::string> {
        std::optional<std::string> found;
        for (const auto& [k, v] : section->keys)
            if (equalsNoCase(k, key)) found = v;  // a repeated key: the last one counts
        return found;
    };

    AliasSettings settings;
    settings.name = section->name;
    const auto database = value("Database");
    if (!database || database->empty()) throw DatabaseError(where + " has no Database key");
    settings.database = *database;
    if (!looksRemote(settings.database) && fs::path(settings.database).is_relative() &&
        !m_origin.empty())
        settings.database =
            (m_origin.parent_path() / settings.database).lexically_normal().string();

    if (const auto charset = value("Charset"); charset && !charset->empty())
        settings.charset = *charset;
    if (const auto role = value("Role")) settings.role = *role;
    if (const auto timeout = value("LockTimeout"); timeout && !timeout->empty()) {
        const bool digits =
            timeout->size() <= 5 && std::all_of(timeout->begin(), timeout->end(),
                                                [](char c) { return c >= '0' && c <= '9'; });
        const int seconds = digits ? std::stoi(*timeout) : -1;
        if (seconds < 0 || seconds > 32767)
            throw DatabaseError(where +
                                ": LockTimeout must be a whole number of seconds from 0 "
                                "to 32767, not \"" +
                                *timeout + "\"");
        settings.lockTimeout = seconds;
    }
    return settings;
}

std::vector<std::string> databaseNames(const AliasConfig& config,
                                       const std::vector<std::string>& connectionNames) {
    std::vector<std::string> names = config.names();
    names.insert(names.end(), connectionNames.begin(), connectionNames.end());
    std::stable_sort(names.begin(), names.end(),
                     [](const std::string& a, const std::string& b) { return lessNoCase(a, b); });
    names.erase(
        std::unique(names.begin(), names.end(),
                    [](const std::string& a, const std::string& b) { return equalsNoCase(a, b); }),
        names.end());
    return names;
}

}  // namespace tarvolen::database
