#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "plan/PacketCodec.h"

namespace tarvolen::testing {
namespace {

const std::string kDashes = "------------------------------------------------------";

using BatchRun = EngineTest;

TEST_F(BatchRun, anEmptyPlanWritesTheVersionBackUnchanged) {
    loadPlan({});
    m_dm.RunBatch();
    EXPECT_EQ(m_host.log,
              (std::vector<std::string>{"Versione del DB PRIMA dell'aggiornamento: 0.0.0.0",
                                        "Versione del DB DOPO l'aggiornamento: 0.0.0.0"}));
    EXPECT_EQ(m_host.messages,
              (std::vector<std::string>{"Query batch: Batch eseguito correttamente"}));
    EXPECT_EQ(count("select count(*) from SYSDBVER where APPID = 'QLM'"), 1);
}

TEST_F(BatchRun, walksInIdOrderSkippingDoneAndReachedPhases) {
    setDatabaseVersion("1, 0, 0, 0");
    m_dm.dbsagg().execute("create table T (N integer)");
    loadPlan({
        {.id = 5, .testo = "insert into T values (5);", .versione = "1.0.0.0"},  // reached: skipped
        {.id = 2, .stato = "S", .testo = "insert into T values (2);"},           // already done
        {.id = 3, .stato = "s", .testo = "insert into T values (3);"},  // lower case: not done
        {.id = 4, .tipo = "x"},                                         // no action, marked
        {.id = 1, .testo = "insert into T values (1);", .versione = " 2.0.0.0 "},
        {.id = 6,
         .testo = "insert into T values (6);",
         .versione = "1.5.0.0"},  // tested against the start
    });
    m_dm.RunBatch();
    EXPECT_EQ(m_host.log,
              (std::vector<std::string>{
                  "Versione del DB PRIMA dell'aggiornamento: 1.0.0.0",
                  "FASE 1 SCRIPT IN ESECUZIONE.",
                  "FASE 1 TERMINATA.",
                  "FASE 2 PROCEDURA GIA' ESEGUITA.",
                  "FASE 3 SCRIPT IN ESECUZIONE.",
                  "FASE 3 TERMINATA.",
                  "FASE 5 NON ESEGUITA PER VERSIONE DATABASE.",
                  "FASE 6 SCRIPT IN ESECUZIONE.",
                  "FASE 6 TERMINATA.",
                  // " 2.0.0.0 " is parsed untrimmed when raising: its last piece reads 0
                  "Versione del DB DOPO l'aggiornamento: 2.0.0.0",
              }));
    EXPECT_EQ(m_host.messages,
              (std::vector<std::string>{"Query batch: Batch eseguito correttamente"}));
    EXPECT_EQ(stato(1), "S");
    EXPECT_EQ(stato(3), "S");
    EXPECT_EQ(stato(4), "S");
    EXPECT_EQ(stato(5), "N");
    EXPECT_EQ(count("select count(*) from T"), 3);
    EXPECT_EQ(databaseVersion(), "2.0.0.0");
    EXPECT_GE(m_host.events, 6);  // once per phase, at least
}

TEST_F(BatchRun, onlyStatementsThatSucceedRaiseTheVersion) {
    setDatabaseVersion("1, 0, 0, 0");
    loadPlan({
        {.id = 1, .testo = "this is not sql;", .versione = "3.0.0.0"},
        {.id = 2, .testo = "create table T (N integer);", .versione = "1.2"},
        {.id = 3, .tipo = "I", .versione = "9.0.0.0", .nomeTabella = "T", .nomeFile = "none.xml"},
    });
    m_dm.RunBatch();
    EXPECT_EQ(databaseVersion(), "1.0.1.2");
    EXPECT_TRUE(m_dm.BatchHasErrors());
}

TEST_F(BatchRun, anImportRecordsItsVersionWithItsRowsOrNotAtAll) {
    setDatabaseVersion("1, 0, 0, 0");
    m_dm.dbsagg().execute("create table T (N integer check (N < 3))");
    const auto file = [](const std::string& rows) {
        return "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"N\" "
               "fieldtype=\"i4\"/></FIELDS><PARAMS/></METADATA><ROWDATA>" +
               rows + "</ROWDATA></DATAPACKET>";
    };
    writeFile("ok.xml", file("<ROW N=\"1\"/><ROW N=\"2\"/>"));
    writeFile("refused.xml", file("<ROW N=\"1\"/><ROW N=\"2\"/><ROW N=\"3\"/>"));
    const auto import = [&](int id, const std::string& versione, const std::string& name) {
        return Phase{.id = id,
                     .tipo = "I",
                     .versione = versione,
                     .nomeTabella = "T",
                     .nomeFile = path(name)};
    };
    const struct {
        const char* name;
        std::vector<Phase> plan;
        std::string version;  // the version record after the run
        int64_t rows;         // rows in T after it
        std::string importStato;
    } cases[] = {
        {"the rows commit with the version", {import(1, "1.5.0.0", "ok.xml")}, "1.5.0.0", 2, "S"},
        {"a refused row undoes the version too",
         {import(1, "1.5.0.0", "refused.xml")},
         "1.0.0.0",
         0,
         "N"},
        {"a version a script already passed stays",
         {{.id = 1, .testo = "insert into T values (0);", .versione = "2.0.0.0"},
          import(2, "1.5.0.0", "ok.xml")},
         "2.0.0.0",
         3,
         "S"},
        {"no version, none recorded", {import(1, "", "ok.xml")}, "1.0.0.0", 2, "S"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_dm.dbsagg().execute("delete from T");
        m_dm.dbsagg().execute("update SYSDBVER set MAJOR_VERSION = 1, MINOR_VERSION = 0");
        m_dm.qryVersioneDB().close();  // the run reads the version afresh
        m_host.log.clear();
        loadPlan(c.plan);
        m_dm.RunBatch();
        EXPECT_EQ(databaseVersion(), c.version);
        EXPECT_EQ(m_host.log.back(), "Versione del DB DOPO l'aggiornamento: " + c.version);
        EXPECT_EQ(count("select count(*) from T"), c.rows);
        EXPECT_EQ(stato(c.plan.back().id), c.importStato);
    }
}

TEST_F(BatchRun, aFailedStatementIsLoggedInFiveEntriesAndTheScriptGoesOn) {
    m_dm.dbsagg().execute("create table T (N integer)");
    loadPlan({{.id = 1,
               .testo = "insert into T values (1);\r\n  insert into NOPE values (2); /* x */\r\n"
                        "insert into T values (3);"}});
    m_dm.RunBatch();
    ASSERT_EQ(m_host.log.size(), 10u);
    EXPECT_EQ(m_host.log[2], "ERRORE:");
    EXPECT_NE(m_host.log[3].find("NOPE"), std::string::npos) << m_host.log[3];
    EXPECT_EQ(m_host.log[4], kDashes);
    EXPECT_EQ(m_host.log[5], "  insert into NOPE values (2)\r\n\r\n");
    EXPECT_EQ(m_host.log[6], kDashes);
    EXPECT_EQ(m_host.log[7], "FASE 1 TERMINATA.");
    // One more line says what the failure means for the phase.
    EXPECT_EQ(m_host.log[8],
              "FASE 1: 1 ISTRUZIONE FALLITA; LA FASE E' CONSIDERATA ESEGUITA E NON VERRA' "
              "RIPETUTA.");
    ASSERT_EQ(m_dm.LastRun().failedPhases.size(), 1u);
    EXPECT_EQ(m_dm.LastRun().failedPhases[0].id, 1);
    EXPECT_EQ(m_dm.LastRun().failedPhases[0].failedStatements, 1u);
    EXPECT_FALSE(m_dm.LastRun().failedPhases[0].importFailed);
    EXPECT_EQ(count("select count(*) from T"), 2);
    EXPECT_EQ(m_host.messages,
              (std::vector<std::string>{"Query batch: Batch eseguito con errori"}));
    EXPECT_EQ(stato(1), "S");
}

TEST_F(BatchRun, scriptCommitsAndTrailingCommentsAreHarmless) {
    loadPlan(
        {{.id = 1,
          .testo = "create table T (N integer);\r\ncommit work;\r\ninsert into T values (1);\r\n"
                   "COMMIT;\r\nrollback;\r\n-- the end; nothing more\r\n/* really */\r\n"}});
    m_dm.RunBatch();
    EXPECT_FALSE(m_dm.BatchHasErrors()) << ::testing::PrintToString(m_host.log);
    EXPECT_FALSE(m_dm.dbsagg().inTransaction());
    EXPECT_EQ(count("select count(*) from T"), 1);
}

TEST_F(BatchRun, textAfterTheLastSeparatorIsReportedNotRun) {
    m_dm.dbsagg().execute("create table T (N integer)");
    loadPlan({{.id = 1, .testo = "insert into T values (1);\r\ninsert into T values (2)"},
              {.id = 2, .separatore = "go", .testo = "insert into T values (3) GO"}});
    m_dm.RunBatch();
    EXPECT_EQ(count("select count(*) from T"), 1);
    const std::vector<std::string> block = {
        "ERRORE:", "Testo dopo l'ultimo separatore non eseguito", kDashes,
        "insert into T values (2)\r\n", kDashes};
    EXPECT_NE(std::search(m_host.log.begin(), m_host.log.end(), block.begin(), block.end()),
              m_host.log.end())
        << ::testing::PrintToString(m_host.log);
    EXPECT_EQ(m_host.messages,
              (std::vector<std::string>{"Query batch: Batch eseguito con errori"}));
}

TEST_F(BatchRun, marksReachThePlanFileWhenTheModuleCloses) {
    loadPlan({{.id = 1, .testo = "create table T (N integer);"}, {.id = 2, .stato = "S"}});
    m_dm.RunBatch();
    m_dm.DataModuleDestroy();
    const DataPacket file = decodePacket(readWholeFile(path("dbquery.xml")));
    ASSERT_EQ(file.rows.size(), 3u);  // the superseded version and the marked one
    EXPECT_EQ(file.changeLog, (std::vector<ChangeLogEntry>{{3, 1, 8}}));
    EXPECT_EQ(std::get<std::string>(file.rows[2].values[1]), "S");
}

TEST_F(BatchRun, aVersionThatCannotBeReadStopsTheRunBeforeItStarts) {
    loadPlan({{.id = 1, .testo = "create table T (N integer);"}});
    m_dm.dbsagg().execute("drop table SYSDBVER");
    EXPECT_THROW(m_dm.RunBatch(), database::DatabaseError);
    EXPECT_TRUE(m_host.messages.empty()) << "a failed start shows no summary";
    EXPECT_TRUE(m_host.log.empty());
    EXPECT_EQ(stato(1), "N");
}

TEST_F(BatchRun, aPlanThatIsNotLoadedStopsTheRunBeforeItStarts) {
    setDatabaseVersion("1, 0, 0, 0");
    EXPECT_THROW(m_dm.RunBatch(), EDatabaseError);
    EXPECT_TRUE(m_host.messages.empty());
    EXPECT_EQ(count("select BUILD from SYSDBVER"), 0);
    EXPECT_EQ(count("select count(*) from SYSDBVER"), 1);
}

TEST_F(BatchRun, aVersionThatCannotBeWrittenFailsAfterTheSummary) {
    setDatabaseVersion("1, 0, 0, 0");
    m_dm.dbsagg().execute("alter table SYSDBVER add constraint NO_WRITE check (MAJOR_VERSION < 1)");
    loadPlan({{.id = 1, .testo = "create table T (N integer);"}});
    EXPECT_THROW(m_dm.RunBatch(), database::DatabaseError);
    // The summary does not call a run that failed correct.
    EXPECT_EQ(m_host.messages,
              (std::vector<std::string>{"Query batch: Batch eseguito con errori"}));
    EXPECT_EQ(m_host.log.back(), "FASE 1 TERMINATA.");  // no walk-complete line
    EXPECT_EQ(stato(1), "S");
}

}  // namespace
}  // namespace tarvolen::testing
