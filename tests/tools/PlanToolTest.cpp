// tarvolen-plan as the administrator runs it: each command, its refusals and its exit status,
// in a folder of the test's own with a database for validate --alias.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/TempDatabase.h"
#include "tests/support/ShellCommand.h"
#include "../engine/EngineTestSupport.h"
#include "plan/MarksJournal.h"
#include "plan/FileIO.h"
#include "plan/PlanLock.h"

namespace tarvolen::testing {
namespace {

using Result = CommandResult;

class PlanTool : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ofstream(path("aliases.ini")) << "[registry]\nDatabase = test.fdb\n";
        auto c = m_db.connect();
        c->execute(
            "create table SYSDBVER (MAJOR_VERSION integer, MINOR_VERSION integer, "
            "RELEASE_VERSION integer, BUILD integer, APPID varchar(3))");
        c->execute("create table COMUNI (CODICE varchar(6), NOME varchar(40))");
        writeFile("schema.sql", "create table A (N integer);\ncreate index A_N on A (N);\n");
        writeFile("comuni.xml",
                  "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"CODICE\" fieldtype=\"string\" "
                  "WIDTH=\"6\"/><FIELD attrname=\"NOME\" fieldtype=\"string\" WIDTH=\"40\"/>"
                  "</FIELDS><PARAMS/></METADATA><ROWDATA><ROW CODICE=\"004003\" NOME=\"Alba\"/>"
                  "</ROWDATA></DATAPACKET>");
    }
    std::string path(const std::string& name) const { return (m_db.folder() / name).string(); }
    void writeFile(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    // Runs the tool in the test's folder with the test's alias file, under a hard time limit.
    Result run(const std::string& arguments) const {
        return runShellCommand("cd '" + m_db.folder().string() + "' && TARVOLEN_ALIASES='" +
                                   path("aliases.ini") + "' exec timeout -s KILL 120 '" +
                                   TARVOLEN_PLAN_TOOL "' " + arguments,
                               path("err.txt"));
    }
    std::string plan() const { return readWholeFile(path("dbquery.xml")); }
    // A plan with a script phase 10 and an import phase 20, made by the tool itself.
    void makePlan() {
        ASSERT_EQ(run("init").exitCode, 0);
        ASSERT_EQ(run("add --id 10 --version 1.1.0.0 --script schema.sql").exitCode, 0);
        ASSERT_EQ(
            run("add --id 20 --version 1.1.0.1 --table COMUNI --file comuni.xml --empty-table")
                .exitCode,
            0);
    }

    database::testing::TempDatabase m_db;
};

TEST_F(PlanTool, initWritesAnEmptyPlanOnceInTheFileAsked) {
    Result r = run("init");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "empty plan written to ./dbquery.xml\n");
    const std::string made = plan();
    EXPECT_NE(made.find("attrname=\"VERSIONE\""), std::string::npos) << made;

    r = run("init");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "tarvolen-plan: the plan file \"" + path("dbquery.xml") + "\" exists already\n");
    EXPECT_EQ(plan(), made);

    EXPECT_EQ(run("init other.xml").exitCode, 0);
    EXPECT_EQ(readWholeFile(path("other.xml")), made);
    EXPECT_EQ(run("init --plan third.xml").exitCode, 0);
    EXPECT_TRUE(fileExists(path("third.xml")));
    r = run("init a.xml --plan b.xml");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("give the plan file once"), std::string::npos) << r.err;
}

TEST_F(PlanTool, addThenListShowsEachPhaseInIdOrder) {
    makePlan();
    // An ID below the others goes first; a script in UTF-8 with its own separator.
    writeFile("proc.sql", "SET TERM ^ ;\ncreate procedure P as begin end^\nSET TERM ; ^\n");
    Result r = run("add --id 5 --version 1.0.5.0 --script proc.sql --separator ';'");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "phase 5 added\n");

    r = run("list");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "ID  TYPE    DONE  VERSION  SEPARATOR  TABLE <- FILE, OR SCRIPT\n"
              "5   script  N     1.0.5.0  ;          SET TERM ^ ;\n"
              "10  script  N     1.1.0.0  ;          create table A (N integer);\n"
              "20  import  N     1.1.0.1  -          COMUNI <- comuni.xml (emptied first)\n");

    r = run("list --json");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string firstPhase =
        "[\n  {\"id\":5,\"type\":\"script\",\"tipo\":\"S\",\"stato\":\"N\",\"done\":false,"
        "\"version\":\"1.0.5.0\"";
    EXPECT_EQ(r.out.substr(0, firstPhase.size()), firstPhase);
    EXPECT_NE(r.out.find("{\"id\":20,\"type\":\"import\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"emptyTable\":true"), std::string::npos) << r.out;

    // The script is stored with CR LF line ends, as every copy of the tool reads it.
    TClientDataSet table("cdsQuery");
    configurePlanTable(table);
    table.SetFileName("");
    table.LoadFile(path("dbquery.xml"));
    table.MoveTo(1);
    EXPECT_EQ(table.FieldByName("TESTO").AsString(),
              "create table A (N integer);\r\ncreate index A_N on A (N);\r\n");
    table.Close();

    // Each change kept the plan it replaced.
    EXPECT_TRUE(fileExists(path("dbquery.xml.bak")));
    EXPECT_NE(readWholeFile(path("dbquery.xml.bak")), plan());
    EXPECT_FALSE(fileExists(path("dbquery.xml.lock")));
}

TEST_F(PlanTool, addRefusesWhatWouldNotRunAsMeantAndLeavesThePlanAlone) {
    makePlan();
    writeFile("tail.sql", "create table B (N integer);\nleft over\n");
    writeFile("long.sql", "x;\n");
    struct Case {
        std::string arguments;
        int exitCode;
        std::string message;
    };
    const Case cases[] = {
        {"add --id 10 --version 1.2.0.0 --script long.sql", 1,
         "tarvolen-plan: the plan has a phase with ID 10 already"},
        {"add --id 30 --version 1.2 --script long.sql", 1,
         "tarvolen-plan: phase 30 not added:\n  VERSIONE: '1.2' is not four numbers a.b.c.d: a "
         "run reads it as 1.0.1.2"},
        {"add --id 30 --version 1.2.0.0 --script tail.sql", 1,
         "tarvolen-plan: phase 30 not added:\n  TESTO: text after the last separator never runs: "
         "\"left over\" (separator ';')"},
        {"add --id 30 --version 1.2.0.0 --script long.sql --separator ABCDEF", 1,
         "tarvolen-plan: SEPARATORE 'ABCDEF' is longer than the 5 characters the field holds"},
        {"add --id 30 --version 1.2.0.0 --table COMUNI --file missing.xml", 1,
         "tarvolen-plan: phase 30 not added:\n  NOME_FILE: the data file cannot be read: Cannot "
         "open file \"" +
             path("missing.xml") + "\". No such file or directory"},
        {"add --id 30 --version 1.2.0.0 --script missing.sql", 2,
         "tarvolen-plan: Cannot open file \"" + path("missing.sql") +
             "\". No such file or directory"},
        {"add --id 30 --version 1.2.0.0", 2,
         "tarvolen-plan: add needs either --script FILE or "
         "--table T --file F"},
        {"add --id 30 --version 1.2.0.0 --script long.sql --table T --file comuni.xml", 2,
         "tarvolen-plan: add needs either --script FILE or --table T --file F"},
        {"add --id 30 --version 1.2.0.0 --table COMUNI", 2, "tarvolen-plan: add needs --file"},
        {"add --version 1.2.0.0 --script long.sql", 2, "tarvolen-plan: add needs --id"},
        {"add --id 3x --version 1.2.0.0 --script long.sql", 2,
         "tarvolen-plan: an ID is a whole number, not '3x'"},
        {"add --id 30 --version 1.2.0.0 --script long.sql --empty-table", 2,
         "tarvolen-plan: --empty-table belongs to an import phase"},
        {"add --id 30 --version 1.2.0.0 --script long.sql --force", 2,
         "tarvolen-plan: unknown option --force for add"},
        {"add --id 30 --version 1.2.0.0 --script long.sql extra", 2,
         "tarvolen-plan: unexpected argument extra for add"},
        {"add --id 30 --version 1.2.0.0 --script long.sql --plan absent.xml", 2,
         "tarvolen-plan: Cannot open file \"" + path("absent.xml") +
             "\". No such file or directory"},
    };
    const std::string before = plan();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Result r = run(c.arguments);
        EXPECT_EQ(r.exitCode, c.exitCode);
        // The message, then the usage after a wrong command line.
        EXPECT_EQ(r.err.substr(0, c.message.size() + 1), c.message + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(plan(), before);
    }
}

TEST_F(PlanTool, markAndRemoveChangeOnePhaseOrRefuse) {
    makePlan();
    Result r = run("mark 10 S");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "phase 10 marked S\n");
    EXPECT_NE(run("list").out.find("10  script  S "), std::string::npos);
    EXPECT_NE(plan().find("CHANGE_LOG=\"1 0 4 2 0 4 3 1 8\""), std::string::npos) << plan();

    const std::string before = plan();
    struct Case {
        std::string arguments;
        int exitCode;
        std::string message;
    };
    const Case cases[] = {
        {"mark 10 s", 1, "tarvolen-plan: a phase is marked S (done) or N (to run), not 's'"},
        {"mark 99 S", 1, "tarvolen-plan: no phase has ID 99"},
        {"remove 99", 1, "tarvolen-plan: no phase has ID 99"},
        {"mark 10", 2, "tarvolen-plan: mark needs ID and S or N"},
        {"remove", 2, "tarvolen-plan: remove needs ID"},
        {"remove ten", 2, "tarvolen-plan: an ID is a whole number, not 'ten'"},
        {"remove 10 20", 2, "tarvolen-plan: unexpected argument 20 for remove"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        r = run(c.arguments);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.message);
        EXPECT_EQ(plan(), before);
    }

    r = run("remove 20");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "phase 20 removed\n");
    EXPECT_EQ(run("list").out.find("COMUNI"), std::string::npos);
    r = run("mark 10 N --plan dbquery.xml");
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST_F(PlanTool, aPlanThatARunHoldsIsNotChanged) {
    makePlan();
    const std::string before = plan();
    const PlanLock run_(path("dbquery.xml"));
    for (const char* arguments : {"mark 10 S", "remove 10",
                                  "add --id 1 --version 1.0.0.0 "
                                  "--script schema.sql"}) {
        SCOPED_TRACE(arguments);
        const Result r = run(arguments);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("plan in use by process " + std::to_string(::getpid())),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(plan(), before);
    }
    // Reading needs no lock.
    EXPECT_EQ(run("list").exitCode, 0);
    EXPECT_EQ(run("validate").exitCode, 0);
}

TEST_F(PlanTool, marksAKilledRunLeftInTheJournalAreShownAndKeptByAnEdit) {
    makePlan();
    MarksJournal(path("dbquery.xml")).Append(20);  // what a run killed after phase 20 leaves
    EXPECT_NE(run("list").out.find("20  import  S "), std::string::npos) << run("list").out;

    // An edit writes the plan whole: the journal's mark goes into it, and the journal goes.
    const Result r = run("mark 10 S");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fileExists(path("dbquery.xml.marks")));
    const std::string listed = run("list").out;
    EXPECT_NE(listed.find("10  script  S "), std::string::npos) << listed;
    EXPECT_NE(listed.find("20  import  S "), std::string::npos) << listed;
}

TEST_F(PlanTool, validateExitsWithWhatItFound) {
    makePlan();
    Result r = run("validate");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "no problems found\n");
    r = run("validate --alias registry");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;

    // Problems of the plan alone, and those only the database shows.
    writeFile("dbquery.xml", planXml({{.id = 1, .testo = "x;\r\nleft", .versione = "2.0.0.0"},
                                      {.id = 2, .testo = "y;", .versione = "2.1"},
                                      {.id = 3,
                                       .tipo = "I",
                                       .versione = "2.2.0.0",
                                       .nomeTabella = "NOPE",
                                       .nomeFile = "comuni.xml"}}));
    r = run("validate");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out,
              "row 1 (ID 1), field TESTO: text after the last separator never runs: \"left\" "
              "(separator ';')\n"
              "row 2 (ID 2), field VERSIONE: '2.1' is not four numbers a.b.c.d: a run reads it as "
              "2.0.2.1\n"
              "2 problems found\n");
    r = run("validate dbquery.xml --alias registry");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("row 3 (ID 3), field NOME_TABELLA: the database has no table 'NOPE'\n"
                         "3 problems found\n"),
              std::string::npos)
        << r.out;

    // Could not check.
    struct Case {
        std::string arguments;
        std::string message;
    };
    writeFile("empty.xml", "");
    const Case cases[] = {
        {"validate absent.xml", "Cannot open file"},
        {"validate empty.xml", "cdsQuery: Missing data provider or data packet"},
        {"validate --alias nowhere", "nowhere"},
        {"validate --user SYSDBA", "--user and --password-file go with --alias"},
        {"validate --alias registry --password-file missing.txt", "Cannot open file"},
        {"validate --json", "unknown option --json for validate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        r = run(c.arguments);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

TEST_F(PlanTool, helpVersionAndWrongCommandLines) {
    Result r = run("--help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    for (const char* part :
         {"usage: tarvolen-plan init [FILE]", "validate [FILE] [--alias NAME", "TARVOLEN_PASSWORD",
          "TARVOLEN_ALIASES", "ISC_USER", "FIREBIRD_LOCK", "exit status:", "  0    done",
          "  1    the change was refused", "  2    could not do it"})
        EXPECT_NE(r.out.find(part), std::string::npos) << part;
    EXPECT_EQ(run("add --help").exitCode, 0);

    r = run("--version");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "tarvolen-plan " TARVOLEN_VERSION "\n");

    for (const auto& [arguments, message] :
         {std::pair<std::string, std::string>{"", "tarvolen-plan: no command given"},
          {"show", "tarvolen-plan: unknown command show"},
          {"--verbose", "tarvolen-plan: unknown option --verbose"},
          {"list --jsonx", "tarvolen-plan: unknown option --jsonx for list"},
          {"list --json=yes", "tarvolen-plan: unknown option --json for list"},
          {"add --id", "tarvolen-plan: option --id needs a value"}}) {
        SCOPED_TRACE(arguments);
        r = run(arguments);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), message);
        EXPECT_NE(r.err.find("usage: tarvolen-plan"), std::string::npos);
    }
}

}  // namespace
}  // namespace tarvolen::testing
