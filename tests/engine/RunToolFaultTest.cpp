// tarvolen-run stopped from outside: signals, SIGKILL at random moments over script and import
// phases, a second run on the same plan. Whatever happens, no phase that ran to its end is applied
// a second time by the next run.

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

#include "RunToolSupport.h"

namespace tarvolen::testing {
namespace {

constexpr int kInsertsPerPhase = 400;

using RunToolFault = RunTool;

TEST_F(RunToolFault, aStopSignalEndsTheRunAfterTheStatementInFlightWithTheMarksSaved) {
    const struct {
        int signal;
        int exitCode;
    } cases[] = {{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}};
    for (const auto& c : cases) {
        SCOPED_TRACE(strsignal(c.signal));
        {
            auto connection = m_db.connect();
            connection->execute("delete from T");
            connection->execute("update SYSDBVER set MINOR_VERSION = 0");
        }
        writeFile("dbquery.xml",
                  planXml({inserts(1, 50), inserts(2, 5 * kInsertsPerPhase), inserts(3, 50)}));
        const pid_t runner = start({"--alias", "registry", "--no-statistics"}, "signalled");
        ASSERT_GT(runner, 0);
        ASSERT_TRUE(waitForOutput(runner, "signalled", "FASE 2 SCRIPT IN ESECUZIONE."));
        ::kill(runner, c.signal);
        const Result r = output("signalled", finish(runner));

        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        // One line says where the run stopped; no statement failed on the way.
        const size_t stop = r.out.find("FASE 2 INTERROTTA ALL'ISTRUZIONE ");
        ASSERT_NE(stop, std::string::npos) << r.out;
        EXPECT_NE(r.out.find("INTERRUZIONE RICHIESTA. LE ISTRUZIONI PRECEDENTI SONO CONFERMATE; "
                             "LA FASE RESTA DA ESEGUIRE.\nBatch eseguito con errori\n",
                             stop),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(r.out.find("ERRORE:"), std::string::npos) << r.out;
        const int stoppedAt = std::stoi(r.out.substr(stop + 33));
        EXPECT_EQ(statiOnDisk(), "SNN");
        EXPECT_EQ(databaseVersion(), "1.1.0.0");
        // The statements of phase 2 before the one it stopped at are committed.
        EXPECT_EQ(rowsPerPhase(),
                  stoppedAt > 1 ? "1:50 2:" + std::to_string(stoppedAt - 1) : std::string("1:50"));
        EXPECT_EQ(leftovers(), std::vector<std::string>{});

        // The rerun finishes the plan: phase 1 is not applied again.
        const Result rerun = run("--alias registry --no-statistics");
        EXPECT_EQ(rerun.exitCode, 0) << rerun.out << rerun.err;
        EXPECT_EQ(statiOnDisk(), "SSS");
        EXPECT_EQ(databaseVersion(), "1.3.0.0");
        EXPECT_EQ(rowsPerPhase(),
                  "1:50 2:" + std::to_string(stoppedAt - 1 + 5 * kInsertsPerPhase) + " 3:50");
    }
}

TEST_F(RunToolFault, aKilledRunNeverLeavesACompletedPhaseToBeAppliedAgain) {
    constexpr int kPhases = 6;
    constexpr int kPerPhase = 8;
    constexpr int kImportRows = 40;
    constexpr int kRounds = 50;
    // Script phases with IDs 10, 20, ... (phase p inserts into T, and brings 1.p.0.0), and
    // imports between them: an XML file at ID 15 and a binary one at ID 35 into IMPORTED (told
    // apart by K), and the XML file again at ID 55 into IMPORTED2. The binary one brings a
    // version of its own, the other two none.
    struct Import {
        int id;
        std::string table;
        std::string file;
        std::string where;  // the rows of this phase
        std::string versione;
    };
    const std::vector<Import> imports = {{15, "IMPORTED", "rows.xml", "K = 'x'", ""},
                                         {35, "IMPORTED", "rows.cds", "K = 'b'", "1.3.5.0"},
                                         {55, "IMPORTED2", "rows.xml", "1 = 1", ""}};
    {
        auto connection = m_db.connect();
        connection->execute("create table IMPORTED (N integer, K varchar(1))");
        connection->execute("create table IMPORTED2 (N integer, K varchar(1))");
    }
    const auto rowsFile = [&](const std::string& k) {
        std::string rows;
        for (int i = 1; i <= kImportRows; ++i)
            rows += "<ROW N=\"" + std::to_string(i) + "\" K=\"" + k + "\"/>";
        return "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"N\" "
               "fieldtype=\"i4\"/><FIELD attrname=\"K\" fieldtype=\"string\" WIDTH=\"1\"/>"
               "</FIELDS><PARAMS/></METADATA><ROWDATA>" +
               rows + "</ROWDATA></DATAPACKET>";
    };
    writeFile("rows.xml", rowsFile("x"));
    writeFile("rows-b.xml", rowsFile("b"));
    {
        TClientDataSet binary("cds");
        binary.LoadFile(path("rows-b.xml"));
        binary.SaveFile(path("rows.cds"));
    }
    std::vector<Phase> phases;
    for (int p = 1; p <= kPhases; ++p) phases.push_back(inserts(p, kPerPhase, 10 * p));
    for (const Import& i : imports)
        phases.push_back({.id = i.id,
                          .tipo = "I",
                          .versione = i.versione,
                          .nomeTabella = i.table,
                          .nomeFile = i.file});
    std::vector<int> ids;  // in the order the plan walks them
    for (const Phase& phase : phases) ids.push_back(phase.id);
    std::sort(ids.begin(), ids.end());
    const std::string plan = planXml(phases);
    auto reset = [&] {
        auto connection = m_db.connect();
        connection->execute("delete from T");
        connection->execute("delete from IMPORTED");
        connection->execute("delete from IMPORTED2");
        connection->execute("update SYSDBVER set MINOR_VERSION = 0, RELEASE_VERSION = 0");
        writeFile("dbquery.xml", plan);
    };
    // The rows each phase holds now, by ID, read through one connection.
    auto rowsPerId = [&] {
        auto connection = m_db.connect();
        std::map<int, int64_t> rows;
        for (const Import& i : imports)
            rows[i.id] = database::testing::selectCount(
                *connection, "select count(*) from " + i.table + " where " + i.where);
        for (int p = 1; p <= kPhases; ++p)
            rows[10 * p] = database::testing::selectCount(
                *connection, "select count(*) from T where N = " + std::to_string(p));
        return rows;
    };
    auto fullRows = [&](int id) -> int64_t {
        for (const Import& i : imports)
            if (i.id == id) return kImportRows;
        return kPerPhase;
    };

    // How many lines a whole run prints: each kill falls after a random number of them, plus a
    // random few milliseconds, so it lands anywhere in a run however fast the machine is.
    reset();
    const Result whole = run("--alias registry --no-statistics");
    ASSERT_EQ(whole.exitCode, 0) << whole.out << whole.err;
    const auto lines = std::count(whole.out.begin(), whole.out.end(), '\n');

    std::mt19937 random(20240229);
    std::uniform_int_distribution<long> line(0, lines - 1);
    std::uniform_int_distribution<int> extra(0, 30);
    int killedMidway = 0;
    for (int round = 0; round < kRounds; ++round) {
        const long afterLines = line(random);
        const int afterMs = extra(random);
        SCOPED_TRACE("round " + std::to_string(round) + ": killed " + std::to_string(afterMs) +
                     " ms after line " + std::to_string(afterLines));
        reset();
        const pid_t killed = start({"--alias", "registry", "--no-statistics"}, "killed");
        ASSERT_GT(killed, 0);
        waitForOutputLines(killed, "killed", afterLines);
        std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
        if (m_reaped.count(killed) == 0) ::kill(killed, SIGKILL);  // not when it already ended

        finish(killed);
        // The plan decodes whatever moment the kill fell on, and every phase it marks done
        // ran whole: all the rows of an import, every statement of a script.
        std::string killedStati;
        ASSERT_NO_THROW(killedStati = statiOnDisk()) << "the plan no longer decodes";
        ASSERT_EQ(killedStati.size(), ids.size());
        std::vector<int> markedBeforeRerun;
        {
            const auto rows = rowsPerId();
            for (size_t i = 0; i < killedStati.size(); ++i) {
                if (killedStati[i] != 'S') continue;
                markedBeforeRerun.push_back(ids[i]);
                EXPECT_EQ(rows.at(ids[i]), fullRows(ids[i])) << "phase " << ids[i] << " marked";
            }
        }
        if (killedStati != std::string(ids.size(), 'N')) ++killedMidway;

        const Result rerun = run("--alias registry --no-statistics");
        ASSERT_EQ(rerun.exitCode, 0) << rerun.out << rerun.err;
        // A phase is done, or was skipped for the version it had recorded before the kill
        // took its mark (the version is written first for this); it keeps its mark as it was.
        const std::string stati = statiOnDisk();
        for (size_t i = 0; i < stati.size(); ++i) {
            if (stati[i] == 'S') continue;
            const std::string id = std::to_string(ids[i]);
            EXPECT_NE(rerun.out.find("FASE " + id + " NON ESEGUITA PER VERSIONE DATABASE."),
                      std::string::npos)
                << "phase " << id << " left due: " << rerun.out;
        }
        EXPECT_EQ(databaseVersion(), "1." + std::to_string(kPhases) + ".0.0");
        // A phase marked before the kill is not applied again. Of the others only the phase in
        // flight when the run was killed may be: a script again from its start, an import
        // again whole if it had committed its rows before its mark was saved (an import runs
        // in one transaction, so a killed one left nothing).
        const auto rows = rowsPerId();
        for (const int id : markedBeforeRerun)
            EXPECT_EQ(rows.at(id), fullRows(id)) << "phase " << id << " applied again";
        std::string appliedAgain;
        for (const auto& [id, n] : rows) {
            EXPECT_GE(n, fullRows(id)) << "phase " << id;
            if (n > fullRows(id)) appliedAgain += " " + std::to_string(id);
            if (id % 10 != 0) {  // an import: all its rows, once or twice
                EXPECT_TRUE(n == kImportRows || n == 2 * kImportRows) << "phase " << id;
            }
        }
        EXPECT_LE(std::count(appliedAgain.begin(), appliedAgain.end(), ' '), 1)
            << "applied again:" << appliedAgain;
        EXPECT_EQ(leftovers(), std::vector<std::string>{});
    }
    // The kills must have fallen inside runs, not only before or after them.
    EXPECT_GE(killedMidway, kRounds / 4);
}

TEST_F(RunToolFault, aSecondRunOnThePlanRefusesWhileTheFirstHoldsIt) {
    writeFile("dbquery.xml", planXml({inserts(1, 5 * kInsertsPerPhase), inserts(2, 10)}));
    const pid_t first = start({"--alias", "registry", "--no-statistics"}, "first");
    ASSERT_GT(first, 0);
    ASSERT_TRUE(waitForOutput(first, "first", "FASE 1 SCRIPT IN ESECUZIONE."));
    const Result second = run("--alias registry --no-statistics");
    const Result firstResult = output("first", finish(first));

    EXPECT_EQ(second.exitCode, 2);
    EXPECT_NE(second.err.find("Cannot use the plan \"" + path("dbquery.xml") +
                              "\": plan in use by process "),
              std::string::npos)
        << second.err;
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(firstResult.exitCode, 0) << firstResult.out << firstResult.err;
    EXPECT_EQ(rowsPerPhase(), "1:" + std::to_string(5 * kInsertsPerPhase) + " 2:10");
    EXPECT_EQ(statiOnDisk(), "SS");
}

}  // namespace
}  // namespace tarvolen::testing
