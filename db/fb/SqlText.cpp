#include "SqlText.h"

#include <cctype>

#include "base/Text.h"

namespace tarvolen::database::fb {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

void skipSpaceAndComments(std::string_view s, size_t& i) {
    for (;;) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        if (s.compare(i, 2, "/*") == 0) {
            const auto end = s.find("*/", i + 2);
            i = end == std::string_view::npos ? s.size() : end + 2;
        } else if (s.compare(i, 2, "--") == 0) {
            const auto end = s.find('\n', i);
            i = end == std::string_view::npos ? s.size() : end + 1;
        } else {
            return;
        }
    }
}

bool keywordAt(std::string_view s, size_t i, std::string_view word) {
    if (s.size() - i < word.size() || !equalsNoCase(s.substr(i, word.size()), word)) return false;
    const size_t after = i + word.size();
    return after == s.size() || !(std::isalnum(static_cast<unsigned char>(s[after])) ||
                                  s[after] == '_' || s[after] == '$');
}

// Skips the argument of FIRST or SKIP: a number, a parameter or a parenthesised expression.
bool skipLimitArgument(std::string_view s, size_t& i) {
    skipSpaceAndComments(s, i);
    if (i < s.size() && s[i] == '(') {
        int depth = 0;
        for (; i < s.size(); ++i) {
            if (s[i] == '(') ++depth;
            if (s[i] == ')' && --depth == 0) {
                ++i;
                return true;
            }
        }
        return false;
    }
    const size_t start = i;
    while (i < s.size() && (isDigit(s[i]) || s[i] == '?')) ++i;
    return i > start;
}

}  // namespace

std::optional<std::string> withDbKey(std::string_view sql) {
    size_t i = 0;
    skipSpaceAndComments(sql, i);
    if (!keywordAt(sql, i, "select")) return std::nullopt;
    i += 6;
    for (;;) {
        skipSpaceAndComments(sql, i);
        if (keywordAt(sql, i, "first") || keywordAt(sql, i, "skip")) {
            i += keywordAt(sql, i, "first") ? 5u : 4u;
            if (!skipLimitArgument(sql, i)) return std::nullopt;
            continue;
        }
        if (keywordAt(sql, i, "distinct")) return std::nullopt;  // rows are not table rows
        if (keywordAt(sql, i, "all")) {
            i += 3;
            continue;
        }
        break;
    }
    std::string result(sql.substr(0, i));
    result += "RDB$DB_KEY, ";
    result += sql.substr(i);
    return result;
}

std::string quoteName(std::string_view name) {
    std::string quoted = "\"";
    for (char c : name) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    quoted += '"';
    return quoted;
}

}  // namespace tarvolen::database::fb
