#pragma once
// How the bytes of an XML packet become the Windows-1252 text the reader walks, by the rules of
// plans or of data files (TextRules, PacketCodec.h; FORMAT.md, "XML form, as read" and "Data
// files").

#include <string>
#include <string_view>
#include <vector>

#include "base/Cp1252.h"
#include "plan/DecodeDiagnostics.h"
#include "plan/PacketCodec.h"

namespace tarvolen {

struct XmlText {
    std::string_view bytes;
    bool converted = false;
    std::string convertedText;
    // The text to read: the converted text, or the bytes themselves.
    std::string_view text() const { return converted ? std::string_view(convertedText) : bytes; }
    TextEncodingNote encoding;
    // Data files: the characters of a UTF-8 text that Windows-1252 lacks, each a "?" in the
    // text now, in order; the reader refuses a value holding one.
    std::vector<cp1252::Utf8Substitution> substitutions;
};

// The text of the packet `bytes` (which must outlive the result). `noteEncoding` asks for
// `encoding.beyondAscii`, which costs a look at every byte. Throws EDataFileRefused for a data
// file taken as UTF-8 that is not UTF-8, naming the byte offset.
XmlText takeXmlText(std::string_view bytes, TextRules rules, bool noteEncoding);

}  // namespace tarvolen
