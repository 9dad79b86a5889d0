#pragma once
// What the XML reader tells a DecodeDiagnostics sink about the row values it reads other than as
// the file spells them (DecodeDiagnostics.h; FORMAT.md, "Data files").

#include <string>
#include <string_view>
#include <vector>

#include "base/Cp1252.h"
#include "plan/DataPacket.h"
#include "plan/DecodeDiagnostics.h"

namespace tarvolen {

// The value a note is about: its row version (1-based) and its field.
struct NotedValue {
    size_t row = 0;
    const FieldDef* field = nullptr;
};

class XmlValueNotes {
  public:
    // `text` is the text the reader walks; `substitutions` (may be null) the "?" in it that
    // stand for UTF-8 characters Windows-1252 lacks, in order.
    XmlValueNotes(DecodeDiagnostics& sink, const char* text,
                  const std::vector<cp1252::Utf8Substitution>* substitutions)
        : m_sink(sink), m_text(text), m_substitutions(substitutions) {}

    // The text read now starts at `text`, `offset` bytes into the whole text (for a text read in
    // pieces).
    void setText(const char* text, size_t offset) {
        m_text = text;
        m_textOffset = offset;
    }
    // A raw value (pointing into the text) holding one of the substitutions.
    void substitution(const NotedValue& at, std::string_view raw);
    // A raw value naming by reference `character`, which Windows-1252 lacks: it reads as
    // `decoded`.
    void referencedCharacter(const NotedValue& at, std::string_view raw, std::string_view decoded,
                             char32_t character);
    // A typed value's decoded text, when it reads as null or as other than it spells, or as
    // bytes longer than the field.
    void typedValue(const NotedValue& at, std::string_view text, const FieldValue& value);
    // A text of `length` cut to `width`; `text` is the whole 8-bit text, or empty.
    void cut(const NotedValue& at, size_t length, size_t width, std::string_view text);

  private:
    ValueNote noteFor(ValueNote::Kind kind, const NotedValue& at) const;

    DecodeDiagnostics& m_sink;
    const char* m_text;
    size_t m_textOffset = 0;
    const std::vector<cp1252::Utf8Substitution>* m_substitutions;
    std::string m_scratch;
};

}  // namespace tarvolen
