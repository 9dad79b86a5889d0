// How a run ends when it cannot or must not go on: a lost connection, a stop request, the first
// failed statement under StopOnError, a plan that breaks its rules or cannot be saved; and what
// each phase leaves on disk and in the database as the run goes.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "EngineTestSupport.h"
#include "engine/BatchStopped.h"
#include "plan/MarksJournal.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "plan/PacketCodec.h"

namespace tarvolen::testing {
namespace {

using database::testing::selectCount;
using database::testing::selectText;

const std::string kKept = ". LE ISTRUZIONI PRECEDENTI SONO CONFERMATE; LA FASE RESTA DA ESEGUIRE.";

class WalkEnd : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        m_dm.dbsagg().execute("create table T (P integer, N integer)");
        setDatabaseVersion("1, 0, 0, 0");
    }
    // Phase p inserts the rows (p, 1) .. (p, n), one statement per line, and brings 1.p.0.0.
    static Phase inserts(int p, int n) {
        Phase phase{.id = p, .versione = "1." + std::to_string(p) + ".0.0"};
        for (int i = 1; i <= n; ++i)
            phase.testo +=
                "insert into T values (" + std::to_string(p) + ", " + std::to_string(i) + ");\r\n";
        return phase;
    }
    // The STATO each phase has on disk, in ID order: in the plan file, or "S" when the plan's
    // journal of done-marks holds its ID.
    std::string statiOnDisk() const {
        TClientDataSet plan("cdsQuery");
        configurePlanTable(plan);
        plan.SetFileName("");
        plan.LoadFile(path("dbquery.xml"));
        const std::vector<int64_t> journal = MarksJournal(path("dbquery.xml")).Read();
        std::string stati;
        for (plan.First(); !plan.Eof(); plan.Next()) {
            const bool journalled = std::find(journal.begin(), journal.end(),
                                              plan.FieldByName("ID").AsInteger()) != journal.end();
            stati += journalled ? "S" : plan.FieldByName("STATO").AsString();
        }
        return stati;
    }
    // Runs the batch, which must end with BatchStopped for `reason`; returns its message.
    std::string runUntilStopped(BatchStopped::Reason reason) {
        try {
            m_dm.RunBatch();
        } catch (const BatchStopped& e) {
            EXPECT_EQ(e.reason(), reason);
            return e.what();
        }
        ADD_FAILURE() << "the walk went to its end: " << ::testing::PrintToString(m_host.log);
        return {};
    }
};

TEST_F(WalkEnd, aLostConnectionEndsTheWalkAtTheStatementItMet) {
    loadPlan({inserts(1, 2), inserts(2, 3), inserts(3, 1)});
    auto observer = m_db.connect("observer");
    const std::string victim =
        selectText(m_dm.dbsagg(), "select current_connection from rdb$database");
    m_host.onProgress = [&](const RunProgress& p) {
        // Before the third line of phase 2, the attachment is shut down under the run.
        if (p.phaseId == 2 && p.unit == RunProgress::Unit::Lines && p.done == 2)
            observer->execute("delete from mon$attachments where mon$attachment_id = " + victim);
    };
    const std::string line =
        "FASE 2 INTERROTTA ALL'ISTRUZIONE 3 (RIGA 3): CONNESSIONE AL DATABASE PERSA "
        "(connection shutdown)" +
        kKept;
    EXPECT_EQ(runUntilStopped(BatchStopped::Reason::ConnectionLost), line);
    EXPECT_EQ(m_host.log,
              (std::vector<std::string>{"Versione del DB PRIMA dell'aggiornamento: 1.0.0.0",
                                        "FASE 1 SCRIPT IN ESECUZIONE.", "FASE 1 TERMINATA.",
                                        "FASE 2 SCRIPT IN ESECUZIONE.", line}));
    EXPECT_EQ(m_host.messages,
              (std::vector<std::string>{"Query batch: Batch eseguito con errori"}));
    EXPECT_EQ(stato(1) + stato(2) + stato(3), "SNN");
    EXPECT_EQ(statiOnDisk(), "SNN");
    EXPECT_EQ(selectText(*observer, "select list(P || '.' || N) from T"), "1.1,1.2,2.1,2.2");
    EXPECT_EQ(
        selectText(*observer,
                   "select MAJOR_VERSION || '.' || MINOR_VERSION || '.' || RELEASE_VERSION || "
                   "'.' || BUILD from SYSDBVER"),
        "1.1.0.0");
}

TEST_F(WalkEnd, aStopRequestEndsTheWalkWhereItIsAsked) {
    struct Case {
        const char* name;
        std::function<bool(const RunProgress&)> stopAt;
        std::string line;
        std::string stati;
        int64_t rows;
    };
    const Case cases[] = {
        {"before a phase",
         [](const RunProgress& p) { return p.phaseId == 2 && p.unit == RunProgress::Unit::None; },
         "ESECUZIONE INTERROTTA PRIMA DELLA FASE 2: INTERRUZIONE RICHIESTA.", "SNN", 2},
        {"between two lines of a script",
         [](const RunProgress& p) {
             return p.phaseId == 2 && p.unit == RunProgress::Unit::Lines && p.done == 1;
         },
         "FASE 2 INTERROTTA ALL'ISTRUZIONE 2 (RIGA 2): INTERRUZIONE RICHIESTA" + kKept, "SNN", 3},
        {"at the start of an import",
         [](const RunProgress& p) { return p.phaseId == 3 && p.unit == RunProgress::Unit::Rows; },
         "FASE 3 IMPORT TABELLA T INTERROTTO: INTERRUZIONE RICHIESTA. NESSUNA RIGA IMPORTATA; LA "
         "FASE RESTA DA ESEGUIRE.",
         "SSN", 5},
    };
    writeFile(
        "rows.xml",
        "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"P\" fieldtype=\"i4\"/>"
        "<FIELD attrname=\"N\" fieldtype=\"i4\"/></FIELDS><PARAMS/></METADATA><ROWDATA>"
        "<ROW P=\"3\" N=\"1\"/></ROWDATA></DATAPACKET>");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_dm.dbsagg().execute("delete from T");
        m_dm.dbsagg().execute("update SYSDBVER set MINOR_VERSION = 0");
        // The last write left the query open on the row as it wrote it; the next run must read
        // the row as it is now.
        m_dm.qryVersioneDB().close();
        m_host = RecordingHost{};
        loadPlan({inserts(1, 2),
                  inserts(2, 3),
                  {.id = 3, .tipo = "I", .nomeTabella = "T", .nomeFile = path("rows.xml")}});
        m_host.onProgress = [&](const RunProgress& p) { m_host.stop = m_host.stop || c.stopAt(p); };
        EXPECT_EQ(runUntilStopped(BatchStopped::Reason::StopRequested), c.line);
        EXPECT_EQ(m_host.log.back(), c.line) << ::testing::PrintToString(m_host.log);
        EXPECT_EQ(stato(1) + stato(2) + stato(3), c.stati);
        EXPECT_EQ(statiOnDisk(), c.stati);
        EXPECT_EQ(count("select count(*) from T"), c.rows);
        EXPECT_FALSE(m_dm.dbsagg().inTransaction());
    }
}

TEST_F(WalkEnd, stopOnErrorEndsTheWalkAtTheFirstFailedStatement) {
    for (const bool stopOnError : {true, false}) {
        SCOPED_TRACE(stopOnError);
        m_dm.dbsagg().execute("delete from T");
        m_host = RecordingHost{};
        m_dm.StopOnError = stopOnError;
        loadPlan({{.id = 1,
                   .testo = "insert into T values (1, 1);\r\ninsert into NOPE values (1);\r\n"
                            "insert into T values (1, 3);\r\n"},
                  inserts(2, 1)});
        if (stopOnError) {
            const std::string line =
                "FASE 1 INTERROTTA ALL'ISTRUZIONE 2 (RIGA 2): ISTRUZIONE FALLITA CON L'ARRESTO AL "
                "PRIMO ERRORE" +
                kKept;
            EXPECT_EQ(runUntilStopped(BatchStopped::Reason::StatementFailed), line);
            ASSERT_GE(m_host.log.size(), 7u);
            EXPECT_EQ(m_host.log[2], "ERRORE:");  // the failure itself is logged as always
            EXPECT_EQ(m_host.log.back(), line);
            EXPECT_EQ(stato(1) + stato(2), "NN");
            EXPECT_EQ(count("select count(*) from T"), 1);
        } else {
            m_dm.RunBatch();
            EXPECT_EQ(stato(1) + stato(2), "SS");
            EXPECT_EQ(count("select count(*) from T"), 3);
        }
        EXPECT_EQ(m_host.messages.back(), "Query batch: Batch eseguito con errori");
    }
    m_dm.StopOnError = false;
}

TEST_F(WalkEnd, eachPhaseLeavesItsVersionAndThenItsMarkOnDisk) {
    m_dm.dbsagg().execute("delete from SYSDBVER");  // no version row yet: the first write adds it
    loadPlan({inserts(1, 1), {.id = 2, .stato = "S"}, inserts(3, 1), inserts(4, 1)});
    auto observer = m_db.connect("observer");
    std::vector<std::string> seen;  // at the start of each phase: the file's marks, the version
    m_host.onProgress = [&](const RunProgress& p) {
        if (p.unit != RunProgress::Unit::None) return;
        seen.push_back(statiOnDisk() + " " +
                       selectText(*observer,
                                  "select list(MAJOR_VERSION || '.' || MINOR_VERSION || '.' || "
                                  "RELEASE_VERSION || '.' || BUILD) from SYSDBVER"));
    };
    m_dm.RunBatch();
    EXPECT_EQ(seen,
              (std::vector<std::string>{"NSNN ", "SSNN 1.1.0.0", "SSNN 1.1.0.0", "SSSN 1.3.0.0"}));
    EXPECT_EQ(count("select count(*) from SYSDBVER"), 1);
    EXPECT_EQ(databaseVersion(), "1.4.0.0");

    // The walk's end wrote the marks into the plan and dropped the journal; the write-back
    // when the plan closes writes the same, and the backup holds the plan as the run found it.
    EXPECT_FALSE(fileExists(path("dbquery.xml.marks")));
    const std::string saved = readWholeFile(path("dbquery.xml"));
    EXPECT_EQ(readWholeFile(path("dbquery.xml.bak")),
              planXml({inserts(1, 1), {.id = 2, .stato = "S"}, inserts(3, 1), inserts(4, 1)}));
    m_dm.DataModuleDestroy();
    EXPECT_EQ(readWholeFile(path("dbquery.xml")), saved);
    EXPECT_EQ(statiOnDisk(), "SSSS");
}

TEST_F(WalkEnd, marksAKilledRunLeftInTheJournalAreWrittenBeforeTheWalkDecides) {
    const std::vector<Phase> phases{inserts(1, 1), inserts(2, 1), inserts(3, 1)};
    loadPlan(phases);
    // Phases 1 and 2 ran and took their marks in the journal; phase 2's line ends cut short
    // by the kill, and its version never reached the database.
    m_dm.dbsagg().execute("insert into T values (1, 1)");
    m_dm.dbsagg().execute("insert into T values (2, 1)");
    MarksJournal(path("dbquery.xml")).Append(1);
    std::ofstream(path("dbquery.xml.marks"), std::ios::binary | std::ios::app) << "\n2";
    EXPECT_EQ(statiOnDisk(), "SNN");

    m_dm.RunBatch();
    EXPECT_EQ(count("select count(*) from T where P = 1"), 1) << "phase 1 ran again";
    EXPECT_EQ(count("select count(*) from T where P = 2"), 2) << "phase 2's mark was cut short";
    EXPECT_EQ(count("select count(*) from T where P = 3"), 1);
    EXPECT_FALSE(fileExists(path("dbquery.xml.marks")));
    EXPECT_EQ(statiOnDisk(), "SSS");
    EXPECT_EQ(m_host.log[1], "FASE 1 PROCEDURA GIA' ESEGUITA.");
}

TEST_F(WalkEnd, aPlanOpenedAtStartUpShowsTheJournalsMarksAndWritesThemWhenItCloses) {
    loadPlan({inserts(1, 1), inserts(2, 1)});
    m_dm.cdsQuery().SetFileName("");
    m_dm.cdsQuery().Close();
    MarksJournal(path("dbquery.xml")).Append(2);
    m_dm.cdsQuery().SetFileName(path("dbquery.xml"));
    m_dm.DataModuleCreate();
    EXPECT_EQ(stato(1) + stato(2), "NS");
    m_dm.DataModuleDestroy();
    const std::string written = readWholeFile(path("dbquery.xml"));
    EXPECT_EQ(statiOnDisk(), "NS");
    // The journal is stale now that the plan holds its mark: a run drops it, unapplied.
    m_dm.ReloadPlan();
    m_dm.RunBatch();
    EXPECT_FALSE(fileExists(path("dbquery.xml.marks")));
    EXPECT_EQ(count("select count(*) from T where P = 2"), 0);
    EXPECT_EQ(statiOnDisk(), "SS");
    EXPECT_NE(readWholeFile(path("dbquery.xml")), written);
}

TEST_F(WalkEnd, aFileInThePlaceOfTheJournalThatIsNoneStopsTheRunBeforeItStarts) {
    loadPlan({inserts(1, 1)});
    writeFile("dbquery.xml.marks", "ID,STATO\n1,S\n");
    try {
        m_dm.RunBatch();
        ADD_FAILURE() << "the run started";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "File \"" + path("dbquery.xml.marks") +
                      "\" is not a journal of done-marks: move it away to go on.");
    }
    EXPECT_EQ(count("select count(*) from T"), 0);
    EXPECT_EQ(readWholeFile(path("dbquery.xml.marks")), "ID,STATO\n1,S\n");
}

TEST_F(WalkEnd, aPlanRowThatBreaksTheFieldRulesStopsTheRunBeforeItStarts) {
    struct Case {
        const char* name;
        std::function<void(DataPacket&)> spoil;
        std::string message;
    };
    const Case cases[] = {
        {"a row without ID", [](DataPacket& p) { setRowValue(p, 1, 0, FieldValue{}); },
         "cdsQuery: row 1 (no ID), field ID: Field value required."},
        {"a field the file declares required",
         [](DataPacket& p) {
             p.fields[9].bits = fieldbits::kRequired;
             setRowValue(p, 1, 9, std::string());
         },
         "cdsQuery: row 2 (ID 2), field VERSIONE: Field value required."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DataPacket packet = decodePacket(planXml({inserts(1, 1), inserts(2, 1)}));
        c.spoil(packet);
        m_dm.cdsQuery().SetFileName("");
        m_dm.cdsQuery().Close();
        writeFile("dbquery.xml", encodeXmlPacket(packet));
        m_dm.cdsQuery().SetFileName(path("dbquery.xml"));
        m_dm.ReloadPlan();
        m_host = RecordingHost{};
        try {
            m_dm.RunBatch();
            ADD_FAILURE() << "the run started";
        } catch (const EDBClient& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_TRUE(m_host.log.empty());
        EXPECT_TRUE(m_host.messages.empty());
        EXPECT_EQ(count("select count(*) from T"), 0);
    }
}

TEST_F(WalkEnd, aPlanThatCouldNotBeSavedStopsTheRunBeforeItStarts) {
    loadPlan({inserts(1, 1)});
    m_dm.cdsQuery().SetFileName(path("gone/dbquery.xml"));
    try {
        m_dm.RunBatch();
        ADD_FAILURE() << "the run started";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + path("gone/dbquery.xml") +
                                             "\". No such file or directory");
    }
    EXPECT_TRUE(m_host.log.empty());
    EXPECT_EQ(count("select count(*) from T"), 0);
    EXPECT_EQ(stato(1), "N");
}

}  // namespace
}  // namespace tarvolen::testing
