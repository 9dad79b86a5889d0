// Bad registry, INI and alias files, each read in a child process under limits
// (BoundedChild.h): a registry file is refused with the line and reason, an INI file gives no
// value, an alias file gives its error naming the file and line; within bounded memory and time,
// and with the folder left exactly as it was.

#include <sys/stat.h>

#include <string>
#include <vector>

#include "../app/SettingsTestSupport.h"
#include "BoundedChild.h"
#include "app/settings/IniFile.h"
#include "app/settings/RegistryFile.h"
#include "db/Aliases.h"

namespace tarvolen::testing {
namespace {

namespace fs = std::filesystem;
using settings::testing::TempFolder;

struct TextCase {
    const char* name;
    std::string bytes;
    std::string outcome;  // the start of what reading gives
    long maxRssMb = 128;
};

class SettingsFileInput : public ::testing::Test {
  protected:
    void expectRead(const std::vector<TextCase>& cases, const std::string& fileName,
                    const std::function<std::string(const fs::path&)>& read) const {
        for (const TextCase& c : cases) {
            SCOPED_TRACE(c.name);
            const fs::path file = m_folder.write(fileName, c.bytes);
            const FolderSnapshot before(m_folder.path());
            const ChildOutcome r = runInChild([&] { return read(file); });
            EXPECT_TRUE(r.endedNormally) << "signal " << r.signal << " after " << r.seconds;
            EXPECT_EQ(r.text.substr(0, c.outcome.size()), c.outcome) << r.text.substr(0, 300);
            if (!TARVOLEN_TEST_SANITIZED) {
                EXPECT_LE(r.maxRssMb, c.maxRssMb);
            }
            EXPECT_EQ(FolderSnapshot(m_folder.path()), before);
        }
    }
    // Files that are not files: a FIFO without a writer, a device, a folder.
    std::vector<fs::path> nonFiles() const {
        EXPECT_EQ(::mkfifo((m_folder.path() / "fifo").c_str(), 0600), 0);
        fs::create_symlink("/dev/zero", m_folder.path() / "zero");
        fs::create_directory(m_folder.path() / "folder");
        return {m_folder.path() / "fifo", m_folder.path() / "zero", m_folder.path() / "folder"};
    }

    TempFolder m_folder;
};

std::string repeated(const std::string& text, size_t times) {
    std::string out;
    out.reserve(text.size() * times);
    for (size_t i = 0; i < times; ++i) out += text;
    return out;
}

// What the default-alias lookup gets from the file: the alias, or why the file was refused.
std::string readRegistry(const fs::path& file) {
    settings::RegistryFile registry(file);
    if (registry.problem()) return "refused: " + *registry.problem();
    const auto key = registry.openCurrentUserKey("Software\\T");
    if (!key) return "no key";
    const auto value = key->queryValue("AliasName");
    return value ? "alias: " + settings::stringValueText(*value) : "no value";
}

TEST_F(SettingsFileInput, badRegistryFilesAreRefusedWithLineAndReason) {
    const std::string v5 = "Windows Registry Editor Version 5.00\r\n\r\n";
    const std::string key = "[HKEY_CURRENT_USER\\Software\\T]\r\n";
    const std::vector<TextCase> cases = {
        {"good", v5 + key + "\"AliasName\"=\"demo\"\r\n", "alias: demo"},
        {"empty", "", "refused: empty file"},
        {"garbage", std::string(4096, '\x9C'), "refused: line 1: not a registry file"},
        // A string holds what the file gives; its text ends at the first NUL.
        {"nulBytes", v5 + key + std::string("\"AliasName\"=\"de\0mo\"\r\n", 21), "alias: de"},
        {"oddUtf16", "\xFF\xFE" + settings::testing::utf16le(v5) + "x",
         "refused: the text cannot be decoded"},
        {"unpairedSurrogate",
         "\xFF\xFE" + settings::testing::utf16le(v5) + std::string("\x00\xD8", 2),
         "refused: the text cannot be decoded"},
        {"keyWithoutClose", v5 + "[HKEY_CURRENT_USER\\Software\r\n",
         "refused: line 3: a key line without its closing \"]\""},
        {"unclosedQuote", v5 + key + "\"AliasName\"=\"demo\r\n",
         "refused: line 4: a quoted text without its closing quote"},
        {"hexContinuedPastTheEnd", v5 + key + "\"AliasName\"=hex(1):61,00,\\\r\n",
         "refused: line 4: a hex value continued past the end of the file"},
        {"badDword", v5 + key + "\"AliasName\"=dword:123456789\r\n",
         "refused: line 4: a dword value that is not 1 to 8 hex digits"},
        {"valueOutsideAKey", v5 + "\"AliasName\"=\"demo\"\r\n",
         "refused: line 3: a value outside any key"},
        // Big but well formed: read whole.
        {"oneMegabyteValue", v5 + key + "\"AliasName\"=\"" + std::string(1 << 20, 'a') + "\"\r\n",
         "alias: aaaa"},
        {"hundredThousandKeys", v5 + repeated(key, 100000) + "\"AliasName\"=\"x\"\r\n", "alias: x"},
        // A key nested as deep as a file can nest it.
        {"deepKey", v5 + "[HKEY_CURRENT_USER\\Software\\T" + repeated("\\k", 400000) + "]\r\n",
         "no value", 512},
        {"tooLarge", v5 + key + ";" + std::string(17 << 20, 'x') + "\r\n",
         "refused: the file is larger than 16 MiB"},
    };
    expectRead(cases, "registry.reg", readRegistry);
    for (const fs::path& file : nonFiles()) {
        SCOPED_TRACE(file.string());
        const ChildOutcome r = runInChild([&] { return readRegistry(file); }, {.wallSeconds = 20});
        EXPECT_TRUE(r.endedNormally) << "signal " << r.signal << " after " << r.seconds;
        EXPECT_EQ(r.text.rfind("refused: ", 0), 0u) << r.text;
    }
}

std::string readIni(const fs::path& file) {
    return "value: " + settings::readIniString(file, "Aggiornamenti", "RegKey");
}

TEST_F(SettingsFileInput, badIniFilesGiveNoValue) {
    const std::string section = "[Aggiornamenti]\r\n";
    const std::vector<TextCase> cases = {
        {"good", section + "RegKey=Software\\T\r\n", "value: Software\\T"},
        {"garbage", std::string(4096, '\x9C'), "value: "},
        {"nulBytes", section + std::string("RegKey=a\0b\r\n", 12), "value: a"},
        {"invalidUtf8", section + "RegKey=\xC3\x28\xFF\r\n", "value: \xC3\x83("},
        {"oneMegabyteLine", section + "RegKey=" + std::string((1 << 20) - 100, 'v') + "\r\n",
         "value: vvvv"},
        {"overOneMegabyte", section + "RegKey=x\r\n" + std::string(1 << 20, ';'), "value: "},
        {"oddUtf16", "\xFF\xFE" + settings::testing::utf16le(section) + "x", "value: "},
        {"sectionWithoutClose", "[Aggiornamenti\r\nRegKey=x\r\n", "value: "},
    };
    expectRead(cases, "tarvolen.ini", readIni);
    // The longest value comes back cut.
    const fs::path file =
        m_folder.write("tarvolen.ini", section + "RegKey=" + std::string(5000, 'v') + "\r\n");
    EXPECT_EQ(settings::readIniString(file, "Aggiornamenti", "RegKey").size(),
              settings::kIniValueMaxChars);
    for (const fs::path& nonFile : nonFiles()) {
        SCOPED_TRACE(nonFile.string());
        const ChildOutcome r = runInChild([&] { return readIni(nonFile); }, {.wallSeconds = 20});
        EXPECT_TRUE(r.endedNormally) << "signal " << r.signal << " after " << r.seconds;
        EXPECT_EQ(r.text, "value: ");
    }
}

std::string readAliases(const fs::path& file) {
    const auto config = database::AliasConfig::load(file);
    return "database: " + config.find("registry").database;
}

TEST_F(SettingsFileInput, badAliasFilesGiveTheirErrorNamingFileAndLine) {
    const std::string where =
        "error: Alias file \"" + (m_folder.path() / "aliases.ini").string() + "\", line ";
    const std::vector<TextCase> cases = {
        {"good", "[registry]\nDatabase = /srv/r.fdb\n", "database: /srv/r.fdb"},
        {"garbage", std::string(4096, '\x9C'), where + "1: expected [alias] or Key = value"},
        {"nulBytes", std::string("[registry]\nData\0base = x\n", 25), "error: "},
        {"keyBeforeSection", "Database = x\n", where + "1: a key before the first [alias]"},
        {"badSection", "[]\n", where + "1: bad section header"},
        {"unbalancedQuotes", "[registry]\nDatabase = \"/srv/r.fdb\n",
         where + "2: unbalanced quotes"},
        {"noDatabase", "[registry]\nCharset = WIN1252\n", "error: "},
        {"badLockTimeout", "[registry]\nDatabase = x\nLockTimeout = 99999999999999999999\n",
         "error: "},
        {"oneMegabyteLine", "[registry]\nDatabase = " + std::string(1 << 20, 'd') + "\n",
         "database: "},
        {"hundredThousandSections", repeated("[a]\nDatabase = x\n", 100000) + "[registry]\n",
         "error: "},
    };
    expectRead(cases, "aliases.ini", readAliases);
    for (const fs::path& nonFile : nonFiles()) {
        SCOPED_TRACE(nonFile.string());
        const ChildOutcome r =
            runInChild([&] { return readAliases(nonFile); }, {.wallSeconds = 20});
        EXPECT_TRUE(r.endedNormally) << "signal " << r.signal << " after " << r.seconds;
        EXPECT_EQ(r.text, "error: Cannot read the alias file \"" + nonFile.string() +
                              "\": Not a regular file")
            << r.text.substr(0, 300);
    }
}

}  // namespace
}  // namespace tarvolen::testing
