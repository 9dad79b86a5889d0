// Writer of the XML form: one line, no indentation, attributes in a fixed order, so that a plan
// saved twice gives the same bytes.

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/os/Memory.h"
#include "plan/Base64.h"
#include "plan/Errors.h"
#include "plan/FieldTypes.h"
#include "plan/PacketCodec.h"
#include "plan/ValueRules.h"
#include "plan/ValueText.h"

namespace tarvolen {
namespace {

// Text reserved from this size on is asked to be in huge pages: faulting in a fresh buffer of
// tens of megabytes page by page costs as much as writing it.
constexpr size_t kHugePagesFrom = size_t{8} << 20;

constexpr std::string_view kProlog = "<?xml version=\"1.0\" standalone=\"yes\"?>  ";

// Replacement text of each byte that attribute values may not carry as it stands.
struct Escape {
    const char* text = nullptr;
    size_t length = 0;
};
constexpr std::array<Escape, 256> makeEscapes() {
    std::array<Escape, 256> t{};
    t['<'] = {"&lt;", 4};
    t['>'] = {"&gt;", 4};
    t['&'] = {"&amp;", 5};
    t['\''] = {"&apos;", 6};
    t['"'] = {"&quot;", 6};
    t['\r'] = {"&#013;", 6};
    t['\n'] = {"&#010;", 6};
    t['\t'] = {"&#009;", 6};
    t['\\'] = {"&#092;", 6};
    return t;
}
constexpr std::array<Escape, 256> kEscapes = makeEscapes();

// The first byte of [p, end) that has an escape, or `end`. Sixteen bytes at a time where the
// processor compares so many at once: scripts are most of a plan, and an escape comes every few
// dozen bytes (each line end is two).
const char* findEscaped(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i gt = _mm_set1_epi8('>');
    const __m128i amp = _mm_set1_epi8('&');
    const __m128i apos = _mm_set1_epi8('\'');
    const __m128i quot = _mm_set1_epi8('"');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i backslash = _mm_set1_epi8('\\');
    for (; end - p >= 16; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, gt));
        hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmpeq_epi8(v, apos)));
        hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, quot), _mm_cmpeq_epi8(v, cr)));
        hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, tab)));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, backslash));
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (mask != 0) return p + std::countr_zero(mask);
    }
#endif
    while (p < end && kEscapes[static_cast<unsigned char>(*p)].length == 0) ++p;
    return p;
}

void appendEscaped(std::string& out, std::string_view text) {
    const char* p = text.data();
    const char* end = p + text.size();
    while (true) {
        const char* at = findEscaped(p, end);
        out.append(p, static_cast<size_t>(at - p));
        if (at == end) return;
        const Escape& escape = kEscapes[static_cast<unsigned char>(*at)];
        out.append(escape.text, escape.length);
        p = at + 1;
    }
}

// Every character above 127 as one reference to its code point: a surrogate pair makes one.
void appendEscapedWide(std::string& out, std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c > 127) {
            auto cp = static_cast<uint32_t>(c);
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(text[++i]) - 0xDC00);
            }
            char buf[16];
            const int n = std::snprintf(buf, sizeof buf, "&#%03u;", static_cast<unsigned>(cp));
            out.append(buf, static_cast<size_t>(n));
        } else if (kEscapes[c].length != 0) {
            out.append(kEscapes[c].text, kEscapes[c].length);
        } else {
            out += static_cast<char>(c);
        }
    }
}

void appendAttribute(std::string& out, std::string_view name, std::string_view value) {
    out += ' ';
    out.append(name);
    out += "=\"";
    appendEscaped(out, value);
    out += '"';
}

void appendInteger(std::string& out, int64_t v) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, static_cast<size_t>(end - buf));
}

// Whether a Windows-1252 byte may start an XML name, or stand in one after the start, for every
// XML 1.0 parser: the rules of the fourth edition, which parsers still follow, admit fewer
// characters than those of the fifth (no euro sign, no trade mark sign). ASCII letters and "_",
// the letters of the code page; then also digits, "-", "." and the middle dot. The colon, which
// XML admits, is left out too: to a reader of namespaces it would name a prefix.
bool isNameStartByte(unsigned char b) {
    switch (b) {
        case 0x83:  // f with hook
        case 0x8A:  // S caron
        case 0x8C:  // OE
        case 0x8E:  // Z caron
        case 0x9A:  // s caron
        case 0x9C:  // oe
        case 0x9E:  // z caron
        case 0x9F:  // Y diaeresis
            return true;
        default:
            return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_' ||
                   (b >= 0xC0 && b != 0xD7 && b != 0xF7);
    }
}
bool isNameByte(unsigned char b) {
    return isNameStartByte(b) || (b >= '0' && b <= '9') || b == '-' || b == '.' || b == 0xB7;
}

// The name in a form that can stand as an XML attribute name: every byte that may not stand
// there (blanks and ! # $ % ( ) * ? among them), and a first one that may not start a name,
// becomes "_".
std::string xmlName(const std::string& name) {
    std::string out = name;
    for (size_t i = 0; i < out.size(); ++i) {
        const auto b = static_cast<unsigned char>(out[i]);
        if (!(i == 0 ? isNameStartByte(b) : isNameByte(b))) out[i] = '_';
    }
    return out;
}

// The `attrname` of each field: its name when that can stand as it is, else its xmlName; unique
// among the fields and never "RowState", which names a row's status, so that no two fields
// share a ROW attribute. Names that need no change keep them; an altered or colliding one gets
// "_1", "_2", ... until it is free.
std::vector<std::string> attributeNames(const std::vector<FieldDef>& fields) {
    constexpr std::string_view kRowState = "RowState";
    std::vector<std::string> names(fields.size());
    std::set<std::string, std::less<>> used;
    for (size_t i = 0; i < fields.size(); ++i) {
        const std::string& name = fields[i].name;
        if (name != kRowState && xmlName(name) == name && used.insert(name).second) {
            names[i] = name;
        }
    }
    for (size_t i = 0; i < fields.size(); ++i) {
        if (!names[i].empty()) continue;
        const std::string base = xmlName(fields[i].name);
        std::string candidate = base;
        for (size_t n = 1; candidate == kRowState || used.count(candidate) != 0; ++n) {
            candidate = base + "_" + std::to_string(n);
        }
        used.insert(candidate);
        names[i] = std::move(candidate);
    }
    return names;
}

// Attributes the program neither sets nor uses, whose value (and type) a file holds is written
// back as it was.
bool isCarriedThrough(std::string_view name) {
    static constexpr std::array<std::string_view, 12> kNames = {
        "SERVER_COL", "DATASET_DELTA", "READONLY", "LCID",     "TABLENAME", "TYPENAME",
        "UPDATEMODE", "MD_SEMANTICS",  "DELTA",    "MINVALUE", "MAXVALUE",  "DEFVALUE"};
    return std::find(kNames.begin(), kNames.end(), name) != kNames.end();
}

// An attribute is written as an XML attribute of FIELD or PARAMS when its name is a known one,
// not written so yet (an element cannot carry an attribute twice), and it reads back from it:
// stored with the type a reader gives that name, or, for a name the program uses, with a value
// whose text reads back as the same text under that type. Otherwise it goes as a PARAM, whose
// Type keeps its type.
bool asXmlAttribute(const Attribute& a, const std::vector<std::string_view>& written) {
    const std::optional<uint32_t> known = knownAttributeTypeWord(a.name);
    if (!known || a.name == "CHANGE_LOG") return false;
    if (std::find(written.begin(), written.end(), a.name) != written.end()) return false;
    if (storedAttributeWord(a.typeWord, a.value) == *known) return true;
    if (isCarriedThrough(a.name) || std::holds_alternative<std::u16string>(a.value)) return false;
    const std::string text = attributeValueToText(a);
    Attribute back;
    back.typeWord = *known;
    setAttributeFromText(back, text);
    return back.typeWord == *known && attributeValueToText(back) == text;
}

// Refuses, as the binary writer does, an attribute it could not write or read back.
void requireWritable(const Attribute& a) {
    if (!isAttributeTypeWord(a.typeWord)) throw dberr::invalidFieldType();
    if (!fitsAttribute(a.typeWord, a.value)) throw dberr::invalidParameter();
}

void appendAttributeValue(std::string& out, std::string_view name, const Attribute& a) {
    if (const auto* wide = std::get_if<std::u16string>(&a.value)) {
        out += ' ';
        out.append(name);
        out += "=\"";
        appendEscapedWide(out, *wide);
        out += '"';
    } else {
        appendAttribute(out, name, attributeValueToText(a));
    }
}

void appendParam(std::string& out, const Attribute& a) {
    out += "<PARAM";
    appendAttribute(out, "Name", a.name);
    appendAttributeValue(out, "Value", a);
    appendAttribute(out, "Type", attributeTypeName(storedAttributeWord(a.typeWord, a.value)));
    if (a.roundtrip) out += " Roundtrip=\"True\"";
    out += "/>";
}

void appendParams(std::string& out, const std::vector<const Attribute*>& params,
                  std::string_view element) {
    if (params.empty()) {
        out += "/>";
        return;
    }
    out += '>';
    for (const Attribute* a : params) appendParam(out, *a);
    out += "</";
    out.append(element);
    out += '>';
}

// Writes the attributes of `attributes` named in `leading` first, in that order, as XML
// attributes, then every other one as an XML attribute or a PARAM child, and closes the element.
// `written` names the XML attributes the element has already, `first` those already written.
void appendAttributes(std::string& out, const std::vector<Attribute>& attributes,
                      const std::vector<std::string_view>& leading, std::string_view element,
                      std::vector<std::string_view> written = {},
                      std::vector<const Attribute*> first = {}) {
    for (const std::string_view name : leading) {
        const auto it = std::find_if(attributes.begin(), attributes.end(),
                                     [&](const Attribute& a) { return a.name == name; });
        if (it != attributes.end() && asXmlAttribute(*it, written)) {
            requireWritable(*it);
            appendAttributeValue(out, name, *it);
            written.push_back(name);
            first.push_back(&*it);
        }
    }
    std::vector<const Attribute*> params;
    for (const Attribute& a : attributes) {
        if (std::find(first.begin(), first.end(), &a) != first.end()) continue;
        if (a.name != "CHANGE_LOG") requireWritable(a);
        if (asXmlAttribute(a, written)) {
            appendAttributeValue(out, a.name, a);
            written.push_back(a.name);
        } else if (a.name != "CHANGE_LOG") {
            params.push_back(&a);
        }
    }
    appendParams(out, params, element);
}

void writeField(std::string& out, const FieldDef& field, const std::string& attrName) {
    out += "<FIELD";
    if (attrName != field.name) appendAttribute(out, "fieldname", field.name);
    appendAttribute(out, "attrname", attrName);
    const char* typeName = xmlTypeName(field.type);
    if (*typeName == '\0') throw dberr::notSupportedForXml();
    // What the readers would refuse is not written.
    requireCarriableLayout(field, storedTypeWord(field));
    appendAttribute(out, "fieldtype", typeName);
    if (field.bits & fieldbits::kReadOnly) out += " readonly=\"true\"";
    if (field.bits & fieldbits::kRequired) out += " required=\"true\"";
    if (field.bits & fieldbits::kHidden) out += " hidden=\"true\"";
    if (field.bits & fieldbits::kLinkField) out += " linkfield=\"true\"";
    appendAttributes(out, field.attributes, {"SUBTYPE", "DECIMALS", "WIDTH", "CALCULATED"},
                     "FIELD");
}

void writeDatasetParams(std::string& out, const DataPacket& packet) {
    out += "<PARAMS";
    std::vector<std::string_view> leading = {"DEFAULT_ORDER", "PRIMARY_KEY", "UNIQUE_KEY"};
    std::vector<std::string_view> written;
    std::vector<const Attribute*> first;
    // The change log goes after the keys and before AUTOINCVALUE.
    for (const std::string_view name : leading) {
        if (const Attribute* a = packet.findAttribute(name);
            a != nullptr && asXmlAttribute(*a, written)) {
            requireWritable(*a);
            appendAttributeValue(out, name, *a);
            written.push_back(name);
            first.push_back(a);
        }
    }
    if (!packet.changeLog.empty()) {
        out += " CHANGE_LOG=\"";
        for (size_t i = 0; i < packet.changeLog.size(); ++i) {
            const auto& e = packet.changeLog[i];
            if (i > 0) out += ' ';
            appendInteger(out, e.version);
            out += ' ';
            appendInteger(out, e.replaced);
            out += ' ';
            appendInteger(out, e.kind);
        }
        out += '"';
    }
    appendAttributes(out, packet.attributes, {"AUTOINCVALUE", "MD_FIELDLINKS"}, "PARAMS",
                     std::move(written), std::move(first));
}

void appendValue(std::string& out, const FieldDef& field, const FieldValue& value) {
    switch (field.type) {
        case FieldType::String:
            appendEscaped(out, std::get<std::string>(value));
            return;
        case FieldType::Int16:
        case FieldType::Int32:
        case FieldType::Int64:
        case FieldType::UInt16:
        case FieldType::UInt32:
            appendInteger(out, std::get<int64_t>(value));
            return;
        case FieldType::WideString:
            appendEscapedWide(out, std::get<std::u16string>(value));
            return;
        case FieldType::Blob:
            if (isTextBlob(field)) {
                appendEscaped(out, *std::get<BlobData>(value));
                return;
            }
            break;
        case FieldType::Bcd:
        case FieldType::FmtBcd:
        case FieldType::Bytes:
            // In the one form either reader gives back: decimals canonical, bytes padded.
            appendEscaped(out, valueToText(field, fieldFormOf(field, value)));
            return;
        default:
            break;
    }
    appendEscaped(out, valueToText(field, value));
}

// Generous guess of the text's size, so that the text is not copied as it grows: values take
// about the room they take in the table, plus their names, escapes and Base64. Room reserved
// and never written costs no memory.
size_t estimatedSize(const DataPacket& packet) {
    size_t names = 0;
    for (const auto& field : packet.fields) names += field.name.size() + 4;
    return 1024 + packet.fields.size() * 96 + packet.changeLog.size() * 33 +
           2 * packet.rows.bytesUsed() + packet.rows.size() * (names + 24);
}

}  // namespace

std::string encodeXmlPacket(const DataPacket& packet) {
    std::string out;
    out.reserve(estimatedSize(packet));
    if (out.capacity() >= kHugePagesFrom) os::adviseHugePages(out.data(), out.capacity());
    out += kProlog;
    out += "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";
    // Readers refuse a field without a name, so such a packet could never be read back.
    for (const auto& field : packet.fields) {
        if (field.name.empty()) throw dberr::nullFieldName();
    }
    const std::vector<std::string> rowNames = attributeNames(packet.fields);
    std::vector<uint32_t> typeWords;
    typeWords.reserve(packet.fields.size());
    for (const auto& field : packet.fields) typeWords.push_back(storedTypeWord(field));
    for (size_t i = 0; i < packet.fields.size(); ++i)
        writeField(out, packet.fields[i], rowNames[i]);
    out += "</FIELDS>";
    writeDatasetParams(out, packet);
    out += "</METADATA><ROWDATA>";

    const ReplacedVersions replaced(packet.changeLog);
    std::vector<FieldValue> values;
    std::vector<std::optional<std::string_view>> blobs;  // read in place, not copied out
    for (size_t index : rowWriteOrder(packet)) {
        const uint8_t status = packet.rows.status(index);
        packet.rows.decodeRow(index, values, &blobs);
        out += "<ROW";
        if (status != 0) {
            out += " RowState=\"";
            appendInteger(out, status);
            out += '"';
        }
        // A modified version leaves out the blobs it keeps from the version it replaces, when
        // that one comes earlier: the reader carries values only from earlier versions.
        size_t from = RowStore::kNoSource;
        if ((status & rowstate::kModified) != 0) {
            const uint32_t v = replaced.of(static_cast<uint32_t>(index + 1));
            if (v >= 1 && v < index + 1) from = v - 1;
        }
        for (size_t i = 0; i < packet.fields.size() && i < values.size(); ++i) {
            const FieldDef& field = packet.fields[i];
            const FieldValue& value = values[i];
            const bool isBlob = blobs[i].has_value();
            // In a modified version a blob left out is the replaced version's, and one written
            // empty reads as null: so the XML form cannot tell an empty blob from a null one
            // there, and takes both as "no content". A blob with the replaced version's content
            // is left out; one without content where the replaced version has some is written
            // empty.
            const bool keptBlob = from != RowStore::kNoSource && field.type == FieldType::Blob;
            const bool noContent = isBlob ? blobs[i]->empty() : isNull(value);
            if (keptBlob && (packet.rows.sameValueIn(index, from, i) ||
                             (noContent && packet.rows.holdsNoContent(from, i)))) {
                continue;
            }
            const bool nullBlob = keptBlob && noContent;
            if (isBlob ? field.type != FieldType::Blob : !fitsField(field, typeWords[i], value)) {
                // What the binary writer refuses is not written as null either.
                throw dberr::invalidParameter();
            }
            if (!isBlob && isNull(value) && !nullBlob) continue;
            out += ' ';
            out += rowNames[i];
            out += "=\"";
            if (nullBlob) {
                // nothing between the quotes
            } else if (isBlob) {
                if (isTextBlob(field)) {
                    appendEscaped(out, *blobs[i]);
                } else {
                    appendEscaped(out, base64Encode(*blobs[i]));
                }
            } else {
                appendValue(out, field, value);
            }
            out += '"';
        }
        out += "/>";
    }
    out += "</ROWDATA></DATAPACKET>";
    return out;
}

}  // namespace tarvolen
