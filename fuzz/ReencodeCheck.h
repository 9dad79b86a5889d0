#pragma once
// What every fuzz target checks once a decoder has accepted its input: the packet must encode in
// both forms, and the binary encoding must decode again to the same packet.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "plan/DataPacket.h"
#include "plan/Errors.h"
#include "plan/PacketCodec.h"

namespace tarvolen::fuzz {

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

}  // namespace tarvolen::fuzz
