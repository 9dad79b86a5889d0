#include "plan/PacketDump.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "base/Cp1252.h"
#include "plan/FieldTypes.h"
#include "plan/ValueText.h"

namespace tarvolen {
namespace {

// Control characters would garble the terminal; show them as escapes.
std::string escapeControls(std::string_view utf8) {
    std::string shown;
    shown.reserve(utf8.size());
    for (char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\r':
                shown += "\\r";
                break;
            case '\n':
                shown += "\\n";
                break;
            case '\t':
                shown += "\\t";
                break;
            case '\\':
                shown += "\\\\";
                break;
            case '"':
                shown += "\\\"";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
                    shown += hex;
                } else {
                    shown += c;
                }
        }
    }
    return shown;
}

// Windows-1252 text as the terminal shows it.
std::string ansiText(std::string_view text) {
    return escapeControls(cp1252::toUtf8(text));
}

std::string utf16ToUtf8(const std::u16string& text) {
    std::string utf8;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;  // lone surrogate
        }
        cp1252::appendUtf8(utf8, cp);
    }
    return utf8;
}

bool isTextLike(FieldType type) {
    return type == FieldType::String || type == FieldType::WideString || type == FieldType::Blob ||
           type == FieldType::Bytes;
}

// `value` is one of the row's values (the packet's value type).
std::string shownValue(const FieldDef& field, const auto& value) {
    if (isNull(value)) return "(null)";
    std::string text;
    if (const auto* wide = std::get_if<std::u16string>(&value)) {
        // Wide text is Unicode already; going through the code page would lose characters.
        text = escapeControls(utf16ToUtf8(*wide));
    } else {
        text = ansiText(valueToText(field, value));
    }
    return isTextLike(field.type) ? "\"" + text + "\"" : text;
}

std::string fieldBitsText(uint16_t bits) {
    std::string text = std::to_string(bits);
    std::string names;
    const std::pair<uint16_t, const char*> known[] = {{fieldbits::kHidden, "hidden"},
                                                      {fieldbits::kReadOnly, "readonly"},
                                                      {fieldbits::kRequired, "required"},
                                                      {fieldbits::kLinkField, "linkfield"}};
    for (const auto& [bit, name] : known) {
        if (bits & bit) names += names.empty() ? name : std::string(" ") + name;
    }
    return names.empty() ? text : text + " (" + names + ")";
}

std::string rowStateText(uint8_t status) {
    std::string names;
    const std::pair<uint8_t, const char*> known[] = {{rowstate::kSuperseded, "superseded"},
                                                     {rowstate::kDeleted, "deleted"},
                                                     {rowstate::kInserted, "inserted"},
                                                     {rowstate::kModified, "modified"}};
    for (const auto& [bit, name] : known) {
        if (status & bit) names += names.empty() ? name : std::string(" ") + name;
    }
    return std::to_string(status) + " (" + (names.empty() ? "unchanged" : names) + ")";
}

const char* changeKindName(uint32_t kind) {
    switch (kind) {
        case 4:
            return "insert";
        case 8:
            return "edit";
        case 2:
            return "delete";
        default:
            return "?";
    }
}

void writeAttribute(std::ostream& os, const char* indent, const Attribute& attribute) {
    os << indent << ansiText(attribute.name) << " (" << attributeTypeName(attribute.typeWord) << ")"
       << (attribute.roundtrip ? " roundtrip" : "") << " = ";
    if (isNull(attribute.value)) {
        os << "(null)\n";
    } else {
        os << ansiText(attributeValueToText(attribute)) << "\n";
    }
}

}  // namespace

void writePacketDump(const DataPacket& packet, std::ostream& os) {
    os << "Fields: " << packet.fields.size() << "\n";
    for (size_t i = 0; i < packet.fields.size(); ++i) {
        const FieldDef& field = packet.fields[i];
        const std::string subtype = field.subtype();
        os << "  " << (i + 1) << ". " << ansiText(field.name) << "  fieldtype "
           << xmlTypeName(field.type) << ", width " << field.width() << ", subtype "
           << (subtype.empty() ? "-" : ansiText(subtype)) << ", bits " << fieldBitsText(field.bits)
           << "\n";
        for (const Attribute& attribute : field.attributes)
            writeAttribute(os, "       ", attribute);
    }

    os << "Dataset attributes: " << packet.attributes.size() << "\n";
    for (const Attribute& attribute : packet.attributes) writeAttribute(os, "  ", attribute);

    os << "Row versions: " << packet.rows.size() << "\n";
    for (size_t r = 0; r < packet.rows.size(); ++r) {
        const RowVersion& row = packet.rows[r];
        os << "  #" << (r + 1) << "  RowState " << rowStateText(row.status) << "\n";
        for (size_t f = 0; f < packet.fields.size() && f < row.values.size(); ++f) {
            os << "       " << ansiText(packet.fields[f].name) << " = "
               << shownValue(packet.fields[f], row.values[f]) << "\n";
        }
    }

    os << "Change log: " << packet.changeLog.size() << "\n";
    for (const ChangeLogEntry& entry : packet.changeLog) {
        os << "  version " << entry.version << ", replaces " << entry.replaced << ", kind "
           << entry.kind << " (" << changeKindName(entry.kind) << ")\n";
    }
}

}  // namespace tarvolen
