#include "plan/XmlText.h"

#include <optional>

#include "base/Text.h"
#include "plan/Errors.h"
#include "plan/XmlScanner.h"

namespace tarvolen {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A data file's UTF-8 text in Windows-1252, refused when it is not UTF-8: it would otherwise be
// read as something else. A character the code page lacks becomes "?", noted in
// `substitutions` (offsets in the file), so that the reader refuses a value holding one while a
// name holding one (never stored) stays readable. `offset` is where `utf8` starts in the file;
// `why` says why the text is taken as UTF-8.
std::string dataFileText(std::string_view utf8, size_t offset, std::string_view why,
                         std::vector<cp1252::Utf8Substitution>& substitutions) {
    std::string text;
    if (const std::optional<size_t> bad = cp1252::fromUtf8Marking(utf8, text, substitutions)) {
        throw EDataFileRefused("The data file " + std::string(why) +
                               " but is not UTF-8 at byte offset " + std::to_string(offset + *bad));
    }
    for (cp1252::Utf8Substitution& s : substitutions) s.from += offset;
    return text;
}

}  // namespace

XmlText takeXmlText(std::string_view bytes, TextRules rules, bool noteEncoding) {
    const bool dataFile = rules == TextRules::DataFile;
    const bool byteOrderMark = bytes.substr(0, 3) == kByteOrderMark;
    // Whether any byte is beyond ASCII, looked at once, and only when needed.
    const bool beyondAscii =
        (dataFile || noteEncoding) && cp1252::hasHighBytes(byteOrderMark ? bytes.substr(3) : bytes);
    XmlText out;
    out.bytes = bytes;
    out.encoding.beyondAscii = beyondAscii;
    TextEncodingNote& encoding = out.encoding;
    if (byteOrderMark) {
        encoding.encoding = TextEncodingNote::Encoding::Utf8;
        encoding.reason = TextEncodingNote::Reason::ByteOrderMark;
        out.convertedText =
            dataFile ? dataFileText(bytes.substr(3), 3, "opens with UTF-8's byte-order mark",
                                    out.substitutions)
                     : cp1252::fromUtf8(bytes.substr(3));
        out.converted = true;
    } else if (const std::optional<std::string_view> declared = declaredEncoding(bytes)) {
        encoding.reason = TextEncodingNote::Reason::Declared;
        encoding.declared = std::string(*declared);
        // A plan that declares UTF-8 and is not is taken as Windows-1252, as it always was.
        if (equalsNoCase(*declared, "UTF-8") && (dataFile || cp1252::isValidUtf8(bytes))) {
            encoding.encoding = TextEncodingNote::Encoding::Utf8;
            out.convertedText = dataFile
                                    ? dataFileText(bytes, 0, "declares UTF-8", out.substitutions)
                                    : cp1252::fromUtf8(bytes);
            out.converted = true;
        }
    } else if (dataFile && beyondAscii && cp1252::isValidUtf8(bytes)) {
        // What XML assumes without a declaration. Windows-1252 text beyond ASCII is almost
        // never valid UTF-8; plans are never taken so (the tool writes them in Windows-1252).
        encoding.encoding = TextEncodingNote::Encoding::Utf8;
        encoding.reason = TextEncodingNote::Reason::Detected;
        out.convertedText = dataFileText(bytes, 0, "is UTF-8", out.substitutions);
        out.converted = true;
    }
    return out;
}

}  // namespace tarvolen
