#pragma once
// A registry file in the format the Windows registry editor exports, standing in for the
// registry where there is none. It holds HKEY_CURRENT_USER's keys; other hives are read and
// ignored.
//
//   Windows Registry Editor Version 5.00          (or REGEDIT4)
//
//   [HKEY_CURRENT_USER\Software\Comune\Aggiornamenti\2024]
//   "AliasName"="anagrafe"
//   "Build"=dword:00000007
//   "Note"=hex(2):61,00,62,00,00,00
//
// Files of version 5.00 are exported as UTF-16LE with a byte-order mark; UTF-8 and 8-bit
// Windows-1252 files are read too. String data given in hex (hex(1), hex(2), hex(7)) is UTF-16LE
// in a version 5.00 file and 8-bit in a REGEDIT4 file. A key line names a key and, implicitly, all
// its parents; "[-...]" deletes a key and "name"=- a value, as importing the file would. Lines
// starting with ";" are comments; a hex list continues on the next line after a final "\".
// docs/default-alias.md describes the file for operators.

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/settings/RegistrySource.h"
#include "app/settings/SettingsText.h"

namespace tarvolen::settings {

// One key of the file: its subkeys (sorted without regard to case, as the registry enumerates
// them) and its values.
struct RegistryFileKey {
    RegistryFileKey() = default;
    RegistryFileKey(const RegistryFileKey&) = delete;
    RegistryFileKey& operator=(const RegistryFileKey&) = delete;
    // Frees the subkeys without recursion: a file may nest keys as deep as it has bytes.
    ~RegistryFileKey();

    std::string name;  // as first spelled in the file
    std::map<std::string, std::unique_ptr<RegistryFileKey>, NoCaseLess> subkeys;
    std::map<std::string, RegistryValue, NoCaseLess> values;
};

// The outcome of reading a registry file: its HKEY_CURRENT_USER tree, or why it was refused.
struct RegistryFileContents {
    std::unique_ptr<RegistryFileKey> currentUser;  // null when the file was refused
    std::string error;                             // "line N: ..." when refused
};

// Parses the file's bytes. Never throws for bad input: a malformed file is refused as a whole.
RegistryFileContents parseRegistryFile(std::string_view bytes);

class RegistryFile : public RegistrySource {
  public:
    // The file the program reads: $TARVOLEN_REGISTRY, else ~/.config/tarvolen/registry.reg
    // (%APPDATA%\tarvolen\registry.reg on Windows). Empty when neither can be named (no HOME).
    static std::filesystem::path defaultPath();

    // Reads the file once. A missing, unreadable or malformed file counts as an empty registry
    // (problem() says why); a file the user may not write has keys that cannot be opened with
    // full access.
    explicit RegistryFile(std::filesystem::path file);

    std::unique_ptr<RegistryKey> openCurrentUserKey(std::string_view path) override;

    // Why the file counts as empty, or nullopt when it was read. A missing file is no problem.
    const std::optional<std::string>& problem() const { return m_problem; }
    const std::filesystem::path& file() const { return m_file; }

  private:
    std::filesystem::path m_file;
    std::unique_ptr<RegistryFileKey> m_root;
    bool m_writable = false;
    std::optional<std::string> m_problem;
};

}  // namespace tarvolen::settings
