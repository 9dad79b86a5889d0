#include <gtest/gtest.h>

#include <algorithm>

#include "EngineTestSupport.h"
#include "tests/support/IsqlRunner.h"

namespace tarvolen::testing {
namespace {

using database::testing::runIsql;
using database::testing::selectRows;
using database::testing::TempDatabase;

// A script as administrators write them for isql: comments holding separators and apostrophes,
// literals holding separators, braces and comment markers, a literal over several lines with a
// blank line, two statements on a line, its own COMMIT, and a procedure under SET TERM.
const std::string kPart1 =
    "/* Aggiornamento 1.0.4; don't run twice */\r\n"
    "-- line comment; with an 'apostrophe\r\n"
    "create table ANAG (ID integer not null, NOME varchar(60), NOTE varchar(200));\r\n"
    "insert into ANAG values (1, 'Rossi; Mario', '{non un commento}');\r\n"
    "insert into ANAG values (2, 'D''Angelo', 'riga1\r\nriga2\r\n\r\nriga4');   -- a literal over "
    "lines\r\n"
    "insert into ANAG values (3, 'x', '/* no */'); insert into ANAG values (4, 'y', '-- no');\r\n"
    "update ANAG set NOTE = NOTE || ' ok' where ID = 1; /* trailing ; comment */\r\n"
    "insert into ANAG values (5, \"x\" , 'quoted') ;\r\n"
    "COMMIT;\r\n";
const std::string kPart2 =
    "create procedure P_CONTA returns (N integer) as\r\n"
    "begin\r\n"
    "  select count(*) from ANAG into :N; -- the colon stays\r\n"
    "  suspend;\r\n"
    "end^\r\n";
const std::string kPart3 =
    "create table CONTI (N integer);\r\n"
    "insert into CONTI select N from P_CONTA;\r\n";

using ScriptPhase = EngineTest;

TEST_F(ScriptPhase, aRealScriptLeavesTheDatabaseAsIsqlDoes) {
    // Statement 5 refers to a column "x" that does not exist: both runners must refuse it alone.
    loadPlan({{.id = 1, .testo = kPart1},
              {.id = 2, .separatore = "^", .testo = kPart2},
              {.id = 3, .testo = kPart3}});
    m_dm.RunBatch();

    TempDatabase peer;
    const std::string output =
        runIsql(peer.folder(), "connect '" + peer.file().string() + "' user 'SYSDBA';\n" + kPart1 +
                                   "SET TERM ^ ;\r\n" + kPart2 + "SET TERM ; ^\r\n" + kPart3 +
                                   "commit;\r\n");
    auto peerConnection = peer.connect();
    for (const char* select :
         {"select ID, NOME, NOTE from ANAG order by ID", "select N from CONTI"}) {
        auto ours = selectRows(m_dm.dbsagg(), select);
        // isql reads its script file with the line breaks made LF; the plan's statements keep
        // the CR LF their lines are joined with, also inside a literal over several lines.
        for (auto& row : ours) {
            for (auto& v : row) {
                if (auto* s = std::get_if<std::string>(&v)) {
                    for (size_t at; (at = s->find("\r\n")) != std::string::npos;) s->erase(at, 1);
                }
            }
        }
        const auto theirs = selectRows(*peerConnection, select);
        EXPECT_EQ(ours, theirs) << select << "\nisql said: " << output;
    }
    EXPECT_EQ(selectRows(m_dm.dbsagg(), "select count(*) from ANAG")[0][0],
              database::Value(int64_t{4}));
    EXPECT_TRUE(m_dm.BatchHasErrors());  // the statement on column "x", as isql also refused it
    EXPECT_NE(output.find("Column unknown"), std::string::npos) << output;
}

TEST_F(ScriptPhase, isqlCommandsRunNothingAndRaiseNothing) {
    setDatabaseVersion("1, 0, 0, 0");
    m_dm.dbsagg().execute("create table T (N integer)");
    loadPlan({
        // Its one real statement fails: the COMMIT around it must not count as a success.
        {.id = 1,
         .testo = "COMMIT;\r\ninsert into NOPE values (1);\r\ncommit work;\r\n",
         .versione = "2.0.0.0"},
        {.id = 2,
         .testo = "SET SQL DIALECT 3;\r\nset names win1252;\r\nSET AUTODDL ON;\r\nSET ECHO OFF;\r\n"
                  "SET LIST ON;\r\nSET STATS;\r\nSET TERM ^ ;\r\n"
                  "create procedure P returns (N integer) as begin N = 1; suspend; end^\r\n"
                  "SET TERM ; ^\r\ninsert into T select N from P;\r\n"},
        {.id = 3, .testo = "SET NAMES UTF8;\r\n"},
    });
    m_dm.RunBatch();
    EXPECT_EQ(databaseVersion(), "1.0.0.0");
    EXPECT_EQ(count("select count(*) from T"), 1);
    // Two failures: the insert into NOPE, and SET NAMES of another character set.
    EXPECT_EQ(std::count(m_host.log.begin(), m_host.log.end(), "ERRORE:"), 2)
        << ::testing::PrintToString(m_host.log);
    const auto names = std::find(m_host.log.begin(), m_host.log.end(), "SET NAMES UTF8\r\n\r\n");
    EXPECT_NE(names, m_host.log.end()) << ::testing::PrintToString(m_host.log);
}

TEST_F(ScriptPhase, lineBreaksInsideALiteralAreStoredAsTheScriptHasThem) {
    m_dm.dbsagg().execute("create table T (N integer, S varchar(40))");
    loadPlan(
        {{.id = 1,
          .testo = "insert into T values (1, 'a\nb\n\nc');\ninsert into T values (2, 'a\r\nb');\n"
                   "insert into T values (3, q'{it's; a\nq-literal}');\n"}});
    m_dm.RunBatch();
    EXPECT_FALSE(m_dm.BatchHasErrors()) << ::testing::PrintToString(m_host.log);
    EXPECT_EQ(selectRows(m_dm.dbsagg(), "select S from T order by N"),
              (std::vector<std::vector<database::Value>>{{std::string("a\nb\n\nc")},
                                                         {std::string("a\r\nb")},
                                                         {std::string("it's; a\nq-literal")}}));
}

TEST_F(ScriptPhase, textThatCannotRunIsReportedNotDropped) {
    struct Case {
        const char* name;
        std::string testo;
        std::string message;
        std::string text;
    };
    const Case cases[] = {
        {"a NUL in the text",
         std::string("insert into T values (1);\r\n\0insert into T values (2);\r\n", 55),
         "Testo dopo un carattere NUL non eseguito", "insert into T values (2);\r\n"},
        {"a comment never closed",
         "insert into T values (1);\r\n/* forgotten\r\ninsert into T values (2);\r\n",
         "Commento non chiuso alla fine dello script: testo non eseguito",
         "/* forgotten\r\ninsert into T values (2);\r\n"},
        {"a literal never closed",
         "insert into T values (1);\r\ninsert into T values ('x);\r\ninsert into T values (2);",
         "Stringa non chiusa alla fine dello script: testo non eseguito",
         "insert into T values ('x);\r\ninsert into T values (2);\r\n"},
    };
    m_dm.dbsagg().execute("create table T (N integer)");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_dm.dbsagg().execute("delete from T");
        m_host = RecordingHost{};
        loadPlan({{.id = 1, .testo = c.testo}});
        m_dm.RunBatch();
        const std::vector<std::string> block = {
            "ERRORE:", c.message, "------------------------------------------------------", c.text,
            "------------------------------------------------------"};
        EXPECT_NE(std::search(m_host.log.begin(), m_host.log.end(), block.begin(), block.end()),
                  m_host.log.end())
            << ::testing::PrintToString(m_host.log);
        EXPECT_EQ(m_host.messages.back(), "Query batch: Batch eseguito con errori");
        EXPECT_EQ(count("select count(*) from T"), 1);
        EXPECT_EQ(stato(1), "S");  // the phase ran, as one whose statement failed
    }
}

}  // namespace
}  // namespace tarvolen::testing
