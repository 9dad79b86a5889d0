// tarvolen-run when a write fails half-way: the disk fills while the plan is saved after a
// phase, or the database refuses the version record. The run ends with the error, the files
// keep their last whole contents, and what the run had earned is not lost: the rerun applies no
// phase a second time but the one in flight.

#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "RunToolSupport.h"

namespace tarvolen::testing {
namespace {

namespace fs = std::filesystem;

using FullDisk = RunTool;

TEST_F(FullDisk, aSaveOfThePlanThatRunsOutOfSpaceLeavesTheOldFileAndTheRerunGoesOn) {
    // The limit on file size that stands for the full disk must leave the database file room
    // to work in, so the plan is made larger than the database by a done phase of bulk text.
    const auto databaseSize = fs::file_size(m_db.file());
    const size_t bulk = databaseSize + (1u << 20);
    const rlim_t limit = databaseSize + (512u << 10);
    writeFile("dbquery.xml",
              planXml({{.id = 1, .stato = "S", .testo = "-- " + std::string(bulk, 'x')},
                       inserts(1, 500, 10),
                       inserts(2, 10, 20),
                       inserts(3, 10, 30)}));
    const std::string before = readWholeFile(path("dbquery.xml"));
    ASSERT_GT(before.size(), limit);

    const pid_t runner = start({"--alias", "registry", "--no-statistics"}, "full");
    ASSERT_GT(runner, 0);
    // The disk fills once the run has checked that the plan can be written: the journal of
    // done-marks takes a few bytes a phase, and the plan's write at the walk's end is the
    // first write to meet the full disk.
    ASSERT_TRUE(waitForOutput(runner, "full", "Versione del DB PRIMA dell'aggiornamento"));
    const rlimit full{limit, limit};
    ASSERT_EQ(::prlimit(runner, RLIMIT_FSIZE, &full, nullptr), 0) << std::strerror(errno);
    const Result r = output("full", finish(runner));

    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("Cannot create file \"" + path("dbquery.xml") + "\". File too large"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("Versione del DB DOPO l'aggiornamento: 1.3.0.0\nBatch eseguito con "
                         "errori\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(readWholeFile(path("dbquery.xml")), before) << "the old plan is whole";
    EXPECT_EQ(leftovers(), std::vector<std::string>{"dbquery.xml.marks"});
    EXPECT_EQ(databaseVersion(), "1.3.0.0");
    EXPECT_EQ(rowsPerPhase(), "1:500 2:10 3:10");
    // The marks the plan could not take wait in its journal.
    EXPECT_EQ(statiOnDisk(), "SSSS");

    // Once there is room, the rerun writes them into the plan and runs nothing again.
    const Result rerun = run("--alias registry --no-statistics");
    EXPECT_EQ(rerun.exitCode, 0) << rerun.out << rerun.err;
    EXPECT_NE(rerun.out.find("FASE 10 PROCEDURA GIA' ESEGUITA."), std::string::npos) << rerun.out;
    EXPECT_EQ(rowsPerPhase(), "1:500 2:10 3:10");
    EXPECT_EQ(databaseVersion(), "1.3.0.0");
    EXPECT_EQ(statiOnDisk(), "SSSS");
    EXPECT_FALSE(fs::exists(path("dbquery.xml.marks")));
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(FullDisk, aVersionRecordTheDatabaseRefusesEndsTheRunWithThePhaseDue) {
    // The database refuses to write the version row from 1.2 on, as a database whose disk
    // is full refuses any write; a trigger makes the refusal fall on that one write.
    {
        auto c = m_db.connect();
        c->execute(
            "create exception DISK_FULL 'I/O error during \"write\" operation: No space left on "
            "device'");
        c->execute(
            "create trigger SYSDBVER_FULL for SYSDBVER before update as begin "
            "if (new.MINOR_VERSION >= 2) then exception DISK_FULL; end");
    }
    writeFile("dbquery.xml", planXml({inserts(1, 10, 1), inserts(2, 10, 2), inserts(3, 10, 3)}));

    const Result r = run("--alias registry --no-statistics");
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("FASE 2 TERMINATA.\nBatch eseguito con errori\n"), std::string::npos)
        << "the walk ended: " << r.out;
    // The version record holds what it held; phase 1's mark reached the plan, phase 2 stays
    // due; nothing was left behind.
    EXPECT_EQ(databaseVersion(), "1.1.0.0");
    EXPECT_EQ(statiOnDisk(), "SNN");
    EXPECT_EQ(leftovers(), std::vector<std::string>{});

    m_db.connect()->execute("drop trigger SYSDBVER_FULL");
    const Result rerun = run("--alias registry --no-statistics");
    EXPECT_EQ(rerun.exitCode, 0) << rerun.out << rerun.err;
    EXPECT_EQ(statiOnDisk(), "SSS");
    EXPECT_EQ(databaseVersion(), "1.3.0.0");
    // Phase 2, in flight when its version could not be written, ran again; phase 1 did not.
    EXPECT_EQ(rowsPerPhase(), "1:10 2:20 3:10");
}

}  // namespace
}  // namespace tarvolen::testing
