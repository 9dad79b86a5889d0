#include <gtest/gtest.h>

#include "engine/ScriptSplitter.h"

namespace tarvolen {
namespace {

struct Split {
    std::vector<std::string> statements;  // each as handed over, joined by StatementText
    std::vector<std::string> leftover;    // lines gathered after the last separator
};

Split split(std::string_view script, const std::string& separator) {
    Split out;
    ScriptSplitter splitter(separator);
    std::vector<std::string_view> lines;
    for (const auto& line : SplitScriptLines(script)) {
        splitter.WalkLine(line, lines, [&](std::vector<std::string_view>& statement) {
            out.statements.push_back(StatementText(statement));
        });
    }
    out.leftover.assign(lines.begin(), lines.end());
    return out;
}

TEST(ScriptSplitter, cutsStatementsAsTheLineWalkReadsThem) {
    struct Case {
        const char* name;
        std::string script;
        std::string separator;
        std::vector<std::string> statements;
        std::vector<std::string> leftover;
    };
    const Case cases[] = {
        {"two statements", "select 1;\r\nselect 2;\r\n", ";", {"select 1\r\n", "select 2\r\n"}, {}},
        {"indentation kept",
         "  insert into T\r\n    values (1);  \r\n",
         ";",
         {"  insert into T\r\n    values (1)\r\n"},
         {}},
        {"blank lines dropped", "a\r\n\r\n \t\r\nb;", ";", {"a\r\nb\r\n"}, {}},
        {"text after the last separator", "a;\r\nb\r\n", ";", {"a\r\n"}, {"b\r\n"}},
        {"lower-case separator never matches", "select 1 go\r\n", "go", {}, {"select 1 go\r\n"}},
        {"upper-case separator matches any case", "select 1 go\r\n", "GO", {"select 1 \r\n"}, {}},
        {"empty separator", "a;\r\n", "", {}, {"a;\r\n"}},
        {"a line of only the separator", ";\r\n", ";", {"\r\n"}, {}},
        {"lone LF ends a line, lone CR does not", "a\nb\rc;", ";", {"a\nb\rc\r\n"}, {}},
        {"text ends at NUL", std::string("a;\0b;", 5), ";", {"a\r\n"}, {}},
        {"terminator of a procedure body",
         "create procedure P as begin\r\n  x = 1;\r\nend^\r\n",
         "^",
         {"create procedure P as begin\r\n  x = 1;\r\nend\r\n"},
         {}},
        {"accented text upper-cased for the key only",
         "update T set C = '\xE0';",
         ";",
         {"update T set C = '\xE0'\r\n"},
         {}},
    };
    for (const auto& c : cases) {
        const Split s = split(c.script, c.separator);
        EXPECT_EQ(s.statements, c.statements) << c.name;
        EXPECT_EQ(s.leftover, c.leftover) << c.name;

        // The outline the dry run reports walks the same way.
        const ScriptOutline outline = OutlineScript(c.script, c.separator);
        EXPECT_EQ(outline.statementCount, c.statements.size()) << c.name;
        const std::vector<std::string_view> leftover(c.leftover.begin(), c.leftover.end());
        EXPECT_EQ(outline.textAfterLastSeparator, StatementText(leftover)) << c.name;
    }
}

TEST(ScriptSplitter, statementTextKeepsEachLinesOwnBreakAndEndsOthersWithCrLf) {
    EXPECT_EQ(StatementText({}), "");
    EXPECT_EQ(StatementText({""}), "\r\n");  // one empty line is a statement of one line break
    EXPECT_EQ(StatementText({"  insert into T", "values (1)"}),
              "  insert into T\r\nvalues (1)\r\n");
    EXPECT_EQ(StatementText({"insert into T\n", "values ('a\n", "b\r\n", "c')"}),
              "insert into T\nvalues ('a\nb\r\nc')\r\n");
}

TEST(ScriptSplitter, lineBreaksInsideAStatementStayAsTheScriptHasThem) {
    struct Case {
        const char* name;
        std::string script;
        std::vector<std::string> statements;
    };
    const Case cases[] = {
        {"LF only, a literal over lines",
         "insert into T values ('riga1\nriga2\n\nriga4');\nselect 1\nfrom T;\n",
         {"insert into T values ('riga1\nriga2\n\nriga4')\r\n", "select 1\nfrom T\r\n"}},
        {"CR LF", "insert into T values ('a\r\nb');\r\n", {"insert into T values ('a\r\nb')\r\n"}},
        {"mixed, each line its own",
         "insert into T values ('a\r\nb\nc');",
         {"insert into T values ('a\r\nb\nc')\r\n"}},
    };
    for (const auto& c : cases) EXPECT_EQ(split(c.script, ";").statements, c.statements) << c.name;
}

TEST(ScriptSplitter, setTermChangesTheSeparatorAndRunsNothing) {
    struct Case {
        const char* name;
        std::string script;
        std::vector<std::string> statements;
        std::string separatorAfter;
    };
    const Case cases[] = {
        {"as isql scripts write it",
         "SET TERM ^ ;\r\ncreate procedure P as begin\r\n  x = 1;\r\nend^\r\nSET TERM ; ^\r\n"
         "select 1;\r\n",
         {"create procedure P as begin\r\n  x = 1;\r\nend\r\n", "select 1\r\n"},
         ";"},
        {"any case, any blanks, glued to the old separator",
         "set\tterm   !! ;\nselect 1 !!\n  Set Term ;!!\nselect 2;",
         {"select 1 \r\n", "select 2\r\n"},
         ";"},
        {"a word as separator matches in any case",
         "set term go ;\nselect 1 go\nselect 2 GO\n",
         {"select 1 \r\n", "select 2 \r\n"},
         "GO"},
        {"in a comment before it", "/* new */ SET TERM # ;\nselect 1#", {"select 1\r\n"}, "#"},
        {"the rest of the line goes on with the new separator",
         "SET TERM ^ ;select 1; select 2^",
         {"select 1; select 2\r\n"},
         "^"},
        {"without a new separator it is a statement", "SET TERM ;", {"SET TERM \r\n"}, ";"},
        {"SET TERMS is not SET TERM", "SET TERMS ^ ;", {"SET TERMS ^ \r\n"}, ";"},
        {"after a byte-order mark, as another program copies a UTF-8 file",
         "\xEF\xBB\xBFSET TERM ^ ;\r\nselect 1^\r\nSET TERM ; ^\r\nselect 2;\r\n",
         {"select 1\r\n", "select 2\r\n"},
         ";"},
        {"a byte-order mark later in the text is text",
         "select 1;\xEF\xBB\xBFSET TERM ^ ;",
         {"select 1\r\n", "\xEF\xBB\xBFSET TERM ^ \r\n"},
         ";"},
        {"a comment's LF line end parts words as CR LF does",
         "SET TERM--nuovo\n^ ;\nselect 1^",
         {"select 1\r\n"},
         "^"},
        {"inside a literal nothing changes",
         "insert into T values ('\r\nSET TERM ^ ;\r\n');",
         {"insert into T values ('\r\nSET TERM ^ ;\r\n')\r\n"},
         ";"},
    };
    for (const auto& c : cases) {
        ScriptSplitter splitter(";");
        std::vector<std::string> statements;
        std::vector<std::string_view> lines;
        for (const auto& line : SplitScriptLines(c.script)) {
            splitter.WalkLine(line, lines, [&](std::vector<std::string_view>& statement) {
                statements.push_back(StatementText(statement));
            });
        }
        EXPECT_EQ(statements, c.statements) << c.name;
        EXPECT_EQ(splitter.Separator(), c.separatorAfter) << c.name;
        EXPECT_TRUE(lines.empty()) << c.name;
    }
}

TEST(ScriptSplitter, isqlClientCommandsAreToldFromStatements) {
    struct Case {
        std::string statement;
        bool clientOnly;
    };
    const Case cases[] = {
        {"COMMIT", true},
        {"commit work", true},
        {"Commit Work Retain Snapshot", true},
        {"ROLLBACK RETAIN\r\n", true},
        {"rollback retain snapshot", false},
        {"/* end */ COMMIT -- done", true},
        {"SET AUTODDL ON", true},
        {"set autoddl", true},
        {"SET ECHO OFF", true},
        {"SET LIST ON", true},
        {"SET STATS", true},
        {"SET STATS MAYBE", false},
        {"SET SQL DIALECT 3", true},
        {"SET SQL DIALECT 1", false},
        {"SET NAMES WIN1252", true},
        {"set names win1252", true},
        {"SET NAMES UTF8", false},
        {"SET STATISTICS INDEX RDB$PRIMARY1", false},
        {"SET GENERATOR G TO 5", false},
        {"SET TRANSACTION", false},
        {"COMMIT--fine\r\nWORK", true},
        {"COMMIT--fine\nWORK", true},  // the line break after a comment parts words, CR LF or LF
        {"insert into T values (1)", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsClientOnlyStatement(c.statement, "WIN1252"), c.clientOnly) << c.statement;
    EXPECT_FALSE(IsClientOnlyStatement("SET NAMES WIN1252", ""));
}

TEST(ScriptSplitter, quoteLiteralsOfAnyDelimiterAreOneLiteral) {
    struct Case {
        const char* name;
        std::string script;
        std::vector<std::string> statements;
    };
    const Case cases[] = {
        {"braces", "insert into T values (q'{a;b}');", {"insert into T values (q'{a;b}')\r\n"}},
        {"a quote inside", "values (Q'!it's; fine!');", {"values (Q'!it's; fine!')\r\n"}},
        {"brackets and angles over lines",
         "values (q'[x;\r\n]'); values (q'<y;>');",
         {"values (q'[x;\r\n]')\r\n", " values (q'<y;>')\r\n"}},
        {"comment markers inside", "values (q'(/* ; */)');", {"values (q'(/* ; */)')\r\n"}},
        {"a name ending in q is no literal", "select seq';' from T;", {"select seq';' from T\r\n"}},
    };
    for (const auto& c : cases) {
        const Split s = split(c.script, ";");
        EXPECT_EQ(s.statements, c.statements) << c.name;
        EXPECT_TRUE(s.leftover.empty()) << c.name;
    }
    EXPECT_EQ(StripComments("q'{/* no */}' /* yes */"), "q'{/* no */}' ");
    EXPECT_EQ(StripComments("q'x/*x' /* yes */"), "q'x/*x' ");
}

TEST(ScriptSplitter, tellsWhatTheTextLeavesOpenAtItsEnd) {
    struct Case {
        std::string script;
        ScriptSplitter::OpenAtEnd open;
    };
    using Open = ScriptSplitter::OpenAtEnd;
    const Case cases[] = {
        {"select 1;\r\n", Open::Nothing},
        {"select 1; /* closed */", Open::Nothing},
        {"select 1; /* never closed\r\nselect 2;\r\n", Open::Comment},
        {"select 1; { never closed", Open::Comment},
        {"insert into T values ('never closed);\r\nselect 2;", Open::Literal},
        {"select \"never closed from T;", Open::Literal},
        {"values (q'{never closed);", Open::Literal},
    };
    for (const auto& c : cases) {
        ScriptSplitter splitter(";");
        std::vector<std::string_view> lines;
        for (const auto& line : SplitScriptLines(c.script))
            splitter.WalkLine(line, lines, [](std::vector<std::string_view>&) {});
        EXPECT_EQ(splitter.Open(), c.open) << c.script;
        EXPECT_EQ(OutlineScript(c.script, ";").open, c.open) << c.script;
    }
}

TEST(ScriptSplitter, theOutlineCountsWhatReachesTheDatabaseAndWhatIsLeftUnread) {
    const std::string script = std::string(
        "SET TERM ^ ;\r\nselect 1^\r\nSET TERM ; ^\r\nCOMMIT;\r\nSET NAMES WIN1252;\r\n"
        "select 2;\r\nsel\0ect 3;\0\0select 4;\r\n",
        102);
    const ScriptOutline outline = OutlineScript(script, ";", "WIN1252");
    EXPECT_EQ(outline.statementCount, 2u);
    EXPECT_EQ(outline.textAfterLastSeparator, "sel\r\n");
    EXPECT_EQ(outline.textAfterNul, "ect 3;select 4;\r\n");
    EXPECT_EQ(OutlineScript("\xEF\xBB\xBFselect 1;\r\n", ";").statementCount, 1u);
    EXPECT_EQ(OutlineScript("\xEF\xBB\xBF", ";").textAfterLastSeparator, "");
    EXPECT_EQ(TextAfterNul("no nul"), "");
    EXPECT_EQ(TextAfterNul(std::string("a\0", 2)), "");
}

TEST(ScriptSplitter, separatorsCountOnlyInPlainSql) {
    struct Case {
        const char* name;
        std::string script;
        std::vector<std::string> statements;
    };
    const Case cases[] = {
        {"in a literal", "insert into T values ('a;b');", {"insert into T values ('a;b')\r\n"}},
        {"doubled quote inside a literal",
         "values ('it''s; fine');",
         {"values ('it''s; fine')\r\n"}},
        {"in an identifier", "select \"a;b\" from T;", {"select \"a;b\" from T\r\n"}},
        {"in a block comment", "/* x; y */ select 1;", {"/* x; y */ select 1\r\n"}},
        {"in a brace comment", "{ x; } select 1;", {"{ x; } select 1\r\n"}},
        {"in a comment over several lines",
         "/* header;\r\n still; */\r\nselect 1;",
         {"/* header;\r\n still; */\r\nselect 1\r\n"}},
        {"in a line comment", "-- note; here\r\nselect 1;", {"-- note; here\r\nselect 1\r\n"}},
        {"apostrophe in a line comment opens no literal",
         "-- don't\r\nselect 1;\r\nselect 2;",
         {"-- don't\r\nselect 1\r\n", "select 2\r\n"}},
        {"apostrophe in a block comment opens no literal",
         "/* don't */ select 1;\r\nselect 2;",
         {"/* don't */ select 1\r\n", "select 2\r\n"}},
        {"blank line inside a literal stays",
         "insert into T values ('x\r\n\r\ny');",
         {"insert into T values ('x\r\n\r\ny')\r\n"}},
        {"second statement on the same line", "a; b;\r\nc;", {"a\r\n", " b\r\n", "c\r\n"}},
        {"statement starting after a separator continues", "a; b\r\nc;", {"a\r\n", " b\r\nc\r\n"}},
    };
    for (const auto& c : cases) {
        const Split s = split(c.script, ";");
        EXPECT_EQ(s.statements, c.statements) << c.name;
        EXPECT_TRUE(s.leftover.empty()) << c.name;
    }
}

TEST(ScriptSplitter, linesAreReadWholeHoweverLong) {
    const std::string longLine = "insert into T values ('" + std::string(10000, 'x') + "');";
    const Split s = split(longLine, ";");
    ASSERT_EQ(s.statements.size(), 1u);
    EXPECT_EQ(s.statements[0].size(), longLine.size() - 1 + 2);
}

TEST(ScriptSplitter, statementLinesAreEmptiedEvenWhenTheHandlerThrows) {
    ScriptSplitter splitter(";");
    std::vector<std::string_view> lines;
    int calls = 0;
    EXPECT_THROW(splitter.WalkLine("a;", lines,
                                   [&](std::vector<std::string_view>&) {
                                       ++calls;
                                       throw std::runtime_error("refused");
                                   }),
                 std::runtime_error);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(lines.empty());
}

TEST(StripComments, removesBlockCommentsFromPlainSqlOnly) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"select 1\r\n", "select 1\r\n"},
        {"a /* b */ c\r\n", "a  c\r\n"},
        {"a { b\r\n c } d", "a  d"},
        {"insert into T values ('{x}')", "insert into T values ('{x}')"},
        {"select \"/*a*/\" from T", "select \"/*a*/\" from T"},
        {"a */ b } c", "a  b  c"},
        {"/*/ x", " x"},
        {"a /* b /* c */ d */ e", "a  d  e"},
        {"a /* b } c", "a  c"},
        {"-- a /* b\r\nc /* d */", "-- a /* b\r\nc "},
        {"a /* never closed\r\n", "a "},
        {"x = 4 * 2 / 1", "x = 4 * 2 / 1"},
    };
    for (const auto& c : cases) EXPECT_EQ(StripComments(c.in), c.out) << c.in;
}

TEST(StripComments, tellsWhetherAnySqlIsLeft) {
    EXPECT_FALSE(HasSqlText(""));
    EXPECT_FALSE(HasSqlText("  \r\n\t"));
    EXPECT_FALSE(HasSqlText("-- only a comment\r\n/* and a block */\r\n{ brace }"));
    EXPECT_TRUE(HasSqlText("-- comment\r\nx"));
    EXPECT_TRUE(HasSqlText("'--'"));
    EXPECT_FALSE(HasSqlText("-- a lone CR is text of the comment's line\rx"));
}

TEST(StripComments, readsCommentsAndLiteralsWhereTheSplitterDoes) {
    // What the splitter hands over reaches the database without its comments: both read a "--"
    // comment to the end of its line, a lone CR being text of the line, and a "q'" that ends a
    // line as no q'...' literal.
    struct Case {
        const char* name;
        std::string script;
        std::vector<std::string> sent;
    };
    const Case cases[] = {
        {"a lone CR in a line comment",
         "-- nota\r{ vedi sotto\r\nselect 1;\r\n",
         {"-- nota\r{ vedi sotto\r\nselect 1\r\n"}},
        {"q' at the end of a line",
         "select q'\r\n'{ nota } from T;",
         {"select q'\r\n' from T\r\n"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> sent;
        for (const std::string& statement : split(c.script, ";").statements)
            sent.push_back(StripComments(statement));
        EXPECT_EQ(sent, c.sent) << c.name;
    }
}

TEST(ScriptSplitter, readsALineWithoutControlCodesAtItsEndsAndUpperCasedWithTheCodePage) {
    // The separator "\xC0\x9F" is the upper case of "\xE0\xFF"; the codes before and after the
    // text are no part of what is read, and a line of them alone is dropped.
    const Split s = split(" \t\x01select \xE0\xFF\r\n \t \r\nx\xE0\xFF\r", "\xC0\x9F");
    EXPECT_EQ(s.statements, (std::vector<std::string>{" \t\x01select \r\n", "x\r\n"}));
    EXPECT_TRUE(s.leftover.empty());
}

}  // namespace
}  // namespace tarvolen
