// Feeds arbitrary bytes to the binary packet decoder (PacketFuzzHarness.h does the checking).

#include <cstddef>
#include <cstdint>

#include "PacketFuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return tarvolen::fuzz::fuzzPacketDecoder(tarvolen::decodeBinaryPacket,
                                             tarvolen::decodeBinaryPacket, data, size);
}
