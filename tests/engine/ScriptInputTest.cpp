// Script phases whose text is hard to read: a comment or a literal never closed, NUL bytes, a
// line of a megabyte, a hundred thousand statements on one line. tarvolen-run reads each one
// within bounded memory and time: the dry run counts what would run and says what would not,
// changing nothing; the run reports the text it cannot run as an error and runs the rest.

#include <sys/stat.h>

#include "../input/BoundedChild.h"
#include "RunToolSupport.h"

namespace tarvolen::testing {
namespace {

std::string repeated(const std::string& text, size_t times) {
    std::string out;
    out.reserve(text.size() * times);
    for (size_t i = 0; i < times; ++i) out += text;
    return out;
}

struct ScriptCase {
    const char* name;
    std::string testo;
    std::string dryRunLine;  // the dry run's line for the phase, after "FASE 1 "
    std::string rows;        // what T holds after the run, "S..." in order; empty: no run
    bool failed;             // the run reports an error for this script
};

class ScriptInput : public RunTool {
  protected:
    // Modification time and bytes of a file.
    std::string fileState(const std::string& name) const {
        struct stat st {};
        ::stat(path(name).c_str(), &st);
        return std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + " " +
               readWholeFile(path(name));
    }
    // Runs the tool to its end as a started process; its result and peak memory in MiB.
    std::pair<Result, long> runMeasured(const std::vector<std::string>& arguments) {
        const pid_t pid = start(arguments, "measured");
        EXPECT_GT(pid, 0);
        const Result r = output("measured", finish(pid));
        return {r, maxRssKb(pid) / 1024};
    }
};

TEST_F(ScriptInput, scriptsHardToReadAreReportedWithinBoundedMemoryAndTime) {
    const std::string megabyteComment = "/* " + std::string(1 << 20, 'c') + " */";
    const std::vector<ScriptCase> cases = {
        {"unclosedComment",
         "insert into T values (1, 'a');\r\n/* never closed\r\ninsert into T "
         "values (1, 'b');\r\n",
         "SCRIPT DA ESEGUIRE: 1 ISTRUZIONI (COMMENTO NON CHIUSO: TESTO NON ESEGUITO)", "a", true},
        {"unclosedLiteral", "insert into T values (1, 'a');\r\ninsert into T values (1, 'b);\r\n",
         "SCRIPT DA ESEGUIRE: 1 ISTRUZIONI (STRINGA NON CHIUSA: TESTO NON ESEGUITO)", "a", true},
        {"nulBytes",
         std::string("insert into T values (1, 'a');\r\n\0\0insert into T values (1, 'b');\r\n",
                     66),
         "SCRIPT DA ESEGUIRE: 1 ISTRUZIONI (TESTO DOPO UN CARATTERE NUL NON ESEGUITO)", "a", true},
        {"megabyteLine",
         "insert into T values (1, 'a') " + megabyteComment +
             ";\r\ninsert into T values (1, "
             "'b');\r\n",
         "SCRIPT DA ESEGUIRE: 2 ISTRUZIONI", "ab", false},
        {"megabyteLineWithoutSeparator",
         "insert into T values (1, 'a');\r\n" + megabyteComment + " insert into T values (1, 'b')",
         "SCRIPT DA ESEGUIRE: 1 ISTRUZIONI (TESTO DOPO L'ULTIMO SEPARATORE NON ESEGUITO)", "a",
         true},
        // Each statement commits on its own, which takes the disk's time: of a hundred
        // thousand statements on one line, the run sends every thousandth to the database, the
        // others being client statements that run nothing; the dry run counts a hundred
        // thousand that would all reach it.
        {"hundredThousandStatementsOnOneLine",
         repeated("insert into T values (1, 'a');" + repeated("COMMIT;", 999), 100) + "\r\n",
         "SCRIPT DA ESEGUIRE: 100 ISTRUZIONI", repeated("a", 100), false},
        {"hundredThousandStatementsOnOneLineDryRun",
         repeated("insert into T values (1, 'a');", 100000) + "\r\n",
         "SCRIPT DA ESEGUIRE: 100000 ISTRUZIONI", "", false},
    };
    for (const ScriptCase& c : cases) {
        SCOPED_TRACE(c.name);
        {
            auto connection = m_db.connect();
            connection->execute("delete from T");
            connection->execute("update SYSDBVER set MINOR_VERSION = 0");
        }
        writeFile("dbquery.xml", planXml({{.id = 1, .testo = c.testo, .versione = "1.1.0.0"}}));
        const std::string before = fileState("dbquery.xml");

        const auto [dry, dryMb] = runMeasured({"--alias", "registry", "--dry-run"});
        // The dry run fails where the run would report an error.
        EXPECT_EQ(dry.exitCode, c.failed ? 1 : 0) << dry.err;
        EXPECT_NE(dry.out.find("FASE 1 " + c.dryRunLine + "\n"), std::string::npos) << dry.out;
        EXPECT_EQ(fileState("dbquery.xml"), before) << "the dry run changed the plan";
        // A sanitizer's shadow memory counts in the peak; the bound is for a plain build.
        if (!TARVOLEN_TEST_SANITIZED) {
            EXPECT_LT(dryMb, 256);
        }

        if (c.rows.empty()) continue;
        const auto [r, runMb] = runMeasured({"--alias", "registry", "--no-statistics"});
        EXPECT_EQ(r.exitCode, c.failed ? 1 : 0) << r.out.substr(0, 2000) << r.err;
        EXPECT_EQ(r.out.find("ERRORE:") != std::string::npos, c.failed) << r.out.substr(0, 2000);
        if (!TARVOLEN_TEST_SANITIZED) {
            EXPECT_LT(runMb, 256);
        }
        EXPECT_EQ(text("select list(S, '') from (select S from T order by S)"), c.rows);
        EXPECT_EQ(statiOnDisk(), "S");
    }
}

}  // namespace
}  // namespace tarvolen::testing
