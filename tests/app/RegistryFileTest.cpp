// The registry file that stands in for the Windows registry, and the default-alias lookup over
// it: the last subkey's "AliasName", string forms, wrong types and malformed files.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <ostream>

#include "SettingsTestSupport.h"
#include "app/settings/DefaultAlias.h"
#include "app/settings/RegistryFile.h"

namespace tarvolen::settings {
namespace {

using testing::utf16le;
using testing::utf16leWithBom;

constexpr const char* kV5 = "Windows Registry Editor Version 5.00\r\n\r\n";
constexpr const char* kV4 = "REGEDIT4\r\n\r\n";
constexpr const char* kKey = "Software\\Comune\\Aggiornamenti";

// What the lookup gives: the alias, or that the value has the wrong type.
struct Outcome {
    std::string alias;
    bool wrongType = false;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << (o.wrongType ? "wrong type" : "\"" + o.alias + "\"");
}

Outcome alias(std::string text) {
    return Outcome{std::move(text)};
}
const Outcome kWrongType{"", true};

// Hex list of bytes as the editor writes them ("61,00,62,00").
std::string hexList(std::string_view bytes) {
    std::string out;
    char buffer[4];
    for (char c : bytes) {
        if (!out.empty()) out += ',';
        std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned char>(c));
        out += buffer;
    }
    return out;
}

struct RegistryCase {
    const char* name;
    std::string file;  // the registry file's bytes
    Outcome expected;
    std::string regKey = kKey;
    bool refused = false;  // the file is malformed as a whole
};

// Shown by test runners in place of the raw bytes of the case.
void PrintTo(const RegistryCase& c, std::ostream* os) {
    *os << c.name;
}

Outcome lookUp(const std::filesystem::path& file, const std::string& regKey) {
    RegistryFile registry(file);
    try {
        return alias(readDefaultAlias(regKey, registry));
    } catch (const InvalidDataType& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'AliasName'");
        return kWrongType;
    }
}

class RegistryFileLookupTest : public ::testing::TestWithParam<RegistryCase> {};

TEST_P(RegistryFileLookupTest, givesTheLastSubkeysAliasName) {
    testing::TempFolder folder;
    const auto file = folder.write("registry.reg", GetParam().file);
    EXPECT_EQ(lookUp(file, GetParam().regKey), GetParam().expected);
    const RegistryFile registry(file);
    EXPECT_EQ(registry.problem().has_value(), GetParam().refused)
        << registry.problem().value_or("");
}

// Subkeys A, B and C under the key; the values of each follow.
std::string threeSubkeys(const std::string& header, const std::string& a, const std::string& b,
                         const std::string& c) {
    const std::string root = "[HKEY_CURRENT_USER\\Software\\Comune\\Aggiornamenti";
    return header + root + "]\r\n\r\n" + root + "\\A]\r\n" + a + root + "\\B]\r\n" + b + root +
           "\\C]\r\n" + c;
}

const std::string kAliasX = "\"AliasName\"=\"x\"\r\n";

INSTANTIATE_TEST_SUITE_P(
    SubkeysAndValues, RegistryFileLookupTest,
    ::testing::Values(
        RegistryCase{"onlyLastHasAlias", threeSubkeys(kV5, "", "", "\"AliasName\"=\"demo\"\r\n"),
                     alias("demo")},
        RegistryCase{"lastLacksAliasWhileEarlierHaveIt",
                     threeSubkeys(kV5, kAliasX, kAliasX, "\"Altro\"=\"y\"\r\n"), alias("")},
        RegistryCase{"keyWithoutSubkeys",
                     std::string(kV5) + "[HKEY_CURRENT_USER\\Software\\Comune\\Aggiornamenti]\r\n"
                                        "\"AliasName\"=\"x\"\r\n",
                     alias("")},
        RegistryCase{"keyMissing",
                     std::string(kV5) + "[HKEY_CURRENT_USER\\Software\\Altro\\A]\r\n" + kAliasX,
                     alias("")},
        RegistryCase{"emptyRegKeyReadsNothing", threeSubkeys(kV5, "", "", kAliasX), alias(""), ""},
        RegistryCase{"leadingBackslashIgnored", threeSubkeys(kV5, "", "", kAliasX), alias("x"),
                     std::string("\\") + kKey},
        RegistryCase{"keyPathIgnoresCase", threeSubkeys(kV5, "", "", kAliasX), alias("x"),
                     "SOFTWARE\\comune\\aggiornamenti"},
        RegistryCase{"valueNameIgnoresCase",
                     threeSubkeys(kV5, "", "", "\"aliasname\"=\"minuscolo\"\r\n"),
                     alias("minuscolo")},
        RegistryCase{"subkeysSortedWithoutRegardToCase",
                     std::string(kV5) +
                         "[HKEY_CURRENT_USER\\Software\\Comune\\Aggiornamenti\\Z]\r\n"
                         "\"AliasName\"=\"zeta\"\r\n"
                         "[HKEY_CURRENT_USER\\Software\\Comune\\Aggiornamenti\\a]\r\n"
                         "\"AliasName\"=\"a\"\r\n",
                     alias("zeta")},
        RegistryCase{"subkeysSortedNotInFileOrder",
                     std::string(kV5) +
                         "[HKEY_CURRENT_USER\\Software\\Comune\\Aggiornamenti\\2024]\r\n"
                         "\"AliasName\"=\"nuovo\"\r\n"
                         "[HKEY_CURRENT_USER\\Software\\Comune\\Aggiornamenti\\2019]\r\n"
                         "\"AliasName\"=\"vecchio\"\r\n",
                     alias("nuovo")},
        RegistryCase{"parentsExistImplicitly",
                     std::string(kV5) +
                         "[HKEY_CURRENT_USER\\Software\\Comune\\Aggiornamenti\\C\\Sotto]\r\n" +
                         kAliasX,
                     alias("")},
        RegistryCase{"sameKeyTwiceMerges",
                     threeSubkeys(kV5, "", "", "\"Altro\"=\"1\"\r\n") +
                         "[HKEY_CURRENT_USER\\Software\\Comune\\Aggiornamenti\\c]\r\n"
                         "\"AliasName\"=\"unito\"\r\n",
                     alias("unito")},
        RegistryCase{
            "laterValueReplacesEarlier",
            threeSubkeys(kV5, "", "", "\"AliasName\"=\"primo\"\r\n\"AliasName\"=\"secondo\"\r\n"),
            alias("secondo")},
        RegistryCase{"deletedSubkeyIsGone",
                     threeSubkeys(kV5, "", kAliasX, "\"AliasName\"=\"c\"\r\n") +
                         "[-HKEY_CURRENT_USER\\Software\\Comune\\Aggiornamenti\\C]\r\n",
                     alias("x")},
        RegistryCase{"deletedValueIsGone",
                     threeSubkeys(kV5, "", "", "\"AliasName\"=\"c\"\r\n\"AliasName\"=-\r\n"),
                     alias("")},
        RegistryCase{"otherHivesIgnored",
                     std::string(kV5) +
                         "[HKEY_LOCAL_MACHINE\\Software\\Comune\\Aggiornamenti\\Z]\r\n" + kAliasX,
                     alias("")},
        RegistryCase{"defaultValueIsNotAliasName", threeSubkeys(kV5, "", "", "@=\"x\"\r\n"),
                     alias("")},
        RegistryCase{"commentsAndBlankLines",
                     threeSubkeys(kV5, "", "", "; commento\r\n\r\n  \"AliasName\"=\"x\"\r\n"),
                     alias("x")},
        RegistryCase{"escapedQuoteAndBackslash",
                     threeSubkeys(kV5, "", "", "\"AliasName\"=\"a\\\\b\\\"c\"\r\n"),
                     alias("a\\b\"c")},
        RegistryCase{"blanksAroundEquals", threeSubkeys(kV5, "", "", "\"AliasName\" = \"x\"\r\n"),
                     alias("x")},
        RegistryCase{"emptyString", threeSubkeys(kV5, "", "", "\"AliasName\"=\"\"\r\n"), alias("")},
        RegistryCase{"unixLineEnds",
                     "Windows Registry Editor Version 5.00\n\n"
                     "[HKEY_CURRENT_USER\\Software\\Comune\\Aggiornamenti\\C]\n"
                     "\"AliasName\"=\"lf\"\n",
                     alias("lf")}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    HeadersAndEncodings, RegistryFileLookupTest,
    ::testing::Values(
        RegistryCase{"version5Utf16WithMark",
                     utf16leWithBom(threeSubkeys(kV5, "", "", "\"AliasName\"=\"Città\"\r\n")),
                     alias("Citt\xC3\xA0")},
        RegistryCase{"version5Utf8WithoutMark",
                     threeSubkeys(kV5, "", "", "\"AliasName\"=\"Città\"\r\n"),
                     alias("Citt\xC3\xA0")},
        RegistryCase{"version5Utf8WithMark",
                     "\xEF\xBB\xBF" + threeSubkeys(kV5, "", "", "\"AliasName\"=\"Città\"\r\n"),
                     alias("Citt\xC3\xA0")},
        RegistryCase{"regedit4Windows1252",
                     threeSubkeys(kV4, "", "", "\"AliasName\"=\"Citt\xE0\"\r\n"),
                     alias("Citt\xC3\xA0")},
        RegistryCase{"regedit4Utf16WithMark",
                     utf16leWithBom(threeSubkeys(kV4, "", "", "\"AliasName\"=\"demo\"\r\n")),
                     alias("demo")}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    HexStrings, RegistryFileLookupTest,
    ::testing::Values(
        RegistryCase{"hex1Version5",
                     threeSubkeys(kV5, "", "",
                                  "\"AliasName\"=hex(1):" +
                                      hexList(utf16le("demo") + std::string(2, '\0')) + "\r\n"),
                     alias("demo")},
        RegistryCase{
            "hex2Version5NotExpanded",
            threeSubkeys(kV5, "", "",
                         "\"AliasName\"=hex(2):" +
                             hexList(utf16le("%USERNAME%_db") + std::string(2, '\0')) + "\r\n"),
            alias("%USERNAME%_db")},
        RegistryCase{
            "hex2Regedit4EightBit",
            threeSubkeys(kV4, "", "",
                         "\"AliasName\"=hex(2):" + hexList(std::string("Citt\xE0\0", 6)) + "\r\n"),
            alias("Citt\xC3\xA0")},
        RegistryCase{
            "hexStringStopsAtFirstNul",
            threeSubkeys(kV5, "", "",
                         "\"AliasName\"=hex(1):" +
                             hexList(utf16le("uno") + std::string(2, '\0') + utf16le("due")) +
                             "\r\n"),
            alias("uno")},
        RegistryCase{
            "hexStringWithoutNul",
            threeSubkeys(kV5, "", "", "\"AliasName\"=hex(1):" + hexList(utf16le("abc")) + "\r\n"),
            alias("abc")},
        RegistryCase{"hexStringContinuedOverLines",
                     threeSubkeys(kV5, "", "",
                                  "\"AliasName\"=hex(2):61,00,6e,00,\\\r\n"
                                  "  61,00,67,00,\\\r\n"
                                  "  00,00\r\n"),
                     alias("anag")},
        RegistryCase{"hexTypeUpperCaseDigits",
                     threeSubkeys(kV5, "", "", "\"AliasName\"=hex(1):41,00,42,00\r\n"),
                     alias("AB")},
        RegistryCase{"emptyHexStringIsNoAlias",
                     threeSubkeys(kV5, "", "", "\"AliasName\"=hex(1):\r\n"), alias("")},
        RegistryCase{"emptyDataOfOtherTypeIsNoAlias",
                     threeSubkeys(kV5, "", "", "\"AliasName\"=hex(b):\r\n"), alias("")}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    WrongTypes, RegistryFileLookupTest,
    ::testing::Values(
        RegistryCase{"dword", threeSubkeys(kV5, "", "", "\"AliasName\"=dword:00000001\r\n"),
                     kWrongType},
        RegistryCase{"binary", threeSubkeys(kV5, "", "", "\"AliasName\"=hex:64,65,6d,6f\r\n"),
                     kWrongType},
        RegistryCase{"qword",
                     threeSubkeys(kV5, "", "", "\"AliasName\"=hex(b):01,00,00,00,00,00,00,00\r\n"),
                     kWrongType},
        RegistryCase{"multiString",
                     threeSubkeys(kV5, "", "", "\"AliasName\"=hex(7):61,00,00,00,00,00\r\n"),
                     kWrongType},
        RegistryCase{"noneTypeWithData", threeSubkeys(kV5, "", "", "\"AliasName\"=hex(0):61\r\n"),
                     kWrongType},
        RegistryCase{"wrongTypeOnlyInEarlierSubkey",
                     threeSubkeys(kV5, "\"AliasName\"=dword:00000001\r\n", "", kAliasX),
                     alias("x")}),
    [](const auto& info) { return std::string(info.param.name); });

// A malformed file counts as an empty registry, whatever it holds after the fault.
RegistryCase malformed(const char* name, std::string file) {
    return RegistryCase{name, std::move(file), alias(""), kKey, true};
}

INSTANTIATE_TEST_SUITE_P(
    MalformedFiles, RegistryFileLookupTest,
    ::testing::Values(
        malformed("noHeader",
                  "[HKEY_CURRENT_USER\\Software\\Comune\\Aggiornamenti\\C]\r\n" + kAliasX),
        malformed("wrongHeader",
                  "Windows Registry Editor Version 4.00\r\n" + threeSubkeys("", "", "", kAliasX)),
        malformed("emptyFile", ""),
        malformed("binaryGarbage", std::string("\x00\x01\x02\xFF\x80\x7F", 6)),
        malformed("strayLine", threeSubkeys(kV5, "", "", kAliasX) + "garbage\r\n"),
        malformed("valueBeforeAnyKey", std::string(kV5) + kAliasX),
        malformed("unterminatedKey",
                  std::string(kV5) + "[HKEY_CURRENT_USER\\Software\\Comune\r\n" + kAliasX),
        malformed("emptyKeyName", std::string(kV5) + "[HKEY_CURRENT_USER\\\\Software]\r\n"),
        malformed("unknownHive", std::string(kV5) + "[HKEY_ALTRO\\Software]\r\n"),
        malformed("unterminatedString", threeSubkeys(kV5, "", "", "\"AliasName\"=\"x\r\n")),
        malformed("textAfterString", threeSubkeys(kV5, "", "", "\"AliasName\"=\"x\" y\r\n")),
        malformed("missingEquals", threeSubkeys(kV5, "", "", "\"AliasName\" \"x\"\r\n")),
        malformed("unknownValueForm", threeSubkeys(kV5, "", "", "\"AliasName\"=qword:1\r\n")),
        malformed("badDword", threeSubkeys(kV5, "", "", "\"AliasName\"=dword:xyz\r\n")),
        malformed("longDword", threeSubkeys(kV5, "", "", "\"AliasName\"=dword:123456789\r\n")),
        malformed("badHexByte", threeSubkeys(kV5, "", "", "\"AliasName\"=hex(1):6g,00\r\n")),
        malformed("threeDigitHexByte", threeSubkeys(kV5, "", "", "\"AliasName\"=hex(1):616\r\n")),
        malformed("emptyHexItem", threeSubkeys(kV5, "", "", "\"AliasName\"=hex(1):61,,00\r\n")),
        malformed("hexTypeUnclosed", threeSubkeys(kV5, "", "", "\"AliasName\"=hex(1:61\r\n")),
        malformed("continuationAtEnd", threeSubkeys(kV5, "", "", "\"AliasName\"=hex(1):61,\\")),
        malformed("oddUtf16Length", utf16leWithBom(threeSubkeys(kV5, "", "", kAliasX)) + "x"),
        malformed("utf16BigEndian", "\xFE\xFF" + std::string("\0W", 2)),
        malformed("deleteWholeHive", std::string(kV5) + "[-HKEY_CURRENT_USER]\r\n")),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RegistryFile, missingFileIsAnEmptyRegistryWithoutProblem) {
    testing::TempFolder folder;
    RegistryFile registry(folder.path() / "none.reg");
    EXPECT_FALSE(registry.problem());
    EXPECT_EQ(registry.openCurrentUserKey("Software"), nullptr);
}

TEST(RegistryFile, folderInsteadOfFileIsAProblemNotACrash) {
    testing::TempFolder folder;
    std::filesystem::create_directory(folder.path() / "registry.reg");
    RegistryFile registry(folder.path() / "registry.reg");
    EXPECT_TRUE(registry.problem());
    EXPECT_EQ(readDefaultAlias(kKey, registry), "");
}

TEST(RegistryFile, subkeysEnumerateSortedWithoutRegardToCaseInFirstSpelling) {
    testing::TempFolder folder;
    const auto file = folder.write("registry.reg", std::string(kV5) +
                                                       "[HKEY_CURRENT_USER\\K\\beta]\r\n"
                                                       "[HKEY_CURRENT_USER\\K\\Alfa]\r\n"
                                                       "[HKEY_CURRENT_USER\\K\\BETA\\x]\r\n"
                                                       "[HKEY_CURRENT_USER\\K\\àncora]\r\n"
                                                       "[HKEY_CURRENT_USER\\K\\Gamma]\r\n");
    RegistryFile registry(file);
    const auto key = registry.openCurrentUserKey("k");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->subkeyNames(), (std::vector<std::string>{"Alfa", "beta", "Gamma", "àncora"}));
}

#ifndef _WIN32  // Windows reads its registry, never the registry file
TEST(RegistryFile, defaultPathFollowsTheEnvironment) {
    const char* old = getenv("TARVOLEN_REGISTRY");
    const std::string saved = old != nullptr ? old : "";
    setenv("TARVOLEN_REGISTRY", "/tmp/altro.reg", 1);
    EXPECT_EQ(RegistryFile::defaultPath(), "/tmp/altro.reg");
    unsetenv("TARVOLEN_REGISTRY");
    const char* home = getenv("HOME");
    if (home != nullptr) {
        EXPECT_EQ(RegistryFile::defaultPath(),
                  std::filesystem::path(home) / ".config/tarvolen/registry.reg");
    }
    if (old != nullptr) setenv("TARVOLEN_REGISTRY", saved.c_str(), 1);
}
#endif

// A file the user may only read stands for a key that cannot be opened with full access. The
// check runs as an unprivileged user, since the superuser may write any file.
#ifndef _WIN32  // another user: a child process that drops its privileges
TEST(RegistryFile, fileTheUserMayNotWriteHidesItsKeys) {
    testing::TempFolder folder;
    std::filesystem::permissions(folder.path(), std::filesystem::perms::owner_all |
                                                    std::filesystem::perms::group_read |
                                                    std::filesystem::perms::group_exec |
                                                    std::filesystem::perms::others_read |
                                                    std::filesystem::perms::others_exec);
    const auto file =
        folder.write("registry.reg", threeSubkeys(kV5, "", "", "\"AliasName\"=\"demo\"\r\n"));
    std::filesystem::permissions(file, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
    auto lookUpAs = [&](bool dropPrivileges) {
        const pid_t child = fork();
        if (child == 0) {
            if (dropPrivileges && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
            RegistryFile registry(file);
            _exit(readDefaultAlias(kKey, registry) == "demo" ? 1 : 0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const bool superuser = geteuid() == 0;
    EXPECT_EQ(lookUpAs(superuser), 0) << "a read-only file must hide the default alias";
    std::filesystem::permissions(file,
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::add);
    EXPECT_EQ(lookUpAs(superuser), 1) << "a writable file must give the default alias";
}
#endif

// The lookup opens nothing when the settings name no key.
TEST(ReadDefaultAlias, emptyKeyOpensNoRegistryKey) {
    class CountingRegistry : public RegistrySource {
      public:
        std::unique_ptr<RegistryKey> openCurrentUserKey(std::string_view) override {
            ++opened;
            return nullptr;
        }
        int opened = 0;
    } registry;
    EXPECT_EQ(readDefaultAlias("", registry), "");
    EXPECT_EQ(registry.opened, 0);
    EXPECT_EQ(readDefaultAlias("Software\\X", registry), "");
    EXPECT_EQ(registry.opened, 1);
}

}  // namespace
}  // namespace tarvolen::settings
