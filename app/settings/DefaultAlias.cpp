#include "app/settings/DefaultAlias.h"

#include "app/settings/IniFile.h"

#ifdef _WIN32
#include "app/settings/WindowsRegistry.h"
#else
#include "app/settings/RegistryFile.h"
#endif

namespace tarvolen::settings {

std::string readAliasRegistryKey(const std::filesystem::path& executableFolder) {
    return readIniString(executableFolder / kSettingsFileName, kSettingsSection, kSettingsKey);
}

std::string readDefaultAlias(const std::string& registryKey, RegistrySource& registry) {
    if (registryKey.empty()) return {};
    std::string_view path = registryKey;
    if (path.front() == '\\') path.remove_prefix(1);
    const auto key = registry.openCurrentUserKey(path);
    if (!key) return {};
    const auto names = key->subkeyNames();
    if (names.empty()) return {};
    // Only the last subkey counts; earlier ones are never consulted.
    const auto subkey = key->openSubkey(names.back());
    if (!subkey) return {};
    const auto value = subkey->queryValue(kAliasValueName);
    if (!value || value->data.empty()) return {};
    if (value->type != kRegSz && value->type != kRegExpandSz)
        throw InvalidDataType(std::string("Invalid data type for '") + kAliasValueName + "'");
    return stringValueText(*value);
}

std::unique_ptr<RegistrySource> systemRegistry(
    const std::function<void(const std::string&)>& warn) {
#ifdef _WIN32
    (void)warn;
    return std::make_unique<WindowsRegistry>();
#else
    auto file = std::make_unique<RegistryFile>(RegistryFile::defaultPath());
    if (file->problem() && warn) warn(file->file().string() + ": " + *file->problem());
    return file;
#endif
}

}  // namespace tarvolen::settings
