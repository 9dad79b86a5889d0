#pragma once
// Cutting a script phase's text into statements. The walk goes line by line, as the plan's
// scripts are written, but reads the text as SQL: a separator counts only in plain SQL text,
// never inside a quoted literal, a quoted identifier or a comment, and the text after a
// separator on the same line starts the next statement.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvolen {

// Lines of a script: cut at CR LF and at a lone LF (a lone CR stays in its line); the text ends
// at its first NUL; a final line break adds no empty line. Lines are read whole, however long.
// The lines point into `text`, which must outlive them.
std::vector<std::string_view> SplitScriptLines(std::string_view text);

// The key of a line: codes 0 to 32 removed from both ends, then upper-cased with the
// Windows-1252 case mapping. `leading` receives the number of characters removed in front.
std::string LineKey(std::string_view rawLine, size_t& leading);

// 1-based position of the first occurrence of `separator` in `line` at or after `offset`
// (1-based), or 0 when there is none; an empty separator never matches. Byte-exact.
size_t FindSeparator(std::string_view line, std::string_view separator, size_t offset = 1);

// Removes block comments ("/* */" and "{ }", one on/off state, no nesting) found in plain SQL
// text, together with stray closing markers there. Quoted literals, quoted identifiers and "--"
// line comments pass unchanged.
std::string StripComments(std::string_view text);

// True when the text holds anything but blanks once block and line comments are removed.
bool HasSqlText(std::string_view text);

// A statement's text as it is handed to the database: each gathered line followed by CR LF.
std::string StatementText(const std::vector<std::string_view>& lines);

// Walks the lines of one script, gathering statement lines and handing over each statement as
// its separator is found. The lexical state (literal, identifier, block comment) carries from
// line to line.
class ScriptSplitter {
  public:
    // Called with the gathered lines of a complete statement; the splitter empties the list
    // afterwards, whether the call returns or throws. Lines point into the script text.
    using StatementHandler = std::function<void(std::vector<std::string_view>& statementLines)>;

    explicit ScriptSplitter(std::string separator);

    // Processes one raw line of the script, appending to `statementLines` and calling
    // `onStatement` for each statement the line completes.
    void WalkLine(std::string_view rawLine, std::vector<std::string_view>& statementLines,
                  const StatementHandler& onStatement);

  private:
    enum class State : uint8_t { Plain, Literal, Identifier, BlockComment };

    std::string m_separator;
    State m_state = State::Plain;
};

// How a script divides, found without running it: the statements its separators complete and
// the text gathered after the last one, which a run never hands to the database.
struct ScriptOutline {
    size_t statementCount = 0;
    std::string textAfterLastSeparator;  // joined as StatementText joins it; empty when none
};
ScriptOutline OutlineScript(std::string_view script, std::string separator);

}  // namespace tarvolen
