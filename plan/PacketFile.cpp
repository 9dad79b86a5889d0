#include "plan/PacketFile.h"

#include "plan/FileIO.h"
#include "plan/PacketCodec.h"

namespace tarvolen {

bool namesXmlFile(std::string_view fileName) {
    constexpr std::string_view kExtension = ".xml";
    if (fileName.size() < kExtension.size()) return false;
    const std::string_view tail = fileName.substr(fileName.size() - kExtension.size());
    for (size_t i = 0; i < kExtension.size(); ++i) {
        const char c = tail[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kExtension[i])
            return false;
    }
    return true;
}

DataPacket readPacketFile(const std::string& fileName) {
    return decodePacket(readWholeFile(fileName));
}

DataPacket readPacketFile(const std::string& fileName, DecodeDiagnostics& diagnostics) {
    return decodePacket(readWholeFile(fileName), diagnostics);
}

void writePacketFile(const std::string& fileName, const DataPacket& packet) {
    const std::string bytes =
        namesXmlFile(fileName) ? encodeXmlPacket(packet) : encodeBinaryPacket(packet);
    writeFileAtomically(fileName, bytes);
}

}  // namespace tarvolen
