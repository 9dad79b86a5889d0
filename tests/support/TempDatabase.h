#pragma once
// A database of its own for one test: created embedded in a fresh temporary folder, and
// dropped, folder and all, when the test is done with it.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/Aliases.h"
#include "db/Connection.h"
#include "db/DatabaseError.h"
#include "db/Query.h"

namespace tarvolen::database::testing {

inline std::filesystem::path makeTempFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = getenv(name)) m_old = old;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old)
            setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

  private:
    std::string m_name;
    std::optional<std::string> m_old;
};

class TempDatabase {
  public:
    explicit TempDatabase(std::string charset = "WIN1252") : m_charset(std::move(charset)) {
        m_folder = makeTempFolder("tarvolen-db-");
        Connection creator("creator");
        creator.setAliasConfig(config());
        creator.setAliasName("test");
        creator.params().setValue("USER NAME", "SYSDBA");
        creator.createDatabase();
    }

    ~TempDatabase() {
        try {
            Connection dropper("dropper");
            dropper.setAliasConfig(config());
            dropper.setAliasName("test");
            dropper.params().setValue("USER NAME", "SYSDBA");
            dropper.open();
            dropper.dropDatabase();
        } catch (const DatabaseError& e) {
            ADD_FAILURE() << "the test database could not be dropped: " << e.what();
        }
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
    }

    TempDatabase(const TempDatabase&) = delete;
    TempDatabase& operator=(const TempDatabase&) = delete;

    const std::filesystem::path& folder() const { return m_folder; }
    std::filesystem::path file() const { return m_folder / "test.fdb"; }
    const std::string& charset() const { return m_charset; }

    // Alias "test" on the database, with extra "Key = value" lines.
    std::shared_ptr<const AliasConfig> config(const std::string& extraKeys = "") const {
        return std::make_shared<AliasConfig>(AliasConfig::parse(
            "[test]\nDatabase = test.fdb\nCharset = " + m_charset + "\n" + extraKeys,
            m_folder / "aliases.ini"));
    }

    // An open connection to the database as SYSDBA.
    std::unique_ptr<Connection> connect(const std::string& name = "test",
                                        const std::string& extraKeys = "") const {
        auto connection = std::make_unique<Connection>(name);
        connection->setAliasConfig(config(extraKeys));
        connection->setAliasName("test");
        connection->params().setValue("USER NAME", "SYSDBA");
        connection->open();
        return connection;
    }

  private:
    std::string m_charset;
    std::filesystem::path m_folder;
};

// Every row of a select, each column as Value.
inline std::vector<std::vector<Value>> selectRows(Connection& connection, const std::string& sql) {
    Query query(connection, "probe");
    query.setSql(sql);
    query.open();
    std::vector<std::vector<Value>> rows;
    for (; !query.eof(); query.next()) {
        auto& row = rows.emplace_back();
        for (int i = 0; i < query.fieldCount(); ++i) row.push_back(query.value(query.fieldName(i)));
    }
    return rows;
}

// The first column of the first row as text ("" for null or no row).
inline std::string selectText(Connection& connection, const std::string& sql) {
    const auto rows = selectRows(connection, sql);
    return rows.empty() ? std::string{} : valueText(rows[0][0]);
}

inline int64_t selectCount(Connection& connection, const std::string& sql) {
    const auto rows = selectRows(connection, sql);
    return rows.empty() ? -1 : std::get<int64_t>(rows[0][0]);
}

}  // namespace tarvolen::database::testing
