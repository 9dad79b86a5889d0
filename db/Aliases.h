#pragma once
// The alias configuration: an INI file with one section per database alias.
//
//   [anagrafe]
//   Database    = /var/lib/tarvolen/anagrafe.fdb     ; local file: opened in-process
//   Charset     = WIN1252                             ; default WIN1252
//   Role        = OPERATORE                           ; optional
//   LockTimeout = 60                                  ; seconds, default 60
//
// The file is found at $TARVOLEN_ALIASES, else ~/.config/tarvolen/aliases.ini (on Windows
// %APPDATA%\tarvolen\aliases.ini), else aliases.ini beside the executable. docs/aliases.md
// describes it for operators.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvolen::database {

// Everything needed to reach the database behind one alias.
struct AliasSettings {
    std::string name;      // as the file spells it
    std::string database;  // local path (made absolute) or host[/port]:path
    std::string charset = "WIN1252";
    std::string role;      // empty for none
    int lockTimeout = 60;  // seconds a statement waits for another connection's lock

    // True when `database` names a server (host[/port]:path) rather than a local file.
    bool isRemote() const;
};

class AliasConfig {
  public:
    AliasConfig() = default;

    // Reads an alias file. Throws DatabaseError naming the file when it cannot be read or a
    // line is not a section, a key = value pair, a comment or blank.
    static AliasConfig load(const std::filesystem::path& file);
    // Parses alias text; `origin` names it in errors and anchors relative database paths.
    static AliasConfig parse(std::string_view text, const std::filesystem::path& origin);
    // The file the program uses, by the lookup order above; nullopt when none exists and
    // $TARVOLEN_ALIASES is unset.
    static std::optional<std::filesystem::path> locate();
    // locate() + load(); an empty configuration when there is no file at all.
    static AliasConfig loadDefault();

    // Alias names in file order.
    std::vector<std::string> names() const;
    // The settings of an alias, looked up without regard to case. Throws DatabaseError naming
    // the alias when it is unknown, lacks its Database key or has a bad LockTimeout.
    AliasSettings find(std::string_view alias) const;
    // The file this configuration came from; empty for none.
    const std::filesystem::path& origin() const { return m_origin; }

  private:
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> keys;
    };
    std::filesystem::path m_origin;
    std::vector<Section> m_sections;
};

// The list of database names offered to the operator: the configuration's aliases plus the
// program's own connection names, sorted without regard to case, each name once (the first
// spelling met wins, aliases before connection names).
std::vector<std::string> databaseNames(const AliasConfig& config,
                                       const std::vector<std::string>& connectionNames);

}  // namespace tarvolen::database
