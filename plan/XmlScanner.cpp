#include "plan/XmlScanner.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "base/Cp1252.h"
#include "base/Text.h"
#include "plan/Errors.h"

namespace tarvolen {
namespace {

// Where the next "&" of [p, end) is, or `end`. Eight bytes at a time: a reference comes every
// few dozen bytes in script text (each line end is one), where a call per search would cost more
// than the search.
const char* findAmpersand(const char* p, const char* end) {
    if constexpr (std::endian::native == std::endian::little) {
        constexpr uint64_t kOnes = 0x0101010101010101u;
        constexpr uint64_t kHighs = 0x8080808080808080u;
        constexpr uint64_t kAmpersands = kOnes * static_cast<unsigned char>('&');
        for (; end - p >= 8; p += 8) {
            uint64_t word = 0;
            std::memcpy(&word, p, 8);
            const uint64_t x = word ^ kAmpersands;
            // The lowest byte flagged is the first "&" (flags above it may be false).
            const uint64_t found = (x - kOnes) & ~x & kHighs;
            if (found != 0) return p + std::countr_zero(found) / 8;
        }
    }
    while (p < end && *p != '&') ++p;
    return p;
}

// The reference at `amp` (which holds "&"), when it is one this format knows: its code point and
// the byte past its ";". Anything else after "&" stands as it is.
bool readReference(const char* amp, const char* end, uint32_t& cp, const char*& after) {
    // The name ends at a ";" at most 11 bytes on.
    const char* limit = end - amp > 12 ? amp + 12 : end;
    const char* semi = amp + 1;
    while (semi < limit && *semi != ';') ++semi;
    if (semi == limit) return false;
    const std::string_view name(amp + 1, static_cast<size_t>(semi - amp - 1));
    after = semi + 1;
    if (name == "lt") {
        cp = '<';
    } else if (name == "gt") {
        cp = '>';
    } else if (name == "amp") {
        cp = '&';
    } else if (name == "apos") {
        cp = '\'';
    } else if (name == "quot") {
        cp = '"';
    } else if (name.size() >= 2 && name[0] == '#') {
        const bool hex = name[1] == 'x' || name[1] == 'X';
        cp = 0;
        size_t digits = 0;
        for (size_t i = hex ? 2 : 1; i < name.size(); ++i) {
            const char c = name[i];
            uint32_t d = 0;
            if (c >= '0' && c <= '9')
                d = static_cast<uint32_t>(c - '0');
            else if (hex && c >= 'a' && c <= 'f')
                d = static_cast<uint32_t>(c - 'a' + 10);
            else if (hex && c >= 'A' && c <= 'F')
                d = static_cast<uint32_t>(c - 'A' + 10);
            else
                return false;
            cp = cp * (hex ? 16 : 10) + d;
            ++digits;
            if (cp > 0x10FFFF) return false;
        }
        return digits > 0;
    } else {
        return false;
    }
    return true;
}

// Whether the reference read is a numeric one (its text then matters to wide text).
bool isNumericReference(const char* amp) {
    return amp[1] == '#';
}

// Decodes the references of an attribute value: each referenced character goes to
// appendChar(code point, the reference's text, empty for a named one), each stretch of plain
// text between them to appendRaw.
template <typename AppendChar, typename AppendRaw>
void decodeReferences(std::string_view raw, AppendChar appendChar, AppendRaw appendRaw) {
    const char* p = raw.data();
    const char* end = p + raw.size();
    while (p < end) {
        const char* amp = findAmpersand(p, end);
        if (amp == end) {
            appendRaw(p, end);
            return;
        }
        appendRaw(p, amp);
        uint32_t cp = 0;
        const char* after = nullptr;
        if (!readReference(amp, end, cp, after)) {
            // Not a reference this format knows: keep the text as it stands.
            appendRaw(amp, amp + 1);
            p = amp + 1;
            continue;
        }
        appendChar(cp, isNumericReference(amp)
                           ? std::string_view(amp, static_cast<size_t>(after - amp))
                           : std::string_view());
        p = after;
    }
}

}  // namespace

char* decodeXmlTextInto(std::string_view raw, char* out, char32_t* lacking) {
    const char* p = raw.data();
    const char* end = p + raw.size();
    while (true) {
        // Plain text is copied eight bytes at a time, the "&" that ends it included: the text
        // written never runs ahead of the text read, so `out` has room for every such copy.
        if constexpr (std::endian::native == std::endian::little) {
            constexpr uint64_t kOnes = 0x0101010101010101u;
            constexpr uint64_t kHighs = 0x8080808080808080u;
            constexpr uint64_t kAmpersands = kOnes * static_cast<unsigned char>('&');
            while (end - p >= 8) {
                uint64_t word = 0;
                std::memcpy(&word, p, 8);
                std::memcpy(out, &word, 8);
                const uint64_t x = word ^ kAmpersands;
                const uint64_t found = (x - kOnes) & ~x & kHighs;
                if (found != 0) {
                    const auto k = static_cast<size_t>(std::countr_zero(found) / 8);
                    p += k;
                    out += k;
                    break;
                }
                p += 8;
                out += 8;
            }
        }
        while (p < end && *p != '&') *out++ = *p++;
        if (p == end) return out;
        uint32_t cp = 0;
        const char* after = nullptr;
        if (!readReference(p, end, cp, after)) {
            *out++ = *p++;  // not a reference: the "&" stands as it is
            continue;
        }
        if (cp <= 0xFF) {
            *out++ = static_cast<char>(cp);
        } else {
            const char byte = cp1252::fromUnicode(cp);
            if (lacking != nullptr && *lacking == 0 && byte == '?') *lacking = cp;
            *out++ = byte;
        }
        p = after;
    }
}

void decodeXmlText(std::string_view raw, std::string& out) {
    // Grown, never cleared first: only the bytes beyond its old size are filled by resize.
    if (out.size() < raw.size()) out.resize(raw.size());
    out.resize(static_cast<size_t>(decodeXmlTextInto(raw, out.data(), nullptr) - out.data()));
}

void decodeXmlText(std::string_view raw, std::string& out, char32_t& lacking) {
    if (out.size() < raw.size()) out.resize(raw.size());
    out.resize(static_cast<size_t>(decodeXmlTextInto(raw, out.data(), &lacking) - out.data()));
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

void XmlScanner::ranOut() const {
    if (m_runsOn) throw XmlTextRunsOn{};
    throw dberr::mismatch();
}

void XmlScanner::skipLeadingBlanks() {
    while (m_p < m_end && isBlankChar(*m_p)) ++m_p;
    if (m_p == m_end) ranOut();
    if (*m_p != '<') throw dberr::mismatch();
}

void XmlScanner::skipBlanks() {
    while (m_p < m_end && isBlankChar(*m_p)) ++m_p;
}

bool XmlScanner::startsWith(std::string_view s) const {
    const auto left = static_cast<size_t>(m_end - m_p);
    if (left >= s.size()) return std::memcmp(m_p, s.data(), s.size()) == 0;
    // What is left could start it: the text after it decides.
    if (m_runsOn && std::memcmp(m_p, s.data(), left) == 0) ranOut();
    return false;
}

void XmlScanner::skipPast(std::string_view terminator) {
    const std::string_view rest(m_p, static_cast<size_t>(m_end - m_p));
    const size_t at = rest.find(terminator);
    if (at == std::string_view::npos) ranOut();
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
    if (m_p == m_end && m_runsOn) ranOut();  // the name may go on
    if (m_p == start) throw dberr::mismatch();
    return {start, static_cast<size_t>(m_p - start)};
}

XmlTag XmlScanner::openTag() {
    skipMisc();
    if (m_p == m_end) ranOut();
    if (*m_p != '<') throw dberr::mismatch();
    ++m_p;
    XmlTag tag;
    if (m_p == m_end) {
        if (m_runsOn) ranOut();
    } else if (*m_p == '/') {
        tag.closing = true;
        ++m_p;
    }
    tag.name = readName();
    return tag;
}

bool XmlScanner::nextAttribute(XmlTag& tag, XmlAttribute& attribute) {
    skipBlanks();
    if (m_p == m_end) ranOut();
    if (*m_p == '>') {
        ++m_p;
        return false;
    }
    if (*m_p == '/') {
        if (tag.closing) throw dberr::mismatch();
        if (m_p + 1 == m_end) ranOut();
        if (m_p[1] != '>') throw dberr::mismatch();
        m_p += 2;
        tag.selfClosed = true;
        return false;
    }
    if (tag.closing) throw dberr::mismatch();
    attribute.name = readName();
    skipBlanks();
    if (m_p == m_end) ranOut();
    if (*m_p != '=') throw dberr::mismatch();
    ++m_p;
    if (m_p == m_end) ranOut();
    if (*m_p != '"') throw dberr::mismatch();
    ++m_p;
    const auto* quote =
        static_cast<const char*>(std::memchr(m_p, '"', static_cast<size_t>(m_end - m_p)));
    if (quote == nullptr) ranOut();
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
