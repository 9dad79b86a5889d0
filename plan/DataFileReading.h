#pragma once
// Import data files read as an import takes them: the XML form by the data-file text rules
// (TextRules::DataFile), and the file refused when any value would load other than as the file
// spells it, so that no import stores a null, a FALSE or a cut text the file does not hold.
// Plans keep their lenient reading (decodePacket).

#include <optional>
#include <string>
#include <string_view>

#include "plan/DataPacket.h"
#include "plan/DecodeDiagnostics.h"

namespace tarvolen {

// Decodes a data file's bytes, in either form. `encoding`, when given, receives how an XML
// file's text was taken (nothing for the binary form). Throws EDataFileRefused naming the first
// record, field and text that do not read as written, and how many more values do not;
// EDataFileRefused or EDBClient as the readers refuse the file.
DataPacket decodeImportData(std::string_view bytes,
                            std::optional<TextEncodingNote>* encoding = nullptr);

// The values of a data file that do not read as written, as a reader notes them: the first
// one's message and record, and how many there are. Also keeps how an XML file's text was
// taken, in `encoding` when given.
class RefusedValues : public DecodeDiagnostics {
  public:
    explicit RefusedValues(std::optional<TextEncodingNote>* encoding = nullptr)
        : m_encoding(encoding) {}
    void note(const ValueNote& note) override;
    void textEncoding(const TextEncodingNote& encoding) override;
    // Whether any value was noted.
    bool any() const { return m_count > 0; }
    // Throws EDataFileRefused naming the first value and how many more there are, when any.
    void refuseAny() const;

  private:
    std::optional<TextEncodingNote>* m_encoding;
    size_t m_count = 0;
    std::string m_message;
    size_t m_record = 0;
};

// The message an import refuses a file with for this note: 'record 2, field IMPORTO: "12,50"
// is not a value of type fixed: it would be imported as null'.
std::string refusedValueText(const ValueNote& note);

// How a text was taken, for messages: "UTF-8 (no encoding declared, the text is valid UTF-8)",
// "Windows-1252", "Windows-1252 (declared as ISO-8859-1)", ...
std::string describeTextEncoding(const TextEncodingNote& encoding);

// "U+0151".
std::string codePointName(char32_t character);

// A file's text for a message of one line: control characters, quotes and backslashes as \xNN.
std::string printableText(std::string_view text);

}  // namespace tarvolen
