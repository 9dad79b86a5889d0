#include "engine/ImportFile.h"

#include "base/Text.h"
#include "plan/DataFileReading.h"
#include "plan/Errors.h"

namespace tarvolen {

std::optional<TextEncodingNote> LoadImportFile(TClientDataSet& reader,
                                               const std::string& fileName) {
    if (fileName.empty()) throw EFOpenError("Cannot open file \"\". No file name given");
    std::optional<TextEncodingNote> encoding;
    reader.LoadFile(fileName, [&encoding](std::string_view bytes) {
        return decodeImportData(bytes, &encoding);
    });
    return encoding;
}

ImportEncodingText DescribeImportEncoding(const TextEncodingNote& encoding) {
    using Reason = TextEncodingNote::Reason;
    ImportEncodingText text;
    text.encoding =
        encoding.encoding == TextEncodingNote::Encoding::Utf8 ? "UTF-8" : "WINDOWS-1252";
    switch (encoding.reason) {
        case Reason::Undeclared:
            break;
        case Reason::Detected:
            text.reason = "NESSUNA CODIFICA DICHIARATA, TESTO UTF-8 VALIDO";
            break;
        case Reason::ByteOrderMark:
            text.reason = "BYTE ORDER MARK UTF-8";
            break;
        case Reason::Declared: {
            std::string declared = printableText(encoding.declared);
            for (char& c : declared) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
            text.reason = equalsNoCase(declared, text.encoding) ? "CODIFICA DICHIARATA"
                                                                : "DICHIARATA COME " + declared;
            break;
        }
    }
    return text;
}

}  // namespace tarvolen
