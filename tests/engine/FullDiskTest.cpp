// tarvolen-run when a write fails half-way: the disk fills while the plan is saved after a
// phase or while an import runs, or the database refuses the version record. The run ends with the
// error, the files keep their last whole contents, and what the run had earned is not lost: the
// rerun applies no phase a second time but the one in flight.

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "RunToolSupport.h"

namespace tarvolen::testing {
namespace {

namespace fs = std::filesystem;

using FullDisk = RunTool;

// A folder on a disk of its own, a few hundred KiB large, that a test can fill to the last byte
// while a run is writing there.
class SmallDisk {
  public:
    explicit SmallDisk(fs::path folder) : m_folder(std::move(folder)) {
        fs::create_directories(m_folder);
        m_mounted = ::mount("tmpfs", m_folder.c_str(), "tmpfs", 0, "size=256k,mode=0755") == 0;
        if (!m_mounted) m_error = std::strerror(errno);
    }
    ~SmallDisk() {
        if (m_mounted) ::umount2(m_folder.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_mounted; }
    const std::string& error() const { return m_error; }
    // Writes a file until the disk takes no byte more.
    void fill() const {
        const int fd = ::open((m_folder / "filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        const std::string block(4096, 'x');
        // Whole pages while they fit, then single bytes up to the last one.
        for (const size_t size : {block.size(), size_t{1}}) {
            ssize_t written = 0;
            do {
                written = ::write(fd, block.data(), size);
            } while (written > 0);
        }
        ::close(fd);
    }
    void makeRoom() const { fs::remove(m_folder / "filler"); }

  private:
    fs::path m_folder;
    bool m_mounted = false;
    std::string m_error;
};

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

TEST_F(FullDisk, anImportWhoseMarkFindsTheDiskFullIsNeverAppliedTwice) {
    // The plan's folder is a small disk that fills while an import runs; the database and the
    // data file are elsewhere, so the import itself has all the room it needs.
    constexpr int kRows = 30000;
    struct Case {
        const char* name;
        std::string versione;
        std::string said;          // what the run says of phase 10, on stdout and stderr
        int64_t rowsAfterFullRun;  // what the run left in the table
        std::string versionAfter;  // the version record after it
        std::string rerunSays;     // the rerun's line for phase 10
    };
    const Case cases[] = {
        // The version record goes in the import's transaction: the rows and the version are
        // committed, the mark is not, and the rerun passes the phase over by version.
        {"with a version", "1.5.0.0",
         "FASE 10 APPLICATA AL DATABASE, MA IL SEGNO DI ESEGUITA NON E' STATO SALVATO: Cannot "
         "create file \"" +
             path("piano/dbquery.xml") +
             "\". No space left on device. LA VERSIONE 1.5.0.0 E' "
             "REGISTRATA NEL DATABASE: LA PROSSIMA ESECUZIONE SALTERA' LA FASE PER VERSIONE.",
         kRows, "1.5.0.0", "FASE 10 NON ESEGUITA PER VERSIONE DATABASE."},
        // Nothing in the database would tell the rerun: the import does not commit unless
        // the room for its mark is taken first, so it is undone and stays due.
        {"without a version", "",
         "FASE 10 IMPORT TABELLA IMPORTED INTERROTTO: IL SEGNO DI ESEGUITA NON PUO' ESSERE "
         "REGISTRATO (Cannot create file \"" +
             path("piano/dbquery.xml.marks") +
             "\". No space left on device). NESSUNA RIGA IMPORTATA; LA FASE RESTA DA ESEGUIRE.",
         0, "1.0.0.0", "FASE 10 IMPORT TABELLA IMPORTED TERMINATO."},
    };
    std::string rows;
    for (int i = 1; i <= kRows; ++i) rows += "<ROW N=\"" + std::to_string(i) + "\"/>";
    writeFile("rows.xml",
              "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"N\" "
              "fieldtype=\"i4\"/></FIELDS><PARAMS/></METADATA><ROWDATA>" +
                  rows + "</ROWDATA></DATAPACKET>");
    m_db.connect()->execute("create table IMPORTED (N integer)");

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            auto connection = m_db.connect();
            connection->execute("delete from IMPORTED");
            connection->execute("update SYSDBVER set MINOR_VERSION = 0");
        }
        const SmallDisk disk(m_db.folder() / "piano");
        if (!disk.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here: " << disk.error();
        writeFile("piano/dbquery.xml", planXml({{.id = 10,
                                                 .tipo = "I",
                                                 .versione = c.versione,
                                                 .nomeTabella = "IMPORTED",
                                                 .nomeFile = "rows.xml"}}));

        const pid_t runner = start(
            {"--alias", "registry", "--no-statistics", "--plan", "piano/dbquery.xml"}, "full");
        ASSERT_GT(runner, 0);
        ASSERT_TRUE(
            waitForOutput(runner, "full", "FASE 10 IMPORT TABELLA IMPORTED IN ESECUZIONE."));
        disk.fill();
        const Result r = output("full", finish(runner));

        EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
        EXPECT_NE(r.out.find(c.said + "\nBatch eseguito con errori\n"), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(count("select count(*) from IMPORTED"), c.rowsAfterFullRun);
        EXPECT_EQ(databaseVersion(), c.versionAfter);
        EXPECT_EQ(statiOnDisk("piano/dbquery.xml"), "N");

        // Once there is room, the rerun leaves the table holding each row once.
        disk.makeRoom();
        const Result rerun = run("--alias registry --no-statistics --plan piano/dbquery.xml");
        EXPECT_EQ(rerun.exitCode, 0) << rerun.out << rerun.err;
        EXPECT_NE(rerun.out.find(c.rerunSays), std::string::npos) << rerun.out;
        EXPECT_EQ(count("select count(*) from IMPORTED"), kRows);
        EXPECT_EQ(count("select count(distinct N) from IMPORTED"), kRows);
        EXPECT_EQ(databaseVersion(), c.versionAfter);
    }
}

}  // namespace
}  // namespace tarvolen::testing
