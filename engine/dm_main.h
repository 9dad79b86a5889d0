#pragma once
// The data module: the database connection, the queries and tables the engine works through,
// its working lists, and the engine operations on them.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Connection.h"
#include "Query.h"
#include "Table.h"
#include "Versione.h"

namespace tarvolen {

class EngineHost;

class TdmMain {
  public:
    TdmMain();
    ~TdmMain();
    TdmMain(const TdmMain&) = delete;
    TdmMain& operator=(const TdmMain&) = delete;

    // Where log lines and message boxes go; none until a window exists to show them.
    void setHost(EngineHost* host) { m_host = host; }
    EngineHost* host() const { return m_host; }

    // The names offered for selection: every alias plus the names of dbsagg and DB, sorted
    // without regard to case, each once.
    std::vector<std::string> GetDatabaseNames() const;
    // Login hook of dbsagg: hands over the credentials typed into the login dialog.
    void dbsaggLogin(database::Connection& connection, database::LoginParams& params);

    // The version the connected database records; 0.0.0.0 when no row qualifies. Leaves
    // qryVersioneDB closed however it ends.
    std::unique_ptr<TVersione> ReadDatabaseVersion();
    // Stores the version in the first qualifying row, or appends one. Leaves qryVersioneDB
    // open. Commits as the row is posted; starts no transaction.
    void WriteDatabaseVersion(const TVersione& version);
    // SET STATISTICS INDEX for every index of every table in TableNames, in one transaction.
    // Reports only in the log; never throws for a database failure.
    void RecalculateStatistics();

    // Components. The connections come first so that they outlive what works through them.
    database::Connection dbsagg{"dbsagg"};
    database::Connection db{"DB"};  // never opened: only its name shows in the alias list
    database::Query qryVersioneDB{dbsagg, "qryVersioneDB"};
    database::Query FQuery{dbsagg, "FQuery"};
    database::Table TableStatistics{dbsagg, "TableStatistics"};

    std::string LoginUser;
    std::string LoginPassword;
    std::vector<std::string> TableNames;
    std::vector<std::string> IndexNames;

  private:
    void Log(std::string_view text);
    EngineHost* m_host = nullptr;
};

}  // namespace tarvolen
