#include <gtest/gtest.h>

#include "../db/IsqlRunner.h"
#include "EngineTestSupport.h"

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
        auto ours = selectRows(m_dm.dbsagg, select);
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
    EXPECT_EQ(selectRows(m_dm.dbsagg, "select count(*) from ANAG")[0][0],
              database::Value(int64_t{4}));
    EXPECT_TRUE(m_dm.BatchHasErrors);  // the statement on column "x", as isql also refused it
    EXPECT_NE(output.find("Column unknown"), std::string::npos) << output;
}

}  // namespace
}  // namespace tarvolen::testing
