#include "engine/ScriptSplitter.h"

#include <cstring>

#include "base/Cp1252.h"
#include "base/Text.h"

namespace tarvolen {
namespace {

// Characters that may change the state of plain SQL text: quotes, comment openers, q of q'...'.
constexpr std::array<bool, 256> makeLexerStops() {
    std::array<bool, 256> t{};
    for (char c : {'/', '{', '\'', '"', '-', 'q', 'Q'}) t[static_cast<unsigned char>(c)] = true;
    return t;
}
constexpr std::array<bool, 256> kLexerStops = makeLexerStops();

// The same, with the stray closing markers the comment removal drops.
constexpr std::array<bool, 256> makeStripStops() {
    std::array<bool, 256> t = makeLexerStops();
    t[static_cast<unsigned char>('*')] = true;
    t[static_cast<unsigned char>('}')] = true;
    return t;
}
constexpr std::array<bool, 256> kStripStops = makeStripStops();

// The code page's upper case of every byte, taken once from base's mapping: the separator is
// looked for at every byte that may start it, which a call per byte would slow down.
const std::array<char, 256>& upperCase() {
    static const std::array<char, 256> table = [] {
        std::array<char, 256> t{};
        for (size_t b = 0; b < t.size(); ++b) t[b] = cp1252::toUpper(static_cast<char>(b));
        return t;
    }();
    return table;
}

// For each byte, the bytes whose upper case it is, from the same mapping: SET TERM marks where
// its separator may start without going over every byte.
const std::array<std::string, 256>& upperCaseOf() {
    static const std::array<std::string, 256> table = [] {
        std::array<std::string, 256> t{};
        const std::array<char, 256>& upper = upperCase();
        for (size_t b = 0; b < upper.size(); ++b)
            t[static_cast<unsigned char>(upper[b])] += static_cast<char>(b);
        return t;
    }();
    return table;
}

// Where plain text from `i` next holds a character marked in `stops`; `end` when none does.
size_t nextMarked(std::string_view text, size_t i, size_t end, const std::array<bool, 256>& stops) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    while (i < end && !stops[bytes[i]]) ++i;
    return i;
}

// The length of a line without the codes 0 to 32 that close it (its line break among them).
size_t contentEnd(std::string_view line) {
    size_t end = line.size();
    while (end > 0 && isBlankChar(line[end - 1])) --end;
    return end;
}

// Empties the statement lines when a handler returns or throws.
class ClearOnExit {
  public:
    explicit ClearOnExit(std::vector<std::string_view>& lines) : m_lines(lines) {}
    ClearOnExit(const ClearOnExit&) = delete;
    ClearOnExit& operator=(const ClearOnExit&) = delete;
    ~ClearOnExit() { m_lines.clear(); }

  private:
    std::vector<std::string_view>& m_lines;
};

// Letters, digits, '_' and '$', and 8-bit characters: a "q'" after one of them is the end of a
// name followed by a quote, not the start of a q'...' literal.
bool isNameChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || c == '_' ||
           c == '$' || u >= 0x80;
}

// A q'...' literal opened with one of the bracket pairs ends with the other half of the pair;
// with any other character, with that character.
char qClosing(char open) {
    switch (open) {
        case '(':
            return ')';
        case '[':
            return ']';
        case '{':
            return '}';
        case '<':
            return '>';
        default:
            return open;
    }
}

// True when a q'...' literal starts at `i` of `line`: q or Q, a quote and the delimiter before
// `end`, with no name character right before.
bool qLiteralAt(std::string_view line, size_t i, size_t end) {
    const char c = line[i];
    return (c == 'q' || c == 'Q') && i + 2 < end && line[i + 1] == '\'' &&
           (i == 0 || !isNameChar(line[i - 1]));
}

// Cuts the block comments and stray closing markers out of one line (its line break included),
// handing `keep` each run of the text that stays, in order; `keep` returns false to stop the
// reading. Returns false when it was stopped.
template <typename Keep>
bool stripLine(SqlLexer& lexer, std::string_view line, Keep& keep) {
    const size_t end = contentEnd(line);
    size_t run = 0;  // start of the kept text not yet handed over
    const auto keepUpTo = [&](size_t upTo) {
        return upTo <= run || keep(line.substr(run, upTo - run));
    };
    for (size_t i = 0; i < end;) {
        if (!lexer.InPlainText()) {
            const bool inComment = lexer.Current() == SqlLexer::State::BlockComment;
            i = lexer.Step(line, i, end);
            if (inComment && lexer.InPlainText()) run = i;
            continue;
        }
        i = nextMarked(line, i, end, kStripStops);
        if (i == end) break;
        const char c = line[i];
        if (c == '}' || (c == '*' && i + 1 < end && line[i + 1] == '/')) {
            if (!keepUpTo(i)) return false;  // a stray closing marker goes on its own
            i += c == '}' ? 1 : 2;
            run = i;
            continue;
        }
        const size_t next = lexer.Step(line, i, end);
        if (lexer.Current() == SqlLexer::State::BlockComment && !keepUpTo(i)) return false;
        i = next;
    }
    return lexer.Current() == SqlLexer::State::BlockComment || keepUpTo(line.size());
}

// Calls `onLine` with each line of `text`, cut after its LF, until it returns false.
template <typename OnLine>
void forEachLine(std::string_view text, OnLine&& onLine) {
    while (!text.empty()) {
        const void* lf = std::memchr(text.data(), '\n', text.size());
        const size_t length =
            lf == nullptr ? text.size()
                          : static_cast<size_t>(static_cast<const char*>(lf) - text.data()) + 1;
        if (!onLine(text.substr(0, length))) return;
        text.remove_prefix(length);
    }
}

// Hands `keep` the runs of `text` that stay once its comments are cut out, line by line.
template <typename Keep>
void stripText(std::string_view text, Keep&& keep) {
    SqlLexer lexer;
    forEachLine(text, [&](std::string_view line) { return stripLine(lexer, line, keep); });
}

// The same for a statement's lines, read as StatementText joins them.
template <typename Keep>
void stripLines(const std::vector<std::string_view>& lines, Keep&& keep) {
    SqlLexer lexer;
    for (std::string_view line : lines) {
        if (!stripLine(lexer, line, keep)) return;
        const bool broken = !line.empty() && line.back() == '\n';
        if (!broken && lexer.Current() != SqlLexer::State::BlockComment && !keep("\r\n")) return;
    }
}

// The words of SQL text as its comments are cut out (stripText, stripLines), upper-cased. Blanks
// part words; so do semicolons when asked, as for "COMMIT;" under another separator. A "--"
// comment, read in the text already without its block comments, runs to its line's end and
// parts no word; the line break that ends it is a blank.
class WordReader {
  public:
    // `firstWordFits`, when given, tells from the first word alone whether the words are wanted
    // at all: once it says no, the reading stops and no words are given.
    WordReader(bool semicolonParts, bool (*firstWordFits)(std::string_view))
        : m_semicolonParts(semicolonParts), m_firstWordFits(firstWordFits) {}

    // Takes the next run of text; false once the words are not wanted.
    bool operator()(std::string_view run) {
        for (char c : run)
            if (!take(c)) return false;
        return true;
    }

    // True once a word has begun (a lone '-' may still begin a "--" comment).
    bool AnyWord() const { return !m_word.empty() || !m_words.empty(); }

    std::vector<std::string> Words() && {
        if (m_dash) m_word += '-';
        if (!m_refused && !m_word.empty()) endWord();
        if (m_refused) return {};
        return std::move(m_words);
    }

  private:
    bool take(char c) {
        if (m_lineComment) {
            m_lineComment = c != '\n';
            if (m_lineComment) return true;
        } else if (m_dash) {
            m_dash = false;
            if (c == '-') {
                m_lineComment = true;
                return true;
            }
            m_word += '-';
        } else if (c == '-') {
            m_dash = true;  // a "--" comment, or a minus: the next character tells
            return true;
        }
        if (!isBlankChar(c) && !(m_semicolonParts && c == ';')) {
            m_word += cp1252::toUpper(c);
            return true;
        }
        if (!m_word.empty()) endWord();
        return !m_refused;
    }

    void endWord() {
        if (m_words.empty() && m_firstWordFits != nullptr && !m_firstWordFits(m_word)) {
            m_refused = true;
            return;
        }
        m_words.push_back(std::move(m_word));
        m_word.clear();
    }

    bool m_semicolonParts;
    bool (*m_firstWordFits)(std::string_view);
    std::vector<std::string> m_words;
    std::string m_word;
    bool m_dash = false;
    bool m_lineComment = false;
    bool m_refused = false;
};

// The first word of SQL text read at once where that is plain: comments and what parts words
// before it skipped, then letters up to a blank (or a semicolon when those part words) or the end
// of a line. A word with a comment marker in it, or after a stray closing marker, is left to the
// WordReader, which alone knows how comments join words.
class FirstWord {
  public:
    enum class Verdict : uint8_t { Fits, DoesNotFit, Unknown };

    FirstWord(bool semicolonParts, bool (*fits)(std::string_view))
        : m_semicolonParts(semicolonParts), m_fits(fits) {}

    // Takes the next line; false once the verdict is in.
    bool Line(std::string_view line) {
        const size_t end = contentEnd(line);
        for (size_t i = 0; i < end;) {
            if (!m_lexer.InPlainText()) {
                i = m_lexer.Step(line, i, end);  // a block comment before the word
                continue;
            }
            const char c = line[i];
            const bool comment = c == '{' || ((c == '/' || c == '-') && i + 1 < end &&
                                              line[i + 1] == (c == '/' ? '*' : '-'));
            if (m_length == 0 && comment) {
                i = m_lexer.Step(line, i, end);
            } else if (isBlankChar(c) || (m_semicolonParts && c == ';')) {
                if (m_length > 0) return decide(Verdict::Fits);
                ++i;
            } else if (c == '/' || c == '{' || c == '}' || c == '*' || c == '-') {
                return decide(Verdict::Unknown);
            } else if (m_length == m_word.size()) {
                return decide(Verdict::DoesNotFit);  // longer than any word looked for
            } else {
                m_word[m_length++] = upperCase()[static_cast<unsigned char>(c)];
                ++i;
            }
        }
        return m_length == 0 || decide(Verdict::Fits);  // the line's end ends the word
    }

    // Whether the first word may fit: false only when it is known not to.
    bool MayFit() const { return m_verdict != Verdict::DoesNotFit; }

  private:
    bool decide(Verdict verdict) {
        m_verdict = verdict;
        if (verdict == Verdict::Fits && !m_fits(std::string_view(m_word.data(), m_length)))
            m_verdict = Verdict::DoesNotFit;
        return false;
    }

    bool m_semicolonParts;
    bool (*m_fits)(std::string_view);
    SqlLexer m_lexer;
    std::array<char, 9> m_word{};  // one more than the longest word looked for (ROLLBACK)
    size_t m_length = 0;
    Verdict m_verdict = Verdict::Unknown;
};

bool mayBeSetTerm(std::string_view firstWord) {
    return firstWord == "SET";
}

bool mayBeClientOnly(std::string_view firstWord) {
    return firstWord == "COMMIT" || firstWord == "ROLLBACK" || firstWord == "SET";
}

// The new separator of a "SET TERM <new>" statement, upper-cased as lines are for the search;
// empty for any other statement.
std::string setTermSeparator(const std::vector<std::string_view>& lines) {
    // Most statements are told apart by their first character, without reading their words.
    for (std::string_view line : lines) {
        const std::string_view text = trimmed(line);
        if (text.empty()) continue;
        const char c = text.front();
        if (c != 's' && c != 'S' && c != '/' && c != '{' && c != '-') return {};
        break;
    }
    FirstWord first(false, mayBeSetTerm);
    for (std::string_view line : lines)
        if (!first.Line(line)) break;
    if (!first.MayFit()) return {};
    WordReader reader(false, mayBeSetTerm);
    stripLines(lines, reader);
    const std::vector<std::string> w = std::move(reader).Words();
    if (w.size() == 3 && w[0] == "SET" && (w[1] == "TERM" || w[1] == "TERMINATOR")) return w[2];
    return {};
}

}  // namespace

size_t SqlLexer::Step(std::string_view line, size_t i, size_t end) {
    switch (m_state) {
        case State::Plain:
            return stepPlain(line, i, end);
        case State::BlockComment:
            return stepBlockComment(line, i, end);
        case State::Literal:
        case State::Identifier:
        case State::QLiteral:
            break;
    }
    return stepQuoted(line, i, end);
}

size_t SqlLexer::stepPlain(std::string_view line, size_t i, size_t end) {
    const char c = line[i];
    if (c == '-' && i + 1 < end && line[i + 1] == '-') return end;  // the rest is a comment
    if (c == '\'') {
        m_state = State::Literal;
    } else if (c == '"') {
        m_state = State::Identifier;
    } else if (qLiteralAt(line, i, end)) {
        m_qClose = qClosing(line[i + 2]);
        m_state = State::QLiteral;
        return i + 3;
    } else if (c == '{' || (c == '/' && i + 1 < end && line[i + 1] == '*')) {
        m_state = State::BlockComment;  // "/*": its '*' is read again, inside the comment
    }
    return i + 1;
}

size_t SqlLexer::stepBlockComment(std::string_view line, size_t i, size_t end) {
    for (; i < end; ++i) {
        const char c = line[i];
        if (c == '}' || (c == '*' && i + 1 < end && line[i + 1] == '/')) {
            m_state = State::Plain;
            return i + (c == '}' ? 1 : 2);
        }
    }
    return end;
}

size_t SqlLexer::stepQuoted(std::string_view line, size_t i, size_t end) {
    const char close = m_state == State::Literal      ? '\''
                       : m_state == State::Identifier ? '"'
                                                      : m_qClose;
    const void* hit = std::memchr(line.data() + i, close, end - i);
    if (hit == nullptr) return end;
    i = static_cast<size_t>(static_cast<const char*>(hit) - line.data()) + 1;
    if (m_state == State::QLiteral) {
        if (i < end && line[i] == '\'') {
            m_state = State::Plain;
            ++i;
        }
    } else if (i < end && line[i] == close) {
        ++i;  // a doubled quote stays inside
    } else {
        m_state = State::Plain;
    }
    return i;
}

std::string_view WithoutByteOrderMark(std::string_view script) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (script.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        script.remove_prefix(kByteOrderMark.size());
    return script;
}

std::vector<std::string_view> SplitScriptLines(std::string_view text) {
    text = WithoutByteOrderMark(text);
    const size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    std::vector<std::string_view> lines;
    lines.reserve(text.size() / 40 + 1);
    size_t start = 0;
    while (start < text.size()) {
        const void* hit = std::memchr(text.data() + start, '\n', text.size() - start);
        if (hit == nullptr) {
            lines.emplace_back(text.substr(start));
            break;
        }
        const auto lf = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
        lines.emplace_back(text.substr(start, lf + 1 - start));  // CR LF or a lone LF, kept
        start = lf + 1;
    }
    return lines;
}

std::string StripComments(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    stripText(text, [&](std::string_view run) {
        out += run;
        return true;
    });
    return out;
}

bool HasSqlText(std::string_view text) {
    WordReader reader(false, nullptr);
    stripText(text, [&](std::string_view run) { return reader(run) && !reader.AnyWord(); });
    return !std::move(reader).Words().empty();
}

std::string StatementText(const std::vector<std::string_view>& lines) {
    size_t size = 0;
    for (auto l : lines) size += l.size() + 2;
    std::string text;
    text.reserve(size);
    for (auto l : lines) {
        text += l;
        if (l.empty() || l.back() != '\n') text += "\r\n";
    }
    return text;
}

bool IsClientOnlyStatement(std::string_view statement, std::string_view connectionCharset) {
    // Most statements are told apart by their first character: a first word COMMIT, ROLLBACK or
    // SET begins with it unless a comment, a stray closing marker or a semicolon stands first.
    const std::string_view text = trimmed(statement);
    if (text.empty() || std::strchr("cCrRsS/{-*};", text.front()) == nullptr) return false;
    FirstWord first(true, mayBeClientOnly);
    forEachLine(statement, [&](std::string_view line) { return first.Line(line); });
    if (!first.MayFit()) return false;
    WordReader reader(true, mayBeClientOnly);
    stripText(statement, reader);
    const std::vector<std::string> w = std::move(reader).Words();
    if (w.empty()) return false;
    if (w[0] == "COMMIT" || w[0] == "ROLLBACK") {
        size_t i = 1;
        if (i < w.size() && w[i] == "WORK") ++i;
        if (i < w.size() && w[i] == "RETAIN") {
            ++i;
            if (w[0] == "COMMIT" && i < w.size() && w[i] == "SNAPSHOT") ++i;
        }
        return i == w.size();
    }
    if (w[0] != "SET" || w.size() < 2) return false;
    const std::string& option = w[1];
    if (option == "AUTODDL" || option == "ECHO" || option == "LIST" || option == "STATS")
        return w.size() == 2 || (w.size() == 3 && (w[2] == "ON" || w[2] == "OFF"));
    if (option == "SQL") return w.size() == 4 && w[2] == "DIALECT" && w[3] == "3";
    if (option == "NAMES")
        return w.size() == 3 && !connectionCharset.empty() && equalsNoCase(w[2], connectionCharset);
    return false;
}

ScriptSplitter::ScriptSplitter(std::string separator) {
    setSeparator(std::move(separator));
}

void ScriptSplitter::setSeparator(std::string separator) {
    m_separator = std::move(separator);
    m_stops = kLexerStops;
    if (m_separator.empty()) return;
    for (char b : upperCaseOf()[static_cast<unsigned char>(m_separator[0])])
        m_stops[static_cast<unsigned char>(b)] = true;
}

bool ScriptSplitter::separatorAt(std::string_view raw, size_t i, size_t end) const {
    // The line is compared as its upper-cased key would be, without making the key.
    const std::string_view sep = m_separator;
    if (sep.empty() || end - i < sep.size()) return false;
    const std::array<char, 256>& upper = upperCase();
    for (size_t k = 0; k < sep.size(); ++k) {
        if (upper[static_cast<unsigned char>(raw[i + k])] != sep[k]) return false;
    }
    return true;
}

size_t ScriptSplitter::nextStop(std::string_view raw, size_t i, size_t end) const {
    return nextMarked(raw, i, end, m_stops);
}

void ScriptSplitter::complete(std::vector<std::string_view>& statementLines,
                              const StatementHandler& onStatement) {
    ClearOnExit clear(statementLines);
    std::string newSeparator = setTermSeparator(statementLines);
    if (!newSeparator.empty()) {
        setSeparator(std::move(newSeparator));  // isql's own command: nothing runs
        return;
    }
    onStatement(statementLines);
}

ScriptSplitter::OpenAtEnd ScriptSplitter::Open() const {
    switch (m_lexer.Current()) {
        case SqlLexer::State::Plain:
            return OpenAtEnd::Nothing;
        case SqlLexer::State::BlockComment:
            return OpenAtEnd::Comment;
        case SqlLexer::State::Literal:
        case SqlLexer::State::Identifier:
        case SqlLexer::State::QLiteral:
            break;
    }
    return OpenAtEnd::Literal;
}

void ScriptSplitter::WalkLine(std::string_view raw, std::vector<std::string_view>& statementLines,
                              const StatementHandler& onStatement) {
    // The line is read without the codes 0 to 32 at either end (its line break among them).
    const size_t end = contentEnd(raw);
    size_t begin = 0;
    while (begin < end && isBlankChar(raw[begin])) ++begin;
    if (begin == end) {
        // A blank line inside a literal or identifier belongs to it; elsewhere it is dropped.
        if (!m_lexer.InPlainText() && m_lexer.Current() != SqlLexer::State::BlockComment)
            statementLines.emplace_back(raw);
        return;
    }

    size_t pieceStart = 0;  // where the current statement's text on this line begins
    bool separatorSeen = false;
    for (size_t i = begin; i < end;) {
        if (m_lexer.InPlainText()) {
            i = nextStop(raw, i, end);
            if (i == end) break;
            if (separatorAt(raw, i, end)) {
                const size_t length = m_separator.size();  // SET TERM may change it
                statementLines.emplace_back(raw.substr(pieceStart, i - pieceStart));
                complete(statementLines, onStatement);
                i += length;
                pieceStart = i;
                separatorSeen = true;
                continue;
            }
        }
        i = m_lexer.Step(raw, i, end);
    }

    if (!separatorSeen) {
        statementLines.emplace_back(raw);  // no separator on this line: the line as it stands
        return;
    }
    keepRest(raw.substr(pieceStart), statementLines);
}

void ScriptSplitter::keepRest(std::string_view rest,
                              std::vector<std::string_view>& statementLines) const {
    const bool inQuotes =
        !m_lexer.InPlainText() && m_lexer.Current() != SqlLexer::State::BlockComment;
    if (inQuotes || !isBlank(rest)) statementLines.emplace_back(rest);
}

std::string TextAfterNul(std::string_view script) {
    const size_t nul = script.find('\0');
    if (nul == std::string_view::npos) return {};
    std::string rest;
    for (char c : script.substr(nul + 1))
        if (c != '\0') rest += c;
    return rest;
}

ScriptOutline OutlineScript(std::string_view script, std::string separator,
                            std::string_view connectionCharset) {
    ScriptOutline outline;
    ScriptSplitter splitter(std::move(separator));
    std::vector<std::string_view> statementLines;
    const auto count = [&](std::vector<std::string_view>& lines) {
        if (!IsClientOnlyStatement(StatementText(lines), connectionCharset))
            ++outline.statementCount;
    };
    for (std::string_view line : SplitScriptLines(script))
        splitter.WalkLine(line, statementLines, count);
    outline.textAfterLastSeparator = StatementText(statementLines);
    outline.open = splitter.Open();
    outline.textAfterNul = TextAfterNul(script);
    return outline;
}

}  // namespace tarvolen
