#pragma once
// The Windows registry below HKEY_CURRENT_USER, in plain types. Built on Windows only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvolen::os {

class RegistryHandle {
  public:
    // A key below HKEY_CURRENT_USER (`path`: UTF-8, parts separated by "\"), opened with full
    // access and never created; nullptr when it is missing or cannot be opened so.
    static std::unique_ptr<RegistryHandle> openCurrentUser(std::string_view path);
    ~RegistryHandle();
    RegistryHandle(const RegistryHandle&) = delete;
    RegistryHandle& operator=(const RegistryHandle&) = delete;

    // A direct subkey, opened as openCurrentUser opens a key.
    std::unique_ptr<RegistryHandle> openSubkey(std::string_view name) const;
    // Names of the direct subkeys (UTF-8), in the registry's enumeration order.
    std::vector<std::string> subkeyNames() const;

    struct Value {
        uint32_t type = 0;
        std::string data;  // as stored: strings in UTF-16LE
    };
    // A value of the key; nullopt when it has none of that name. Throws std::runtime_error
    // when the value is there but cannot be read.
    std::optional<Value> value(std::string_view name) const;

  private:
    explicit RegistryHandle(void* key) : m_key(key) {}
    void* m_key;
};

}  // namespace tarvolen::os
