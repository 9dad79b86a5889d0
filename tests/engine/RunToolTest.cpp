// tarvolen-run, run as the administrator runs it: a separate process on an embedded database.

#include <sys/stat.h>

#include "RunToolSupport.h"
#include "plan/PacketCodec.h"

namespace tarvolen::testing {
namespace {

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
    // Phase 3's text after its last separator and phase 4's column without a field would be
    // logged as errors by a run.
    EXPECT_EQ(r.exitCode, 1) << r.err;
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
    // The registry tables are missing, which is no problem for a run: nothing on stderr
    // (--verbose and --log show the note).
    EXPECT_EQ(r.err, "");
    EXPECT_NE(readWholeFile(path("dbquery.xml")).find("CHANGE_LOG=\"2 1 8\""), std::string::npos);

    writeFile("dbquery.xml", planXml({{.id = 1, .testo = "insert into NOPE values (1);"}}));
    r = run("--alias registry --plan dbquery.xml");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.out.find("Calcolo statistiche database...\n"), std::string::npos) << r.out;
    // The summary ends with the phases that had failures.
    const std::string summary =
        "Batch eseguito con errori\nFASI CON ERRORI: 1 (1 ISTRUZIONE FALLITA, CONSIDERATA "
        "ESEGUITA)\n";
    ASSERT_GE(r.out.size(), summary.size()) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - summary.size()), summary);
}

TEST_F(RunTool, aFailureThatEndsTheRunExitsWithTwo) {
    struct Case {
        std::string arguments;
        std::string message;
    };
    writeFile("dbquery.xml", planXml({}));
    writeFile("shared.txt", "secret\n");
    ::chmod(path("shared.txt").c_str(), 0640);
    writeFile("private.txt", "secret\n");
    ::chmod(path("private.txt").c_str(), 0600);
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);  // no writer: must not wait for one
    const Case cases[] = {
        {"--alias nowhere", "nowhere"},
        {"--alias registry --password-file missing.txt", "Cannot open file"},
        {"--alias registry --password-file /dev/zero",
         "Cannot open file \"/dev/zero\". Not a regular file"},
        {"--alias registry --password-file fifo", "fifo\". Not a regular file"},
        {"--alias registry --password-file .", "Is a directory"},
        {"--alias registry --password-file shared.txt",
         "shared.txt\". Permissions 0640 are too open: other users may read it (chmod 600)"},
        {"--alias registry --plan absent.xml", "Cannot open file"},
        {"--alias registry --password secret", "usage:"},
        {"", "usage:"},
    };
    for (const auto& c : cases) {
        const Result r = run(c.arguments);
        EXPECT_EQ(r.exitCode, 2) << c.arguments;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.arguments << ": " << r.err;
    }
    EXPECT_EQ(run("--alias registry --password-file private.txt --dry-run").exitCode, 0);
}

TEST_F(RunTool, aDatabaseTheWindowHoldsIsSaidToBeOpenInAnotherProgram) {
    // This process stands for the window: connected to the database without a server.
    writeFile("dbquery.xml", planXml({{.id = 1, .testo = "insert into T values (1, 'a');"}}));
    const std::string plan = readWholeFile(path("dbquery.xml"));
    const auto window = m_db.connect();
    const Result r = run("--alias registry --no-statistics");

    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    const std::string file = path("test.fdb");
    EXPECT_EQ(r.err,
              "Database \"" + file +
                  "\" of alias \"registry\" is open in another program that opened it without "
                  "a server (the tarvolen window, or another run): close that program and try "
                  "again, or have every program reach the database through the server, with an "
                  "alias whose Database is localhost:" +
                  file + ".\nI/O error during \"lock\" operation for file \"" + file +
                  "\"\n-Database already opened with engine instance, incompatible with "
                  "current\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readWholeFile(path("dbquery.xml")), plan);
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
    EXPECT_EQ(count("select count(*) from T"), 0);
}

TEST_F(RunTool, aPlanThatCannotBeRunIsRefusedBeforeTheDatabaseIsTouched) {
    struct Case {
        const char* name;
        std::string plan;
        std::string shellPrefix;
        std::string message;
    };
    DataPacket noId = decodePacket(
        planXml({{.id = 1, .testo = "insert into T values (1, 'a');"}, {.id = 2, .testo = "x;"}}));
    setRowValue(noId, 1, 0, FieldValue{});
    const std::string big = planXml(
        {{.id = 1, .testo = "insert into T values (1, '" + std::string(200000, 'x') + "');"}});
    const Case cases[] = {
        {"a row without ID", encodeXmlPacket(noId), "",
         "cdsQuery: row 1 (no ID), field ID: Field value required."},
        // A limit on file size (in blocks of 512 bytes or more) stands for a full disk.
        {"no room for the plan", big, "ulimit -f 100; ",
         "Cannot create file \"" + path("dbquery.xml") + "\". File too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile("dbquery.xml", c.plan);
        const Result r = run("--alias registry", c.shellPrefix);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("Calcolo statistiche"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("FASE"), std::string::npos) << r.out;
        EXPECT_EQ(readWholeFile(path("dbquery.xml")), c.plan);
        EXPECT_EQ(count("select count(*) from T"), 0);
    }
}

TEST_F(RunTool, stopOnErrorEndsTheRunAtTheFirstFailedStatement) {
    writeFile("dbquery.xml",
              planXml({{.id = 1,
                        .testo = "insert into T values (1, 'a');\r\ninsert into NOPE values (1);"
                                 "\r\ninsert into T values (2, 'b');\r\n"},
                       {.id = 2, .testo = "insert into T values (3, 'c');"}}));
    const Result r = run("--alias registry --no-statistics --stop-on-error");
    EXPECT_EQ(r.exitCode, 2);
    const std::string line =
        "FASE 1 INTERROTTA ALL'ISTRUZIONE 2 (RIGA 2): ISTRUZIONE FALLITA CON L'ARRESTO AL PRIMO "
        "ERRORE. LE ISTRUZIONI PRECEDENTI SONO CONFERMATE; LA FASE RESTA DA ESEGUIRE.";
    EXPECT_NE(r.out.find("ERRORE:\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(line + "\nBatch eseguito con errori\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
    EXPECT_EQ(statiOnDisk(), "NN");
    EXPECT_EQ(count("select count(*) from T"), 1);
}

}  // namespace
}  // namespace tarvolen::testing
