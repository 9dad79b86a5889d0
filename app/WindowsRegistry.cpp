#include "app/WindowsRegistry.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/SettingsText.h"

namespace tarvolen::settings {
namespace {

std::wstring wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), length);
    return out;
}

std::string narrow(const wchar_t* text, size_t length) {
    return utf16leToUtf8(
        std::string_view(reinterpret_cast<const char*>(text), length * sizeof(wchar_t)));
}

// An open key, closed when the object goes.
class WindowsKey : public RegistryKey {
  public:
    explicit WindowsKey(HKEY key) : m_key(key) {}
    ~WindowsKey() override { RegCloseKey(m_key); }
    WindowsKey(const WindowsKey&) = delete;
    WindowsKey& operator=(const WindowsKey&) = delete;

    static std::unique_ptr<RegistryKey> open(HKEY parent, std::string_view path) {
        HKEY key = nullptr;
        // Full access, as the lookup asks for; a key the user may only read counts as absent.
        if (RegOpenKeyExW(parent, wide(path).c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
            return nullptr;
        return std::make_unique<WindowsKey>(key);
    }

    std::vector<std::string> subkeyNames() const override {
        DWORD count = 0;
        DWORD maxLength = 0;
        if (RegQueryInfoKeyW(m_key, nullptr, nullptr, nullptr, &count, &maxLength, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return {};
        std::vector<std::string> names;
        std::vector<wchar_t> buffer(maxLength + 1);
        for (DWORD index = 0; index < count; ++index) {
            DWORD length = static_cast<DWORD>(buffer.size());
            if (RegEnumKeyExW(m_key, index, buffer.data(), &length, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS)
                break;
            names.push_back(narrow(buffer.data(), length));
        }
        return names;
    }

    std::unique_ptr<RegistryKey> openSubkey(std::string_view name) const override {
        return open(m_key, name);
    }

    std::optional<RegistryValue> queryValue(std::string_view name) const override {
        const std::wstring valueName = wide(name);
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(m_key, valueName.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            return std::nullopt;
        RegistryValue value;
        value.type = type;
        value.wideStrings = true;
        value.data.resize(size);
        if (size > 0 &&
            RegQueryValueExW(m_key, valueName.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(value.data.data()), &size) != ERROR_SUCCESS)
            throw std::runtime_error("Cannot read the registry value '" + std::string(name) + "'");
        value.data.resize(size);
        return value;
    }

  private:
    HKEY m_key;
};

}  // namespace

std::unique_ptr<RegistryKey> WindowsRegistry::openCurrentUserKey(std::string_view path) {
    return WindowsKey::open(HKEY_CURRENT_USER, path);
}

}  // namespace tarvolen::settings
