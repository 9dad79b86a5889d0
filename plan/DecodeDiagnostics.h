#pragma once
// What a reader reports, when asked, about row values it loaded other than as the file holds
// them: a text that reads as null under its field's type, and a string cut to the width its
// field declares. Readers given no sink check nothing and report nothing.

#include <cstddef>
#include <string_view>

namespace tarvolen {

struct ValueNote {
    enum class Kind {
        TextReadAsNull,  // `text` is what the file holds for the value
        CutToWidth,      // `length` is what the file holds, `width` what was kept at most
    };
    Kind kind = Kind::TextReadAsNull;
    size_t row = 0;          // the row version's number, 1-based in storage order
    std::string_view field;  // the field's name
    std::string_view text;
    // In bytes for strings, in UTF-16 units for wide strings.
    size_t length = 0;
    size_t width = 0;
};

class DecodeDiagnostics {
  public:
    DecodeDiagnostics() = default;
    DecodeDiagnostics(const DecodeDiagnostics&) = delete;
    DecodeDiagnostics& operator=(const DecodeDiagnostics&) = delete;
    virtual ~DecodeDiagnostics() = default;

    // The note's views are valid only during the call.
    virtual void note(const ValueNote& note) = 0;

  protected:
    DecodeDiagnostics(DecodeDiagnostics&&) = default;
    DecodeDiagnostics& operator=(DecodeDiagnostics&&) = default;
};

}  // namespace tarvolen
