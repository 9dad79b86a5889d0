// Reading "RegKey" from the settings file beside the executable.

#include <gtest/gtest.h>

#include <ostream>

#include "SettingsTestSupport.h"
#include "app/settings/DefaultAlias.h"
#include "app/settings/IniFile.h"

namespace tarvolen::settings {
namespace {

struct IniCase {
    const char* name;
    std::string text;
    std::string expected;
};

// Shown by test runners in place of the raw bytes of the case.
void PrintTo(const IniCase& c, std::ostream* os) {
    *os << c.name;
}

class IniValueTest : public ::testing::TestWithParam<IniCase> {};

TEST_P(IniValueTest, readsRegKeyOfUpdateSettings) {
    EXPECT_EQ(iniValue(GetParam().text, "UpdateSettings", "RegKey"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniValueTest,
    ::testing::Values(
        IniCase{"plain", "[UpdateSettings]\nRegKey=Software\\Comune\n", "Software\\Comune"},
        IniCase{"windowsLineEnds", "[UpdateSettings]\r\nRegKey=Software\\Comune\r\n",
                "Software\\Comune"},
        IniCase{"namesIgnoreCase", "[updatesettings]\nREGKEY=A\\B\n", "A\\B"},
        IniCase{"blanksAroundNameAndValue", "[ UpdateSettings ]\n  RegKey \t=  A B \t\n", "A B"},
        IniCase{"emptyValue", "[UpdateSettings]\nRegKey=\n", ""},
        IniCase{"valueKeepsLaterEquals", "[UpdateSettings]\nRegKey=a=b\n", "a=b"},
        IniCase{"valueKeepsSemicolon", "[UpdateSettings]\nRegKey=a ;b\n", "a ;b"},
        IniCase{"commentLinesSkipped", "[UpdateSettings]\n;RegKey=old\nRegKey=new\n", "new"},
        IniCase{"firstKeyCounts", "[UpdateSettings]\nRegKey=first\nRegKey=second\n", "first"},
        IniCase{"firstSectionCounts",
                "[UpdateSettings]\nOther=1\n[UpdateSettings]\nRegKey=second\n", ""},
        IniCase{"otherSectionIgnored", "[Other]\nRegKey=x\n[UpdateSettings]\nRegKey=y\n", "y"},
        IniCase{"keyInOtherSectionOnly", "[Other]\nRegKey=x\n", ""},
        IniCase{"keyBeforeAnySection", "RegKey=x\n[UpdateSettings]\n", ""},
        IniCase{"missingSection", "[Altro]\nChiave=1\n", ""}, IniCase{"emptyText", "", ""},
        IniCase{"lineWithoutEquals", "[UpdateSettings]\nRegKey\nRegKey=z\n", "z"},
        IniCase{"longValueCut", "[UpdateSettings]\nRegKey=" + std::string(3000, 'k') + "\n",
                std::string(kIniValueMaxChars, 'k')},
        IniCase{"longValueCutByCharacters",
                "[UpdateSettings]\nRegKey=" +
                    [] {
                        std::string s;
                        for (int i = 0; i < 2100; ++i) s += "\xC3\xA8";
                        return s;
                    }() +
                    "\n",
                [] {
                    std::string s;
                    for (size_t i = 0; i < kIniValueMaxChars; ++i) s += "\xC3\xA8";
                    return s;
                }()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadAliasRegistryKey, readsTarvolenIniOfTheGivenFolder) {
    testing::TempFolder folder;
    folder.write("tarvolen.ini", "[UpdateSettings]\nRegKey=Software\\Demo\n");
    EXPECT_EQ(readAliasRegistryKey(folder.path()), "Software\\Demo");
}

TEST(ReadAliasRegistryKey, missingFileGivesEmpty) {
    testing::TempFolder folder;
    EXPECT_EQ(readAliasRegistryKey(folder.path()), "");
}

TEST(ReadAliasRegistryKey, folderNamedLikeTheFileGivesEmpty) {
    testing::TempFolder folder;
    std::filesystem::create_directory(folder.path() / "tarvolen.ini");
    EXPECT_EQ(readAliasRegistryKey(folder.path()), "");
}

TEST(ReadAliasRegistryKey, readsUtf16FileWithByteOrderMark) {
    testing::TempFolder folder;
    folder.write("tarvolen.ini",
                 testing::utf16leWithBom("[UpdateSettings]\r\nRegKey=Software\\Città\r\n"));
    EXPECT_EQ(readAliasRegistryKey(folder.path()), "Software\\Citt\xC3\xA0");
}

TEST(ReadAliasRegistryKey, readsUtf8FileWithByteOrderMark) {
    testing::TempFolder folder;
    folder.write("tarvolen.ini", "\xEF\xBB\xBF[UpdateSettings]\nRegKey=Software\\X\n");
    EXPECT_EQ(readAliasRegistryKey(folder.path()), "Software\\X");
}

TEST(ReadAliasRegistryKey, readsWindows1252FileAsItsCharacters) {
    testing::TempFolder folder;
    folder.write("tarvolen.ini", "[UpdateSettings]\nRegKey=Software\\Citt\xE0\n");
    EXPECT_EQ(readAliasRegistryKey(folder.path()), "Software\\Citt\xC3\xA0");
}

struct IniWriteCase {
    const char* name;
    std::string before;
    std::string after;
};

void PrintTo(const IniWriteCase& c, std::ostream* os) {
    *os << c.name;
}

class IniWriteTest : public ::testing::TestWithParam<IniWriteCase> {};

TEST_P(IniWriteTest, setsBackupDirOfUpdateSettingsLeavingTheRest) {
    const std::string after =
        withIniValue(GetParam().before, "UpdateSettings", "BackupDir", "/srv/backup");
    EXPECT_EQ(after, GetParam().after);
    // What was written is what is read.
    EXPECT_EQ(iniValue(after, "UpdateSettings", "BackupDir"), "/srv/backup");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniWriteTest,
    ::testing::Values(
        IniWriteCase{"emptyText", "", "[UpdateSettings]\nBackupDir=/srv/backup\n"},
        IniWriteCase{"keyAddedAfterTheSectionsLastLine",
                     "; settings\n[UpdateSettings]\nRegKey=Software\\A\n\n[Other]\nX=1\n",
                     "; settings\n[UpdateSettings]\nRegKey=Software\\A\nBackupDir=/srv/backup\n"
                     "\n[Other]\nX=1\n"},
        IniWriteCase{"keyReplacedInPlace", "[UpdateSettings]\nbackupdir = old\nRegKey=A\n",
                     "[UpdateSettings]\nBackupDir=/srv/backup\nRegKey=A\n"},
        IniWriteCase{"commentedKeyLeftAlone", "[UpdateSettings]\n;BackupDir=old\n",
                     "[UpdateSettings]\n;BackupDir=old\nBackupDir=/srv/backup\n"},
        IniWriteCase{"windowsLineEndsKept", "[UpdateSettings]\r\nRegKey=A\r\n",
                     "[UpdateSettings]\r\nRegKey=A\r\nBackupDir=/srv/backup\r\n"},
        IniWriteCase{"lastLineWithoutLineEnd", "[UpdateSettings]\nRegKey=A",
                     "[UpdateSettings]\nRegKey=A\nBackupDir=/srv/backup\n"},
        IniWriteCase{"sectionMissing", "[Other]\nX=1\n",
                     "[Other]\nX=1\n[UpdateSettings]\nBackupDir=/srv/backup\n"},
        IniWriteCase{"onlyTheFirstSectionOfTheName",
                     "[UpdateSettings]\nRegKey=A\n[UpdateSettings]\nBackupDir=second\n",
                     "[UpdateSettings]\nRegKey=A\nBackupDir=/srv/backup\n[UpdateSettings]\n"
                     "BackupDir=second\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarvolen::settings
