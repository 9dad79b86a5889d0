#include "plan/XmlScanner.h"

#include <algorithm>
#include <cstring>

#include "base/Cp1252.h"
#include "base/Text.h"
#include "plan/Errors.h"

namespace tarvolen {
namespace {

// Appends the character of a numeric reference to 8-bit text.
void appendCodePoint(std::string& out, uint32_t cp) {
    out += cp <= 0xFF ? static_cast<char>(cp) : cp1252::fromUnicode(cp);
}

// Decodes the references of an attribute value: each referenced character goes to
// appendChar(code point, the reference's text), each stretch of plain text between them to
// appendRaw.
template <typename AppendChar, typename AppendRaw>
void decodeReferences(std::string_view raw, AppendChar appendChar, AppendRaw appendRaw) {
    const char* p = raw.data();
    const char* end = p + raw.size();
    while (p < end) {
        const char* amp =
            static_cast<const char*>(std::memchr(p, '&', static_cast<size_t>(end - p)));
        if (amp == nullptr) {
            appendRaw(p, end);
            return;
        }
        appendRaw(p, amp);
        const char* semi = static_cast<const char*>(
            std::memchr(amp, ';', static_cast<size_t>(std::min<ptrdiff_t>(end - amp, 12))));
        if (semi == nullptr) {
            appendRaw(amp, amp + 1);
            p = amp + 1;
            continue;
        }
        const std::string_view name(amp + 1, static_cast<size_t>(semi - amp - 1));
        bool known = true;
        if (name == "lt") {
            appendChar('<', {});
        } else if (name == "gt") {
            appendChar('>', {});
        } else if (name == "amp") {
            appendChar('&', {});
        } else if (name == "apos") {
            appendChar('\'', {});
        } else if (name == "quot") {
            appendChar('"', {});
        } else if (name.size() >= 2 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            uint32_t cp = 0;
            size_t digits = 0;
            for (size_t i = hex ? 2 : 1; i < name.size() && known; ++i) {
                const char c = name[i];
                uint32_t d = 0;
                if (c >= '0' && c <= '9')
                    d = static_cast<uint32_t>(c - '0');
                else if (hex && c >= 'a' && c <= 'f')
                    d = static_cast<uint32_t>(c - 'a' + 10);
                else if (hex && c >= 'A' && c <= 'F')
                    d = static_cast<uint32_t>(c - 'A' + 10);
                else
                    known = false;
                cp = cp * (hex ? 16 : 10) + d;
                ++digits;
                if (cp > 0x10FFFF) known = false;
            }
            if (known && digits > 0)
                appendChar(cp, std::string_view(amp, static_cast<size_t>(semi + 1 - amp)));
            else
                known = false;
        } else {
            known = false;
        }
        if (!known) {
            // Not a reference this format knows: keep the text as it stands.
            appendRaw(amp, amp + 1);
            p = amp + 1;
            continue;
        }
        p = semi + 1;
    }
}

}  // namespace

void decodeXmlText(std::string_view raw, std::string& out) {
    out.clear();
    out.reserve(raw.size());
    decodeReferences(
        raw, [&](uint32_t cp, std::string_view) { appendCodePoint(out, cp); },
        [&](const char* a, const char* b) { out.append(a, static_cast<size_t>(b - a)); });
}

void decodeXmlText(std::string_view raw, std::string& out, char32_t& lacking) {
    out.clear();
    out.reserve(raw.size());
    decodeReferences(
        raw,
        [&](uint32_t cp, std::string_view) {
            appendCodePoint(out, cp);
            if (lacking == 0 && cp > 0xFF && out.back() == '?') lacking = cp;
        },
        [&](const char* a, const char* b) { out.append(a, static_cast<size_t>(b - a)); });
}

std::u16string decodeXmlWideText(std::string_view raw) {
    std::u16string out;
    out.reserve(raw.size());
    auto appendText = [&](std::string_view text) {
        for (const char c : text) {
            out += static_cast<char16_t>(cp1252::toUnicode(static_cast<unsigned char>(c)));
        }
    };
    // A reference to a high surrogate waits for one to a low surrogate: the two make one
    // character, as older copies wrote characters above U+FFFF. A surrogate on its own is no
    // character: its reference is kept as it stands.
    std::string_view pendingHigh;
    uint32_t high = 0;
    auto flushHigh = [&] {
        appendText(pendingHigh);
        pendingHigh = {};
    };
    decodeReferences(
        raw,
        [&](uint32_t cp, std::string_view reference) {
            if (cp >= 0xDC00 && cp <= 0xDFFF && !pendingHigh.empty()) {
                out += static_cast<char16_t>(high);
                out += static_cast<char16_t>(cp);
                pendingHigh = {};
                return;
            }
            flushHigh();
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                pendingHigh = reference;
                high = cp;
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                appendText(reference);
            } else if (cp >= 0x10000) {
                cp -= 0x10000;
                out += static_cast<char16_t>(0xD800 + (cp >> 10));
                out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
            } else {
                out += static_cast<char16_t>(cp);
            }
        },
        [&](const char* a, const char* b) {
            if (a == b) return;
            flushHigh();
            appendText(std::string_view(a, static_cast<size_t>(b - a)));
        });
    flushHigh();
    return out;
}

void XmlScanner::skipLeadingBlanks() {
    while (m_p < m_end && isBlankChar(*m_p)) ++m_p;
    if (m_p == m_end || *m_p != '<') throw dberr::mismatch();
}

void XmlScanner::skipBlanks() {
    while (m_p < m_end && isBlankChar(*m_p)) ++m_p;
}

bool XmlScanner::startsWith(std::string_view s) const {
    return static_cast<size_t>(m_end - m_p) >= s.size() &&
           std::memcmp(m_p, s.data(), s.size()) == 0;
}

void XmlScanner::skipPast(std::string_view terminator) {
    const std::string_view rest(m_p, static_cast<size_t>(m_end - m_p));
    const size_t at = rest.find(terminator);
    if (at == std::string_view::npos) throw dberr::mismatch();
    m_p += at + terminator.size();
}

void XmlScanner::skipMisc() {
    while (true) {
        skipBlanks();
        if (startsWith("<?")) {
            skipPast("?>");
        } else if (startsWith("<!--")) {
            skipPast("-->");
        } else {
            return;
        }
    }
}

std::string_view XmlScanner::readName() {
    const char* start = m_p;
    while (m_p < m_end && !isBlankChar(*m_p) && *m_p != '=' && *m_p != '/' && *m_p != '>' &&
           *m_p != '<' && *m_p != '"') {
        ++m_p;
    }
    if (m_p == start) throw dberr::mismatch();
    return {start, static_cast<size_t>(m_p - start)};
}

XmlTag XmlScanner::openTag() {
    skipMisc();
    if (m_p == m_end || *m_p != '<') throw dberr::mismatch();
    ++m_p;
    XmlTag tag;
    if (m_p < m_end && *m_p == '/') {
        tag.closing = true;
        ++m_p;
    }
    tag.name = readName();
    return tag;
}

bool XmlScanner::nextAttribute(XmlTag& tag, XmlAttribute& attribute) {
    skipBlanks();
    if (m_p == m_end) throw dberr::mismatch();
    if (*m_p == '>') {
        ++m_p;
        return false;
    }
    if (*m_p == '/') {
        if (tag.closing || m_p + 1 == m_end || m_p[1] != '>') throw dberr::mismatch();
        m_p += 2;
        tag.selfClosed = true;
        return false;
    }
    if (tag.closing) throw dberr::mismatch();
    attribute.name = readName();
    skipBlanks();
    if (m_p == m_end || *m_p != '=') throw dberr::mismatch();
    ++m_p;
    if (m_p == m_end || *m_p != '"') throw dberr::mismatch();
    ++m_p;
    const auto* quote =
        static_cast<const char*>(std::memchr(m_p, '"', static_cast<size_t>(m_end - m_p)));
    if (quote == nullptr) throw dberr::mismatch();
    attribute.raw = {m_p, static_cast<size_t>(quote - m_p)};
    m_p = quote + 1;
    return true;
}

XmlTag XmlScanner::nextTag() {
    XmlTag tag = openTag();
    XmlAttribute attribute;
    while (nextAttribute(tag, attribute)) {
    }
    return tag;
}

void XmlScanner::expectClosing(std::string_view name) {
    const XmlTag tag = nextTag();
    if (!tag.closing || tag.name != name) throw dberr::mismatch();
}

std::optional<std::string_view> declaredEncoding(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isBlankChar(text[i])) ++i;
    if (text.substr(i, 2) != "<?") return std::nullopt;
    const size_t end = text.find("?>", i);
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view prolog = text.substr(i + 2, end - i - 2);
    for (size_t at = 0; at + 8 <= prolog.size(); ++at) {
        if (!equalsNoCase(prolog.substr(at, 8), "encoding")) continue;
        size_t p = at + 8;
        while (p < prolog.size() && isBlankChar(prolog[p])) ++p;
        if (p >= prolog.size() || prolog[p] != '=') continue;
        ++p;
        while (p < prolog.size() && isBlankChar(prolog[p])) ++p;
        if (p >= prolog.size() || (prolog[p] != '"' && prolog[p] != '\'')) continue;
        const char quote = prolog[p++];
        const size_t close = prolog.find(quote, p);
        if (close == std::string_view::npos) return std::nullopt;
        return prolog.substr(p, close - p);
    }
    return std::nullopt;
}

bool declaresUtf8(std::string_view text) {
    const std::optional<std::string_view> encoding = declaredEncoding(text);
    return encoding && equalsNoCase(*encoding, "UTF-8");
}

}  // namespace tarvolen
