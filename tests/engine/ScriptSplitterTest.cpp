#include <gtest/gtest.h>

#include "engine/ScriptSplitter.h"

namespace tarvolen {
namespace {

struct Split {
    std::vector<std::string> statements;  // each as handed over: its lines, each followed by CR LF
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
        {"text after the last separator", "a;\r\nb\r\n", ";", {"a\r\n"}, {"b"}},
        {"lower-case separator never matches", "select 1 go\r\n", "go", {}, {"select 1 go"}},
        {"upper-case separator matches any case", "select 1 go\r\n", "GO", {"select 1 \r\n"}, {}},
        {"empty separator", "a;\r\n", "", {}, {"a;"}},
        {"a line of only the separator", ";\r\n", ";", {"\r\n"}, {}},
        {"lone LF ends a line, lone CR does not", "a\nb\rc;", ";", {"a\r\nb\rc\r\n"}, {}},
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
        std::string leftoverText;
        for (const auto& line : c.leftover) leftoverText += line + "\r\n";
        EXPECT_EQ(outline.textAfterLastSeparator, leftoverText) << c.name;
    }
}

TEST(ScriptSplitter, statementTextEndsEveryLineWithCrLf) {
    EXPECT_EQ(StatementText({}), "");
    EXPECT_EQ(StatementText({""}), "\r\n");  // one empty line is a statement of one line break
    EXPECT_EQ(StatementText({"  insert into T", "values (1)"}),
              "  insert into T\r\nvalues (1)\r\n");
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
}

TEST(FindSeparator, isAByteExactSearchFromAnOffset) {
    EXPECT_EQ(FindSeparator("abc;def;", ";", 1), 4u);
    EXPECT_EQ(FindSeparator("abc;def;", ";", 5), 8u);
    EXPECT_EQ(FindSeparator("abc;def;", ";", 9), 0u);
    EXPECT_EQ(FindSeparator("abc", "", 1), 0u);
    EXPECT_EQ(FindSeparator("SELECT GO", "go", 1), 0u);
    EXPECT_EQ(FindSeparator("END^^", "^^", 1), 4u);
}

TEST(LineKey, trimsControlCodesAndUpperCasesWithTheCodePage) {
    size_t leading = 0;
    EXPECT_EQ(LineKey(" \t\x01select \xE0\xFF\r", leading), "SELECT \xC0\x9F");
    EXPECT_EQ(leading, 3u);
    EXPECT_EQ(LineKey(" \t ", leading), "");
}

}  // namespace
}  // namespace tarvolen
