#pragma once
// The one harness behind both packet fuzz targets: feed the bytes to a decoder, accept its
// refusal with a decoding error, and check that whatever it accepted can be written in both
// forms, and that the binary encoding decodes again to a packet that encodes to the same bytes.
// Any other outcome aborts, so libFuzzer keeps the input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "plan/DataPacket.h"
#include "plan/Errors.h"
#include "plan/PacketCodec.h"

namespace tarvolen::fuzz {

using Decoder = DataPacket (*)(std::string_view bytes);

[[noreturn]] inline void fail(const char* stage, const char* what) {
    std::fprintf(stderr, "%s: %s\n", stage, what);
    std::abort();
}

inline void checkReencodes(const DataPacket& packet) {
    try {
        encodeXmlPacket(packet);
    } catch (const EDBClient& e) {
        // A type without a `fieldtype` text cannot be written as XML; that refusal is expected.
        if (std::string_view(e.what()) != "Fieldtype not supported for XML.") {
            fail("encodeXmlPacket threw", e.what());
        }
    } catch (const std::exception& e) {
        fail("encodeXmlPacket threw", e.what());
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
    } catch (const std::exception& e) {
        fail("decodeBinaryPacket of the binary re-encoding threw", e.what());
    }
}

// The body of LLVMFuzzerTestOneInput for `decode`.
inline int fuzzPacketDecoder(Decoder decode, const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    DataPacket packet;
    try {
        packet = decode(bytes);
    } catch (const EDBClient&) {
        return 0;  // rejecting the input with a decoding error is the expected outcome
    }
    checkReencodes(packet);
    return 0;
}

}  // namespace tarvolen::fuzz
