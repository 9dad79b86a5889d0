#include "engine/ImportFile.h"

#include "base/Text.h"
#include "plan/DataFileReading.h"
#include "plan/Errors.h"

namespace tarvolen {
namespace {

// A source that lets its owner act before each piece is read.
class PausingSource : public PacketSource {
  public:
    PausingSource(PacketSource& source, const std::function<void()>& pause)
        : m_source(source), m_pause(pause) {}
    uint64_t size() const override { return m_source.size(); }
    void read(uint64_t offset, char* to, size_t count) override {
        m_pause();
        m_source.read(offset, to, count);
    }

  private:
    PacketSource& m_source;
    const std::function<void()>& m_pause;
};

}  // namespace

std::optional<TextEncodingNote> LoadImportFile(TClientDataSet& reader,
                                               const std::string& fileName) {
    if (fileName.empty()) throw EFOpenError("Cannot open file \"\". No file name given");
    std::optional<TextEncodingNote> encoding;
    reader.LoadFile(fileName, [&encoding](std::string_view bytes) {
        return decodeImportData(bytes, &encoding);
    });
    return encoding;
}

void StreamImportFile(const std::string& fileName, PacketRowConsumer& consumer,
                      const std::function<void()>& beforePiece) {
    if (fileName.empty()) throw EFOpenError("Cannot open file \"\". No file name given");
    PacketFileSource file(fileName);
    // As the reader the whole file used to be loaded into, named cds, refuses an empty file.
    if (file.size() == 0) throw EDatabaseError("cds: Missing data provider or data packet");
    PausingSource source(file, beforePiece);
    streamImportData(source, consumer);
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
