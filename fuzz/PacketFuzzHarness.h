#pragma once
// The one harness behind both packet fuzz targets: feed the bytes to a decoder, accept its
// refusal with a decoding error, and check that whatever it accepted can be written in both
// forms and reads back from each as the same table (checkReencodes), and that decoding with a
// diagnostics sink loads the same table and notes only what may be noted (NoteChecker), and
// that the data-file rules refuse only with a decoding error or their own.
// Any other outcome aborts, so libFuzzer keeps the input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "base/Cp1252.h"
#include "plan/DataPacket.h"
#include "plan/Errors.h"
#include "plan/PacketCodec.h"

namespace tarvolen::fuzz {

using Decoder = DataPacket (*)(std::string_view bytes);
using NotingDecoder = DataPacket (*)(std::string_view bytes, DecodeDiagnostics& diagnostics);

[[noreturn]] inline void fail(const char* stage, const char* what) {
    std::fprintf(stderr, "%s: %s\n", stage, what);
    std::abort();
}

// Whatever decoded is written in both forms without a refusal; the XML reads back and writes
// the same bytes again; the binary form reads back, writes the same bytes again and gives the
// same XML (but for Roundtrip marks, which it cannot hold).
inline void checkReencodes(const DataPacket& packet) {
    std::string xml;
    try {
        xml = encodeXmlPacket(packet);
    } catch (const std::exception& e) {
        fail("encodeXmlPacket threw", e.what());
    }
    try {
        if (encodeXmlPacket(decodeXmlPacket(xml)) != xml) {
            fail("XML round trip", "re-encoding the decoded XML gives other bytes");
        }
    } catch (const std::exception& e) {
        fail("decodeXmlPacket of the XML encoding threw", e.what());
    }

    std::string binary;
    try {
        binary = encodeBinaryPacket(packet);
    } catch (const std::exception& e) {
        fail("encodeBinaryPacket threw", e.what());
    }
    try {
        const DataPacket again = decodeBinaryPacket(binary);
        if (encodeBinaryPacket(again) != binary) {
            fail("binary round trip", "re-encoding the decoded binary packet gives other bytes");
        }
        // The binary form has no place for an attribute's Roundtrip mark (FORMAT.md).
        DataPacket unmarked = packet;
        for (FieldDef& field : unmarked.fields) {
            for (Attribute& a : field.attributes) a.roundtrip = false;
        }
        for (Attribute& a : unmarked.attributes) a.roundtrip = false;
        if (encodeXmlPacket(again) != encodeXmlPacket(unmarked)) {
            fail("binary to XML", "the binary form gives other XML than the table itself");
        }
    } catch (const std::exception& e) {
        fail("decodeBinaryPacket of the binary re-encoding threw", e.what());
    }
}

// Each note names a row version in storage order and a field, a text that reads as null is not
// empty, and a string was cut from more than its width.
class NoteChecker : public DecodeDiagnostics {
  public:
    void note(const ValueNote& note) override {
        if (note.row == 0 || note.row < m_lastRow || note.field.empty()) {
            fail("diagnostics", "a note names no row version, or no field, or an earlier row");
        }
        if (note.kind == ValueNote::Kind::TextReadAsNull && note.text.empty()) {
            fail("diagnostics", "an empty text noted as read as null");
        }
        if (note.kind == ValueNote::Kind::CutToWidth && note.length <= note.width) {
            fail("diagnostics", "a string noted as cut that fits its width");
        }
        m_lastRow = note.row;
    }
    size_t lastRow() const { return m_lastRow; }

  private:
    size_t m_lastRow = 0;
};

// The body of LLVMFuzzerTestOneInput for `decode` (and the same decoder with a sink).
inline int fuzzPacketDecoder(Decoder decode, NotingDecoder decodeNoting, const uint8_t* data,
                             size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    DataPacket packet;
    try {
        packet = decode(bytes);
    } catch (const EDBClient&) {
        return 0;  // rejecting the input with a decoding error is the expected outcome
    }
    checkReencodes(packet);
    NoteChecker notes;
    try {
        const DataPacket noted = decodeNoting(bytes, notes);
        if (encodeXmlPacket(noted) != encodeXmlPacket(packet)) {
            fail("diagnostics", "decoding with a sink loads another table");
        }
        if (notes.lastRow() > noted.rows.size()) fail("diagnostics", "a note names no version");
    } catch (const std::exception& e) {
        fail("decoding with a sink threw", e.what());
    }
    // An import's reading may refuse what a plan's accepts, but only with a decoding error or
    // its own; and text that is ASCII reads alike by either rules.
    try {
        NoteChecker dataNotes;
        const DataPacket asData = decodePacket(bytes, TextRules::DataFile, &dataNotes);
        if (!cp1252::hasHighBytes(bytes) && encodeXmlPacket(asData) != encodeXmlPacket(packet)) {
            fail("data-file rules", "ASCII text loads another table than by the plan's rules");
        }
    } catch (const EDataFileRefused&) {
        // A text taken as UTF-8 that is not, or that holds a character Windows-1252 lacks.
    } catch (const EDBClient&) {
        // Text taken as UTF-8 is other text, which may break a rule the bytes kept.
    } catch (const std::exception& e) {
        fail("decoding by the data-file rules threw", e.what());
    }
    return 0;
}

}  // namespace tarvolen::fuzz
