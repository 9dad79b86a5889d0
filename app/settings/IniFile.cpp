#include "app/settings/IniFile.h"

#include <fstream>
#include <iterator>

#include "app/settings/SettingsText.h"

namespace tarvolen::settings {
namespace {

// Larger settings files are not read: a value in one would be a mistake, and the lookup must
// never hold up start-up.
constexpr std::uintmax_t kMaxFileBytes = 1 << 20;

std::string_view trimBlanks(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string iniValue(std::string_view text, std::string_view section, std::string_view key) {
    bool inSection = false;
    bool sectionSeen = false;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        const std::string_view line = trimBlanks(text.substr(0, eol));
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            // Only the first section of the name is searched.
            if (sectionSeen) return {};
            const auto close = line.find(']');
            const auto name = trimBlanks(line.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1));
            inSection = equalsNoCase(name, section);
            sectionSeen = inSection;
            continue;
        }
        if (!inSection) continue;
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        if (!equalsNoCase(trimBlanks(line.substr(0, equals)), key)) continue;
        const auto value = trimBlanks(line.substr(equals + 1));
        return codePointCount(value) > kIniValueMaxChars ? firstCodePoints(value, kIniValueMaxChars)
                                                         : std::string(value);
    }
    return {};
}

std::string withIniValue(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view value) {
    const size_t firstEnd = text.find('\n');
    const std::string eol =
        firstEnd != std::string_view::npos && firstEnd > 0 && text[firstEnd - 1] == '\r' ? "\r\n"
                                                                                         : "\n";
    const std::string line = std::string(key) + "=" + std::string(value);
    std::string out;
    bool inSection = false;  // within the first section of the name
    bool sectionSeen = false;
    bool replaced = false;
    size_t insertAt = std::string::npos;  // after the section's last line that is not blank
    while (!text.empty()) {
        const size_t eolAt = text.find('\n');
        const std::string_view raw =
            eolAt == std::string_view::npos ? text : text.substr(0, eolAt + 1);
        text.remove_prefix(raw.size());
        const std::string_view content = trimBlanks(raw.substr(0, raw.find('\n')));
        if (!content.empty() && content.front() == '[') {
            inSection = false;
            if (!sectionSeen) {
                const auto close = content.find(']');
                const auto name = trimBlanks(content.substr(
                    1, close == std::string_view::npos ? std::string_view::npos : close - 1));
                inSection = sectionSeen = equalsNoCase(name, section);
            }
        } else if (inSection && !replaced && !content.empty() && content.front() != ';') {
            const auto equals = content.find('=');
            if (equals != std::string_view::npos &&
                equalsNoCase(trimBlanks(content.substr(0, equals)), key)) {
                out += line + eol;
                replaced = true;
                continue;
            }
        }
        out += raw;
        if (inSection && !content.empty()) {
            if (!out.empty() && out.back() != '\n') out += eol;
            insertAt = out.size();
        }
    }
    if (replaced) return out;
    if (sectionSeen) return out.substr(0, insertAt) + line + eol + out.substr(insertAt);
    if (!out.empty() && out.back() != '\n') out += eol;
    return out + "[" + std::string(section) + "]" + eol + line + eol;
}

std::string readIniString(const std::filesystem::path& file, std::string_view section,
                          std::string_view key) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec || size > kMaxFileBytes) return {};
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return {};
    const auto text = decodeTextFile(bytes);
    return text ? iniValue(*text, section, key) : std::string{};
}

}  // namespace tarvolen::settings
