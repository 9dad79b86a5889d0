#pragma once
// A database of the test's own on the local server (LocalServer.h), for tests where several
// programs must be attached at once, as the window and the command line are in use: created
// through an alias of the test's alias file, and dropped at the end.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "db/Aliases.h"
#include "db/Connection.h"
#include "db/DatabaseError.h"
#include "tests/support/LocalServer.h"

namespace tarvolen::database::testing {

class ServerDatabase {
  public:
    // Nothing is created until create(); the folder must be open to the server's own user.
    ServerDatabase() = default;
    ~ServerDatabase() {
        if (!m_created) return;
        try {
            connect("dropper")->dropDatabase();
        } catch (const DatabaseError& e) {
            ADD_FAILURE() << "the server database could not be dropped: " << e.what();
        }
    }
    ServerDatabase(const ServerDatabase&) = delete;
    ServerDatabase& operator=(const ServerDatabase&) = delete;

    // Why the local server cannot be used; empty when it can.
    std::string missing() {
        m_password = sysdbaPassword();
        return localServerMissing(m_password);
    }
    // Creates the database that `alias` of `aliasFile` names, as SYSDBA.
    void create(const std::filesystem::path& aliasFile, const std::string& alias) {
        m_aliasFile = aliasFile;
        m_alias = alias;
        Connection creator("creator");
        login(creator);
        creator.createDatabase();
        m_created = true;
    }
    std::unique_ptr<Connection> connect(const std::string& name = "probe") const {
        auto connection = std::make_unique<Connection>(name);
        login(*connection);
        connection->open();
        return connection;
    }
    const std::string& password() const { return m_password; }

  private:
    void login(Connection& connection) const {
        connection.setAliasConfig(std::make_shared<AliasConfig>(AliasConfig::load(m_aliasFile)));
        connection.setAliasName(m_alias);
        connection.params().setValue("USER NAME", "SYSDBA");
        connection.params().setValue("PASSWORD", m_password);
    }

    std::string m_password;
    std::filesystem::path m_aliasFile;
    std::string m_alias;
    bool m_created = false;
};

// Skips the test, saying why, when the local server cannot be used; in CI (CI=true) that is a
// failure. For a fixture's SetUp: TARVOLEN_REQUIRE_LOCAL_SERVER(m_server);
#define TARVOLEN_REQUIRE_LOCAL_SERVER(database)                            \
    do {                                                                   \
        if (const std::string why = (database).missing(); !why.empty()) {  \
            const char* ci = std::getenv("CI");                            \
            if (ci != nullptr && std::string(ci) == "true") FAIL() << why; \
            GTEST_SKIP() << why;                                           \
        }                                                                  \
    } while (false)

}  // namespace tarvolen::database::testing
