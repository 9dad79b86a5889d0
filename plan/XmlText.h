#pragma once
// How the bytes of an XML packet become the Windows-1252 text the reader walks, by the rules of
// plans or of data files (TextRules, PacketCodec.h; FORMAT.md, "XML form, as read" and "Data
// files").

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Cp1252.h"
#include "plan/DecodeDiagnostics.h"
#include "plan/Errors.h"
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

// How the text of an XML packet is taken, from what its bytes hold (FORMAT.md, "Data files"):
// the note a reader reports and, when the text is UTF-8, from which byte it is converted and
// the words a refusal gives for why it was taken so.
struct XmlTextChoice {
    TextEncodingNote encoding;
    bool utf8 = false;
    size_t from = 0;       // 3 past a byte-order mark, else 0
    std::string_view why;  // "declares UTF-8", ...
};
// `byteOrderMark`: the bytes open with UTF-8's; `declared`: the encoding their prolog declares
// (looked at only without a byte-order mark); `beyondAscii`: a byte above 127 follows any
// byte-order mark; `validUtf8` tells whether the whole bytes are UTF-8, asked only when that
// decides.
XmlTextChoice chooseXmlText(TextRules rules, bool byteOrderMark,
                            const std::optional<std::string_view>& declared, bool beyondAscii,
                            const std::function<bool()>& validUtf8);
// The refusal of a data file taken as UTF-8 that is not, at byte `offset` of the file.
EDataFileRefused notUtf8(const XmlTextChoice& choice, size_t offset);

// The text of the packet `bytes` (which must outlive the result). `noteEncoding` asks for
// `encoding.beyondAscii`, which costs a look at every byte. Throws EDataFileRefused for a data
// file taken as UTF-8 that is not UTF-8, naming the byte offset.
XmlText takeXmlText(std::string_view bytes, TextRules rules, bool noteEncoding);

}  // namespace tarvolen
