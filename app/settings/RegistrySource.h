#pragma once
// The part of the registry the default-alias lookup reads: keys below HKEY_CURRENT_USER, their
// subkeys in enumeration order, and typed values. Two sources stand behind it: the Windows
// registry (WindowsRegistry.h, Windows only) and a registry file in the format the Windows
// registry editor exports (RegistryFile.h).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvolen::settings {

// Value types, numbered as the registry numbers them.
enum RegistryValueType : uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegMultiSz = 7,
    kRegQword = 11,
};

struct RegistryValue {
    uint32_t type = kRegNone;
    std::string data;  // the value's bytes, as stored
    // How string data is stored: UTF-16LE code units (the Windows registry, files of version
    // 5.00) or 8-bit Windows-1252 (REGEDIT4 files).
    bool wideStrings = true;
};

// The text of a string value, up to its first NUL, as UTF-8. Environment references in an
// expandable string stay as they are.
std::string stringValueText(const RegistryValue& value);

// An open key. Names are UTF-8 and match without regard to case.
class RegistryKey {
  public:
    virtual ~RegistryKey() = default;
    // Names of the direct subkeys, in the registry's enumeration order.
    virtual std::vector<std::string> subkeyNames() const = 0;
    // A direct subkey opened with full access; nullptr when it is missing or cannot be opened.
    virtual std::unique_ptr<RegistryKey> openSubkey(std::string_view name) const = 0;
    // A value of the key; nullopt when the key has no value of that name.
    virtual std::optional<RegistryValue> queryValue(std::string_view name) const = 0;
};

class RegistrySource {
  public:
    virtual ~RegistrySource() = default;
    // Opens a key below HKEY_CURRENT_USER with full access (read and write), never creating it.
    // `path` is the key's parts separated by "\". nullptr when the key is missing or cannot be
    // opened with full access.
    virtual std::unique_ptr<RegistryKey> openCurrentUserKey(std::string_view path) = 0;
};

}  // namespace tarvolen::settings
