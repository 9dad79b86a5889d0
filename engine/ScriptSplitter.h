#pragma once
// Cutting a script phase's text into statements. The walk goes line by line, as the plan's
// scripts are written, but reads the text as SQL and as isql reads it: a separator counts only
// in plain SQL text, never inside a quoted literal (also Firebird's q'<d>...<d>' form), a quoted
// identifier or a comment; the text after a separator on the same line starts the next
// statement; and SET TERM changes the separator for the rest of the script.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvolen {

// The script without UTF-8's byte-order mark in front (its three bytes as they stand in
// Windows-1252 text, "\xEF\xBB\xBF"), which a script copied whole from a UTF-8 file by another
// program carries and which is no SQL: a mark left there would hide the first statement
// ("SET TERM") from the splitter and from the database.
std::string_view WithoutByteOrderMark(std::string_view script);

// Lines of a script (WithoutByteOrderMark): cut after each LF (a CR LF or a lone LF ends a line;
// a lone CR stays in its line). Each line keeps the line break that ends it, so a statement rebuilt
// from its lines has the line breaks the script has; the last line has none when the text does not
// end with one. The text ends at its first NUL; a final line break adds no empty line. Lines are
// read whole, however long. The lines point into `text`, which must outlive them.
std::vector<std::string_view> SplitScriptLines(std::string_view text);

// How SQL text reads, one line at a time (lines as SplitScriptLines cuts them): plain text, a
// quoted literal ('...' with '' inside, or q'<d>...<d>'), a quoted identifier ("..." with ""
// inside) or a block comment ("/* */" or "{ }", one on/off state, no nesting), carried from line
// to line; a "--" comment ends with its line. The splitter and the comment removal read SQL
// through this one lexer, so a separator and a comment are found in the same places.
class SqlLexer {
  public:
    enum class State : uint8_t { Plain, Literal, Identifier, QLiteral, BlockComment };

    State Current() const { return m_state; }
    bool InPlainText() const { return m_state == State::Plain; }

    // One step over `line` from `i`, where i < end and `end` is the line's end without the
    // codes 0 to 32 that close it (its line break among them). In plain text it reads the
    // character at i, which may open a literal, identifier or comment ("--": the rest of the line);
    // inside one it goes to where that ends, or to `end`. Returns where the next step starts.
    size_t Step(std::string_view line, size_t i, size_t end);

  private:
    size_t stepPlain(std::string_view line, size_t i, size_t end);
    size_t stepBlockComment(std::string_view line, size_t i, size_t end);
    size_t stepQuoted(std::string_view line, size_t i, size_t end);

    State m_state = State::Plain;
    char m_qClose = '\0';  // the character that ends a q'...' literal before its quote
};

// Removes block comments found in plain SQL text, together with stray closing markers there
// ("*/", "}"). Quoted literals, quoted identifiers and "--" comments pass unchanged.
std::string StripComments(std::string_view text);

// True when the text holds anything but blanks once block and line comments are removed.
bool HasSqlText(std::string_view text);

// A statement's text as it is handed to the database: each gathered line as the script has it,
// line break included; a line without one (the part before a separator, the script's last
// line) is followed by CR LF.
std::string StatementText(const std::vector<std::string_view>& lines);

// True for a statement that isql runs itself and that has nothing to do on the database here:
// COMMIT or ROLLBACK [WORK] [RETAIN [SNAPSHOT]] (every statement has a transaction of its own
// already), SET AUTODDL, SET ECHO, SET LIST and SET STATS (each optionally ON or OFF), SET SQL
// DIALECT 3, and SET NAMES naming `connectionCharset` (without regard to case). Any other
// statement, SET NAMES of another character set included, is for the database.
bool IsClientOnlyStatement(std::string_view statement, std::string_view connectionCharset);

// Walks the lines of one script, gathering statement lines and handing over each statement as
// its separator is found. The lexical state (literal, identifier, block comment) carries from
// line to line. A statement "SET TERM <new>" (any case, any blanks) is not handed over: it makes
// <new> the separator from there on.
class ScriptSplitter {
  public:
    // Called with the gathered lines of a complete statement; the splitter empties the list
    // afterwards, whether the call returns or throws. Lines point into the script text.
    using StatementHandler = std::function<void(std::vector<std::string_view>& statementLines)>;

    // What the text leaves open where it ends.
    enum class OpenAtEnd : uint8_t { Nothing, Comment, Literal };

    explicit ScriptSplitter(std::string separator);

    // Processes one raw line of the script, appending to `statementLines` and calling
    // `onStatement` for each statement the line completes.
    void WalkLine(std::string_view rawLine, std::vector<std::string_view>& statementLines,
                  const StatementHandler& onStatement);

    // After the last line: a block comment, or a literal or identifier, that was never closed
    // swallows every separator after its start.
    OpenAtEnd Open() const;
    // The separator in force, as SET TERM last left it.
    const std::string& Separator() const { return m_separator; }

  private:
    bool separatorAt(std::string_view raw, size_t i, size_t end) const;
    // Where plain text from `i` next holds a character that may open a literal, identifier or
    // comment, or start the separator; `end` when none does.
    size_t nextStop(std::string_view raw, size_t i, size_t end) const;
    // Hands the statement over, or takes it as SET TERM.
    void complete(std::vector<std::string_view>& statementLines,
                  const StatementHandler& onStatement);
    void setSeparator(std::string separator);
    // The part of a line after its last separator, kept unless it is only blanks outside quotes.
    void keepRest(std::string_view rest, std::vector<std::string_view>& statementLines) const;

    std::string m_separator;
    // By byte: may change the state of plain text, or start the separator.
    std::array<bool, 256> m_stops{};
    SqlLexer m_lexer;
};

// How a script divides, found without running it: the statements its separators complete and
// what a run would report instead of running.
struct ScriptOutline {
    size_t statementCount = 0;           // statements that reach the database
    std::string textAfterLastSeparator;  // joined as StatementText joins it; empty when none
    ScriptSplitter::OpenAtEnd open = ScriptSplitter::OpenAtEnd::Nothing;
    std::string textAfterNul;  // the text past a NUL, NULs dropped; empty when none
};
ScriptOutline OutlineScript(std::string_view script, std::string separator,
                            std::string_view connectionCharset = {});

// The text past the script's first NUL, which the line rule never reads, with its NULs dropped;
// empty when the script holds no NUL.
std::string TextAfterNul(std::string_view script);

}  // namespace tarvolen
