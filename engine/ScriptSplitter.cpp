#include "engine/ScriptSplitter.h"

#include <array>
#include <cstring>

#include "base/Cp1252.h"
#include "base/Text.h"

namespace tarvolen {
namespace {

bool isTrimmed(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

constexpr std::array<char, 256> makeUpperTable() {
    std::array<char, 256> t{};
    for (int i = 0; i < 256; ++i) t[static_cast<size_t>(i)] = static_cast<char>(i);
    for (int c = 'a'; c <= 'z'; ++c) t[static_cast<size_t>(c)] = static_cast<char>(c - 32);
    for (int c = 0xE0; c <= 0xFE; ++c) {
        if (c != 0xF7) t[static_cast<size_t>(c)] = static_cast<char>(c - 32);
    }
    t[0x9A] = static_cast<char>(0x8A);
    t[0x9C] = static_cast<char>(0x8C);
    t[0x9E] = static_cast<char>(0x8E);
    t[0xFF] = static_cast<char>(0x9F);
    return t;
}
constexpr std::array<char, 256> kUpper = makeUpperTable();

// Characters that may change the state of plain SQL text.
constexpr std::array<bool, 256> makePlainSpecial() {
    std::array<bool, 256> t{};
    for (char c : {'/', '{', '}', '*', '\'', '"', '-', 'q', 'Q'})
        t[static_cast<unsigned char>(c)] = true;
    return t;
}
constexpr std::array<bool, 256> kPlainSpecial = makePlainSpecial();

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

// True when a q'...' literal starts at `i` of `text`: q or Q, a quote and the delimiter, with no
// name character right before.
bool qLiteralAt(std::string_view text, size_t i, size_t begin, size_t end) {
    const char c = text[i];
    return (c == 'q' || c == 'Q') && i + 2 < end && text[i + 1] == '\'' &&
           (i == begin || !isNameChar(text[i - 1]));
}

// The words of a statement once its comments are gone, upper-cased. Blanks part words; so do
// semicolons when asked, as for "COMMIT;" under another separator.
std::vector<std::string> upperWords(std::string_view sql, bool semicolonParts) {
    const std::string text = StripComments(sql);
    std::vector<std::string> words;
    std::string word;
    bool lineComment = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (lineComment) {
            lineComment = c != '\r' && c != '\n';
            continue;
        }
        if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
            lineComment = true;
            continue;
        }
        if (isBlankChar(c) || (semicolonParts && c == ';')) {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += kUpper[static_cast<unsigned char>(c)];
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

// The new separator of a "SET TERM <new>" statement, upper-cased as lines are for the search;
// empty for any other statement.
std::string setTermSeparator(const std::vector<std::string_view>& lines) {
    // Most statements are told apart by their first character, without building their text.
    for (std::string_view line : lines) {
        const std::string_view text = trimmed(line);
        if (text.empty()) continue;
        const char c = text.front();
        if (c != 's' && c != 'S' && c != '/' && c != '{' && c != '-') return {};
        break;
    }
    const std::vector<std::string> w = upperWords(StatementText(lines), false);
    if (w.size() == 3 && w[0] == "SET" && (w[1] == "TERM" || w[1] == "TERMINATOR")) return w[2];
    return {};
}

}  // namespace

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

std::string LineKey(std::string_view rawLine, size_t& leading) {
    size_t begin = 0;
    size_t end = rawLine.size();
    while (begin < end && isTrimmed(rawLine[begin])) ++begin;
    while (end > begin && isTrimmed(rawLine[end - 1])) --end;
    leading = begin;
    std::string key(rawLine.substr(begin, end - begin));
    for (char& c : key) c = kUpper[static_cast<unsigned char>(c)];
    return key;
}

size_t FindSeparator(std::string_view line, std::string_view separator, size_t offset) {
    if (separator.empty() || offset == 0 || offset > line.size()) return 0;
    const size_t at = line.find(separator, offset - 1);
    return at == std::string_view::npos ? 0 : at + 1;
}

std::string StripComments(std::string_view text) {
    enum class S { Plain, Literal, Identifier, QLiteral, LineComment, Block } state = S::Plain;
    char qClose = '\0';
    std::string out;
    out.reserve(text.size());
    const char* const begin = text.data();
    const size_t n = text.size();
    size_t run = 0;  // start of the text not yet copied
    size_t i = 0;
    auto flush = [&](size_t upTo) {
        out.append(begin + run, upTo - run);
        run = upTo;
    };
    while (i < n) {
        const char c = text[i];
        const bool hasNext = i + 1 < n;
        const char next = hasNext ? text[i + 1] : '\0';
        switch (state) {
            case S::Plain:
                if (!kPlainSpecial[static_cast<unsigned char>(c)]) {
                    ++i;
                } else if ((c == '/' && next == '*') || c == '{') {
                    flush(i);
                    state =
                        S::Block;  // the '*' of "/*" is examined again, as a character of its own
                    ++i;
                } else if (c == '*' && next == '/') {
                    flush(i);  // a stray closing marker goes on its own
                    i += 2;
                    run = i;
                } else if (c == '}') {
                    flush(i);  // so does a stray closing brace
                    run = ++i;
                } else if (qLiteralAt(text, i, 0, n)) {
                    qClose = qClosing(text[i + 2]);
                    state = S::QLiteral;
                    i += 3;
                } else {
                    if (c == '\'')
                        state = S::Literal;
                    else if (c == '"')
                        state = S::Identifier;
                    else if (c == '-' && next == '-')
                        state = S::LineComment;
                    ++i;
                }
                break;
            case S::Block:
                if (c == '*' && next == '/') {
                    state = S::Plain;
                    i += 2;
                    run = i;
                } else if (c == '}') {
                    state = S::Plain;
                    run = ++i;
                } else {
                    ++i;
                }
                break;
            case S::Literal:
            case S::Identifier: {
                const char quote = state == S::Literal ? '\'' : '"';
                const void* hit = std::memchr(begin + i, quote, n - i);
                if (hit == nullptr) {
                    i = n;
                    break;
                }
                i = static_cast<size_t>(static_cast<const char*>(hit) - begin) + 1;
                if (i < n && text[i] == quote) {
                    ++i;  // a doubled quote stays inside
                } else {
                    state = S::Plain;
                }
                break;
            }
            case S::QLiteral: {
                const void* hit = std::memchr(begin + i, qClose, n - i);
                if (hit == nullptr) {
                    i = n;
                    break;
                }
                i = static_cast<size_t>(static_cast<const char*>(hit) - begin) + 1;
                if (i < n && text[i] == '\'') {
                    ++i;
                    state = S::Plain;
                }
                break;
            }
            case S::LineComment:
                if (c == '\r' || c == '\n') state = S::Plain;
                ++i;
                break;
        }
    }
    if (state != S::Block) flush(n);
    return out;
}

bool HasSqlText(std::string_view text) {
    const std::string stripped = StripComments(text);
    bool lineComment = false;
    bool quoted = false;
    char quote = '\0';
    for (size_t i = 0; i < stripped.size(); ++i) {
        const char c = stripped[i];
        if (lineComment) {
            if (c == '\r' || c == '\n') lineComment = false;
            continue;
        }
        if (quoted) {
            if (c == quote) quoted = false;
            continue;
        }
        if (c == '-' && i + 1 < stripped.size() && stripped[i + 1] == '-') {
            lineComment = true;
            ++i;
            continue;
        }
        if (!isTrimmed(c)) return true;
    }
    return false;
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
    const std::vector<std::string> w = upperWords(statement, true);
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

ScriptSplitter::ScriptSplitter(std::string separator) : m_separator(std::move(separator)) {}

bool ScriptSplitter::separatorAt(std::string_view raw, size_t i, size_t end) const {
    // The line is compared as its upper-cased key would be, without making the key.
    const std::string_view sep = m_separator;
    if (sep.empty() || kUpper[static_cast<unsigned char>(raw[i])] != sep[0] ||
        end - i < sep.size()) {
        return false;
    }
    for (size_t k = 1; k < sep.size(); ++k) {
        if (kUpper[static_cast<unsigned char>(raw[i + k])] != sep[k]) return false;
    }
    return true;
}

void ScriptSplitter::complete(std::vector<std::string_view>& statementLines,
                              const StatementHandler& onStatement) {
    ClearOnExit clear(statementLines);
    std::string newSeparator = setTermSeparator(statementLines);
    if (!newSeparator.empty()) {
        m_separator = std::move(newSeparator);  // isql's own command: nothing runs
        return;
    }
    onStatement(statementLines);
}

ScriptSplitter::OpenAtEnd ScriptSplitter::Open() const {
    switch (m_state) {
        case State::Plain:
            return OpenAtEnd::Nothing;
        case State::BlockComment:
            return OpenAtEnd::Comment;
        case State::Literal:
        case State::Identifier:
        case State::QLiteral:
            break;
    }
    return OpenAtEnd::Literal;
}

void ScriptSplitter::WalkLine(std::string_view raw, std::vector<std::string_view>& statementLines,
                              const StatementHandler& onStatement) {
    // The key is the line without codes 0 to 32 at either end (its line break among them),
    // upper-cased; it is scanned in place rather than copied.
    size_t begin = 0;
    size_t end = raw.size();
    while (begin < end && isTrimmed(raw[begin])) ++begin;
    while (end > begin && isTrimmed(raw[end - 1])) --end;
    const bool inQuotes =
        m_state == State::Literal || m_state == State::Identifier || m_state == State::QLiteral;
    if (begin == end) {
        // A blank line inside a literal or identifier belongs to it; elsewhere it is dropped.
        if (inQuotes) statementLines.emplace_back(raw);
        return;
    }

    size_t pieceStart = 0;  // where the current statement's text on this line begins
    bool separatorSeen = false;
    for (size_t i = begin; i < end;) {
        const char c = raw[i];
        switch (m_state) {
            case State::Plain:
                if (separatorAt(raw, i, end)) {
                    const size_t length = m_separator.size();  // SET TERM may change it
                    statementLines.emplace_back(raw.substr(pieceStart, i - pieceStart));
                    complete(statementLines, onStatement);
                    i += length;
                    pieceStart = i;
                    separatorSeen = true;
                    continue;
                }
                if (c == '-' && i + 1 < end && raw[i + 1] == '-') {
                    i = end;  // the rest of the line is a comment
                    continue;
                }
                if (c == '\'') {
                    m_state = State::Literal;
                } else if (c == '"') {
                    m_state = State::Identifier;
                } else if (qLiteralAt(raw, i, begin, end)) {
                    m_qClose = qClosing(raw[i + 2]);
                    m_state = State::QLiteral;
                    i += 3;
                    continue;
                } else if (c == '{' || (c == '/' && i + 1 < end && raw[i + 1] == '*')) {
                    m_state = State::BlockComment;  // "/*": its '*' is examined again below
                }
                ++i;
                break;
            case State::BlockComment:
                if (c == '}') {
                    m_state = State::Plain;
                } else if (c == '*' && i + 1 < end && raw[i + 1] == '/') {
                    m_state = State::Plain;
                    ++i;
                }
                ++i;
                break;
            case State::Literal:
            case State::Identifier: {
                const char quote = m_state == State::Literal ? '\'' : '"';
                const void* hit = std::memchr(raw.data() + i, quote, end - i);
                if (hit == nullptr) {
                    i = end;
                    break;
                }
                i = static_cast<size_t>(static_cast<const char*>(hit) - raw.data()) + 1;
                if (i < end && raw[i] == quote) {
                    ++i;  // a doubled quote stays inside
                } else {
                    m_state = State::Plain;
                }
                break;
            }
            case State::QLiteral: {
                const void* hit = std::memchr(raw.data() + i, m_qClose, end - i);
                if (hit == nullptr) {
                    i = end;
                    break;
                }
                i = static_cast<size_t>(static_cast<const char*>(hit) - raw.data()) + 1;
                if (i < end && raw[i] == '\'') {
                    ++i;
                    m_state = State::Plain;
                }
                break;
            }
        }
    }

    if (!separatorSeen) {
        statementLines.emplace_back(raw);  // no separator on this line: the line as it stands
        return;
    }
    const std::string_view rest = raw.substr(pieceStart);
    const bool restInQuotes =
        m_state == State::Literal || m_state == State::Identifier || m_state == State::QLiteral;
    bool blank = true;
    for (char ch : rest) blank = blank && isTrimmed(ch);
    if (restInQuotes || !blank) statementLines.emplace_back(rest);
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
