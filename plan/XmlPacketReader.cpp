// Reader of the XML form: the structure of the packet (METADATA with FIELDS and PARAMS, then
// ROWDATA with self-closed ROW elements) over the tags XmlScanner gives, and the values of its
// fields and attributes. FORMAT.md ("XML form, as read") lists the rules.

#include <string>

#include "base/Cp1252.h"
#include "base/Text.h"
#include "plan/Errors.h"
#include "plan/FieldTypes.h"
#include "plan/PacketCodec.h"
#include "plan/ValueText.h"
#include "plan/XmlScanner.h"

namespace tarvolen {
namespace {

// Limits of the binary form: names have a 1-byte length, counts a 2-byte one.
constexpr size_t kMaxName = 0xFF;
constexpr size_t kMaxCount = 0xFFFF;

// What the reader knows of each field while reading rows.
struct FieldReadInfo {
    std::string attrName;  // the name ROW attributes use
    bool textBlob = false;
    size_t width = 0;  // strings are cut to it; 0 = no cut
};

class XmlPacketReader {
  public:
    explicit XmlPacketReader(std::string_view text) : m_scanner(text) {}

    DataPacket read() {
        m_scanner.skipLeadingBlanks();
        XmlTag tag = m_scanner.nextTag();
        bool inDataPacket = false;
        if (!tag.closing && tag.name == "DATAPACKET") {
            if (tag.selfClosed) throw dberr::mismatch();
            inDataPacket = true;
            tag = m_scanner.nextTag();
        }
        if (tag.closing) throw dberr::mismatch();
        if (tag.name == "ROWDATA") throw dberr::noMetaData();
        if (tag.name != "METADATA" || tag.selfClosed) throw dberr::mismatch();
        readMetaData();

        tag = m_scanner.nextTag();
        if (tag.closing || tag.name != "ROWDATA") throw dberr::mismatch();
        if (!tag.selfClosed) readRows();
        if (inDataPacket) {
            tag = m_scanner.nextTag();
            if (!tag.closing || tag.name != "DATAPACKET") throw dberr::mismatch();
        }
        const size_t logAttribute = m_packet.changeLog.empty() ? 0 : 1;
        if (m_packet.attributes.size() + logAttribute > kMaxCount) throw dberr::invalidParameter();
        carryOverFromReplaced(m_packet, m_pending);
        return std::move(m_packet);
    }

  private:
    std::string decoded(std::string_view raw) {
        std::string out;
        decodeXmlText(raw, out);
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
    Attribute attributeFromParam(const XmlTag& tag) {
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
            const XmlTag tag = m_scanner.nextTag();
            if (tag.closing) {
                if (tag.name != owner) throw dberr::mismatch();
                return;
            }
            if (tag.name == "FIELDS") throw dberr::invalidFieldType();  // nested table
            if (tag.name != "PARAM") throw dberr::mismatch();
            if (!tag.selfClosed) m_scanner.expectClosing("PARAM");
            into.push_back(attributeFromParam(tag));
        }
    }

    void readMetaData() {
        bool sawFields = false;
        while (true) {
            const XmlTag tag = m_scanner.nextTag();
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
            const XmlTag tag = m_scanner.nextTag();
            if (tag.closing) {
                if (tag.name != "FIELDS") throw dberr::mismatch();
                return;
            }
            if (tag.name != "FIELD") throw dberr::mismatch();
            readField(tag);
        }
    }

    void readField(const XmlTag& tag) {
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

    void readDatasetParams(const XmlTag& tag) {
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
            XmlTag tag = m_scanner.nextTag();
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

    void readRow(const XmlTag& tag, std::string& scratch) {
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
                decodeXmlText(attr.raw, text);
                if (info.width > 0 && text.size() > info.width) text.resize(info.width);
                row.values[i] = std::move(text);
            } else if (info.textBlob) {
                std::string text;
                decodeXmlText(attr.raw, text);
                row.values[i] = makeBlob(std::move(text));
            } else if (field.type == FieldType::WideString) {
                std::u16string text = decodeXmlWideText(attr.raw);
                const int width = field.width();
                if (width > 0 && text.size() > static_cast<size_t>(width))
                    text.resize(static_cast<size_t>(width));
                row.values[i] = std::move(text);
            } else {
                decodeXmlText(attr.raw, scratch);
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

    XmlScanner m_scanner;
    DataPacket m_packet;
    std::vector<FieldReadInfo> m_info;
    std::vector<std::vector<int>> m_pending;
};

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
