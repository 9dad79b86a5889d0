#include "engine/dm_main.h"

#include <algorithm>

#include "db/DatabaseError.h"
#include "engine/EngineHost.h"
#include "plan/PlanLayout.h"

namespace tarvolen {

namespace {

// Closes a query when the operation that opened it ends, however it ends.
class CloseOnExit {
  public:
    explicit CloseOnExit(database::Query& query) : m_query(query) {}
    ~CloseOnExit() { m_query.close(); }
    CloseOnExit(const CloseOnExit&) = delete;
    CloseOnExit& operator=(const CloseOnExit&) = delete;

  private:
    database::Query& m_query;
};

}  // namespace

TdmMain::TdmMain() {
    qryVersioneDB.setSql(
        "select  A.MAJOR_VERSION, A.MINOR_VERSION, A.RELEASE_VERSION, A.BUILD\r\n"
        "from    SYSDBVER A\r\n"
        "where (A.APPID = 'QLM') or (A.APPID <> 'VR7')\r\n");
    qryVersioneDB.setRequestLive(true);
    qrGestore.setSql(
        "select B.NOME_COMUNE from AFDATGEN A\r\n"
        "\r\n"
        "left join AFCOMUNI B on A.COD_ISTAT_GESTORE = B.ID_COMUNE\r\n");
    configurePlanTable(cdsQuery);
    dbsagg.setOnLogin([this](database::Connection& connection, database::LoginParams& params) {
        dbsaggLogin(connection, params);
    });
}

TdmMain::~TdmMain() = default;

void TdmMain::Log(std::string_view text) {
    if (m_host != nullptr) m_host->appendLog(text);
}

void TdmMain::Pump() {
    if (m_host == nullptr) return;
    m_host->reportProgress(m_progress);
    m_host->processEvents();
}

void TdmMain::LogError(std::string_view message, std::string_view text) {
    static constexpr std::string_view kDashes =
        "------------------------------------------------------";
    Log("ERRORE:");
    Log(message);
    Log(kDashes);
    Log(text);
    Log(kDashes);
}

void TdmMain::RollbackQuietly() {
    if (!dbsagg.inTransaction()) return;
    try {
        dbsagg.rollback();
    } catch (const database::DatabaseError&) {
        // The failure being handled is the one to report; a transaction that cannot be rolled
        // back died with its connection.
    }
}

std::string TdmMain::PhaseId() {
    return std::to_string(cdsQuery.FieldByName("ID").AsInteger());
}

void TdmMain::DataModuleCreate() {
    // Marks a killed run left in the journal show in the plan from the start (the plan table
    // applies them as it reads its file), and reach the file with the plan's next write.
    cdsQuery.Open();
}

void TdmMain::DataModuleDestroy() {
    cdsQuery.Close();
}

void TdmMain::Connect(const std::string& alias) {
    dbsagg.close();
    dbsagg.params().clear();
    dbsagg.setAliasName(alias);
    dbsagg.open();
}

void TdmMain::ReloadPlan() {
    cdsQuery.LoadFile(cdsQuery.FileName());
}

void TdmMain::CollectTableNames() {
    TableNames.clear();
    TableNames = dbsagg.tableNames();
}

std::string TdmMain::ManagingMunicipality() {
    CloseOnExit closer(qrGestore);
    qrGestore.open();
    return qrGestore.eof() ? std::string() : qrGestore.asString("NOME_COMUNE");
}

std::vector<std::string> TdmMain::GetDatabaseNames() const {
    const auto& config = dbsagg.aliasConfig();
    return database::databaseNames(config ? *config : database::AliasConfig::loadDefault(),
                                   {dbsagg.connectionName(), db.connectionName()});
}

void TdmMain::dbsaggLogin(database::Connection&, database::LoginParams& params) {
    params.setValue("USER NAME", LoginUser);
    params.setValue("PASSWORD", LoginPassword);
}

std::unique_ptr<TVersione> TdmMain::ReadDatabaseVersion() {
    auto version = std::make_unique<TVersione>();
    CloseOnExit closer(qryVersioneDB);
    qryVersioneDB.open();
    if (!qryVersioneDB.eof()) {
        version->Major = qryVersioneDB.asInteger("MAJOR_VERSION");
        version->Minor = qryVersioneDB.asInteger("MINOR_VERSION");
        version->Release = qryVersioneDB.asInteger("RELEASE_VERSION");
        version->Build = qryVersioneDB.asInteger("BUILD");
    }
    return version;
}

void TdmMain::WriteDatabaseVersion(const TVersione& version) {
    qryVersioneDB.open();
    const bool appending = qryVersioneDB.eof();
    if (appending)
        qryVersioneDB.append();
    else
        qryVersioneDB.edit();
    try {
        qryVersioneDB.setValue("MAJOR_VERSION", int64_t{version.Major});
        qryVersioneDB.setValue("MINOR_VERSION", int64_t{version.Minor});
        qryVersioneDB.setValue("RELEASE_VERSION", int64_t{version.Release});
        qryVersioneDB.setValue("BUILD", int64_t{version.Build});
        if (appending) {
            // A row without APPID fails the select's APPID tests, so it would never be read
            // back and each write would append another. 'QLM' is the value the select looks
            // for first.
            const auto columns = dbsagg.columns("SYSDBVER");
            const auto appId = std::find_if(columns.begin(), columns.end(),
                                            [](const auto& c) { return c.name == "APPID"; });
            if (appId != columns.end() && !appId->hasDefault && !appId->computed)
                qryVersioneDB.setValue("APPID", std::string("QLM"));
        }
        qryVersioneDB.post();
    } catch (...) {
        // An unposted version must not linger in the query, where the next read would take
        // it for the database's.
        qryVersioneDB.cancel();
        throw;
    }
}

void TdmMain::RecalculateStatistics() {
    Log("Calcolo statistiche database...");
    try {
        int count = 0;
        dbsagg.startTransaction();
        for (const std::string& table : TableNames) {
            TableStatistics.setTableName(table);
            IndexNames = TableStatistics.indexNames();
            for (const std::string& index : IndexNames) {
                FQuery.setSql("SET STATISTICS INDEX " + index);
                FQuery.execSql();
                ++count;
            }
        }
        dbsagg.commit();
        Log("STATISTICHE RICALCOLATE SU " + std::to_string(count) + " INDICI\r\n");
    } catch (const std::exception&) {
        // The operator sees only that the pass failed; its own message is not logged.
        Log("Errore nel calcolo delle statistiche del database\r\n");
        RollbackQuietly();
    }
}

}  // namespace tarvolen
