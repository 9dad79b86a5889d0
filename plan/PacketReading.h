#pragma once
// What the two readers share with the stream of an import's rows (PacketStream.h); internal to
// the plan store. A reader puts the versions it reads into a RowTarget (the table's own store,
// or the stream's), and reads its text or bytes whole or in pieces.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Cp1252.h"
#include "plan/DataPacket.h"
#include "plan/DecodeDiagnostics.h"
#include "plan/PacketStream.h"

namespace tarvolen::packetreading {

// Where a reader puts the row versions it reads, in storage order.
class RowTarget {
  public:
    RowTarget() = default;
    RowTarget(const RowTarget&) = delete;
    RowTarget& operator=(const RowTarget&) = delete;
    virtual ~RowTarget() = default;

    // Once the layout is read, before any version: `packet` holds it.
    virtual void layoutRead(const DataPacket& packet) = 0;
    // Before the versions: `rows` of them are to come (0 when the form does not say), in at
    // most `bytes` bytes of the packet.
    virtual void versionsFollow(size_t rows, size_t bytes) = 0;
    // Starts the next version. `source`: the storage index of the earlier version whose values
    // it carries over (RowStore::kNoSource for none); with `inheritBlobs`, its fields left null
    // take that version's blobs.
    virtual RowStore::Builder& begin(uint8_t status, size_t source, bool inheritBlobs) = 0;
    // Ends the version begun.
    virtual void end() = 0;
    // After the last version, once the packet has been read whole.
    virtual void finish() = 0;
};

// The table's own store: versions go into packet.rows.
class TableRows : public RowTarget {
  public:
    explicit TableRows(DataPacket& packet) : m_packet(packet), m_builder(packet.rows) {}
    void layoutRead(const DataPacket& /*packet*/) override {}
    void versionsFollow(size_t rows, size_t bytes) override {
        m_packet.rows.setFieldCount(m_packet.fields.size());
        m_packet.rows.reserve(rows);
        // Room for as many bytes as the packet has left: room reserved and not used costs no
        // memory, while growing the arena would copy it.
        m_packet.rows.reserveBytes(bytes);
    }
    RowStore::Builder& begin(uint8_t status, size_t source, bool inheritBlobs) override {
        m_builder.begin(status, source, inheritBlobs);
        return m_builder;
    }
    void end() override { m_builder.end(); }
    void finish() override { m_packet.rows.shrinkToFit(); }

  private:
    DataPacket& m_packet;
    RowStore::Builder m_builder;
};

// The text of an XML packet as it comes, a piece at a time, already in Windows-1252.
class XmlTextFeed {
  public:
    XmlTextFeed() = default;
    XmlTextFeed(const XmlTextFeed&) = delete;
    XmlTextFeed& operator=(const XmlTextFeed&) = delete;
    virtual ~XmlTextFeed() = default;

    // Appends the next piece of the text to `text`, of at least `atLeast` bytes of the file
    // when it has as many left; false, appending nothing, at its end.
    virtual bool more(std::string& text, size_t atLeast) = 0;
    // The characters Windows-1252 lacks that the text read so far held, each a "?" in it now
    // (offsets in the text and in the file), or null when the text was not taken as UTF-8.
    virtual const std::vector<cp1252::Utf8Substitution>* substitutions() const = 0;
    // The text before `offset` will not be looked at again.
    virtual void forgetBefore(size_t offset) = 0;
};

// Reads an XML packet's text (in Windows-1252 already): its layout into `packet`, its versions
// into `target`, noting values to `diagnostics` when given.
void readXmlText(std::string_view text, DecodeDiagnostics* diagnostics,
                 const std::vector<cp1252::Utf8Substitution>* substitutions, DataPacket& packet,
                 RowTarget& target);
void readXmlText(XmlTextFeed& feed, DecodeDiagnostics* diagnostics, DataPacket& packet,
                 RowTarget& target);

// Reads a binary packet likewise, from bytes in memory, or from a source a piece of
// `pieceBytes` at a time.
void readBinary(std::string_view bytes, DecodeDiagnostics* diagnostics, DataPacket& packet,
                RowTarget& target);
void readBinary(PacketSource& source, size_t pieceBytes, DecodeDiagnostics* diagnostics,
                DataPacket& packet, RowTarget& target);

}  // namespace tarvolen::packetreading
