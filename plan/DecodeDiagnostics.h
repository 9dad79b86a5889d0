#pragma once
// What a reader reports, when asked, about what it loaded other than as the file holds it: a
// text that reads as null under its field's type, a text that reads as another value than it
// spells ("yes" as FALSE, "12,50" as 12), a value cut to the width its field declares; and, for
// the XML form, the encoding its text was read in. Readers given no sink check nothing and
// report nothing.

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvolen {

struct ValueNote {
    enum class Kind {
        TextReadAsNull,     // `text` is what the file holds for the value
        TextReadOtherwise,  // `text` is what the file holds, `readAs` the value it reads as
        // `text` (undecoded) holds `character`, which Windows-1252 lacks: as a UTF-8 sequence at
        // `byteOffset` of the file, or by reference (`byteOffset` npos); `readAs` is the text
        // read, with "?" there
        CharacterNotInCp1252,
        CutToWidth,  // `length` is what the file holds, `width` what was kept at most
    };
    Kind kind = Kind::TextReadAsNull;
    size_t row = 0;              // the row version's number, 1-based in storage order
    std::string_view field;      // the field's name
    std::string_view fieldType;  // its `fieldtype` text ("i4", "fixed", ...)
    // What the file holds; for a cut value the whole text when it is 8-bit text, else empty.
    std::string_view text;
    // The value read, as the XML form writes it ("FALSE", "12").
    std::string_view readAs;
    // In bytes for strings, in UTF-16 units for wide strings.
    size_t length = 0;
    size_t width = 0;
    char32_t character = 0;
    size_t byteOffset = std::string_view::npos;
};

// How the text of an XML packet was taken.
struct TextEncodingNote {
    enum class Encoding { Windows1252, Utf8 };
    enum class Reason {
        Undeclared,     // nothing says otherwise, and the text is not taken as UTF-8
        ByteOrderMark,  // UTF-8's byte-order mark opens the text
        Declared,       // the prolog declares the encoding (`declared` names it)
        Detected,       // nothing declared, and the text is valid UTF-8 beyond ASCII
    };
    Encoding encoding = Encoding::Windows1252;
    Reason reason = Reason::Undeclared;
    std::string declared;  // the declared name, as the prolog spells it
    // False when every byte is ASCII, which reads alike in either encoding.
    bool beyondAscii = false;
};

class DecodeDiagnostics {
  public:
    DecodeDiagnostics() = default;
    DecodeDiagnostics(const DecodeDiagnostics&) = delete;
    DecodeDiagnostics& operator=(const DecodeDiagnostics&) = delete;
    virtual ~DecodeDiagnostics() = default;

    // The note's views are valid only during the call.
    virtual void note(const ValueNote& note) = 0;
    // Once per XML packet, before its values: the encoding its text is read in. The binary form
    // has none: its texts are Windows-1252 bytes.
    virtual void textEncoding(const TextEncodingNote& /*encoding*/) {}

  protected:
    DecodeDiagnostics(DecodeDiagnostics&&) = default;
    DecodeDiagnostics& operator=(DecodeDiagnostics&&) = default;
};

}  // namespace tarvolen
