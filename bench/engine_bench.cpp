// The update engine against its peers, as ratios measured in one run:
//   1. a script phase of N small statements, each in its own transaction, through tarvolen-run
//      versus the same statements through isql with a commit after each (target: ours/isql
//      wall time <= 1.0);
//   2. M rows (integer, text, date, numeric, memo) sent in blocks (RowBatch) versus a hand-written
//      loop inserting the same rows with one prepared insert per row, the memo as a blob, each in
//      one transaction through the same database layer: embedded (target: our rate >= 1.5 x the
//      loop's) and over the local server, where every statement and blob is a round trip
//      (target: >= 10 x; K rows). Then the import of the same rows from an XML and from a binary
//      data file, which also reads and decodes the file, against the same loop.
// Every measurement runs on a fresh database in a temporary folder: embedded, or opened by the
// local server (port 3050) with the SYSDBA password from TARVOLEN_FB_SYSDBA_PASSWORD or the
// server package's file. 0 skips a measurement.
//
//   bench_engine [--statements N] [--rows M] [--server-rows K] [--runs R]
//                                          (defaults 10000, 200000, 20000, 1; R: best of R)

#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "BenchSupport.h"
#include "ImportGenerator.h"
#include "base/Calendar.h"
#include "db/Aliases.h"
#include "db/Connection.h"
#include "db/RowBatch.h"
#include "db/Table.h"
#include "engine/EngineHost.h"
#include "engine/dm_main.h"
#include "plan/FieldTypes.h"
#include "plan/PacketCodec.h"
#include "plan/PlanLayout.h"
#include "tests/support/ServerPassword.h"

namespace {

namespace fs = std::filesystem;
using namespace tarvolen;
using bench::Clock;
using bench::Folder;
using bench::secondsSince;

// Where a measurement's database lives.
struct Target {
    const char* name;
    bool server = false;   // opened by the local server instead of the embedded engine
    std::string password;  // SYSDBA's, for the server
    double goal = 0;       // for the import: our rate / the loop's
};

// Alias "bench": the database bench.fdb in `folder`, embedded or through the local server.
std::string aliasesText(const Folder& folder, const Target& target) {
    const std::string database =
        target.server ? "localhost:" + (folder.path() / "bench.fdb").string() : "bench.fdb";
    return "[bench]\nDatabase = " + database + "\nCharset = WIN1252\n";
}

std::shared_ptr<const database::AliasConfig> aliasesIn(const Folder& folder, const Target& target) {
    return std::make_shared<database::AliasConfig>(
        database::AliasConfig::parse(aliasesText(folder, target), folder.path() / "aliases.ini"));
}

const Target kEmbedded{"embedded", false, "", 1.5};

using database::testing::sysdbaPassword;

const char* kDdl[] = {
    "create table SYSDBVER (MAJOR_VERSION integer, MINOR_VERSION integer, RELEASE_VERSION integer, "
    "BUILD integer, "
    "APPID varchar(3))",
    "create table T (ID integer, NOME varchar(40), NATO date, IMPORTO numeric(12,2), NOTE blob "
    "sub_type text)",
};

// Creates the database in `folder` with the bench tables, and the folder's aliases.ini for
// tarvolen-run; connection closed on return.
void createDatabase(const Folder& folder, const Target& target = kEmbedded) {
    // The server, running as its own user, creates the file here.
    if (target.server) fs::permissions(folder.path(), fs::perms::all);
    std::ofstream(folder.path() / "aliases.ini") << aliasesText(folder, target);
    database::Connection c("creator");
    c.setAliasConfig(aliasesIn(folder, target));
    c.setAliasName("bench");
    c.params().setValue("USER NAME", "SYSDBA");
    c.params().setValue("PASSWORD", target.password);
    c.createDatabase();
    for (const char* ddl : kDdl) c.execute(ddl);
    c.close();
}

int runCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A plan file of one phase.
std::string planWith(std::vector<FieldValue> phase) {
    DataPacket plan = emptyPlanPacket();
    plan.rows.push_back({0, std::move(phase)});
    return encodeXmlPacket(plan);
}

std::string statement(int i) {
    return "insert into T (ID, NOME) values (" + std::to_string(i) + ", 'riga " +
           std::to_string(i) + "')";
}

void benchStatements(int count) {
    Folder ours, theirs;
    createDatabase(ours);
    createDatabase(theirs);

    std::string script;
    for (int i = 0; i < count; ++i) script += statement(i) + ";\r\n";
    std::ofstream(ours.path() / "dbquery.xml", std::ios::binary) << planWith({int64_t{1},
                                                                              std::string("N"),
                                                                              std::string("S"),
                                                                              std::string(";"),
                                                                              makeBlob(script),
                                                                              {},
                                                                              {},
                                                                              {},
                                                                              {},
                                                                              {}});
    std::ofstream isql(theirs.path() / "script.sql", std::ios::binary);
    isql << "connect '" << (theirs.path() / "bench.fdb").string() << "' user 'SYSDBA';\n";
    for (int i = 0; i < count; ++i) isql << statement(i) << ";\ncommit;\n";
    isql.close();

    auto start = Clock::now();
    const int rc =
        runCommand("cd '" + ours.path().string() + "' && TARVOLEN_ALIASES='" +
                   (ours.path() / "aliases.ini").string() +
                   "' '" TARVOLEN_RUN_TOOL "' --alias bench --no-statistics > /dev/null");
    const double oursSeconds = secondsSince(start);
    start = Clock::now();
    runCommand("isql-fb -q -i '" + (theirs.path() / "script.sql").string() + "' > /dev/null 2>&1");
    const double isqlSeconds = secondsSince(start);
    std::printf(
        "%d statements, one transaction each: tarvolen-run %.2f s (exit %d), isql %.2f s, ratio "
        "ours/isql = %.2f (goal <= 1.0)\n",
        count, oursSeconds, rc, isqlSeconds, oursSeconds / isqlSeconds);
}

class QuietHost : public EngineHost {
  public:
    void appendLog(std::string_view) override {}
    void processEvents() override {}
    void showMessage(std::string_view, std::string_view, MessageIcon) override {}
};

// Rows per second of wall time, and per second of this process's processor time: embedded,
// the engine works in this process, and its processor time is what other work on the machine
// changes least.
struct Rate {
    double wall = 0;
    double cpu = 0;
};

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Measures `work` on `rows` rows.
template <class Work>
Rate rateOf(double rows, Work&& work) {
    const auto start = Clock::now();
    const double processorStart = processorSeconds();
    work();
    return {rows / secondsSince(start), rows / (processorSeconds() - processorStart)};
}

Rate importRate(const std::string& dataFile, int rows, const Target& target) {
    Folder folder;
    createDatabase(folder, target);
    fs::copy_file(dataFile, folder.path() / "data");
    std::ofstream(folder.path() / "dbquery.xml", std::ios::binary)
        << planWith({int64_t{1},
                     std::string("N"),
                     std::string("I"),
                     {},
                     {},
                     {},
                     std::string("T"),
                     (folder.path() / "data").string(),
                     std::string("S"),
                     {}});
    QuietHost host;
    TdmMain dm;
    dm.setHost(&host);
    dm.dbsagg().setAliasConfig(aliasesIn(folder, target));
    dm.LoginUser = "SYSDBA";
    dm.LoginPassword = target.password;
    dm.cdsQuery().SetFileName((folder.path() / "dbquery.xml").string());
    dm.Connect("bench");
    dm.ReloadPlan();
    const Rate rate = rateOf(rows, [&] { dm.RunBatch(); });
    if (dm.ImportFailed()) throw std::runtime_error("the import failed");
    dm.cdsQuery().SetFileName("");
    return rate;
}

// The rows of the packet through the database layer by hand, in one transaction: one prepared
// insert per row, or (`inBlocks`) a RowBatch, as the import sends them.
Rate handRate(const DataPacket& packet, const Target& target, bool inBlocks) {
    Folder folder;
    createDatabase(folder, target);
    database::Connection c("loop");
    c.setAliasConfig(aliasesIn(folder, target));
    c.setAliasName("bench");
    c.params().setValue("USER NAME", "SYSDBA");
    c.params().setValue("PASSWORD", target.password);
    c.open();
    database::Table table(c, "T");
    table.setTableName("T");
    return rateOf(static_cast<double>(packet.rows.size()), [&] {
        table.open();
        c.startTransaction();
        std::optional<database::RowBatch> batch;
        if (inBlocks) batch.emplace(table);
        for (const auto& row : packet.rows) {
            int y = 0, m = 0, d = 0;
            dateFromDayNumber(std::get<int64_t>(row.values[2]), y, m, d);
            const database::Value values[] = {
                std::get<int64_t>(row.values[0]), std::get<std::string>(row.values[1]),
                database::Date{y, m, d}, std::get<std::string>(row.values[3]),
                *std::get<BlobData>(row.values[4])};
            if (batch) {
                batch->insert();
                for (int i = 0; i < 5; ++i) batch->setValue(i, values[i]);
                batch->post();
            } else {
                table.insert();
                for (int i = 0; i < 5; ++i) table.setValue(i, values[i]);
                table.post();
            }
        }
        if (batch) batch->send();
        c.commit();
    });
}

void benchImport(int rows, int runs, const Target& target) {
    Folder files;
    const DataPacket packet = bench::importPacket(rows);
    const std::string xml = (files.path() / "data.xml").string();
    const std::string binary = (files.path() / "data.cds").string();
    std::ofstream(xml, std::ios::binary) << encodeXmlPacket(packet);
    std::ofstream(binary, std::ios::binary) << encodeBinaryPacket(packet);

    // Each side keeps its best of `runs`, run in turn, and the loop runs once more at the end,
    // so that neither side gains from a quieter moment of a shared machine.
    Rate loop, blocks, fromXml, fromBinary;
    auto keepBest = [](Rate& best, const Rate& rate) {
        best.wall = std::max(best.wall, rate.wall);
        best.cpu = std::max(best.cpu, rate.cpu);
    };
    for (int run = 0; run < runs; ++run) {
        keepBest(loop, handRate(packet, target, false));
        keepBest(blocks, handRate(packet, target, true));
        keepBest(fromXml, importRate(xml, rows, target));
        keepBest(fromBinary, importRate(binary, rows, target));
    }
    keepBest(loop, handRate(packet, target, false));
    std::printf(
        "%s, %d rows by hand, best of %d: one insert a row %.0f rows/s; in blocks %.0f "
        "rows/s, ratio %.2f (goal >= %.1f)\n",
        target.name, rows, runs, loop.wall, blocks.wall, blocks.wall / loop.wall, target.goal);
    std::printf(
        "%s, %d rows imported, best of %d: from XML %.0f rows/s, ratio %.2f; from binary %.0f "
        "rows/s, ratio %.2f (against one insert a row)\n",
        target.name, rows, runs, fromXml.wall, fromXml.wall / loop.wall, fromBinary.wall,
        fromBinary.wall / loop.wall);
    if (!target.server) {
        std::printf(
            "  per second of processor time: one insert a row %.0f rows; in blocks %.0f rows, "
            "ratio %.2f; import from XML %.0f rows, ratio %.2f; from binary %.0f rows, ratio "
            "%.2f\n",
            loop.cpu, blocks.cpu, blocks.cpu / loop.cpu, fromXml.cpu, fromXml.cpu / loop.cpu,
            fromBinary.cpu, fromBinary.cpu / loop.cpu);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int statements = 10000;
    int rows = 200000;
    int serverRows = 20000;
    int runs = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--statements") == 0) statements = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--rows") == 0) rows = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--server-rows") == 0) serverRows = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    }
    try {
        if (statements > 0) benchStatements(statements);
        if (rows > 0) benchImport(rows, runs, kEmbedded);
        if (serverRows > 0) {
            const Target server{"local server", true, sysdbaPassword(), 10.0};
            if (server.password.empty())
                throw std::runtime_error("the SYSDBA password of the local server is unknown");
            benchImport(serverRows, runs, server);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_engine: %s\n", e.what());
        return 1;
    }
    return 0;
}
