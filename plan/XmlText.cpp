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
// name holding one (never stored) stays readable.
std::string dataFileText(std::string_view bytes, const XmlTextChoice& choice,
                         std::vector<cp1252::Utf8Substitution>& substitutions) {
    std::string text;
    if (const std::optional<size_t> bad =
            cp1252::fromUtf8Marking(bytes.substr(choice.from), text, substitutions)) {
        throw notUtf8(choice, choice.from + *bad);
    }
    for (cp1252::Utf8Substitution& s : substitutions) s.from += choice.from;
    return text;
}

}  // namespace

XmlTextChoice chooseXmlText(TextRules rules, bool byteOrderMark,
                            const std::optional<std::string_view>& declared, bool beyondAscii,
                            const std::function<bool()>& validUtf8) {
    const bool dataFile = rules == TextRules::DataFile;
    XmlTextChoice choice;
    TextEncodingNote& encoding = choice.encoding;
    encoding.beyondAscii = beyondAscii;
    if (byteOrderMark) {
        encoding.encoding = TextEncodingNote::Encoding::Utf8;
        encoding.reason = TextEncodingNote::Reason::ByteOrderMark;
        choice.utf8 = true;
        choice.from = kByteOrderMark.size();
        choice.why = "opens with UTF-8's byte-order mark";
    } else if (declared) {
        encoding.reason = TextEncodingNote::Reason::Declared;
        encoding.declared = std::string(*declared);
        // A plan that declares UTF-8 and is not is taken as Windows-1252, as it always was.
        if (equalsNoCase(*declared, "UTF-8") && (dataFile || validUtf8())) {
            encoding.encoding = TextEncodingNote::Encoding::Utf8;
            choice.utf8 = true;
            choice.why = "declares UTF-8";
        }
    } else if (dataFile && beyondAscii && validUtf8()) {
        // What XML assumes without a declaration. Windows-1252 text beyond ASCII is almost
        // never valid UTF-8; plans are never taken so (the tool writes them in Windows-1252).
        encoding.encoding = TextEncodingNote::Encoding::Utf8;
        encoding.reason = TextEncodingNote::Reason::Detected;
        choice.utf8 = true;
        choice.why = "is UTF-8";
    }
    return choice;
}

EDataFileRefused notUtf8(const XmlTextChoice& choice, size_t offset) {
    return EDataFileRefused("The data file " + std::string(choice.why) +
                            " but is not UTF-8 at byte offset " + std::to_string(offset));
}

XmlText takeXmlText(std::string_view bytes, TextRules rules, bool noteEncoding) {
    const bool dataFile = rules == TextRules::DataFile;
    const bool byteOrderMark = bytes.substr(0, 3) == kByteOrderMark;
    // Whether any byte is beyond ASCII, looked at once, and only when needed.
    const bool beyondAscii =
        (dataFile || noteEncoding) && cp1252::hasHighBytes(byteOrderMark ? bytes.substr(3) : bytes);
    const XmlTextChoice choice =
        chooseXmlText(rules, byteOrderMark,
                      byteOrderMark ? std::nullopt : declaredEncoding(bytes), beyondAscii,
                      [&] { return cp1252::isValidUtf8(bytes); });
    XmlText out;
    out.bytes = bytes;
    out.encoding = choice.encoding;
    if (choice.utf8) {
        out.convertedText = dataFile ? dataFileText(bytes, choice, out.substitutions)
                                     : cp1252::fromUtf8(bytes.substr(choice.from));
        out.converted = true;
    }
    return out;
}

}  // namespace tarvolen
