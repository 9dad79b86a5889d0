#pragma once
// The data module: the database connection, the queries and tables the engine works through,
// its working lists, and the engine operations on them.

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/Connection.h"
#include "db/Query.h"
#include "db/Table.h"
#include "engine/BatchRun.h"
#include "engine/EngineHost.h"
#include "engine/Versione.h"
#include "plan/ClientDataSet.h"
#include "plan/SharedPlanFile.h"

namespace tarvolen {

class MarksJournal;
class ImportRows;
class ScriptSplitter;

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
    // Reports a failed pass only in the log; a lost connection alone goes on to the caller, as
    // it is, since nothing can run after it.
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
    SharedPlanFile& PlanFile() { return SharedPlanOf(m_cdsQuery); }

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
    // Returns what the walk came to; however it ends, LastRun() holds the same from then on.
    // REQUIRES: dbsagg connected and cdsQuery open.
    RunSummary RunBatch();
    // What the last walk came to, however it ended; empty before the first.
    const RunSummary& LastRun() const { return m_lastRun; }
    bool BatchHasErrors() const { return m_lastRun.BatchHasErrors; }
    bool ImportFailed() const { return m_lastRun.ImportFailed; }

    // Components. Every operation of the engine works through dbsagg and the plan table.
    database::Connection& dbsagg() { return m_dbsagg; }
    const database::Connection& dbsagg() const { return m_dbsagg; }
    TClientDataSet& cdsQuery() { return m_cdsQuery; }
    const TClientDataSet& cdsQuery() const { return m_cdsQuery; }
    // The reader of the last import's data file.
    TClientDataSet& cds() { return m_importReader; }
    database::Query& qryVersioneDB() { return m_qryVersioneDB; }
    // The table names of the connected database, as CollectTableNames found them, and the
    // index names of the last table the statistics pass treated.
    const std::vector<std::string>& TableNames() const { return m_tableNames; }
    // The tables the statistics pass treats, as another source than the connection gives them.
    void SetTableNames(std::vector<std::string> names) { m_tableNames = std::move(names); }
    const std::vector<std::string>& IndexNames() const { return m_indexNames; }

    // When set, the first statement that fails ends the walk as a lost connection does.
    bool StopOnError = false;
    // The credentials dbsaggLogin hands over.
    std::string LoginUser;
    std::string LoginPassword;

  private:
    // The phases RunBatch runs, each with the walk's state.
    // Runs the current plan row as a script phase of `run`, raising run.ReachedVersion after
    // each statement that succeeds on the database (isql's own commands run nothing and raise
    // nothing). False only when the separator cannot be read. Throws BatchStopped.
    bool RunScriptPhase(BatchRun& run);
    // Runs `statement` (the lines gathered for it) in a transaction of its own. On failure logs
    // it, counts it in `run`, rolls back and rethrows the database error; a lost connection is
    // rethrown as it is, unlogged, since it is no failure of the statement.
    void ExecuteStatement(const std::vector<std::string_view>& statement, BatchRun& run);
    // Copies the current plan row's data file into its table, in one transaction: all rows
    // or none. Columns take the file's fields by position, or by name when the file holds
    // exactly the table's column names in another order (logged either way when the names
    // differ). A failure is logged and counted in `run` (ImportFailed, BatchHasErrors); a lost
    // connection or a stop request throws BatchStopped.
    // The database and the journal of done-marks learn of the import as it commits: a VERSIONE
    // above the version the run reached is written to the version record in the import's
    // transaction, and the reached version rises to it; an import without VERSIONE reserves its
    // mark in the journal before it commits, and is undone, throwing BatchStopped, when it
    // cannot.
    void ImportTable(BatchRun& run);

    void Log(std::string_view text);
    // Reports `progress`, then lets pending events through.
    void Pump(const RunProgress& progress);
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

    // The steps of RunBatch (BatchRunner.cpp).
    // Writes into the plan what a killed run left in its journal, and empties the journal.
    void ApplyKilledRunJournal(MarksJournal& journal);
    // Walks the plan from its first row. Ends early only for a script whose separator cannot
    // be read.
    enum class WalkEnd { Complete, SeparatorUnreadable };
    WalkEnd WalkPhases(BatchRun& run);
    // Runs or passes over the current row. WalkEnds: the walk ends here, the row unmarked.
    enum class PhaseEnd { Next, WalkEnds };
    PhaseEnd RunOnePhase(BatchRun& run);
    // Records the version the run reached when it rose, then the phase's done-mark.
    // `applied`: the phase changed the database (a phase of no action did not).
    void RecordVersionThenMark(BatchRun& run, bool applied);
    // The mark of a phase applied when the journal cannot take it: the plan is saved whole.
    void SaveMarkWithoutJournal(BatchRun& run, bool applied);
    // The walk's summary box.
    void ShowSummary(const RunSummary& summary);

    // The steps of ImportTable (TableImport.cpp).
    struct ImportPhase;
    // The current plan row's import, as `run` stands.
    ImportPhase DescribeImport(const BatchRun& run);
    // Reads the data file a piece at a time and inserts its rows as they are decoded, in one
    // transaction that opens once the file's layout is read; the file's own refusals come first.
    void StreamRows(BatchRun& run, ImportPhase& phase);
    // The log's lines on how the data file's text was taken and how its fields meet the table.
    void LogHowTheFileWasRead(const ImportPhase& phase, const ImportRows& rows);
    // The import's done-mark, reserved in the journal before the rows commit.
    void ReserveImportMark(BatchRun& run, const ImportPhase& phase);
    // Logs and counts an import that failed and was undone.
    void ReportFailedImport(BatchRun& run, ImportPhase& phase, const std::runtime_error& e);

    // The steps of RunScriptPhase (ScriptPhase.cpp).
    struct ScriptPhase;
    // Hands a statement the splitter gathered to the database, raising the reached version
    // when it succeeds.
    void RunStatement(BatchRun& run, const ScriptPhase& phase,
                      const std::vector<std::string_view>& lines);
    // Logs the text of the script that never reaches the database, as a failure of the run.
    void LogUnrunText(BatchRun& run, const ScriptSplitter& splitter);

    EngineHost* m_host = nullptr;

    // The connections come first so that they outlive what works through them.
    database::Connection m_dbsagg{"dbsagg"};
    database::Connection m_db{"DB"};  // never opened: only its name shows in the alias list
    database::Query m_qryVersioneDB{m_dbsagg, "qryVersioneDB"};
    database::Query m_statisticsQuery{m_dbsagg, "FQuery"};
    database::Table m_statisticsTable{m_dbsagg, "TableStatistics"};
    database::Query m_statementQuery{m_dbsagg, "Query"};
    database::Query m_qrGestore{m_dbsagg, "qrGestore"};
    database::Table m_importTable{m_dbsagg, "Table"};

    // The plan table and the import reader.
    TClientDataSet m_cdsQuery{"cdsQuery"};
    TClientDataSet m_importReader{"cds"};

    std::vector<std::string> m_tableNames;
    std::vector<std::string> m_indexNames;
    RunSummary m_lastRun;
};

}  // namespace tarvolen
