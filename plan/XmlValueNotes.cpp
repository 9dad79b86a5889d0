#include "plan/XmlValueNotes.h"

#include <algorithm>

#include "plan/Base64.h"
#include "plan/FieldTypes.h"
#include "plan/ValueText.h"
#include "plan/XmlScanner.h"

namespace tarvolen {

ValueNote XmlValueNotes::noteFor(ValueNote::Kind kind, const NotedValue& at) const {
    ValueNote note;
    note.kind = kind;
    note.row = at.row;
    note.field = at.field->name;
    note.fieldType = xmlTypeName(at.field->type);
    return note;
}

void XmlValueNotes::substitution(const NotedValue& at, std::string_view raw) {
    if (m_substitutions == nullptr) return;
    // Substitutions are few (a file rarely holds any), so a search per value costs little.
    const auto begin = m_textOffset + static_cast<size_t>(raw.data() - m_text);
    const auto found = std::lower_bound(
        m_substitutions->begin(), m_substitutions->end(), begin,
        [](const cp1252::Utf8Substitution& s, size_t offset) { return s.to < offset; });
    if (found == m_substitutions->end() || found->to >= begin + raw.size()) return;
    ValueNote note = noteFor(ValueNote::Kind::CharacterNotInCp1252, at);
    note.text = raw;
    decodeXmlText(raw, m_scratch);
    note.readAs = m_scratch;
    note.character = found->codePoint;
    note.byteOffset = found->from;
    m_sink.note(note);
}

void XmlValueNotes::referencedCharacter(const NotedValue& at, std::string_view raw,
                                        std::string_view decoded, char32_t character) {
    ValueNote note = noteFor(ValueNote::Kind::CharacterNotInCp1252, at);
    note.text = raw;
    note.readAs = decoded;
    note.character = character;
    m_sink.note(note);
}

void XmlValueNotes::typedValue(const NotedValue& at, std::string_view text,
                               const FieldValue& value) {
    const FieldDef& field = *at.field;
    if (isNull(value)) {
        if (text.empty()) return;  // no text: a null as the file means it
        ValueNote note = noteFor(ValueNote::Kind::TextReadAsNull, at);
        note.text = text;
        m_sink.note(note);
        return;
    }
    if (field.type == FieldType::Bytes) {
        const size_t length = base64Decode(text).size();
        const auto width = static_cast<size_t>(field.width());
        if (length > width) cut(at, length, width, {});
    }
    if (!spellsWholeValue(field, text)) {
        const std::string readAs = valueToText(field, value);
        ValueNote note = noteFor(ValueNote::Kind::TextReadOtherwise, at);
        note.text = text;
        note.readAs = readAs;
        m_sink.note(note);
    }
}

void XmlValueNotes::cut(const NotedValue& at, size_t length, size_t width, std::string_view text) {
    ValueNote note = noteFor(ValueNote::Kind::CutToWidth, at);
    note.length = length;
    note.width = width;
    note.text = text;
    m_sink.note(note);
}

}  // namespace tarvolen
