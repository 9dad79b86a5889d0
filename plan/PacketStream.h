#pragma once
// An import's data file read in pieces, its row versions handed to a consumer as they are
// decoded instead of building the table: an import never needs the whole table, and a file
// read a piece at a time needs no room for all of its bytes either. The file is read by the
// data-file rules, exactly as decodeImportData reads it (DataFileReading.h): the same text
// rules and UTF-8 detection, the same refusals with the same messages, the same encoding note.
//
// A refusal can come after rows were handed over (a record that does not read as written, or
// damage further on): the consumer keeps nothing it was given until streamImportData returns,
// as an import keeps its rows in one transaction. A version that does not read as written is
// never handed over, nor is any after it; the file is still read to its end, so that the
// refusal names how many more values do not read as written, as decodeImportData's does.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/os/Files.h"
#include "plan/DataPacket.h"
#include "plan/DecodeDiagnostics.h"

namespace tarvolen {

// Where a packet's bytes come from, read a piece at a time.
class PacketSource {
  public:
    PacketSource() = default;
    PacketSource(const PacketSource&) = delete;
    PacketSource& operator=(const PacketSource&) = delete;
    virtual ~PacketSource() = default;

    // The packet's size in bytes.
    virtual uint64_t size() const = 0;
    // Fills `to` with the `count` bytes at `offset`. REQUIRES: offset + count <= size().
    virtual void read(uint64_t offset, char* to, size_t count) = 0;

  protected:
    PacketSource(PacketSource&&) = default;
    PacketSource& operator=(PacketSource&&) = default;
};

// A file, as it stood when opened. Refuses what readWholeFile refuses, with its messages
// (EFOpenError: Cannot open file "<full path>". <system error text>); a file that turns out
// shorter than it was when opened is refused the same way.
class PacketFileSource : public PacketSource {
  public:
    explicit PacketFileSource(const std::string& path);
    uint64_t size() const override { return m_size; }
    void read(uint64_t offset, char* to, size_t count) override;

  private:
    std::string m_path;
    os::File m_file;
    uint64_t m_size = 0;
};

// Bytes in memory, which must outlive the source.
class PacketBytesSource : public PacketSource {
  public:
    explicit PacketBytesSource(std::string_view bytes) : m_bytes(bytes) {}
    uint64_t size() const override { return m_bytes.size(); }
    void read(uint64_t offset, char* to, size_t count) override;

  private:
    std::string_view m_bytes;
};

// One row version as the stream hands it over.
struct StreamedRow {
    size_t version = 0;  // 1-based, in storage order: the record a refusal names
    uint8_t status = 0;  // rowstate bits
    // Whether a table opened on the file shows the version (neither superseded nor deleted):
    // the rows an import takes, in the order it takes them.
    bool visible = true;
    // One value per layout field, as the table would give them (blobs as BlobData); valid
    // during the call only.
    const std::vector<FieldValue>* values = nullptr;
};

class PacketRowConsumer {
  public:
    PacketRowConsumer() = default;
    PacketRowConsumer(const PacketRowConsumer&) = delete;
    PacketRowConsumer& operator=(const PacketRowConsumer&) = delete;
    virtual ~PacketRowConsumer() = default;

    // Once, before the first version: the layout, the dataset attributes and the change log
    // (`packet` holds no rows), and how an XML file's text is taken (nothing for the binary
    // form), as decodeImportData gives it.
    virtual void layout(const DataPacket& packet, const std::optional<TextEncodingNote>& encoding) = 0;
    // Each version in storage order, hidden ones included.
    virtual void row(const StreamedRow& row) = 0;

  protected:
    PacketRowConsumer(PacketRowConsumer&&) = default;
    PacketRowConsumer& operator=(PacketRowConsumer&&) = default;
};

// The bytes read from the source at a time (an XML file's element or a binary file's value
// longer than this is held whole).
constexpr size_t kStreamPieceBytes = size_t{1} << 20;

// Reads the source's packet, in either form, by the data-file rules, handing its layout and
// then its versions to `consumer`. Throws as decodeImportData does for the same bytes
// (EDataFileRefused, EDBClient), the source's errors, and whatever the consumer throws.
void streamImportData(PacketSource& source, PacketRowConsumer& consumer,
                      size_t pieceBytes = kStreamPieceBytes);

}  // namespace tarvolen
