// The update engine against its peers, as ratios measured in one run:
//   1. a script phase of N small statements, each in its own transaction, through tarvolen-run
//      versus the same statements through isql with a commit after each (target: ours/isql
//      wall time <= 1.0);
//   2. importing M rows (integer, text, date, numeric, memo) from an XML and from a binary data
//      file versus a hand-written loop inserting the same rows with one prepared insert per
//      row, the memo as a blob, in one transaction through the same database layer: embedded
//      (target: our rate >= 1.5 x the loop's) and over the local server, where every statement
//      and blob is a round trip (target: >= 10 x; K rows).
// Every measurement runs on a fresh database in a temporary folder: embedded, or opened by the
// local server (port 3050) with the SYSDBA password from TARVOLEN_FB_SYSDBA_PASSWORD or the
// server package's file. 0 skips a measurement.
//
//   bench_engine [--statements N] [--rows M] [--server-rows K]   (defaults 10000, 200000, 20000)

#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "base/Calendar.h"
#include "db/Aliases.h"
#include "db/Connection.h"
#include "db/Table.h"
#include "engine/EngineHost.h"
#include "engine/dm_main.h"
#include "plan/FieldTypes.h"
#include "plan/PacketCodec.h"
#include "plan/PlanLayout.h"

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

// TARVOLEN_FB_SYSDBA_PASSWORD, else the password the server package keeps for SYSDBA.
std::string sysdbaPassword() {
    if (const char* env = std::getenv("TARVOLEN_FB_SYSDBA_PASSWORD"); env != nullptr && *env)
        return env;
    std::ifstream in("/etc/firebird/3.0/SYSDBA.password");
    const std::string key = "ISC_PASSWORD=";
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return {};
}

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

// The data file's packet: M rows of integer, text, date, numeric and memo.
DataPacket importPacket(int rows) {
    DataPacket p = decodeXmlPacket(
        "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"ID\" fieldtype=\"i4\"/>"
        "<FIELD attrname=\"NOME\" fieldtype=\"string\" WIDTH=\"40\"/><FIELD attrname=\"NATO\" "
        "fieldtype=\"date\"/>"
        "<FIELD attrname=\"IMPORTO\" fieldtype=\"fixed\" DECIMALS=\"2\" WIDTH=\"12\"/>"
        "<FIELD attrname=\"NOTE\" fieldtype=\"bin.hex\" "
        "SUBTYPE=\"Text\"/></FIELDS><PARAMS/></METADATA>"
        "<ROWDATA></ROWDATA></DATAPACKET>");
    p.rows.reserve(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i) {
        p.rows.push_back({0,
                          {int64_t{i}, "Cognome Nome " + std::to_string(i),
                           dayNumberFromDate(1950 + i % 60, 1 + i % 12, 1 + i % 28),
                           std::to_string(i) + "." + std::to_string(10 + i % 90),
                           makeBlob("nota " + std::to_string(i))}});
    }
    return p;
}

double importRate(const std::string& dataFile, int rows, const Target& target) {
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
    dm.dbsagg.setAliasConfig(aliasesIn(folder, target));
    dm.LoginUser = "SYSDBA";
    dm.LoginPassword = target.password;
    dm.cdsQuery.SetFileName((folder.path() / "dbquery.xml").string());
    dm.Connect("bench");
    dm.ReloadPlan();
    const auto start = Clock::now();
    dm.RunBatch();
    const double seconds = secondsSince(start);
    if (dm.ImportFailed) throw std::runtime_error("the import failed");
    dm.cdsQuery.SetFileName("");
    return rows / seconds;
}

double handLoopRate(const DataPacket& packet, const Target& target) {
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
    const auto start = Clock::now();
    table.open();
    c.startTransaction();
    for (const auto& row : packet.rows) {
        int y = 0, m = 0, d = 0;
        dateFromDayNumber(std::get<int64_t>(row.values[2]), y, m, d);
        table.insert();
        table.setValue(0, std::get<int64_t>(row.values[0]));
        table.setValue(1, std::get<std::string>(row.values[1]));
        table.setValue(2, database::Date{y, m, d});
        table.setValue(3, std::get<std::string>(row.values[3]));
        table.setValue(4, *std::get<BlobData>(row.values[4]));
        table.post();
    }
    c.commit();
    return static_cast<double>(packet.rows.size()) / secondsSince(start);
}

void benchImport(int rows, const Target& target) {
    Folder files;
    const DataPacket packet = importPacket(rows);
    const std::string xml = (files.path() / "data.xml").string();
    const std::string binary = (files.path() / "data.cds").string();
    std::ofstream(xml, std::ios::binary) << encodeXmlPacket(packet);
    std::ofstream(binary, std::ios::binary) << encodeBinaryPacket(packet);

    // The loop runs before and after the imports and keeps its better rate, so neither side
    // gains from running on a warmer machine.
    double loop = handLoopRate(packet, target);
    const double fromXml = importRate(xml, rows, target);
    const double fromBinary = importRate(binary, rows, target);
    loop = std::max(loop, handLoopRate(packet, target));
    std::printf(
        "%s, %d rows imported: hand loop %.0f rows/s; from XML %.0f rows/s, ratio %.2f; from "
        "binary %.0f rows/s, ratio %.2f (goal >= %.1f)\n",
        target.name, rows, loop, fromXml, fromXml / loop, fromBinary, fromBinary / loop,
        target.goal);
}

}  // namespace

int main(int argc, char** argv) {
    int statements = 10000;
    int rows = 200000;
    int serverRows = 20000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--statements") == 0) statements = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--rows") == 0) rows = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--server-rows") == 0) serverRows = std::atoi(argv[i + 1]);
    }
    try {
        if (statements > 0) benchStatements(statements);
        if (rows > 0) benchImport(rows, kEmbedded);
        if (serverRows > 0) {
            const Target server{"local server", true, sysdbaPassword(), 10.0};
            if (server.password.empty())
                throw std::runtime_error("the SYSDBA password of the local server is unknown");
            benchImport(serverRows, server);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_engine: %s\n", e.what());
        return 1;
    }
    return 0;
}
