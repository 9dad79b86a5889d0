#pragma once
// The data module: the database connection, the queries and tables the engine works through,
// its working lists, and the engine operations on them.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/Connection.h"
#include "db/Query.h"
#include "db/Table.h"
#include "engine/EngineHost.h"
#include "engine/Versione.h"
#include "plan/ClientDataSet.h"
#include "plan/SharedPlanFile.h"

namespace tarvolen {

class MarksJournal;

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

    // Opens the plan table from its file, with the marks a killed run left in its journal of
    // done-marks applied (they are the file's, not changes of this program). Throws the
    // table's error when the plan is missing, empty or unreadable; the table then stays closed.
    void DataModuleCreate();
    // Closes the plan table, writing it back through the merge with the file when it changed.
    // Throws when the write-back fails (PlanInUse while another program holds the plan); the
    // table then stays open with its changes.
    void DataModuleDestroy();
    // The plan file as this program shares it with others: its lock, and the merge every
    // write of the plan table goes through.
    SharedPlanFile& PlanFile() { return SharedPlanOf(cdsQuery); }

    // Connects dbsagg to an alias with the held credentials: closes it, clears its parameters,
    // sets the alias and opens it. Errors carry the server's text.
    void Connect(const std::string& alias);
    // Reloads the plan table from its file, writing it back first when it changed.
    void ReloadPlan();
    // Refills TableNames from the connected database.
    void CollectTableNames();
    // NOME_COMUNE of the municipality that manages the database; empty when there is none.
    // Throws when the database lacks the registry tables.
    std::string ManagingMunicipality();

    // Throws EFCreateError when the plan file could not be replaced now (its folder takes no
    // new file, or has no room for a copy). Needs no open plan table, nor a connection.
    void CheckPlanFile();
    // Refuses a run before it touches anything: throws when a plan row breaks the field rules
    // (EDBClient naming row and field) or as CheckPlanFile does. REQUIRES: cdsQuery open.
    void CheckPlanForRun();
    // Marks done, in memory only, the phases a killed run recorded in the plan's journal of
    // done-marks (MarksJournal) but never wrote into the plan file. Returns how many rows it
    // marked. RunBatch does this first and writes the result; a dry run does it to see what a
    // run would. REQUIRES: cdsQuery open.
    int ApplyMarksJournal();
    // Holds the plan for the whole walk and first brings the plan table to the file as it
    // stands (SharedPlanFile::BringUpToDate), so no phase the file says is done runs again.
    // Walks the plan in ID order: skips phases done or already reached by the database, runs
    // the others, marks them done, writes the reached version and shows the summary box.
    // After each phase that ran it records the version reached when it rose, then journals the
    // phase's mark, so that no later failure or kill can lose either; the plan is written whole
    // when the walk ends. A phase applied whose mark cannot be saved anywhere ends the walk with
    // one log line, and MarkNotSaved after the summary.
    // A lost connection, a stop the host asks for, or a failed statement under StopOnError
    // ends the walk with one log line and throws BatchStopped after the summary; the phase in
    // flight stays due. Throws before anything runs when CheckPlanForRun refuses.
    // REQUIRES: dbsagg connected and cdsQuery open.
    void RunBatch();
    // Runs the current plan row as a script phase, raising `reachedVersion` after each
    // statement that succeeds on the database (isql's own commands run nothing and raise
    // nothing). False only when the separator cannot be read. Throws BatchStopped.
    bool RunScriptPhase(TVersione& reachedVersion);
    // Runs StatementLines in a transaction of its own. On failure logs it, sets
    // BatchHasErrors, rolls back and rethrows the database error; a lost connection is
    // rethrown as it is, unlogged, since it is no failure of the statement.
    void ExecuteStatement();
    // Comment removal and separator search as the script walk applies them.
    std::string StripComments(std::string_view text) const;
    size_t FindSeparator(std::string_view line, size_t offset) const;
    // Copies the current plan row's data file into its table, in one transaction: all rows
    // or none. Columns take the file's fields by position, or by name when the file holds
    // exactly the table's column names in another order (logged either way when the names
    // differ). A failure is logged and sets ImportFailed and BatchHasErrors; a lost connection
    // or a stop request throws BatchStopped.
    // In a run, the database and the journal of done-marks learn of the import as it commits:
    // a VERSIONE above the version the run reached is written to the version record in the
    // import's transaction, and the reached version rises to it; an import without VERSIONE
    // reserves its mark in the journal before it commits, and is undone, throwing BatchStopped,
    // when it cannot.
    void ImportTable();

    // Components. The connections come first so that they outlive what works through them.
    database::Connection dbsagg{"dbsagg"};
    database::Connection db{"DB"};  // never opened: only its name shows in the alias list
    database::Query qryVersioneDB{dbsagg, "qryVersioneDB"};
    database::Query FQuery{dbsagg, "FQuery"};
    database::Table TableStatistics{dbsagg, "TableStatistics"};
    database::Query Query{dbsagg, "Query"};
    database::Query qrGestore{dbsagg, "qrGestore"};
    database::Table Table{dbsagg, "Table"};

    // The plan table and the import reader.
    TClientDataSet cdsQuery{"cdsQuery"};
    TClientDataSet cds{"cds"};

    // When set, the first statement that fails ends the walk as a lost connection does.
    bool StopOnError = false;

    // State of the running batch.
    bool BatchHasErrors = false;
    bool ImportFailed = false;
    // Counted from the start of each run: statements the database refused, and imports that
    // failed and were undone.
    size_t FailedStatements = 0;
    size_t FailedImports = 0;
    // The phases of the run in which statements failed (the phase counts as done) or whose
    // import failed (the phase stays due), in the order they ran.
    struct PhaseFailures {
        int64_t id = 0;
        size_t failedStatements = 0;
        bool importFailed = false;
    };
    std::vector<PhaseFailures> FailedPhases;
    std::unique_ptr<TVersione> StartVersion;
    std::unique_ptr<TVersione> ReachedVersion;
    std::string Separator;
    std::vector<std::string_view> ScriptLines;     // point into the running phase's script text
    std::vector<std::string_view> StatementLines;  // the statement being gathered

    std::string LoginUser;
    std::string LoginPassword;
    std::vector<std::string> TableNames;
    std::vector<std::string> IndexNames;

  private:
    void Log(std::string_view text);
    // Reports m_progress, then lets pending events through.
    void Pump();
    // The five-entry error block: "ERRORE:", the message, a dashed line, the text, a dashed line.
    void LogError(std::string_view message, std::string_view text);
    // Rolls back dbsagg's transaction, if one is open, after a failure already on its way.
    void RollbackQuietly();
    std::string PhaseId();
    bool StopRequested() const { return m_host != nullptr && m_host->stopRequested(); }
    // Writes the version record afresh, as the walk's end does.
    void RecordVersion(const TVersione& version);
    // Writes the plan whole, then drops the journal whose marks that write carries.
    void SettleMarks(MarksJournal& journal);
    // Writes the plan table to its file, when it has one.
    void SavePlan();
    EngineHost* m_host = nullptr;
    RunProgress m_progress;
    // While a run walks: its journal of done-marks (none for a plan without a file), and the
    // version the version record holds.
    MarksJournal* m_marks = nullptr;
    TVersione m_recordedVersion;
    std::string m_scriptText;  // backs ScriptLines and StatementLines
};

}  // namespace tarvolen
