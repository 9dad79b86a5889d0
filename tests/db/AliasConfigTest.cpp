#include <gtest/gtest.h>

#include <fstream>

#include "db/Aliases.h"
#include "db/Connection.h"
#include "db/DatabaseError.h"
#include "tests/support/TempDatabase.h"

namespace tarvolen::database {
namespace {

using testing::makeTempFolder;
using testing::ScopedEnv;
namespace fs = std::filesystem;

const fs::path kOrigin = "/etc/tarvolen/aliases.ini";

TEST(AliasConfig, readsEveryKeyAndFillsDefaults) {
    const auto config = AliasConfig::parse(
        "; comment line\n"
        "# another\n"
        "[anagrafe]\n"
        "  database = /data/anagrafe.fdb   ; keys are not case-sensitive\n"
        "CHARSET=NONE\n"
        "Role = OPERATORE\n"
        "LockTimeout = 5\n"
        "\n"
        "[Minimal]\n"
        "Database = \"dati/con spazi;e punto.fdb\"\n"
        "\n"
        "[remote]\n"
        "Database = dbserver/3051:/srv/db/anagrafe.fdb\n",
        kOrigin);

    EXPECT_EQ(config.names(), (std::vector<std::string>{"anagrafe", "Minimal", "remote"}));

    const auto full = config.find("ANAGRAFE");
    EXPECT_EQ(full.name, "anagrafe");
    EXPECT_EQ(full.database, "/data/anagrafe.fdb");
    EXPECT_EQ(full.charset, "NONE");
    EXPECT_EQ(full.role, "OPERATORE");
    EXPECT_EQ(full.lockTimeout, 5);
    EXPECT_FALSE(full.isRemote());

    const auto minimal = config.find("minimal");
    EXPECT_EQ(minimal.database, "/etc/tarvolen/dati/con spazi;e punto.fdb");
    EXPECT_EQ(minimal.charset, "WIN1252");
    EXPECT_EQ(minimal.role, "");
    EXPECT_EQ(minimal.lockTimeout, 60);

    const auto remote = config.find("remote");
    EXPECT_EQ(remote.database, "dbserver/3051:/srv/db/anagrafe.fdb");
    EXPECT_TRUE(remote.isRemote());
}

TEST(AliasConfig, errorsNameTheAliasOrTheLine) {
    const struct {
        const char* text;
        const char* alias;
        const char* message;
    } cases[] = {
        {"[a]\nDatabase = x.fdb\n", "nosuch",
         "Unknown alias \"nosuch\" in \"/etc/tarvolen/aliases.ini\""},
        {"[a]\nCharset = NONE\n", "a",
         "Alias \"a\" in \"/etc/tarvolen/aliases.ini\" has no Database key"},
        {"[a]\nDatabase =\n", "a",
         "Alias \"a\" in \"/etc/tarvolen/aliases.ini\" has no Database key"},
        {"[a]\nDatabase = x\nLockTimeout = abc\n", "a",
         "Alias \"a\" in \"/etc/tarvolen/aliases.ini\": LockTimeout must be a whole number of "
         "seconds from 0 to 32767, not \"abc\""},
        {"[a]\nDatabase = x\nLockTimeout = -1\n", "a", "not \"-1\""},
        {"[a]\nDatabase = x\nLockTimeout = 40000\n", "a", "not \"40000\""},
        {"[a]\nDatabase = x\njust words\n", "a",
         "Alias file \"/etc/tarvolen/aliases.ini\", line 3: expected [alias] or Key = value"},
        {"Database = x\n[a]\n", "a",
         "Alias file \"/etc/tarvolen/aliases.ini\", line 1: a key before the first [alias] "
         "section"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            (void)AliasConfig::parse(c.text, kOrigin).find(c.alias);
            ADD_FAILURE() << "no error";
        } catch (const DatabaseError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

TEST(AliasConfig, databaseNamesAddTheConnectionsSortAndDropDuplicates) {
    const auto config = AliasConfig::parse(
        "[zeta]\nDatabase=z\n[Alpha]\nDatabase=a\n[db]\nDatabase=d\n[alpha]\nDatabase=a2\n"
        "[Beta]\nDatabase=b\n",
        kOrigin);
    EXPECT_EQ(databaseNames(config, {"dbsagg", "DB"}),
              (std::vector<std::string>{"Alpha", "Beta", "db", "dbsagg", "zeta"}));
    EXPECT_EQ(databaseNames(AliasConfig{}, {"dbsagg", "DB"}),
              (std::vector<std::string>{"DB", "dbsagg"}));
}

TEST(AliasConfig, fileIsFoundByEnvironmentThenHomeThenBesideTheProgram) {
    const fs::path folder = makeTempFolder("tarvolen-alias-");
    const fs::path home = folder / "home";
    fs::create_directories(home / ".config" / "tarvolen");
    const fs::path explicitFile = folder / "explicit.ini";
    const fs::path homeFile = home / ".config" / "tarvolen" / "aliases.ini";
    std::ofstream(explicitFile) << "[fromenv]\nDatabase = e.fdb\n";
    std::ofstream(homeFile) << "[fromhome]\nDatabase = h.fdb\n";
    const fs::path besideFile = fs::read_symlink("/proc/self/exe").parent_path() / "aliases.ini";
    ASSERT_FALSE(fs::exists(besideFile)) << "a stray " << besideFile << " would hide this case";

    {
        ScopedEnv env("TARVOLEN_ALIASES", explicitFile.c_str());
        ScopedEnv homeEnv("HOME", home.c_str());
        EXPECT_EQ(AliasConfig::locate(), explicitFile);
        EXPECT_EQ(AliasConfig::loadDefault().names(), std::vector<std::string>{"fromenv"});
    }
    {
        ScopedEnv env("TARVOLEN_ALIASES", nullptr);
        ScopedEnv homeEnv("HOME", home.c_str());
        EXPECT_EQ(AliasConfig::locate(), homeFile);
    }
    {
        ScopedEnv env("TARVOLEN_ALIASES", nullptr);
        ScopedEnv homeEnv("HOME", folder.c_str());
        EXPECT_EQ(AliasConfig::locate(), std::nullopt);
        EXPECT_TRUE(AliasConfig::loadDefault().names().empty());
        std::ofstream(besideFile) << "[beside]\nDatabase = b.fdb\n";
        EXPECT_EQ(AliasConfig::locate(), besideFile);
        fs::remove(besideFile);
    }
    fs::remove_all(folder);
}

TEST(AliasConfig, connectingThroughAnUnreadableFileNamesTheAliasAndTheFile) {
    const fs::path folder = makeTempFolder("tarvolen-alias-");
    const fs::path missing = folder / "missing.ini";
    ScopedEnv env("TARVOLEN_ALIASES", missing.c_str());
    Connection connection("dbsagg");
    connection.setAliasName("anagrafe");
    try {
        connection.open();
        ADD_FAILURE() << "connected without an alias file";
    } catch (const DatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), "Alias \"anagrafe\": Cannot read the alias file \"" +
                                             missing.string() + "\": No such file or directory");
    }
    EXPECT_FALSE(connection.connected());
    fs::remove_all(folder);
}

}  // namespace
}  // namespace tarvolen::database
