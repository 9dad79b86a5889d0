#include "plan/DataFileReading.h"

#include <cstdio>

#include "base/Text.h"
#include "plan/Errors.h"
#include "plan/PacketCodec.h"

namespace tarvolen {
namespace {

// A message names a text up to this many bytes.
constexpr size_t kShownText = 80;

std::string shown(std::string_view text) {
    if (text.size() <= kShownText) return "\"" + printableText(text) + "\"";
    return "\"" + printableText(text.substr(0, kShownText)) + "...\"";
}

}  // namespace

std::string codePointName(char32_t character) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(character));
    return name;
}

void RefusedValues::note(const ValueNote& note) {
    if (m_count++ == 0) {
        m_message = refusedValueText(note);
        m_record = note.row;
    }
}

void RefusedValues::textEncoding(const TextEncodingNote& encoding) {
    if (m_encoding != nullptr) *m_encoding = encoding;
}

void RefusedValues::refuseAny() const {
    if (m_count == 0) return;
    std::string message = m_message;
    if (m_count > 1) {
        message += "; " + std::to_string(m_count - 1) +
                   (m_count == 2 ? " more value of the file does not"
                                 : " more values of the file do not") +
                   " read as written (tarvolen-cds check lists them)";
    }
    throw EDataFileRefused(message, m_record);
}

DataPacket decodeImportData(std::string_view bytes, std::optional<TextEncodingNote>* encoding) {
    if (encoding != nullptr) encoding->reset();
    RefusedValues refused(encoding);
    DataPacket packet = decodePacket(bytes, TextRules::DataFile, &refused);
    refused.refuseAny();
    return packet;
}

std::string refusedValueText(const ValueNote& note) {
    std::string text =
        "record " + std::to_string(note.row) + ", field " + std::string(note.field) + ": ";
    switch (note.kind) {
        case ValueNote::Kind::TextReadAsNull:
            return text + shown(note.text) + " is not a value of type " +
                   std::string(note.fieldType) + ": it would be imported as null";
        case ValueNote::Kind::TextReadOtherwise:
            return text + shown(note.text) + " is not a value of type " +
                   std::string(note.fieldType) + ": it would be imported as " +
                   printableText(note.readAs);
        case ValueNote::Kind::CharacterNotInCp1252:
            if (note.byteOffset != std::string_view::npos) {
                return text + "the file's character " + codePointName(note.character) +
                       " at byte offset " + std::to_string(note.byteOffset) +
                       " has no Windows-1252 form: it would be imported as " + shown(note.readAs);
            }
            return text + shown(note.text) + " names " + codePointName(note.character) +
                   ", a character Windows-1252 lacks: it would be imported as " +
                   shown(note.readAs);
        case ValueNote::Kind::CutToWidth:
            return text +
                   (note.text.empty() ? "a value of " + std::to_string(note.length) + " characters"
                                      : shown(note.text)) +
                   " is longer than the field's width " + std::to_string(note.width) +
                   ": it would be imported cut to it";
    }
    return text;
}

std::string describeTextEncoding(const TextEncodingNote& encoding) {
    using Reason = TextEncodingNote::Reason;
    if (encoding.encoding == TextEncodingNote::Encoding::Utf8) {
        switch (encoding.reason) {
            case Reason::ByteOrderMark:
                return "UTF-8 (byte-order mark)";
            case Reason::Declared:
                return "UTF-8 (declared)";
            case Reason::Detected:
            case Reason::Undeclared:
                return "UTF-8 (no encoding declared, the text is valid UTF-8)";
        }
    }
    if (encoding.reason != Reason::Declared) return "Windows-1252";
    if (equalsNoCase(encoding.declared, "UTF-8"))
        return "Windows-1252 (declared as UTF-8, but the text is not UTF-8)";
    return "Windows-1252 (declared as " + printableText(encoding.declared) + ")";
}

std::string printableText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace tarvolen
