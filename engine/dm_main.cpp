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
    m_qryVersioneDB.setSql(
        "select  A.MAJOR_VERSION, A.MINOR_VERSION, A.RELEASE_VERSION, A.BUILD\r\n"
        "from    SYSDBVER A\r\n"
        "where (A.APPID = 'QLM') or (A.APPID <> 'VR7')\r\n");
    m_qryVersioneDB.setRequestLive(true);
    m_qrGestore.setSql(
        "select B.NOME_COMUNE from AFDATGEN A\r\n"
        "\r\n"
        "left join AFCOMUNI B on A.COD_ISTAT_GESTORE = B.ID_COMUNE\r\n");
    configurePlanTable(m_cdsQuery);
    m_dbsagg.setOnLogin([this](database::Connection& connection, database::LoginParams& params) {
        dbsaggLogin(connection, params);
    });
}

TdmMain::~TdmMain() = default;

void TdmMain::Log(std::string_view text) {
    if (m_host != nullptr) m_host->appendLog(text);
}

void TdmMain::Pump(const RunProgress& progress) {
    if (m_host == nullptr) return;
    m_host->reportProgress(progress);
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
    if (!m_dbsagg.inTransaction()) return;
    try {
        m_dbsagg.rollback();
    } catch (const database::DatabaseError&) {
        // The failure being handled is the one to report; a transaction that cannot be rolled
        // back died with its connection.
    }
}

std::string TdmMain::PhaseId() {
    return std::to_string(m_cdsQuery.FieldByName(planfield::kId).AsInteger());
}

void TdmMain::DataModuleCreate() {
    // Marks a killed run left in the journal show in the plan from the start (the plan table
    // applies them as it reads its file), and reach the file with the plan's next write.
    m_cdsQuery.Open();
}

void TdmMain::DataModuleDestroy() {
    m_cdsQuery.Close();
}

void TdmMain::Connect(const std::string& alias) {
    m_dbsagg.close();
    m_dbsagg.params().clear();
    m_dbsagg.setAliasName(alias);
    m_dbsagg.open();
}

void TdmMain::ReloadPlan() {
    m_cdsQuery.LoadFile(m_cdsQuery.FileName());
}

void TdmMain::CollectTableNames() {
    m_tableNames.clear();
    m_tableNames = m_dbsagg.tableNames();
}

std::string TdmMain::ManagingMunicipality() {
    CloseOnExit closer(m_qrGestore);
    m_qrGestore.open();
    return m_qrGestore.eof() ? std::string() : m_qrGestore.asString("NOME_COMUNE");
}

std::vector<std::string> TdmMain::GetDatabaseNames() const {
    const auto& config = m_dbsagg.aliasConfig();
    return database::databaseNames(config ? *config : database::AliasConfig::loadDefault(),
                                   {m_dbsagg.connectionName(), m_db.connectionName()});
}

void TdmMain::dbsaggLogin(database::Connection&, database::LoginParams& params) {
    params.setValue("USER NAME", LoginUser);
    params.setValue("PASSWORD", LoginPassword);
}

std::unique_ptr<TVersione> TdmMain::ReadDatabaseVersion() {
    auto version = std::make_unique<TVersione>();
    CloseOnExit closer(m_qryVersioneDB);
    m_qryVersioneDB.open();
    if (!m_qryVersioneDB.eof()) {
        version->Major = m_qryVersioneDB.asInteger("MAJOR_VERSION");
        version->Minor = m_qryVersioneDB.asInteger("MINOR_VERSION");
        version->Release = m_qryVersioneDB.asInteger("RELEASE_VERSION");
        version->Build = m_qryVersioneDB.asInteger("BUILD");
    }
    return version;
}

void TdmMain::WriteDatabaseVersion(const TVersione& version) {
    m_qryVersioneDB.open();
    const bool appending = m_qryVersioneDB.eof();
    if (appending)
        m_qryVersioneDB.append();
    else
        m_qryVersioneDB.edit();
    try {
        m_qryVersioneDB.setValue("MAJOR_VERSION", int64_t{version.Major});
        m_qryVersioneDB.setValue("MINOR_VERSION", int64_t{version.Minor});
        m_qryVersioneDB.setValue("RELEASE_VERSION", int64_t{version.Release});
        m_qryVersioneDB.setValue("BUILD", int64_t{version.Build});
        if (appending) {
            // A row without APPID fails the select's APPID tests, so it would never be read
            // back and each write would append another. 'QLM' is the value the select looks
            // for first.
            const auto columns = m_dbsagg.columns("SYSDBVER");
            const auto appId = std::find_if(columns.begin(), columns.end(),
                                            [](const auto& c) { return c.name == "APPID"; });
            if (appId != columns.end() && !appId->hasDefault && !appId->computed)
                m_qryVersioneDB.setValue("APPID", std::string("QLM"));
        }
        m_qryVersioneDB.post();
    } catch (...) {
        // An unposted version must not linger in the query, where the next read would take
        // it for the database's.
        m_qryVersioneDB.cancel();
        throw;
    }
}

void TdmMain::RecalculateStatistics() {
    Log("Calcolo statistiche database...");
    try {
        int count = 0;
        m_dbsagg.startTransaction();
        for (const std::string& table : m_tableNames) {
            m_statisticsTable.setTableName(table);
            m_indexNames = m_statisticsTable.indexNames();
            for (const std::string& index : m_indexNames) {
                m_statisticsQuery.setSql("SET STATISTICS INDEX " + index);
                m_statisticsQuery.execSql();
                ++count;
            }
        }
        m_dbsagg.commit();
        Log("STATISTICHE RICALCOLATE SU " + std::to_string(count) + " INDICI\r\n");
    } catch (const database::ConnectionLost&) {
        // Not a failure of the pass: nothing more can run, and the caller must say so.
        RollbackQuietly();
        throw;
    } catch (const std::exception&) {
        // The operator sees only that the pass failed; its own message is not logged.
        Log("Errore nel calcolo delle statistiche del database\r\n");
        RollbackQuietly();
    }
}

}  // namespace tarvolen
