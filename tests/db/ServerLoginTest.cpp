// Logins that need real authentication, against the local Firebird server that
// scripts/firebird-server starts. Outside CI they are skipped, saying why, when no server is
// there; in CI (CI=true) a missing server is a failure.

#include <gtest/gtest.h>

#include <cstdlib>

#include "db/Connection.h"
#include "db/DatabaseError.h"
#include "tests/support/LocalServer.h"
#include "tests/support/TempDatabase.h"

namespace tarvolen::database {
namespace {

namespace fs = std::filesystem;

class ServerLoginTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_password = testing::sysdbaPassword();
        if (const std::string why = testing::localServerMissing(m_password); !why.empty()) {
            const char* ci = std::getenv("CI");
            if (ci != nullptr && std::string(ci) == "true") FAIL() << why;
            GTEST_SKIP() << why;
        }
        // The server, running as its own user, creates and drops the file here.
        m_folder = testing::makeTempFolder("tarvolen-server-");
        fs::permissions(m_folder, fs::perms::all);
        const std::string file = (m_folder / "server.fdb").string();
        m_config = std::make_shared<AliasConfig>(AliasConfig::parse(
            "[server]\nDatabase = localhost:" + file + "\n[server_port]\nDatabase = 127.0.0.1/" +
                std::to_string(testing::kLocalServerPort) + ":" + file + "\n",
            m_folder / "aliases.ini"));
        Connection creator("creator");
        useCredentials(creator, "server", "SYSDBA", m_password);
        creator.createDatabase();
        m_created = true;
    }

    void TearDown() override {
        if (m_created) {
            try {
                Connection dropper("dropper");
                useCredentials(dropper, "server", "SYSDBA", m_password);
                dropper.open();
                dropper.dropDatabase();
            } catch (const DatabaseError& e) {
                ADD_FAILURE() << "the server database could not be dropped: " << e.what();
            }
        }
        if (!m_folder.empty()) fs::remove_all(m_folder);
    }

    // As the data module does: the login hook hands over the typed credentials.
    void useCredentials(Connection& connection, const std::string& alias, std::string user,
                        std::string password) {
        connection.setAliasConfig(m_config);
        connection.setAliasName(alias);
        connection.params().clear();
        connection.setOnLogin([user, password](Connection&, LoginParams& params) {
            params.setValue("USER NAME", user);
            params.setValue("PASSWORD", password);
        });
    }

    std::string m_password;
    fs::path m_folder;
    std::shared_ptr<const AliasConfig> m_config;
    bool m_created = false;
};

TEST_F(ServerLoginTest, theServerChecksTheCredentials) {
    const std::string refused =
        "Your user name and password are not defined. Ask your database administrator to set "
        "up a Firebird login.";
    const struct {
        const char* alias;
        const char* user;
        std::string password;
        bool accepted;
    } cases[] = {
        {"server", "SYSDBA", m_password, true}, {"server_port", "sysdba", m_password, true},
        {"server", "SYSDBA", "wrong", false},   {"server", "NOBODY", m_password, false},
        {"server", "SYSDBA", "", false},
    };
    Connection connection("dbsagg");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.alias) + " " + c.user + " / " +
                     (c.password == m_password ? "right password" : "'" + c.password + "'"));
        connection.close();
        useCredentials(connection, c.alias, c.user, c.password);
        if (c.accepted) {
            connection.open();
            ASSERT_TRUE(connection.connected());
            EXPECT_EQ(testing::selectText(connection, "select current_user from rdb$database"),
                      "SYSDBA");
            continue;
        }
        try {
            connection.open();
            ADD_FAILURE() << "the server let the login through";
        } catch (const DatabaseError& e) {
            EXPECT_EQ(std::string(e.what()), refused);
        }
        EXPECT_FALSE(connection.connected());
    }
}

}  // namespace
}  // namespace tarvolen::database
