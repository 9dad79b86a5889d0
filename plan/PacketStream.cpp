// An import's data file read in pieces, its versions handed to a consumer (PacketStream.h). The
// readers are the table's own (PacketReading.h); what differs is where their versions go and
// how their text comes. An XML file is read twice: once to learn how its text is taken (the
// data-file rules look at every byte before the first value), then to read it.

#include "plan/PacketStream.h"

#include <algorithm>
#include <cstring>

#include "base/Cp1252.h"
#include "base/Text.h"
#include "base/os/SystemError.h"
#include "plan/DataFileReading.h"
#include "plan/FileIO.h"
#include "plan/PacketCodec.h"
#include "plan/PacketReading.h"
#include "plan/XmlScanner.h"
#include "plan/XmlText.h"

namespace tarvolen {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// How many bytes at the end of `bytes` start a UTF-8 sequence they do not hold whole: they wait
// for the next piece, so that no piece ends inside a character.
size_t unfinishedSequence(std::string_view bytes) {
    const size_t n = bytes.size();
    for (size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto b = static_cast<unsigned char>(bytes[n - back]);
        if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        const size_t length = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
        return length > back ? back : 0;
    }
    return 0;
}

// What the data-file rules need to know of an XML file's bytes before its first value.
struct XmlBytesFacts {
    bool byteOrderMark = false;
    std::optional<std::string> declared;
    bool beyondAscii = false;
    // The first byte that is not part of a well-formed UTF-8 sequence, as an offset in the file.
    std::optional<size_t> notUtf8At;
};

// Reads the whole file once, a piece at a time.
XmlBytesFacts scanXmlBytes(PacketSource& source, size_t piece) {
    XmlBytesFacts facts;
    const auto size = static_cast<size_t>(source.size());
    // The opening, up to the end of a prolog if there is one: the declaration is in it.
    std::string opening;
    size_t searchFrom = 0;  // where "?>" was not found yet
    while (true) {
        const size_t count = std::min(piece, size - opening.size());
        const size_t at = opening.size();
        opening.resize(at + count);
        source.read(at, opening.data() + at, count);
        const bool atEnd = opening.size() == size;
        if (opening.size() < kByteOrderMark.size() && !atEnd) continue;
        facts.byteOrderMark = std::string_view(opening).substr(0, 3) == kByteOrderMark;
        if (facts.byteOrderMark) break;  // the declaration is not looked at then
        size_t i = 0;
        while (i < opening.size() && isBlankChar(opening[i])) ++i;
        if (opening.size() - i >= 2) {
            if (opening.compare(i, 2, "<?") != 0) break;
            searchFrom = std::max(searchFrom, i);
            if (opening.find("?>", searchFrom) != std::string::npos) break;
            searchFrom = opening.size() - 1;
        }
        if (atEnd) break;
    }
    if (!facts.byteOrderMark) {
        if (const std::optional<std::string_view> declared = declaredEncoding(opening)) {
            facts.declared = std::string(*declared);
        }
    }
    opening = std::string();

    std::string bytes;
    size_t carried = 0;  // bytes at the front of `bytes` carried from the piece before
    for (size_t offset = 0; offset < size;) {
        const size_t count = std::min(piece, size - offset);
        bytes.resize(carried + count);
        source.read(offset, bytes.data() + carried, count);
        const size_t start = offset - carried;  // file offset of bytes[0]
        offset += count;
        std::string_view text(bytes);
        // A piece of ASCII alone (nothing carried) is UTF-8 as it stands.
        if (!cp1252::hasHighBytes(text)) {
            carried = 0;
            continue;
        }
        if (!facts.beyondAscii) {
            // The byte-order mark's bytes are not counted.
            const size_t from = facts.byteOrderMark && start < 3 ? 3 - start : 0;
            facts.beyondAscii = from < text.size() && cp1252::hasHighBytes(text.substr(from));
        }
        const size_t unfinished = offset < size ? unfinishedSequence(text) : 0;
        const size_t bad = cp1252::firstNonUtf8(text.substr(0, text.size() - unfinished));
        if (bad != std::string_view::npos) {
            facts.notUtf8At = start + bad;
            facts.beyondAscii = true;  // a byte that is not UTF-8 is above 127
            break;
        }
        std::memmove(bytes.data(), bytes.data() + text.size() - unfinished, unfinished);
        carried = unfinished;
    }
    return facts;
}

// The text of an XML file in Windows-1252, a piece at a time: its bytes as they are, or its
// UTF-8 converted.
class XmlFileText : public packetreading::XmlTextFeed {
  public:
    XmlFileText(PacketSource& source, size_t piece, const XmlTextChoice& choice)
        : m_source(source),
          m_piece(piece),
          m_size(static_cast<size_t>(source.size())),
          m_offset(choice.utf8 ? choice.from : 0),
          m_choice(choice) {}

    bool more(std::string& text, size_t atLeast) override {
        if (m_offset == m_size) return false;
        const size_t count = std::min(std::max(m_piece, atLeast), m_size - m_offset);
        if (!m_choice.utf8) {
            const size_t at = text.size();
            text.resize(at + count);
            m_source.read(m_offset, text.data() + at, count);
            m_offset += count;
            return true;
        }
        const size_t carried = m_bytes.size();
        m_bytes.resize(carried + count);
        m_source.read(m_offset, m_bytes.data() + carried, count);
        const size_t start = m_offset - carried;
        m_offset += count;
        const std::string_view bytes(m_bytes);
        const size_t unfinished = m_offset < m_size ? unfinishedSequence(bytes) : 0;
        const size_t firstNew = m_substitutions.size();
        if (const std::optional<size_t> bad = cp1252::fromUtf8Marking(
                bytes.substr(0, bytes.size() - unfinished), m_converted, m_substitutions)) {
            // Only a file changed since it was looked at gets here.
            throw notUtf8(m_choice, start + *bad);
        }
        for (size_t i = firstNew; i < m_substitutions.size(); ++i) {
            m_substitutions[i].from += start;
            m_substitutions[i].to += m_textLength;
        }
        m_textLength += m_converted.size();
        text += m_converted;
        m_bytes.erase(0, bytes.size() - unfinished);
        return true;
    }

    const std::vector<cp1252::Utf8Substitution>* substitutions() const override {
        return m_choice.utf8 ? &m_substitutions : nullptr;
    }

    void forgetBefore(size_t offset) override {
        const auto kept = std::find_if(
            m_substitutions.begin(), m_substitutions.end(),
            [offset](const cp1252::Utf8Substitution& s) { return s.to >= offset; });
        m_substitutions.erase(m_substitutions.begin(), kept);
    }

  private:
    PacketSource& m_source;
    size_t m_piece;
    size_t m_size;
    size_t m_offset;  // of the next byte to read
    XmlTextChoice m_choice;
    std::string m_bytes;      // UTF-8 read and not converted yet
    std::string m_converted;  // a piece converted
    size_t m_textLength = 0;  // of the text converted so far
    std::vector<cp1252::Utf8Substitution> m_substitutions;
};

// The versions as the readers give them, handed to the consumer one at a time. Only the
// versions the change log names as replaced are kept, for the later versions that take values
// from them; every other one is dropped once handed over.
class StreamedRows : public packetreading::RowTarget {
  public:
    StreamedRows(PacketRowConsumer& consumer, const RefusedValues& refused,
                 std::optional<TextEncodingNote> encoding)
        : m_consumer(consumer), m_refused(refused), m_encoding(std::move(encoding)),
          m_builder(m_window) {}

    void layoutRead(const DataPacket& packet) override {
        for (const ChangeLogEntry& e : packet.changeLog) {
            if (e.replaced != 0) m_replaced.push_back(e.replaced);
        }
        std::sort(m_replaced.begin(), m_replaced.end());
        m_replaced.erase(std::unique(m_replaced.begin(), m_replaced.end()), m_replaced.end());
        m_window.setFieldCount(packet.fields.size());
        m_consumer.layout(packet, m_encoding);
    }

    void versionsFollow(size_t /*rows*/, size_t /*bytes*/) override {}

    RowStore::Builder& begin(uint8_t status, size_t source, bool inheritBlobs) override {
        size_t kept = RowStore::kNoSource;
        if (source != RowStore::kNoSource) {
            const auto it = std::lower_bound(
                m_kept.begin(), m_kept.end(), source,
                [](const std::pair<size_t, size_t>& k, size_t version) { return k.first < version; });
            if (it != m_kept.end() && it->first == source) kept = it->second;
        }
        m_builder.begin(status, kept, inheritBlobs);
        return m_builder;
    }

    void end() override {
        m_builder.end();
        const size_t index = m_window.size() - 1;
        const size_t version = m_versions++;
        // Once a value does not read as written, the file is refused: nothing more is handed.
        if (!m_refused.any()) {
            m_window.decodeRow(index, m_values);
            StreamedRow row;
            row.version = version + 1;
            row.status = m_window.status(index);
            row.visible = (row.status & (rowstate::kSuperseded | rowstate::kDeleted)) == 0;
            row.values = &m_values;
            m_consumer.row(row);
        }
        if (std::binary_search(m_replaced.begin(), m_replaced.end(), version + 1)) {
            m_kept.emplace_back(version, index);
        } else {
            m_window.popBack();
        }
    }

    void finish() override {}

  private:
    PacketRowConsumer& m_consumer;
    const RefusedValues& m_refused;
    std::optional<TextEncodingNote> m_encoding;
    RowStore m_window;  // the version being read, and those kept
    RowStore::Builder m_builder;
    std::vector<uint32_t> m_replaced;                 // versions named as replaced, 1-based
    std::vector<std::pair<size_t, size_t>> m_kept;    // version (0-based) -> index in m_window
    size_t m_versions = 0;
    std::vector<FieldValue> m_values;
};

}  // namespace

PacketFileSource::PacketFileSource(const std::string& path)
    : m_path(path), m_file(openFileToRead(path)), m_size(m_file.size()) {}

void PacketFileSource::read(uint64_t offset, char* to, size_t count) {
    while (count > 0) {
        std::error_code error;
        const size_t n = m_file.readAt(offset, to, count, error);
        if (error) throw fileReadError(m_path, os::errorText(error));
        if (n == 0) throw fileReadError(m_path, "The file changed while it was read");
        offset += n;
        to += n;
        count -= n;
    }
}

void PacketBytesSource::read(uint64_t offset, char* to, size_t count) {
    if (count > 0) std::memcpy(to, m_bytes.data() + offset, count);
}

void streamImportData(PacketSource& source, PacketRowConsumer& consumer, size_t pieceBytes) {
    const size_t piece = std::max<size_t>(pieceBytes, 1);
    char head[8];
    const auto headBytes = static_cast<size_t>(std::min<uint64_t>(sizeof head, source.size()));
    source.read(0, head, headBytes);
    DataPacket packet;
    RefusedValues refused;
    if (isBinaryPacket(std::string_view(head, headBytes))) {
        StreamedRows rows(consumer, refused, std::nullopt);
        packetreading::readBinary(source, piece, &refused, packet, rows);
    } else {
        const XmlBytesFacts facts = scanXmlBytes(source, piece);
        const XmlTextChoice choice = chooseXmlText(
            TextRules::DataFile, facts.byteOrderMark,
            facts.declared ? std::optional<std::string_view>(*facts.declared) : std::nullopt,
            facts.beyondAscii, [&] { return !facts.notUtf8At; });
        if (choice.utf8 && facts.notUtf8At) throw notUtf8(choice, *facts.notUtf8At);
        StreamedRows rows(consumer, refused, choice.encoding);
        XmlFileText text(source, piece, choice);
        packetreading::readXmlText(text, &refused, packet, rows);
    }
    refused.refuseAny();
}

}  // namespace tarvolen
