// Reader of the XML form: the structure of the packet (METADATA with FIELDS and PARAMS, then
// ROWDATA with self-closed ROW elements) over the tags XmlScanner gives, and the values of its
// fields and attributes. FORMAT.md ("XML form, as read") lists the rules.

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/Cp1252.h"
#include "base/Text.h"
#include "plan/Errors.h"
#include "plan/FieldTypes.h"
#include "plan/LayoutBudget.h"
#include "plan/PacketCodec.h"
#include "plan/PacketReading.h"
#include "plan/ValueRules.h"
#include "plan/ValueText.h"
#include "plan/XmlScanner.h"
#include "plan/XmlText.h"
#include "plan/XmlValueNotes.h"

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

// The numbers of CHANGE_LOG, read straight into the log three at a time as the text goes:
// anything but digits and "-" separates them, a number that does not read is left out, and an
// incomplete last entry is dropped.
void readChangeLogText(std::string_view text, ChangeLog& log) {
    log.clear();
    uint32_t entry[3] = {0, 0, 0};
    size_t filled = 0;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] < '0' || text[i] > '9') && text[i] != '-') ++i;
        const size_t start = i;
        if (i < text.size() && text[i] == '-') ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        int64_t v = 0;
        if (i > start && readIntegerPrefix(text.substr(start, i - start), v) > 0) {
            entry[filled++] = static_cast<uint32_t>(v);
            if (filled == 3) {
                log.push_back({entry[0], entry[1], entry[2]});
                filled = 0;
            }
        }
        if (i == start) ++i;
    }
}

class XmlPacketReader {
  public:
    // Over the whole text. `substitutions`, when given, are the characters a UTF-8 text held
    // that Windows-1252 lacks, each a "?" in `text` now.
    XmlPacketReader(std::string_view text, DecodeDiagnostics* diagnostics,
                    const std::vector<cp1252::Utf8Substitution>* substitutions, DataPacket& packet,
                    packetreading::RowTarget& target)
        : m_scanner(text), m_packet(packet), m_target(target) {
        if (diagnostics != nullptr) m_notes.emplace(*diagnostics, text.data(), substitutions);
    }
    // Over text that comes in pieces: the text read so far is held from the element being read
    // on (from the start while the layout is read).
    XmlPacketReader(packetreading::XmlTextFeed& feed, DecodeDiagnostics* diagnostics,
                    DataPacket& packet, packetreading::RowTarget& target)
        : m_scanner(std::string_view()), m_packet(packet), m_target(target), m_feed(&feed) {
        m_ended = !m_feed->more(m_text, 0);
        m_scanner = XmlScanner(m_text, !m_ended);
        if (diagnostics != nullptr) m_notes.emplace(*diagnostics, m_text.data(), feed.substitutions());
    }

    // Reads the packet: its layout into `packet`, its versions into the target.
    void read() {
        // Read again from the start with more text whenever the layout runs past what was read.
        bool inDataPacket = false;
        bool rowsFollow = false;
        while (!readHead(inDataPacket, rowsFollow)) moreText(m_text.data(), false);
        m_target.layoutRead(m_packet);
        if (rowsFollow) readRows();
        if (inDataPacket) {
            while (true) {
                const char* start = m_scanner.position();
                try {
                    const XmlTag tag = m_scanner.nextTag();
                    if (!tag.closing || tag.name != "DATAPACKET") throw dberr::mismatch();
                    break;
                } catch (const XmlTextRunsOn&) {
                    moreText(start, true);
                }
            }
        }
        const size_t logAttribute = m_packet.changeLog.empty() ? 0 : 1;
        if (m_packet.attributes.size() + logAttribute > kMaxCount) throw dberr::invalidParameter();
        m_target.finish();
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
        const std::string text = decoded(raw);
        countArray(a.typeWord, text);
        setAttributeFromText(a, text);
        checkStorable(a);
        return a;
    }

    // Refuses what the binary form could not hold, so that whatever loads can also be saved.
    static void checkStorable(const Attribute& a) {
        // A stored text also carries its closing zero byte in its length.
        const auto* text = std::get_if<std::string>(&a.value);
        if (a.name.size() > kMaxName || (text != nullptr && text->size() >= kMaxCount) ||
            !fitsAttribute(a.typeWord, a.value)) {
            throw dberr::invalidParameter();
        }
    }

    // Reads PARAM children up to the closing tag of `owner`, handing each to
    // `onParam(attribute, raw Value text)`:
    // <PARAM Name=".." Value=".." Type=".." Roundtrip="True"/>.
    template <typename OnParam>
    void readParams(std::string_view owner, OnParam&& onParam) {
        while (true) {
            XmlTag tag = m_scanner.openTag();
            if (tag.closing) {
                m_scanner.nextAttribute(tag, m_attribute);
                if (tag.name != owner) throw dberr::mismatch();
                return;
            }
            if (tag.name == "FIELDS") throw dberr::invalidFieldType();  // nested table
            if (tag.name != "PARAM") throw dberr::mismatch();
            Attribute a;
            std::string_view value;
            bool named = false;
            while (m_scanner.nextAttribute(tag, m_attribute)) {
                const std::string_view name = m_attribute.name;
                if (name == "Name") {
                    a.name = decoded(m_attribute.raw);
                    named = true;
                } else if (name == "Value") {
                    value = m_attribute.raw;
                } else if (name == "Type") {
                    a.typeWord = attributeTypeWord(decoded(m_attribute.raw));
                } else if (name == "Roundtrip") {
                    a.roundtrip = equalsNoCase(decoded(m_attribute.raw), "true");
                }
            }
            if (!tag.selfClosed) m_scanner.expectClosing("PARAM");
            if (!named) throw dberr::mismatch();
            onParam(std::move(a), value);
        }
    }

    // The attribute with its value, from the raw text of PARAM's Value.
    Attribute withValue(Attribute a, std::string_view raw) {
        if (isWideText(a.typeWord)) {
            a.value = decodeXmlWideText(raw);  // keeps every character
        } else {
            const std::string text = decoded(raw);
            countArray(a.typeWord, text);
            setAttributeFromText(a, text);
        }
        checkStorable(a);
        return a;
    }

    static bool isWideText(uint32_t typeWord) {
        FieldType type{};
        return lookupTypeWord(typeWord, type) == TypeLookup::Field && type == FieldType::WideString;
    }

    // The packet up to its rows: DATAPACKET, METADATA, the opening of ROWDATA. False when the
    // text read so far ends before that; the layout read is then dropped.
    bool readHead(bool& inDataPacket, bool& rowsFollow) {
        try {
            m_scanner.skipLeadingBlanks();
            XmlTag tag = m_scanner.nextTag();
            inDataPacket = false;
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
            rowsFollow = !tag.selfClosed;
            return true;
        } catch (const XmlTextRunsOn&) {
            m_packet = DataPacket();
            m_budget = LayoutBudget();
            m_info.clear();
            return false;
        }
    }

    // Reads more text and scans again from `from`, dropping the text before it when `drop`.
    void moreText(const char* from, bool drop) {
        auto keep = static_cast<size_t>(from - m_text.data());
        if (drop) {
            m_text.erase(0, keep);
            m_textOffset += keep;
            m_feed->forgetBefore(m_textOffset);
            keep = 0;
        }
        // As much again as is held: an element longer than a piece is scanned again only as
        // often as its text doubles.
        m_ended = !m_feed->more(m_text, m_text.size());
        m_scanner = XmlScanner(std::string_view(m_text).substr(keep), !m_ended);
        if (m_notes) m_notes->setText(m_text.data(), m_textOffset);
    }

    void readMetaData() {
        bool sawFields = false;
        while (true) {
            XmlTag tag = m_scanner.openTag();
            if (tag.closing) {
                m_scanner.nextAttribute(tag, m_attribute);
                if (tag.name != "METADATA" || !sawFields) throw dberr::mismatch();
                return;
            }
            if (tag.name == "FIELDS" && !sawFields) {
                sawFields = true;
                while (m_scanner.nextAttribute(tag, m_attribute)) {
                }
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
            XmlTag tag = m_scanner.openTag();
            if (tag.closing) {
                m_scanner.nextAttribute(tag, m_attribute);
                if (tag.name != "FIELDS") throw dberr::mismatch();
                return;
            }
            if (tag.name != "FIELD") throw dberr::mismatch();
            readField(tag);
        }
    }

    void readField(XmlTag& tag) {
        FieldDef field;
        FieldReadInfo info;
        std::string_view nameRaw, fullNameRaw, typeRaw;
        bool hasName = false, hasFullName = false, hasType = false;
        while (m_scanner.nextAttribute(tag, m_attribute)) {
            const auto n = m_attribute.name;
            if (n == "attrname" || n == "tagname") {
                nameRaw = m_attribute.raw;
                hasName = true;
            } else if (n == "fieldname") {
                fullNameRaw = m_attribute.raw;
                hasFullName = true;
            } else if (n == "fieldtype") {
                typeRaw = m_attribute.raw;
                hasType = true;
            } else if (n == "readonly" || n == "required" || n == "hidden" || n == "linkfield") {
                if (equalsNoCase(decoded(m_attribute.raw), "true")) {
                    field.bits |= n == "readonly"   ? fieldbits::kReadOnly
                                  : n == "required" ? fieldbits::kRequired
                                  : n == "hidden"   ? fieldbits::kHidden
                                                    : fieldbits::kLinkField;
                }
            } else {
                addFieldAttribute(field, attributeFromXml(n, m_attribute.raw));
            }
        }
        if (!hasName) throw dberr::mismatch();
        if (!tag.selfClosed) {
            readParams("FIELD", [&](Attribute a, std::string_view raw) {
                addFieldAttribute(field, withValue(std::move(a), raw));
            });
        }
        if (!hasType) throw dberr::invalidFieldType();

        info.attrName = decoded(nameRaw);
        field.name = hasFullName ? decoded(fullNameRaw) : info.attrName;
        const TypeLookup lookup = lookupXmlType(decoded(typeRaw), field.type);
        if (lookup == TypeLookup::Invalid) throw dberr::invalidFieldType();
        if (lookup == TypeLookup::Dropped) return;  // 8-bit integers load as no field

        if (field.name.empty() || info.attrName.empty()) throw dberr::nullFieldName();
        if (field.name.size() > kMaxName) throw dberr::invalidParameter();
        const int width = field.width();
        // A bin.hex without a SUBTYPE is a byte field of WIDTH bytes.
        if (field.type == FieldType::Blob && field.findAttribute("SUBTYPE") == nullptr) {
            field.type = FieldType::Bytes;
        }
        field.typeWord = typeWordFor(field.type, width);
        requireCarriableLayout(field, field.typeWord);
        info.textBlob = isTextBlob(field);
        if (field.type == FieldType::String) info.width = static_cast<size_t>(width);
        if (m_packet.fields.size() == kMaxCount) throw dberr::invalidParameter();
        m_packet.fields.push_back(std::move(field));
        m_info.push_back(std::move(info));
    }

    void addFieldAttribute(FieldDef& field, Attribute a) {
        if (field.attributes.size() == kMaxCount) throw dberr::invalidParameter();
        countAttribute(a);
        field.attributes.push_back(std::move(a));
    }

    void countAttribute(const Attribute&) { m_budget.addAttribute(); }

    // Counts an array's numbers against the budget before they are read, as 64-bit numbers take
    // up to four times the room of their text.
    void countArray(uint32_t typeWord, std::string_view text) {
        if ((typeWord & typeword::kArray) == 0) return;
        size_t numbers = 0;
        bool inNumber = false;
        for (const char c : text) {
            const bool digit = c >= '0' && c <= '9';
            if (digit && !inNumber) ++numbers;
            inNumber = digit;
        }
        m_budget.addArrayElements(numbers);
    }

    void readDatasetParams(XmlTag& tag) {
        while (m_scanner.nextAttribute(tag, m_attribute)) {
            if (m_attribute.name == "CHANGE_LOG") {
                readChangeLogText(decoded(m_attribute.raw), m_packet.changeLog);
            } else {
                addDatasetAttribute(attributeFromXml(m_attribute.name, m_attribute.raw));
            }
        }
        if (!tag.selfClosed) {
            readParams("PARAMS", [&](Attribute a, std::string_view raw) {
                if (a.name == "CHANGE_LOG") {
                    readChangeLogText(decoded(raw), m_packet.changeLog);
                } else {
                    addDatasetAttribute(withValue(std::move(a), raw));
                }
            });
        }
    }

    void addDatasetAttribute(Attribute a) {
        if (m_packet.attributes.size() == kMaxCount) throw dberr::invalidParameter();
        countAttribute(a);
        m_packet.attributes.push_back(std::move(a));
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
        m_raw.resize(m_packet.fields.size());
        m_seenInRow.assign(m_packet.fields.size(), 0);
        m_target.versionsFollow(0, m_scanner.remaining());
        const ReplacedVersions replaced(m_packet.changeLog);
        bool first = true;
        while (true) {
            // An element the text read so far ends in is read again whole once there is more.
            const char* start = m_scanner.position();
            try {
                XmlTag tag = m_scanner.openTag();
                if (tag.closing) {
                    m_scanner.nextAttribute(tag, m_attribute);
                    if (tag.name != "ROWDATA") throw dberr::mismatch();
                    return;
                }
                if (first && tag.name.substr(0, 3) != "ROW") throw dberr::mismatch();
                readRow(tag, replaced);
                first = false;
            } catch (const XmlTextRunsOn&) {
                moreText(start, true);
            }
        }
    }

    void readRow(XmlTag& tag, const ReplacedVersions& replaced) {
        // The attributes may come in any order, and one may come twice (the last counts): each
        // field's raw text is noted first, then the row is stored in layout order.
        ++m_rowMark;
        m_present.clear();
        uint8_t status = rowstate::kUnchanged;
        size_t hint = 0;
        while (m_scanner.nextAttribute(tag, m_attribute)) {
            if (m_attribute.name == "RowState") {
                unsigned state = 0;
                for (char c : m_attribute.raw) {
                    if (c < '0' || c > '9') break;
                    state = (state * 10 + static_cast<unsigned>(c - '0')) & 0xFFFF;
                }
                status = static_cast<uint8_t>(state);
                continue;
            }
            const int index = fieldOf(m_attribute.name, hint);
            if (index < 0) continue;  // attributes naming no field are ignored
            const auto i = static_cast<size_t>(index);
            if (m_seenInRow[i] != m_rowMark) {
                m_seenInRow[i] = m_rowMark;
                m_present.push_back(i);
            }
            m_raw[i] = m_attribute.raw;
        }
        if (!tag.selfClosed) throw dberr::mismatch();  // the element form of rows is not read
        if (m_versions == UINT32_MAX) throw dberr::invalidParameter();
        if (!std::is_sorted(m_present.begin(), m_present.end())) {
            std::sort(m_present.begin(), m_present.end());
        }

        // A modified version leaves out the blobs it keeps from the version it replaces, which
        // must come earlier in the packet.
        size_t source = RowStore::kNoSource;
        if ((status & rowstate::kModified) != 0) {
            const size_t number = m_versions + 1;
            const uint32_t version = replaced.of(static_cast<uint32_t>(number));
            if (version >= 1 && version < number) source = version - 1;
        }
        RowStore::Builder& row = m_target.begin(status, source, source != RowStore::kNoSource);
        size_t next = 0;
        for (const size_t i : m_present) {
            if (i > next) row.nulls(i - next);
            // In a modified version an empty blob is a null one: what it keeps of the version it
            // replaces it leaves out.
            if (source != RowStore::kNoSource && m_packet.fields[i].type == FieldType::Blob &&
                m_raw[i].empty()) {
                row.explicitNull();
            } else {
                storeValue(i, m_raw[i], row);
            }
            next = i + 1;
        }
        m_target.end();
        ++m_versions;
    }

    void storeValue(size_t i, std::string_view raw, RowStore::Builder& row) {
        const FieldDef& field = m_packet.fields[i];
        const FieldReadInfo& info = m_info[i];
        const NotedValue at{m_versions + 1, &field};
        if (m_notes) m_notes->substitution(at, raw);
        if (field.type == FieldType::String) {
            decodeText(at, raw);
            if (info.width > 0 && m_scratch.size() > info.width) {
                if (m_notes) m_notes->cut(at, m_scratch.size(), info.width, m_scratch);
                m_scratch.resize(info.width);
            }
            // A single zero byte is the binary form's empty text; so it is here.
            if (m_scratch.size() == 1 && m_scratch[0] == '\0') m_scratch.clear();
            row.text(m_scratch);
        } else if (info.textBlob) {
            // Decoded straight into the store: a plan's scripts are most of its bytes.
            char* out = row.beginBlob(raw.size());
            char32_t lacking = 0;
            const auto bytes =
                static_cast<size_t>(decodeXmlTextInto(raw, out, m_notes ? &lacking : nullptr) - out);
            if (lacking != 0) {
                m_notes->referencedCharacter(at, raw, std::string_view(out, bytes), lacking);
            }
            row.endBlob(bytes);
        } else if (field.type == FieldType::WideString) {
            std::u16string text = decodeXmlWideText(raw);
            const auto width = static_cast<size_t>(field.width());
            if (m_notes && text.size() > width) m_notes->cut(at, text.size(), width, {});
            cutWideText(text, width);
            row.wide(text);
        } else {
            decodeXmlText(raw, m_scratch);
            const FieldValue value = valueFromText(field, m_scratch);
            if (m_notes) m_notes->typedValue(at, m_scratch, value);
            row.value(value);
        }
    }

    // Decodes a text into m_scratch, noting a reference to a character Windows-1252 lacks.
    void decodeText(const NotedValue& at, std::string_view raw) {
        if (!m_notes) {
            decodeXmlText(raw, m_scratch);
            return;
        }
        char32_t lacking = 0;
        decodeXmlText(raw, m_scratch, lacking);
        if (lacking != 0) m_notes->referencedCharacter(at, raw, m_scratch, lacking);
    }

    XmlScanner m_scanner;
    DataPacket& m_packet;
    packetreading::RowTarget& m_target;
    // Text in pieces: the feed, the text held (from the element being read on) and where it
    // starts in the whole text, and whether the feed has no more.
    packetreading::XmlTextFeed* m_feed = nullptr;
    std::string m_text;
    size_t m_textOffset = 0;
    bool m_ended = true;
    size_t m_versions = 0;  // versions read
    std::optional<XmlValueNotes> m_notes;  // only when asked for
    XmlAttribute m_attribute;
    LayoutBudget m_budget;
    std::vector<FieldReadInfo> m_info;
    // Per row: the raw text of each field named, which fields were named, and a mark per field
    // telling whether the current row named it already.
    std::vector<std::string_view> m_raw;
    std::vector<size_t> m_present;
    std::vector<uint32_t> m_seenInRow;
    uint32_t m_rowMark = 0;
    std::string m_scratch;
};

}  // namespace

namespace packetreading {

void readXmlText(std::string_view text, DecodeDiagnostics* diagnostics,
                 const std::vector<cp1252::Utf8Substitution>* substitutions, DataPacket& packet,
                 RowTarget& target) {
    XmlPacketReader(text, diagnostics, substitutions, packet, target).read();
}

void readXmlText(XmlTextFeed& feed, DecodeDiagnostics* diagnostics, DataPacket& packet,
                 RowTarget& target) {
    XmlPacketReader(feed, diagnostics, packet, target).read();
}

}  // namespace packetreading

namespace {

DataPacket decodeXml(std::string_view bytes, DecodeDiagnostics* diagnostics, TextRules rules) {
    const XmlText text = takeXmlText(bytes, rules, diagnostics != nullptr);
    if (diagnostics != nullptr) diagnostics->textEncoding(text.encoding);
    DataPacket packet;
    packetreading::TableRows rows(packet);
    packetreading::readXmlText(text.text(), diagnostics,
                               text.substitutions.empty() ? nullptr : &text.substitutions, packet,
                               rows);
    return packet;
}

}  // namespace

DataPacket decodeXmlPacket(std::string_view bytes) {
    return decodeXml(bytes, nullptr, TextRules::Plan);
}

DataPacket decodeXmlPacket(std::string_view bytes, DecodeDiagnostics& diagnostics) {
    return decodeXml(bytes, &diagnostics, TextRules::Plan);
}

DataPacket decodeXmlPacket(std::string_view bytes, TextRules rules,
                           DecodeDiagnostics* diagnostics) {
    return decodeXml(bytes, diagnostics, rules);
}

}  // namespace tarvolen
