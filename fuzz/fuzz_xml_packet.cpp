// Feeds arbitrary bytes to the XML packet decoder (PacketFuzzHarness.h does the checking).

#include <cstddef>
#include <cstdint>

#include "PacketFuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return tarvolen::fuzz::fuzzPacketDecoder(tarvolen::decodeXmlPacket, tarvolen::decodeXmlPacket,
                                             data, size);
}
