// The registry below HKEY_CURRENT_USER on Windows.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdexcept>

#include "base/os/Registry.h"
#include "base/os/WindowsText.h"

namespace tarvolen::os {
namespace {

std::string utf8FromWide(const wchar_t* text, size_t length) {
    if (length == 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr,
                        nullptr);
    return out;
}

HKEY keyOf(void* key) {
    return static_cast<HKEY>(key);
}

HKEY openKey(HKEY parent, std::string_view path) {
    HKEY key = nullptr;
    // Full access, as the lookup asks for; a key the user may only read counts as absent.
    if (RegOpenKeyExW(parent, detail::wideFromUtf8(path).c_str(), 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS)
        return nullptr;
    return key;
}

}  // namespace

std::unique_ptr<RegistryHandle> RegistryHandle::openCurrentUser(std::string_view path) {
    HKEY key = openKey(HKEY_CURRENT_USER, path);
    return key != nullptr ? std::unique_ptr<RegistryHandle>(new RegistryHandle(key)) : nullptr;
}

RegistryHandle::~RegistryHandle() {
    RegCloseKey(keyOf(m_key));
}

std::unique_ptr<RegistryHandle> RegistryHandle::openSubkey(std::string_view name) const {
    HKEY key = openKey(keyOf(m_key), name);
    return key != nullptr ? std::unique_ptr<RegistryHandle>(new RegistryHandle(key)) : nullptr;
}

std::vector<std::string> RegistryHandle::subkeyNames() const {
    DWORD count = 0;
    DWORD maxLength = 0;
    if (RegQueryInfoKeyW(keyOf(m_key), nullptr, nullptr, nullptr, &count, &maxLength, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return {};
    std::vector<std::string> names;
    std::vector<wchar_t> buffer(maxLength + 1);
    for (DWORD index = 0; index < count; ++index) {
        DWORD length = static_cast<DWORD>(buffer.size());
        if (RegEnumKeyExW(keyOf(m_key), index, buffer.data(), &length, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(utf8FromWide(buffer.data(), length));
    }
    return names;
}

std::optional<RegistryHandle::Value> RegistryHandle::value(std::string_view name) const {
    const std::wstring valueName = detail::wideFromUtf8(name);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(keyOf(m_key), valueName.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    Value value;
    value.type = type;
    value.data.resize(size);
    if (size > 0 && RegQueryValueExW(keyOf(m_key), valueName.c_str(), nullptr, &type,
                                     reinterpret_cast<BYTE*>(value.data.data()),
                                     &size) != ERROR_SUCCESS)
        throw std::runtime_error("Cannot read the registry value '" + std::string(name) + "'");
    value.data.resize(size);
    return value;
}

}  // namespace tarvolen::os
