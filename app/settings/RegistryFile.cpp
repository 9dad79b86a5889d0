#include "app/settings/RegistryFile.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "base/Cp1252.h"
#include "base/os/Files.h"
#include "base/os/Process.h"

namespace tarvolen::settings {
namespace {

// A registry export of this size is not a settings file; reading it could hold up start-up.
constexpr std::uintmax_t kMaxFileBytes = 16u << 20;

constexpr std::string_view kHeaderV5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeaderV4 = "REGEDIT4";

std::string_view trimBlanks(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> splitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        const auto slash = path.find('\\', start);
        parts.push_back(
            path.substr(start, slash == std::string_view::npos ? slash : slash - start));
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return parts;
}

std::string utf16leBytes(std::string_view utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        // Decoding valid UTF-8 (the file was validated when it was decoded).
        const auto b = static_cast<unsigned char>(utf8[i]);
        char32_t cp = b;
        size_t length = 1;
        if (b >= 0xF0) {
            cp = b & 0x07;
            length = 4;
        } else if (b >= 0xE0) {
            cp = b & 0x0F;
            length = 3;
        } else if (b >= 0xC0) {
            cp = b & 0x1F;
            length = 2;
        }
        for (size_t k = 1; k < length && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += length;
        auto put = [&](char32_t unit) {
            out += static_cast<char>(unit & 0xFF);
            out += static_cast<char>((unit >> 8) & 0xFF);
        };
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads 1 to `maxDigits` hex digits as the whole of `text`.
std::optional<uint32_t> hexNumber(std::string_view text, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        const int d = hexDigit(c);
        if (d < 0) return std::nullopt;
        value = (value << 4) | static_cast<uint32_t>(d);
    }
    return value;
}

class MalformedFile {
  public:
    explicit MalformedFile(std::string why) : m_why(std::move(why)) {}
    const std::string& why() const { return m_why; }

  private:
    std::string m_why;
};

class Parser {
  public:
    Parser(std::string_view text) : m_text(text) {}

    std::unique_ptr<RegistryFileKey> run() {
        auto currentUser = std::make_unique<RegistryFileKey>();
        RegistryFileKey otherHives;  // keys of other hives: read for their syntax, then dropped
        std::string_view line;
        if (!nextLine(line)) throw MalformedFile("empty file");
        line = trimBlanks(line);
        if (line == kHeaderV5)
            m_wideHexStrings = true;
        else if (line == kHeaderV4)
            m_wideHexStrings = false;
        else
            fail("not a registry file (no \"" + std::string(kHeaderV5) + "\" or \"" +
                 std::string(kHeaderV4) + "\" header)");

        RegistryFileKey* current = nullptr;
        bool inDeletedKey = false;
        while (nextLine(line)) {
            line = trimBlanks(line);
            if (line.empty() || line.front() == ';') continue;
            if (line.front() == '[') {
                inDeletedKey = false;
                current = keyLine(line, *currentUser, otherHives, inDeletedKey);
            } else if (line.front() == '"' || line.front() == '@') {
                if (current == nullptr && !inDeletedKey) fail("a value outside any key");
                valueLine(line, current);
            } else {
                fail("not a key, a value or a comment");
            }
        }
        return currentUser;
    }

  private:
    bool nextLine(std::string_view& line) {
        if (m_pos >= m_text.size()) return false;
        const auto eol = m_text.find('\n', m_pos);
        line = m_text.substr(m_pos, eol == std::string_view::npos ? eol : eol - m_pos);
        m_pos = eol == std::string_view::npos ? m_text.size() : eol + 1;
        ++m_lineNo;
        return true;
    }

    [[noreturn]] void fail(const std::string& why) const {
        throw MalformedFile("line " + std::to_string(m_lineNo) + ": " + why);
    }

    // "[HIVE\a\b]" or "[-HIVE\a\b]". Returns the key that the following values belong to.
    RegistryFileKey* keyLine(std::string_view line, RegistryFileKey& currentUser,
                             RegistryFileKey& otherHives, bool& deleted) {
        if (line.size() < 2 || line.back() != ']') fail("a key line without its closing \"]\"");
        std::string_view path = line.substr(1, line.size() - 2);
        deleted = !path.empty() && path.front() == '-';
        if (deleted) path.remove_prefix(1);
        const auto parts = splitPath(path);
        for (auto part : parts)
            if (part.empty()) fail("an empty key name");
        RegistryFileKey* node = nullptr;
        if (equalsNoCase(parts[0], "HKEY_CURRENT_USER")) {
            node = &currentUser;
        } else if (equalsNoCase(parts[0], "HKEY_LOCAL_MACHINE") ||
                   equalsNoCase(parts[0], "HKEY_CLASSES_ROOT") ||
                   equalsNoCase(parts[0], "HKEY_USERS") ||
                   equalsNoCase(parts[0], "HKEY_CURRENT_CONFIG")) {
            node = &otherHives;
        } else {
            fail("unknown hive \"" + std::string(parts[0]) + "\"");
        }
        if (deleted) {
            if (parts.size() == 1) fail("a whole hive cannot be deleted");
            for (size_t i = 1; i + 1 < parts.size() && node != nullptr; ++i) {
                auto it = node->subkeys.find(std::string(parts[i]));
                node = it == node->subkeys.end() ? nullptr : it->second.get();
            }
            if (node != nullptr) node->subkeys.erase(std::string(parts.back()));
            return nullptr;
        }
        for (size_t i = 1; i < parts.size(); ++i) {
            auto& child = node->subkeys[std::string(parts[i])];
            if (!child) {
                child = std::make_unique<RegistryFileKey>();
                child->name = std::string(parts[i]);
            }
            node = child.get();
        }
        return node;
    }

    // A quoted string starting at line[pos] == '"'; leaves pos after the closing quote.
    std::string quoted(std::string_view line, size_t& pos) const {
        std::string out;
        ++pos;
        while (pos < line.size()) {
            const char c = line[pos++];
            if (c == '"') return out;
            if (c == '\\' && pos < line.size() && (line[pos] == '\\' || line[pos] == '"')) {
                out += line[pos++];
            } else {
                out += c;
            }
        }
        fail("a quoted text without its closing quote");
    }

    void valueLine(std::string_view line, RegistryFileKey* key) {
        size_t pos = 0;
        std::string name;
        if (line[0] == '@') {
            pos = 1;
        } else {
            name = quoted(line, pos);
        }
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        if (pos >= line.size() || line[pos] != '=') fail("a value without \"=\"");
        const std::string_view data = trimBlanks(line.substr(pos + 1));

        if (data == "-") {
            if (key != nullptr) key->values.erase(name);
            return;
        }
        RegistryValue value;
        if (!data.empty() && data.front() == '"') {
            size_t end = 0;
            const std::string text = quoted(data, end);
            if (!trimBlanks(data.substr(end)).empty()) fail("text after a quoted value");
            value.type = kRegSz;
            value.data = utf16leBytes(text) + std::string(2, '\0');
            value.wideStrings = true;
        } else if (data.substr(0, 6) == "dword:") {
            const auto number = hexNumber(data.substr(6), 8);
            if (!number) fail("a dword value that is not 1 to 8 hex digits");
            value.type = kRegDword;
            for (int i = 0; i < 4; ++i)
                value.data += static_cast<char>((*number >> (8 * i)) & 0xFF);
        } else if (data.substr(0, 3) == "hex") {
            std::string_view rest = data.substr(3);
            value.type = kRegBinary;
            if (!rest.empty() && rest.front() == '(') {
                const auto close = rest.find(')');
                if (close == std::string_view::npos) fail("a hex type without \")\"");
                const auto type = hexNumber(rest.substr(1, close - 1), 8);
                if (!type) fail("a hex type that is not a hex number");
                value.type = *type;
                rest = rest.substr(close + 1);
            }
            if (rest.empty() || rest.front() != ':') fail("a hex value without \":\"");
            value.data = hexBytes(rest.substr(1));
            value.wideStrings = m_wideHexStrings;
        } else {
            fail("a value of unknown form");
        }
        if (key != nullptr) key->values[name] = std::move(value);
    }

    // Comma-separated two-digit hex bytes, continued on the next line after a final "\".
    std::string hexBytes(std::string_view first) {
        std::string list;
        std::string_view part = trimBlanks(first);
        while (!part.empty() && part.back() == '\\') {
            list += part.substr(0, part.size() - 1);
            std::string_view next;
            if (!nextLine(next)) fail("a hex value continued past the end of the file");
            part = trimBlanks(next);
        }
        list += part;

        std::vector<std::string_view> tokens;
        for (size_t start = 0;;) {
            const auto comma = list.find(',', start);
            tokens.push_back(trimBlanks(std::string_view(list).substr(
                start, comma == std::string::npos ? comma : comma - start)));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        // An empty list is no bytes; a comma closing the list (as before a wrapped line's "")
        // leaves one empty last item.
        if (tokens.back().empty() && (tokens.size() == 1 || !tokens[tokens.size() - 2].empty()))
            tokens.pop_back();
        std::string bytes;
        for (auto token : tokens) {
            const auto byte = hexNumber(token, 2);
            if (!byte) fail("a hex byte that is not two hex digits");
            bytes += static_cast<char>(*byte);
        }
        return bytes;
    }

    std::string_view m_text;
    size_t m_pos = 0;
    int m_lineNo = 0;
    bool m_wideHexStrings = true;
};

class FileKey : public RegistryKey {
  public:
    explicit FileKey(const RegistryFileKey& node) : m_node(node) {}

    std::vector<std::string> subkeyNames() const override {
        std::vector<std::string> names;
        names.reserve(m_node.subkeys.size());
        for (const auto& [folded, child] : m_node.subkeys) names.push_back(child->name);
        return names;
    }
    std::unique_ptr<RegistryKey> openSubkey(std::string_view name) const override {
        const auto it = m_node.subkeys.find(std::string(name));
        if (it == m_node.subkeys.end()) return nullptr;
        return std::make_unique<FileKey>(*it->second);
    }
    std::optional<RegistryValue> queryValue(std::string_view name) const override {
        const auto it = m_node.values.find(std::string(name));
        if (it == m_node.values.end()) return std::nullopt;
        return it->second;
    }

  private:
    const RegistryFileKey& m_node;  // owned by the RegistryFile, which outlives its keys
};

bool userMayWrite(const std::filesystem::path& file) {
    return os::mayWrite(file.string());
}

}  // namespace

RegistryFileKey::~RegistryFileKey() {
    std::vector<std::unique_ptr<RegistryFileKey>> pending;
    const auto takeSubkeys = [&pending](RegistryFileKey& key) {
        for (auto& entry : key.subkeys) pending.push_back(std::move(entry.second));
        key.subkeys.clear();
    };
    takeSubkeys(*this);
    while (!pending.empty()) {
        std::unique_ptr<RegistryFileKey> key = std::move(pending.back());
        pending.pop_back();
        takeSubkeys(*key);
    }  // each key is freed here with no subkeys left
}

std::string stringValueText(const RegistryValue& value) {
    if (value.wideStrings) return utf16leToUtf8(value.data);
    const auto nul = value.data.find('\0');
    return cp1252::toUtf8(std::string_view(value.data).substr(0, nul));
}

RegistryFileContents parseRegistryFile(std::string_view bytes) {
    RegistryFileContents contents;
    const auto text = decodeTextFile(bytes);
    if (!text) {
        contents.error = "the text cannot be decoded";
        return contents;
    }
    try {
        contents.currentUser = Parser(*text).run();
    } catch (const MalformedFile& e) {
        contents.error = e.why();
    }
    return contents;
}

std::filesystem::path RegistryFile::defaultPath() {
    if (const char* env = std::getenv("TARVOLEN_REGISTRY"); env != nullptr && *env != '\0')
        return env;
    const std::filesystem::path config = os::userConfigFolder();
    return config.empty() ? config : config / "tarvolen" / "registry.reg";
}

RegistryFile::RegistryFile(std::filesystem::path file) : m_file(std::move(file)) {
    if (m_file.empty()) return;
    std::error_code ec;
    if (!std::filesystem::exists(m_file, ec)) return;
    const auto size = std::filesystem::file_size(m_file, ec);
    if (ec) {
        m_problem = "cannot read the file: " + ec.message();
        return;
    }
    if (size > kMaxFileBytes) {
        m_problem = "the file is larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB";
        return;
    }
    std::ifstream in(m_file, std::ios::binary);
    if (!in) {
        m_problem = "cannot open the file";
        return;
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        m_problem = "cannot read the file";
        return;
    }
    auto contents = parseRegistryFile(bytes);
    if (!contents.currentUser) {
        m_problem = contents.error;
        return;
    }
    m_root = std::move(contents.currentUser);
    m_writable = userMayWrite(m_file);
}

std::unique_ptr<RegistryKey> RegistryFile::openCurrentUserKey(std::string_view path) {
    if (!m_root || !m_writable) return nullptr;
    const RegistryFileKey* node = m_root.get();
    if (!path.empty()) {
        for (auto part : splitPath(path)) {
            if (part.empty()) return nullptr;
            const auto it = node->subkeys.find(std::string(part));
            if (it == node->subkeys.end()) return nullptr;
            node = it->second.get();
        }
    }
    return std::make_unique<FileKey>(*node);
}

}  // namespace tarvolen::settings
