#pragma once
// Reading one value of an INI file, by the usual rules of such files: section and key names
// match without regard to case, the value is the text after the first "=" without surrounding
// blanks, lines starting with ";" are comments, the first section and the first key of a name
// count, and at most 2047 characters come back.

#include <filesystem>
#include <string>
#include <string_view>

namespace tarvolen::settings {

// Longest value handed back; longer values are cut.
inline constexpr size_t kIniValueMaxChars = 2047;

// The value of `key` in `section` of INI text (UTF-8); empty when the section or key is missing.
std::string iniValue(std::string_view text, std::string_view section, std::string_view key);

// The value of `key` in `section` of the file, decoded as SettingsText.h describes; empty when
// the file cannot be read or decoded, or the section or key is missing.
std::string readIniString(const std::filesystem::path& file, std::string_view section,
                          std::string_view key);

// The INI text (UTF-8) with `key` of `section` set to `value`: the line the reading rules above
// would find is replaced; otherwise the key is added at the end of the first section of the
// name, or a new section is added at the end. Every other line stays as it is, and new lines
// take the text's own line ends (CR LF when its first line ends so).
std::string withIniValue(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view value);

}  // namespace tarvolen::settings
