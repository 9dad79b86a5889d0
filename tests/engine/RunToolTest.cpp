// tarvolen-run, run as the administrator runs it: a separate process on an embedded database.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>

#include "../db/TempDatabase.h"
#include "EngineTestSupport.h"
#include "plan/FileIO.h"

namespace tarvolen::testing {
namespace {

using database::testing::selectCount;
using database::testing::selectText;
using database::testing::TempDatabase;

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class RunTool : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ofstream(m_db.folder() / "aliases.ini")
            << "[registry]\nDatabase = test.fdb\nCharset = WIN1252\n";
        auto c = m_db.connect();
        c->execute(
            "create table SYSDBVER (MAJOR_VERSION integer, MINOR_VERSION integer, RELEASE_VERSION "
            "integer, "
            "BUILD integer, APPID varchar(3))");
        c->execute("insert into SYSDBVER values (1, 0, 0, 0, 'QLM')");
        c->execute("create table T (N integer, S varchar(10))");
    }
    std::string path(const std::string& name) const { return (m_db.folder() / name).string(); }
    void writeFile(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    // Runs the tool with the test's alias file; no connection of this process is open meanwhile.
    Result run(const std::string& arguments) const {
        const std::string command = "cd '" + m_db.folder().string() + "' && TARVOLEN_ALIASES='" +
                                    path("aliases.ini") +
                                    "' timeout -s KILL 120 '" TARVOLEN_RUN_TOOL "' " + arguments +
                                    " 2>'" + path("stderr.txt") + "'";
        Result r;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            std::array<char, 4096> buffer{};
            size_t n = 0;
            while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
                r.out.append(buffer.data(), n);
            const int status = pclose(pipe);
            r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        r.err = readWholeFile(path("stderr.txt"));
        return r;
    }
    int64_t count(const std::string& sql) const { return selectCount(*m_db.connect(), sql); }

    TempDatabase m_db;
};

TEST_F(RunTool, aDryRunSaysWhatWouldRunAndChangesNothing) {
    writeFile("rows.xml",
              "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"N\" "
              "fieldtype=\"i4\"/></FIELDS><PARAMS/></METADATA>"
              "<ROWDATA><ROW N=\"1\"/><ROW N=\"2\"/><ROW N=\"3\"/></ROWDATA></DATAPACKET>");
    writeFile(
        "dbquery.xml",
        planXml(
            {{.id = 1, .stato = "S"},
             {.id = 2, .testo = "insert into T values (1, 'a');", .versione = "1.0.0.0"},
             {.id = 3,
              .testo = "insert into T values (2, 'b'); insert into T values (3, 'c');\r\nleft"},
             {.id = 4, .tipo = "I", .nomeTabella = "T", .nomeFile = "rows.xml", .svuota = "S"}}));
    const std::string planBefore = readWholeFile(path("dbquery.xml"));
    const Result r = run("--alias registry --dry-run");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(
        r.out,
        "Versione del DB: 1.0.0.0\n"
        "FASE 1 PROCEDURA GIA' ESEGUITA.\n"
        "FASE 2 NON ESEGUITA PER VERSIONE DATABASE.\n"
        "FASE 3 SCRIPT DA ESEGUIRE: 2 ISTRUZIONI (TESTO DOPO L'ULTIMO SEPARATORE NON ESEGUITO)\n"
        "FASE 4 IMPORT TABELLA T DAL FILE rows.xml DA ESEGUIRE: 3 RIGHE (ATTENZIONE: CAMPI DEL "
        "FILE ASSEGNATI ALLE COLONNE PER POSIZIONE, MA LA COLONNA 2 (S) NON HA UN CAMPO NEL "
        "FILE)\n");
    EXPECT_EQ(readWholeFile(path("dbquery.xml")), planBefore);
    EXPECT_EQ(count("select count(*) from T"), 0);
    EXPECT_EQ(count("select count(*) from SYSDBVER"), 1);
    EXPECT_EQ(count("select MINOR_VERSION + RELEASE_VERSION + BUILD from SYSDBVER"), 0);
}

TEST_F(RunTool, exitsWithTheOutcomeAndWritesThePlanBack) {
    writeFile(
        "dbquery.xml",
        planXml({{.id = 1, .testo = "insert into T values (1, 'a');", .versione = "1.2.0.0"}}));
    Result r = run("--alias registry --no-statistics");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "Versione del DB PRIMA dell'aggiornamento: 1.0.0.0\n"
              "FASE 1 SCRIPT IN ESECUZIONE.\n"
              "FASE 1 TERMINATA.\n"
              "Versione del DB DOPO l'aggiornamento: 1.2.0.0\n"
              "Batch eseguito correttamente\n");
    // The registry tables are missing: said on stderr, in the terminal's encoding.
    EXPECT_NE(r.err.find("Il database non \xC3\xA8 corretto."), std::string::npos) << r.err;
    EXPECT_NE(readWholeFile(path("dbquery.xml")).find("CHANGE_LOG=\"2 1 8\""), std::string::npos);

    writeFile("dbquery.xml", planXml({{.id = 1, .testo = "insert into NOPE values (1);"}}));
    r = run("--alias registry --plan dbquery.xml");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.out.find("Calcolo statistiche database...\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 26), "Batch eseguito con errori\n");
}

TEST_F(RunTool, aFailureThatEndsTheRunExitsWithTwo) {
    struct Case {
        std::string arguments;
        std::string message;
    };
    writeFile("dbquery.xml", planXml({}));
    const Case cases[] = {
        {"--alias nowhere", "nowhere"},
        {"--alias registry --password-file missing.txt", "Cannot open file"},
        {"--alias registry --plan absent.xml", "Cannot open file"},
        {"--alias registry --password secret", "usage:"},
        {"", "usage:"},
    };
    for (const auto& c : cases) {
        const Result r = run(c.arguments);
        EXPECT_EQ(r.exitCode, 2) << c.arguments;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.arguments << ": " << r.err;
    }
}

}  // namespace
}  // namespace tarvolen::testing
