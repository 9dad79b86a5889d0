// The names of backup files: made from the alias, the version and the time, read back from the
// right so that an alias holding dashes and dots still reads whole; the listing of a folder.

#include "engine/BackupFiles.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>

#include "plan/Errors.h"
#include "tests/support/TestFolder.h"

namespace tarvolen {
namespace {

namespace fs = std::filesystem;

class BackupFileNames : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef _WIN32
        _putenv_s("TZ", "UTC");
        _tzset();
#else
        setenv("TZ", "UTC", 1);
        tzset();
#endif
    }
    // 2026-05-02 14:03:07 UTC
    const std::chrono::system_clock::time_point m_time =
        std::chrono::system_clock::from_time_t(1777730587);
};

TEST_F(BackupFileNames, aNameHoldsAliasVersionAndLocalTime) {
    EXPECT_EQ(BackupFileName("anagrafe", "1.2.0.0", m_time),
              "anagrafe-1.2.0.0-20260502-140307.fbk");
    EXPECT_EQ(BackupFileName("anagrafe", "1.2.0.0", m_time, 3),
              "anagrafe-1.2.0.0-20260502-140307-3.fbk");
    // Characters a file name should not hold become "_".
    EXPECT_EQ(BackupFileName("comune/Mondov\xEC 2", "1.0.0.0", m_time),
              "comune_Mondov__2-1.0.0.0-20260502-140307.fbk");
}

TEST_F(BackupFileNames, aNameIsReadBackFromTheRight) {
    struct Case {
        std::string name;
        bool isBackup;
        std::string alias, version, stamp;
    };
    const Case cases[] = {
        {"anagrafe-1.2.0.0-20260502-140307.fbk", true, "anagrafe", "1.2.0.0", "20260502-140307"},
        {"anagrafe-1.2.0.0-20260502-140307-2.fbk", true, "anagrafe", "1.2.0.0", "20260502-140307"},
        {"alba-1.0-test-1.10.0.3-20261231-235959.fbk", true, "alba-1.0-test", "1.10.0.3",
         "20261231-235959"},
        {"a-0.0.0.0-20260502-140307.fbk", true, "a", "0.0.0.0", "20260502-140307"},
        {"anagrafe-1.2.0.0-20260502-140307.FBK", false},
        {"anagrafe-1.2.0-20260502-140307.fbk", false},
        {"1.2.0.0-20260502-140307.fbk", false},
        {"anagrafe-1.2.0.0-2026050-140307.fbk", false},
        {".anagrafe-1.2.0.0-20260502-140307.fbk.123-4.5.6", false},
        {".anagrafe-1.2.0.0-20260502-140307.fbk", false},
        {"dbquery.xml", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto info = ParseBackupFileName(c.name);
        ASSERT_EQ(info.has_value(), c.isBackup);
        if (!info) continue;
        EXPECT_EQ(info->alias, c.alias);
        EXPECT_EQ(info->version, c.version);
        EXPECT_EQ(info->stamp, c.stamp);
    }
    EXPECT_EQ(ParseBackupFileName("anagrafe-1.2.0.0-20260502-140307.fbk")->takenText(),
              "2026-05-02 14:03:07");
    // What a name is made of comes back out of it.
    const auto back = ParseBackupFileName(BackupFileName("x-1.2.0.0", "3.4.5.6", m_time, 12));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->alias, "x-1.2.0.0");
    EXPECT_EQ(back->version, "3.4.5.6");
}

TEST_F(BackupFileNames, aFolderListsItsBackupsNewestFirst) {
    const testing::TempFolder folder;
    const auto write = [&](const std::string& name, size_t bytes) {
        std::ofstream(folder.path() / name, std::ios::binary) << std::string(bytes, 'x');
    };
    write("anagrafe-1.0.0.0-20260502-140307.fbk", 10);
    write("anagrafe-1.1.0.0-20260503-090000.fbk", 2048);
    write("anagrafe-1.1.0.0-20260503-090000-2.fbk", 30);
    write("storico-2.0.0.0-20250101-000000.fbk", 40);
    // Still being written, another kind of file, a folder of a backup's name.
    write(".anagrafe-1.2.0.0-20260504-090000.fbk.99-1.2.3", 50);
    write("note.txt", 1);
    fs::create_directory(folder.path() / "vecchio-1.0.0.0-20270101-000000.fbk");

    const std::vector<BackupFileInfo> found = ListBackups(folder.path().string());
    std::vector<std::string> names;
    for (const auto& backup : found) names.push_back(fs::path(backup.path).filename().string());
    EXPECT_EQ(names,
              (std::vector<std::string>{
                  "anagrafe-1.1.0.0-20260503-090000.fbk", "anagrafe-1.1.0.0-20260503-090000-2.fbk",
                  "anagrafe-1.0.0.0-20260502-140307.fbk", "storico-2.0.0.0-20250101-000000.fbk"}));
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[0].bytes, 2048u);
    EXPECT_EQ(SizeText(found[0].bytes), "2.0 KB");

    EXPECT_THROW(ListBackups((folder.path() / "nessuna").string()), EFOpenError);
}

TEST(BackupSizes, readAsBinaryMultiples) {
    EXPECT_EQ(SizeText(0), "0 B");
    EXPECT_EQ(SizeText(1023), "1023 B");
    EXPECT_EQ(SizeText(1536), "1.5 KB");
    EXPECT_EQ(SizeText(uint64_t{300} << 20), "300.0 MB");
    EXPECT_EQ(SizeText(uint64_t{5} << 40), "5.0 TB");
}

}  // namespace
}  // namespace tarvolen
