#pragma once
// A connection to the database behind an alias, with its one explicit transaction.
//
// Work done outside an explicit transaction is committed as each statement completes or each
// row is posted. Closing the connection closes every query and table on it and rolls back an
// open transaction.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/Aliases.h"

namespace tarvolen::database {

class Dataset;

// Login parameters as name=value lines ("USER NAME", "PASSWORD"). Names compare without
// regard to case.
class LoginParams {
  public:
    // The value of a parameter, empty when it has no line.
    std::string value(std::string_view name) const;
    // Sets a parameter; an empty value removes its line.
    void setValue(std::string_view name, std::string_view value);
    void clear() { m_lines.clear(); }
    const std::vector<std::pair<std::string, std::string>>& lines() const { return m_lines; }

  private:
    std::vector<std::pair<std::string, std::string>> m_lines;
};

// What a table's column is, as the catalogue describes it.
struct ColumnInfo {
    std::string name;
    std::string typeName;  // "INTEGER", "VARCHAR(40)", "NUMERIC(9,2)", ...
    bool nullable = true;
    bool hasDefault = false;  // the column or its domain supplies a default
    bool computed = false;    // COMPUTED BY: the server derives its value
};

class Connection {
  public:
    // Called while open() runs, before the database is reached, to fill "USER NAME" and
    // "PASSWORD" in the connection's parameters.
    using LoginHook = std::function<void(Connection&, LoginParams&)>;

    explicit Connection(std::string connectionName);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const std::string& connectionName() const { return m_name; }
    const std::string& aliasName() const { return m_alias; }
    // REQUIRES: the connection is closed.
    void setAliasName(std::string alias);
    LoginParams& params() { return m_params; }
    void setOnLogin(LoginHook hook) { m_onLogin = std::move(hook); }
    // The aliases open() consults; without one, the file AliasConfig::locate() finds, read
    // afresh at each open.
    void setAliasConfig(std::shared_ptr<const AliasConfig> config) { m_config = std::move(config); }
    const std::shared_ptr<const AliasConfig>& aliasConfig() const { return m_config; }

    // The settings of the alias, resolved as open() resolves them. Throws as open() does when
    // the alias cannot be resolved.
    AliasSettings aliasSettings() const;

    // Connects to the alias. Does nothing when already connected. Errors carry the server's
    // text, or name the alias when it cannot be resolved. A database another program holds
    // without a server throws DatabaseInUse, which says so and what to do before that text.
    void open();
    void close();
    bool connected() const;
    // The character set the open connection talks in (the alias's Charset); empty while closed.
    const std::string& characterSet() const { return m_characterSet; }

    // Creates the database the alias names and stays connected to it.
    void createDatabase();
    // Drops the connected database; the connection is closed afterwards.
    void dropDatabase();

    // User tables (no system tables, no views) in name order.
    std::vector<std::string> tableNames();
    // Index names of a table, in the order the table's indexes were defined. Throws when the
    // database has no such table.
    std::vector<std::string> indexNames(std::string_view tableName);
    // Columns of a table in the table's own order. Throws when there is no such table.
    std::vector<ColumnInfo> columns(std::string_view tableName);

    // One read-committed transaction; statements, queries and posts run in it until it ends.
    void startTransaction();
    void commit();
    void rollback();
    bool inTransaction() const;

    // Runs one statement; its text reaches the server as written, colons included. A select
    // runs and its rows are dropped. Transaction control statements are refused: the
    // connection keeps its transactions itself.
    void execute(std::string_view sql);

    struct Impl;  // private to db/

  private:
    friend class Dataset;
    void attach(bool create);
    void endTransaction(bool commit);
    std::string m_name;
    std::string m_alias;
    std::string m_characterSet;
    LoginParams m_params;
    LoginHook m_onLogin;
    std::shared_ptr<const AliasConfig> m_config;
    std::unique_ptr<Impl> m_impl;
};

// The client library shuts every connection of the process down when the process receives
// SIGINT or SIGTERM, so that the statement in flight and every later one fail. A program that
// handles those signals itself, to end its work cleanly, calls this once before its first
// connection: the client then leaves its connections as they are. It loads the client library
// when the machine has one (it installs handlers of its own as it loads), and does nothing when
// it has none.
void keepConnectionsOnInterrupt();

// Base of the queries and tables that work through a connection, so closing the connection
// can close them.
class Dataset {
  public:
    Dataset(const Dataset&) = delete;
    Dataset& operator=(const Dataset&) = delete;
    virtual ~Dataset();

    const std::string& name() const { return m_name; }
    Connection& connection() const { return *m_connection; }
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

  protected:
    // REQUIRES: the connection outlives the dataset.
    Dataset(Connection& connection, std::string name);
    // The explicit transaction ended; a dataset reading through it must close.
    virtual void transactionEnded() {}
    Connection::Impl& impl() const { return *m_connection->m_impl; }

  private:
    friend class Connection;
    Connection* m_connection;
    std::string m_name;
};

}  // namespace tarvolen::database
