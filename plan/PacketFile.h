#pragma once
// Data-packet files as wholes: read in either form, written in the form their name asks for.

#include <string>
#include <string_view>

#include "plan/DataPacket.h"
#include "plan/DecodeDiagnostics.h"

namespace tarvolen {

// True when the name ends in ".xml", in any letter case.
bool namesXmlFile(std::string_view fileName);

// Reads and decodes the file, XML or binary as its bytes say. Throws EFOpenError or EDBClient.
DataPacket readPacketFile(const std::string& fileName);
// The same, reporting to `diagnostics` each row value loaded other than as the file holds it.
DataPacket readPacketFile(const std::string& fileName, DecodeDiagnostics& diagnostics);

// Writes the packet as XML when namesXmlFile(fileName), binary otherwise. The packet is encoded
// in full before the file is touched, and the file is replaced atomically, so a failure leaves
// it as it was. Throws EFCreateError.
void writePacketFile(const std::string& fileName, const DataPacket& packet);

}  // namespace tarvolen
