#pragma once
// The default alias: the settings file beside the executable names a registry key below
// HKEY_CURRENT_USER, and the last subkey of that key holds the alias in its value "AliasName".

#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/settings/RegistrySource.h"

namespace tarvolen::settings {

inline constexpr const char* kSettingsFileName = "tarvolen.ini";
inline constexpr const char* kSettingsSection = "UpdateSettings";
inline constexpr const char* kSettingsKey = "RegKey";
inline constexpr const char* kAliasValueName = "AliasName";

// "AliasName" holds something other than a string.
class InvalidDataType : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// "RegKey" of section "UpdateSettings" in tarvolen.ini of `executableFolder`; empty when the
// file, the section or the key is missing.
std::string readAliasRegistryKey(const std::filesystem::path& executableFolder);

// The alias named under `registryKey` (one leading "\" ignored): the "AliasName" of the key's
// last subkey in enumeration order, up to its first NUL. Empty when the key is empty, cannot be
// opened, has no subkeys, or its last subkey cannot be opened or lacks the value. Throws
// InvalidDataType ("Invalid data type for 'AliasName'") when the value is neither a plain nor
// an expandable string.
std::string readDefaultAlias(const std::string& registryKey, RegistrySource& registry);

// The registry of this platform: the Windows registry on Windows, else the registry file at
// RegistryFile::defaultPath(). `warn` receives why a registry file was ignored, if it was.
std::unique_ptr<RegistrySource> systemRegistry(const std::function<void(const std::string&)>& warn);

}  // namespace tarvolen::settings
