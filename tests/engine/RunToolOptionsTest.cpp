// tarvolen-run's command line: help, version, wrong options, the dry run's exit status, the log
// file, the notes --verbose shows, and the progress line on a terminal.

#include <regex>

#include "RunToolSupport.h"

namespace tarvolen::testing {
namespace {

TEST_F(RunTool, helpNamesEveryOptionTheEnvironmentAndTheExitStatus) {
    const Result r = run("--help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    for (const char* part : {"usage: tarvolen-run --alias NAME",
                             "--user NAME",
                             "--password-file FILE",
                             "--plan FILE",
                             "--no-statistics",
                             "--dry-run",
                             "--stop-on-error",
                             "--log FILE",
                             "--quiet",
                             "--verbose",
                             "--help",
                             "--version",
                             "TARVOLEN_PASSWORD",
                             "TARVOLEN_ALIASES",
                             "ISC_USER",
                             "FIREBIRD_LOCK",
                             "exit status:",
                             "  0    \"Batch eseguito correttamente\"",
                             "  1    \"Batch eseguito con errori\"",
                             "  2    a failure",
                             "129, 130, 143"})
        EXPECT_NE(r.out.find(part), std::string::npos) << part;
    // Help wins over what else the line holds, a missing --alias included.
    EXPECT_EQ(run("--dry-run --help").exitCode, 0);
}

// A machine without the database client: the tool names the library and what to install, and
// ends as a failed run does, without a run started or the plan touched.
TEST_F(RunTool, aMissingClientLibraryIsNamedWithWhatToInstall) {
    writeFile("dbquery.xml", planXml({{.id = 1, .testo = "insert into T values (1, 'x');"}}));
    const std::string before = readWholeFile(path("dbquery.xml"));
    const std::string missing = path("no-client/libfbclient.so.2");
    const std::string withoutClient = "export TARVOLEN_FBCLIENT='" + missing + "'; ";
    for (const char* arguments : {"--alias registry", "--alias registry --dry-run"}) {
        SCOPED_TRACE(arguments);
        const Result r = run(arguments, withoutClient);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("The Firebird client library " + missing + " cannot be loaded ("),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("apt install libfbclient2"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(readWholeFile(path("dbquery.xml")), before);
    EXPECT_EQ(run("--help", withoutClient).exitCode, 0);
}

TEST_F(RunTool, versionIsTheProjectsVersion) {
    const Result r = run("--version");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "tarvolen-run " TARVOLEN_VERSION "\n");
}

TEST_F(RunTool, aWrongCommandLineIsNamedInTheError) {
    const std::pair<const char*, const char*> cases[] = {
        {"--alias registry --frobnicate", "tarvolen-run: unknown option --frobnicate"},
        {"--alias registry extra", "tarvolen-run: unexpected argument extra"},
        {"--alias", "tarvolen-run: option --alias needs a value"},
        {"--dry-run", "tarvolen-run: --alias NAME is required"},
        {"--alias registry --dry-run=yes", "tarvolen-run: option --dry-run takes no value"},
    };
    for (const auto& [arguments, message] : cases) {
        SCOPED_TRACE(arguments);
        const Result r = run(arguments);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), message);
        EXPECT_NE(r.err.find("usage: tarvolen-run"), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
    // --name=value is the same as --name value.
    writeFile("dbquery.xml", planXml({}));
    EXPECT_EQ(run("--alias=registry --dry-run").exitCode, 0);
}

TEST_F(RunTool, aDryRunExitsWithOneWhenTheRunWouldLogAnError) {
    writeFile("rows.xml",
              "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"N\" fieldtype=\"i4\"/><FIELD "
              "attrname=\"S\" fieldtype=\"string\" WIDTH=\"10\"/></FIELDS><PARAMS/></METADATA>"
              "<ROWDATA><ROW N=\"1\" S=\"a\"/></ROWDATA></DATAPACKET>");
    writeFile("one-field.xml",
              "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"N\" fieldtype=\"i4\"/></FIELDS>"
              "<PARAMS/></METADATA><ROWDATA><ROW N=\"1\"/></ROWDATA></DATAPACKET>");
    writeFile("one-field-empty.xml",
              "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"N\" fieldtype=\"i4\"/></FIELDS>"
              "<PARAMS/></METADATA><ROWDATA/></DATAPACKET>");
    struct Case {
        const char* name;
        std::vector<Phase> phases;
        int exitCode;
    };
    const Case cases[] = {
        {"a plan that would run cleanly",
         {{.id = 1, .testo = "insert into T values (1, 'a');\r\n", .versione = "1.1.0.0"},
          {.id = 2, .tipo = "I", .nomeTabella = "T", .nomeFile = "rows.xml"},
          {.id = 3, .tipo = "I", .nomeTabella = "T", .nomeFile = "one-field-empty.xml"}},
         0},
        {"text after the last separator",
         {{.id = 1, .testo = "insert into T values (1, 'a');\r\nleft", .versione = "1.1.0.0"}},
         1},
        {"a comment never closed", {{.id = 1, .testo = "x;\r\n/* open", .versione = "1.1.0.0"}}, 1},
        {"an unreadable data file",
         {{.id = 1, .tipo = "I", .nomeTabella = "T", .nomeFile = "missing.xml"}},
         1},
        {"a missing table",
         {{.id = 1, .tipo = "I", .nomeTabella = "NOPE", .nomeFile = "rows.xml"}},
         1},
        {"a column without a field",
         {{.id = 1, .tipo = "I", .nomeTabella = "T", .nomeFile = "one-field.xml"}},
         1},
        {"problems only in phases that do not run",
         {{.id = 1, .stato = "S", .testo = "x;\r\nleft"},
          {.id = 2, .testo = "x;\r\nleft", .versione = "1.0.0.0"}},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile("dbquery.xml", planXml(c.phases));
        const Result r = run("--alias registry --dry-run");
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    }
    EXPECT_EQ(count("select count(*) from T"), 0);
}

TEST_F(RunTool, theLogFileHasEveryLineTimedPhaseDurationsAndTheOutcome) {
    writeFile("dbquery.xml",
              planXml({{.id = 1,
                        .testo = "insert into T values (1, 'a');\r\ninsert into NOPE values (1);"
                                 "\r\ninsert into NOPE values (2);\r\n",
                        .versione = "1.1.0.0"},
                       {.id = 2, .stato = "S"}}));
    writeFile("run.log", "an earlier run\n");
    const Result r = run("--alias registry --no-statistics --log run.log");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    // The note is no problem for a run: only the log has it.
    EXPECT_EQ(r.err.find("corretto"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("\x1b[K"), std::string::npos) << "no progress line off a terminal";

    const std::string log = readWholeFile(path("run.log"));
    ASSERT_EQ(log.rfind("an earlier run\n", 0), 0u) << "appended";
    std::vector<std::string> lines;
    for (size_t at = 15, end = 0; at < log.size(); at = end + 1) {
        end = log.find('\n', at);
        lines.push_back(log.substr(at, end - at));
    }
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} .*)");
    std::string text;  // the lines without their timestamps
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
        text += line.substr(24) + "\n";
    }
    const std::regex expected(
        "INIZIO: tarvolen-run " TARVOLEN_VERSION
        ", alias registry, piano \\./dbquery\\.xml\n"
        "UTENTI: sistema \\S+, database SYSDBA\n"
        "Log dell'esecuzione: \\./log/\\d{8}-\\d{6}-registry\\.log\n"
        "NESSUN BACKUP DEL DATABASE PRIMA DELL'AGGIORNAMENTO \\(--backup DIR\\)\n"
        "Il database non \xC3\xA8 corretto\\.\n"
        "Versione del DB PRIMA dell'aggiornamento: 1\\.0\\.0\\.0\n"
        "FASE 1 SCRIPT IN ESECUZIONE\\.\n"
        "ERRORE:\n(.*\n)+"
        "FASE 1 TERMINATA\\.\n"
        "FASE 1: 2 ISTRUZIONI FALLITE; LA FASE E' CONSIDERATA ESEGUITA E "
        "NON VERRA' RIPETUTA\\.\n"
        "FASE 1 DURATA: \\d+\\.\\d{3} s\n"
        "FASE 2 PROCEDURA GIA' ESEGUITA\\.\n"
        "Versione del DB DOPO l'aggiornamento: 1\\.1\\.0\\.0\n"
        "Batch eseguito con errori\n"
        "FASI CON ERRORI: 1 \\(2 ISTRUZIONI FALLITE, CONSIDERATA "
        "ESEGUITA\\)\n"
        "ISTRUZIONI FALLITE: 2, IMPORT FALLITI: 0\n"
        "DURATA DELL'ESECUZIONE: \\d+\\.\\d{3} s, CODICE DI USCITA 1\n");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
    // The run kept the same log beside the plan, whatever --log said.
    std::vector<std::filesystem::path> kept;
    for (const auto& entry : std::filesystem::directory_iterator(path("log")))
        kept.push_back(entry.path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(readWholeFile(kept[0].string()), log.substr(15));
    // stdout has the log lines without timestamps, and nothing the log file alone holds.
    EXPECT_EQ(r.out.find("DURATA"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("FASE 1 TERMINATA.\n"), std::string::npos) << r.out;
}

TEST_F(RunTool, aRunThatFailsStillEndsItsLog) {
    writeFile("dbquery.xml", planXml({}));
    const Result r = run("--alias nowhere --log run.log");
    EXPECT_EQ(r.exitCode, 2);
    const std::string log = readWholeFile(path("run.log"));
    EXPECT_NE(log.find(" nowhere"), std::string::npos) << log;
    EXPECT_NE(log.find("ISTRUZIONI FALLITE: 0, IMPORT FALLITI: 0\n"), std::string::npos) << log;
    EXPECT_NE(log.find("CODICE DI USCITA 2\n"), std::string::npos) << log;
    // A log that cannot be written stops the run before it starts.
    const Result refused = run("--alias registry --log no-such-folder/run.log");
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("Cannot create file \"" + path("no-such-folder/run.log") + "\""),
              std::string::npos)
        << refused.err;
}

TEST_F(RunTool, verboseShowsTheNoteAboutTheRegistryTables) {
    writeFile("dbquery.xml", planXml({}));
    Result r = run("--alias registry --no-statistics --verbose");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Il database non \xC3\xA8 corretto."), std::string::npos) << r.err;
    r = run("--alias registry --no-statistics");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

TEST_F(RunTool, aTerminalShowsTheProgressLineUnlessQuiet) {
    writeFile("dbquery.xml",
              planXml({{.id = 7, .testo = "insert into T values (1, 'a');\r\n", .versione = ""}}));
    // `script` gives the tool a terminal for its standard output and error, and copies what
    // the terminal shows to its own output.
    const auto onTerminal = [&](const std::string& arguments) {
        return runShellCommand("script -qec \"" + command(arguments) + "\" /dev/null");
    };
    Result r = onTerminal("--alias registry --no-statistics --plan dbquery.xml");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("\rphase 1/1 (ID 7): line "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\x1b[K"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Batch eseguito correttamente"), std::string::npos) << r.out;

    writeFile("dbquery.xml",
              planXml({{.id = 7, .testo = "insert into T values (2, 'b');\r\n", .versione = ""}}));
    r = onTerminal("--alias registry --no-statistics --quiet");
    EXPECT_EQ(r.out.find("phase 1/1"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\x1b[K"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Batch eseguito correttamente"), std::string::npos) << r.out;
    EXPECT_EQ(count("select count(*) from T"), 2);
}

}  // namespace
}  // namespace tarvolen::testing
