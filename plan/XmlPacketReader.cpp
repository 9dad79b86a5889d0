// Reader of the XML form. A hand-written single-pass scanner: the packet is one flat structure
// (METADATA with FIELDS and PARAMS, then ROWDATA with self-closed ROW elements), and plans with
// megabytes of script text must load quickly, so no general XML parser is used.

#include <algorithm>
#include <cstring>
#include <string>

#include "base/Cp1252.h"
#include "base/Text.h"
#include "plan/Errors.h"
#include "plan/FieldTypes.h"
#include "plan/PacketCodec.h"
#include "plan/ValueText.h"

namespace tarvolen {
namespace {

// Limits of the binary form: names have a 1-byte length, counts a 2-byte one.
constexpr size_t kMaxName = 0xFF;
constexpr size_t kMaxCount = 0xFFFF;

// Appends the character of a numeric reference to 8-bit text.
void appendCodePoint(std::string& out, uint32_t cp) {
    out += cp <= 0xFF ? static_cast<char>(cp) : cp1252::fromUnicode(cp);
}

// Decodes the references of an attribute value. Returns false when the value has none, so the
// caller can use the raw text as it stands.
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
            appendChar('<');
        } else if (name == "gt") {
            appendChar('>');
        } else if (name == "amp") {
            appendChar('&');
        } else if (name == "apos") {
            appendChar('\'');
        } else if (name == "quot") {
            appendChar('"');
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
                appendChar(cp);
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

void decodeText(std::string_view raw, std::string& out) {
    out.clear();
    out.reserve(raw.size());
    decodeReferences(
        raw, [&](uint32_t cp) { appendCodePoint(out, cp); },
        [&](const char* a, const char* b) { out.append(a, static_cast<size_t>(b - a)); });
}

std::u16string decodeWideText(std::string_view raw) {
    std::u16string out;
    out.reserve(raw.size());
    decodeReferences(
        raw,
        [&](uint32_t cp) {
            if (cp >= 0x10000) {
                cp -= 0x10000;
                out += static_cast<char16_t>(0xD800 + (cp >> 10));
                out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
            } else {
                out += static_cast<char16_t>(cp);
            }
        },
        [&](const char* a, const char* b) {
            for (; a < b; ++a) {
                out += static_cast<char16_t>(cp1252::toUnicode(static_cast<unsigned char>(*a)));
            }
        });
    return out;
}

struct RawAttribute {
    std::string_view name;
    std::string_view raw;  // between the quotes, references not yet decoded
};

struct Tag {
    std::string_view name;
    bool closing = false;     // </NAME>
    bool selfClosed = false;  // <NAME .../>
    std::vector<RawAttribute> attributes;
};

// What the reader knows of each field while reading rows.
struct FieldReadInfo {
    std::string attrName;  // the name ROW attributes use
    bool textBlob = false;
    size_t width = 0;  // strings are cut to it; 0 = no cut
};

class XmlPacketReader {
  public:
    explicit XmlPacketReader(std::string_view text)
        : m_p(text.data()), m_end(text.data() + text.size()) {}

    DataPacket read() {
        skipLeadingBlanks();
        skipMisc();
        Tag tag = nextTag();
        bool inDataPacket = false;
        if (!tag.closing && tag.name == "DATAPACKET") {
            if (tag.selfClosed) throw dberr::mismatch();
            inDataPacket = true;
            tag = nextTag();
        }
        if (tag.closing) throw dberr::mismatch();
        if (tag.name == "ROWDATA") throw dberr::noMetaData();
        if (tag.name != "METADATA" || tag.selfClosed) throw dberr::mismatch();
        readMetaData();

        tag = nextTag();
        if (tag.closing || tag.name != "ROWDATA") throw dberr::mismatch();
        if (!tag.selfClosed) readRows();
        if (inDataPacket) {
            tag = nextTag();
            if (!tag.closing || tag.name != "DATAPACKET") throw dberr::mismatch();
        }
        const size_t logAttribute = m_packet.changeLog.empty() ? 0 : 1;
        if (m_packet.attributes.size() + logAttribute > kMaxCount) throw dberr::invalidParameter();
        carryOverFromReplaced(m_packet, m_pending);
        return std::move(m_packet);
    }

  private:
    void skipLeadingBlanks() {
        while (m_p < m_end && isBlankChar(*m_p)) ++m_p;
        if (m_p == m_end || *m_p != '<') throw dberr::mismatch();
    }

    void skipBlanks() {
        while (m_p < m_end && isBlankChar(*m_p)) ++m_p;
    }

    bool startsWith(std::string_view s) const {
        return static_cast<size_t>(m_end - m_p) >= s.size() &&
               std::memcmp(m_p, s.data(), s.size()) == 0;
    }

    void skipPast(std::string_view terminator) {
        const std::string_view rest(m_p, static_cast<size_t>(m_end - m_p));
        const size_t at = rest.find(terminator);
        if (at == std::string_view::npos) throw dberr::mismatch();
        m_p += at + terminator.size();
    }

    // Processing instructions and comments may stand wherever a tag may.
    void skipMisc() {
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

    std::string_view readName() {
        const char* start = m_p;
        while (m_p < m_end && !isBlankChar(*m_p) && *m_p != '=' && *m_p != '/' && *m_p != '>' &&
               *m_p != '<' && *m_p != '"') {
            ++m_p;
        }
        if (m_p == start) throw dberr::mismatch();
        return {start, static_cast<size_t>(m_p - start)};
    }

    Tag nextTag() {
        skipMisc();
        if (m_p == m_end || *m_p != '<') throw dberr::mismatch();
        ++m_p;
        Tag tag;
        if (m_p < m_end && *m_p == '/') {
            tag.closing = true;
            ++m_p;
        }
        tag.name = readName();
        while (true) {
            skipBlanks();
            if (m_p == m_end) throw dberr::mismatch();
            if (*m_p == '>') {
                ++m_p;
                return tag;
            }
            if (*m_p == '/') {
                if (tag.closing || m_p + 1 == m_end || m_p[1] != '>') throw dberr::mismatch();
                m_p += 2;
                tag.selfClosed = true;
                return tag;
            }
            if (tag.closing) throw dberr::mismatch();
            RawAttribute attr;
            attr.name = readName();
            skipBlanks();
            if (m_p == m_end || *m_p != '=') throw dberr::mismatch();
            ++m_p;
            if (m_p == m_end || *m_p != '"') throw dberr::mismatch();
            ++m_p;
            const auto* quote =
                static_cast<const char*>(std::memchr(m_p, '"', static_cast<size_t>(m_end - m_p)));
            if (quote == nullptr) throw dberr::mismatch();
            attr.raw = {m_p, static_cast<size_t>(quote - m_p)};
            m_p = quote + 1;
            tag.attributes.push_back(attr);
        }
    }

    void expectClosing(std::string_view name) {
        const Tag tag = nextTag();
        if (!tag.closing || tag.name != name) throw dberr::mismatch();
    }

    std::string decoded(std::string_view raw) {
        std::string out;
        decodeText(raw, out);
        return out;
    }

    Attribute attributeFromXml(std::string_view name, std::string_view raw) {
        Attribute a;
        a.name = std::string(name);
        a.typeWord = knownAttributeTypeWord(name).value_or(typeword::kString2);
        a.value = attributeValueFromText(a.typeWord, decoded(raw));
        checkStorable(a);
        return a;
    }

    // Refuses what the binary form could not hold, so that whatever loads can also be saved.
    static void checkStorable(const Attribute& a) {
        const auto* text = std::get_if<std::string>(&a.value);
        // A stored text also carries its closing zero byte in a 16-bit length.
        if (a.name.size() > kMaxName || (text != nullptr && text->size() >= kMaxCount)) {
            throw dberr::invalidParameter();
        }
    }

    // <PARAM Name=".." Value=".." Type=".." Roundtrip="True"/>
    Attribute attributeFromParam(const Tag& tag) {
        Attribute a;
        std::string value;
        bool named = false;
        for (const auto& attr : tag.attributes) {
            if (attr.name == "Name") {
                a.name = decoded(attr.raw);
                named = true;
            } else if (attr.name == "Value") {
                value = decoded(attr.raw);
            } else if (attr.name == "Type") {
                a.typeWord = attributeTypeWord(decoded(attr.raw));
            } else if (attr.name == "Roundtrip") {
                a.roundtrip = equalsNoCase(decoded(attr.raw), "true");
            }
        }
        if (!named) throw dberr::mismatch();
        a.value = attributeValueFromText(a.typeWord, value);
        checkStorable(a);
        return a;
    }

    // Reads PARAM children up to the closing tag of `owner`.
    void readParams(std::string_view owner, std::vector<Attribute>& into) {
        while (true) {
            const Tag tag = nextTag();
            if (tag.closing) {
                if (tag.name != owner) throw dberr::mismatch();
                return;
            }
            if (tag.name == "FIELDS") throw dberr::invalidFieldType();  // nested table
            if (tag.name != "PARAM") throw dberr::mismatch();
            if (!tag.selfClosed) expectClosing("PARAM");
            into.push_back(attributeFromParam(tag));
        }
    }

    void readMetaData() {
        bool sawFields = false;
        while (true) {
            const Tag tag = nextTag();
            if (tag.closing) {
                if (tag.name != "METADATA" || !sawFields) throw dberr::mismatch();
                return;
            }
            if (tag.name == "FIELDS" && !sawFields) {
                sawFields = true;
                if (!tag.selfClosed) readFields();
            } else if (tag.name == "PARAMS" && sawFields) {
                readDatasetParams(tag);
            } else {
                throw dberr::mismatch();
            }
        }
    }

    void readFields() {
        while (true) {
            const Tag tag = nextTag();
            if (tag.closing) {
                if (tag.name != "FIELDS") throw dberr::mismatch();
                return;
            }
            if (tag.name != "FIELD") throw dberr::mismatch();
            readField(tag);
        }
    }

    void readField(const Tag& tag) {
        FieldDef field;
        FieldReadInfo info;
        std::string_view nameRaw, fullNameRaw, typeRaw;
        bool hasName = false, hasFullName = false, hasType = false;
        for (const auto& attr : tag.attributes) {
            const auto n = attr.name;
            if (n == "attrname" || n == "tagname") {
                nameRaw = attr.raw;
                hasName = true;
            } else if (n == "fieldname") {
                fullNameRaw = attr.raw;
                hasFullName = true;
            } else if (n == "fieldtype") {
                typeRaw = attr.raw;
                hasType = true;
            } else if (n == "readonly" || n == "required" || n == "hidden" || n == "linkfield") {
                if (equalsNoCase(decoded(attr.raw), "true")) {
                    field.bits |= n == "readonly"   ? fieldbits::kReadOnly
                                  : n == "required" ? fieldbits::kRequired
                                  : n == "hidden"   ? fieldbits::kHidden
                                                    : fieldbits::kLinkField;
                }
            } else {
                field.attributes.push_back(attributeFromXml(n, attr.raw));
            }
        }
        if (!hasName) throw dberr::mismatch();
        if (!tag.selfClosed) readParams("FIELD", field.attributes);
        if (!hasType) throw dberr::invalidFieldType();

        info.attrName = decoded(nameRaw);
        field.name = hasFullName ? decoded(fullNameRaw) : info.attrName;
        const TypeLookup lookup = lookupXmlType(decoded(typeRaw), field.type);
        if (lookup == TypeLookup::Invalid) throw dberr::invalidFieldType();
        if (lookup == TypeLookup::Dropped) return;  // 8-bit integers load as no field

        if (field.name.empty() || info.attrName.empty()) throw dberr::nullFieldName();
        if (field.name.size() > kMaxName) throw dberr::invalidParameter();
        const int width = field.width();
        // Without a width no length prefix is known to hold the values.
        const bool text = field.type == FieldType::String || field.type == FieldType::WideString;
        if (text && width < 1) throw dberr::invalidParameter();
        // Sizes beyond what a field can hold would only make later allocations explode.
        const bool sized = field.type == FieldType::String || field.type == FieldType::WideString ||
                           field.type == FieldType::Blob;
        if (sized && (width < 0 || width > 32767)) throw dberr::invalidParameter();
        if ((field.type == FieldType::Bcd || field.type == FieldType::FmtBcd) &&
            (width < 0 || width > 64)) {
            throw dberr::invalidParameter();
        }
        if (field.type == FieldType::Blob && field.findAttribute("SUBTYPE") == nullptr) {
            if (width <= 0) throw dberr::invalidParameter();
            field.type = FieldType::Bytes;
        }
        field.typeWord = typeWordFor(field.type, width);
        info.textBlob = isTextBlob(field);
        if (field.type == FieldType::String) info.width = static_cast<size_t>(width);
        if (field.attributes.size() > kMaxCount || m_packet.fields.size() == kMaxCount) {
            throw dberr::invalidParameter();
        }
        m_packet.fields.push_back(std::move(field));
        m_info.push_back(std::move(info));
    }

    void readDatasetParams(const Tag& tag) {
        for (const auto& attr : tag.attributes) {
            if (attr.name == "CHANGE_LOG") {
                setChangeLog(attributeValueFromText(typeword::kUIntArray, decoded(attr.raw)));
            } else {
                m_packet.attributes.push_back(attributeFromXml(attr.name, attr.raw));
            }
        }
        if (!tag.selfClosed) {
            std::vector<Attribute> params;
            readParams("PARAMS", params);
            for (auto& a : params) {
                if (a.name == "CHANGE_LOG") {
                    setChangeLog(
                        attributeValueFromText(typeword::kUIntArray, attributeValueToText(a)));
                } else {
                    m_packet.attributes.push_back(std::move(a));
                }
            }
        }
    }

    void setChangeLog(const FieldValue& value) {
        const auto& numbers = std::get<IntArray>(value);
        m_packet.changeLog.clear();
        m_packet.changeLog.reserve(numbers.size() / 3);
        for (size_t i = 0; i + 2 < numbers.size(); i += 3) {
            m_packet.changeLog.push_back({static_cast<uint32_t>(numbers[i]),
                                          static_cast<uint32_t>(numbers[i + 1]),
                                          static_cast<uint32_t>(numbers[i + 2])});
        }
    }

    // Field index of a ROW attribute; rows usually list fields in layout order, so the search
    // starts after the previous hit.
    int fieldOf(std::string_view name, size_t& hint) const {
        const size_t n = m_info.size();
        for (size_t k = 0; k < n; ++k) {
            const size_t i = (hint + k) % n;
            if (m_info[i].attrName == name) {
                hint = i + 1;
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    void readRows() {
        bool first = true;
        std::string scratch;
        while (true) {
            Tag tag = nextTag();
            if (tag.closing) {
                if (tag.name != "ROWDATA") throw dberr::mismatch();
                return;
            }
            if (first && tag.name.substr(0, 3) != "ROW") throw dberr::mismatch();
            if (!tag.selfClosed) throw dberr::mismatch();  // the element form of rows is not read
            first = false;
            readRow(tag, scratch);
        }
    }

    void readRow(const Tag& tag, std::string& scratch) {
        RowVersion row;
        row.values.resize(m_packet.fields.size());
        size_t hint = 0;
        for (const auto& attr : tag.attributes) {
            if (attr.name == "RowState") {
                unsigned state = 0;
                for (char c : attr.raw) {
                    if (c < '0' || c > '9') break;
                    state = (state * 10 + static_cast<unsigned>(c - '0')) & 0xFFFF;
                }
                row.status = static_cast<uint8_t>(state);
                continue;
            }
            const int index = fieldOf(attr.name, hint);
            if (index < 0) continue;  // attributes naming no field are ignored
            const auto i = static_cast<size_t>(index);
            const FieldDef& field = m_packet.fields[i];
            const FieldReadInfo& info = m_info[i];
            if (field.type == FieldType::String) {
                std::string text;
                decodeText(attr.raw, text);
                if (info.width > 0 && text.size() > info.width) text.resize(info.width);
                row.values[i] = std::move(text);
            } else if (info.textBlob) {
                std::string text;
                decodeText(attr.raw, text);
                row.values[i] = makeBlob(std::move(text));
            } else if (field.type == FieldType::WideString) {
                std::u16string text = decodeWideText(attr.raw);
                const int width = field.width();
                if (width > 0 && text.size() > static_cast<size_t>(width))
                    text.resize(static_cast<size_t>(width));
                row.values[i] = std::move(text);
            } else {
                decodeText(attr.raw, scratch);
                row.values[i] = valueFromText(field, scratch);
            }
        }
        if ((row.status & rowstate::kModified) != 0) notePendingBlobs(row);
        m_packet.rows.push_back(std::move(row));
    }

    // Blobs a modified version leaves out are those of the version it replaces.
    void notePendingBlobs(const RowVersion& row) {
        std::vector<int> missing;
        for (size_t i = 0; i < m_packet.fields.size(); ++i) {
            if (m_packet.fields[i].type == FieldType::Blob && isNull(row.values[i])) {
                missing.push_back(static_cast<int>(i));
            }
        }
        if (missing.empty()) return;
        m_pending.resize(m_packet.rows.size() + 1);
        m_pending[m_packet.rows.size()] = std::move(missing);
    }

    const char* m_p;
    const char* m_end;
    DataPacket m_packet;
    std::vector<FieldReadInfo> m_info;
    std::vector<std::vector<int>> m_pending;
};

// A leading "<?...?>" prolog that declares encoding="UTF-8" (any letter case).
bool declaresUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isBlankChar(text[i])) ++i;
    if (text.substr(i, 2) != "<?") return false;
    const size_t end = text.find("?>", i);
    if (end == std::string_view::npos) return false;
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
        if (close == std::string_view::npos) return false;
        return equalsNoCase(prolog.substr(p, close - p), "UTF-8");
    }
    return false;
}

}  // namespace

DataPacket decodeXmlPacket(std::string_view bytes) {
    static constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (bytes.substr(0, 3) == kBom) {
        const std::string text = cp1252::fromUtf8(bytes.substr(3));
        return XmlPacketReader(text).read();
    }
    if (declaresUtf8(bytes) && cp1252::isValidUtf8(bytes)) {
        const std::string text = cp1252::fromUtf8(bytes);
        return XmlPacketReader(text).read();
    }
    return XmlPacketReader(bytes).read();
}

}  // namespace tarvolen
