// Feeds arbitrary bytes to the binary packet decoder.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ReencodeCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    tarvolen::DataPacket packet;
    try {
        packet = tarvolen::decodeBinaryPacket(bytes);
    } catch (const tarvolen::EDBClient&) {
        return 0;  // rejecting the input with a decoding error is the expected outcome
    }
    tarvolen::fuzz::checkReencodes(packet);
    return 0;
}
