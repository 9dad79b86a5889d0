#include "plan/PacketCodec.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "base/Cp1252.h"

namespace tarvolen {
namespace {

uint32_t readU32(std::string_view bytes, size_t at) {
    uint32_t v = 0;
    for (size_t i = 4; i-- > 0;) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    return v;
}

uint16_t readU16(std::string_view bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                 (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

}  // namespace

bool isBinaryPacket(std::string_view bytes) {
    if (bytes.size() >= 4 && readU32(bytes, 0) == 0x0000ABCDu) return true;
    return bytes.size() >= 8 && readU32(bytes, 0) == 0xBDE01996u && readU16(bytes, 4) <= 3 &&
           readU16(bytes, 6) <= 3;
}

DataPacket decodePacket(std::string_view bytes) {
    return isBinaryPacket(bytes) ? decodeBinaryPacket(bytes) : decodeXmlPacket(bytes);
}

DataPacket decodePacket(std::string_view bytes, DecodeDiagnostics& diagnostics) {
    return isBinaryPacket(bytes) ? decodeBinaryPacket(bytes, diagnostics)
                                 : decodeXmlPacket(bytes, diagnostics);
}

DataPacket decodePacket(std::string_view bytes, TextRules rules, DecodeDiagnostics* diagnostics) {
    if (!isBinaryPacket(bytes)) return decodeXmlPacket(bytes, rules, diagnostics);
    return diagnostics != nullptr ? decodeBinaryPacket(bytes, *diagnostics)
                                  : decodeBinaryPacket(bytes);
}

std::vector<size_t> rowWriteOrder(const DataPacket& packet) {
    std::vector<size_t> order(packet.rows.size());
    std::iota(order.begin(), order.end(), size_t{0});
    if (!packet.changeLog.empty()) return order;
    const Attribute* defaultOrder = packet.findAttribute("DEFAULT_ORDER");
    const auto* keys =
        defaultOrder != nullptr ? std::get_if<IntArray>(&defaultOrder->value) : nullptr;
    if (keys == nullptr || keys->empty()) return order;
    std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) {
        for (int64_t key : *keys) {
            const auto field = static_cast<size_t>((key & 0x3FFF) - 1);
            if (field >= packet.fields.size()) continue;
            const bool descending = (key & 0x8000) != 0;
            const bool caseInsensitive = (key & 0x4000) != 0;
            const int c = compareFieldValues(packet.fields[field].type, packet.rows.value(x, field),
                                             packet.rows.value(y, field), caseInsensitive);
            if (c != 0) return descending ? c > 0 : c < 0;
        }
        return false;
    });
    return order;
}

}  // namespace tarvolen
