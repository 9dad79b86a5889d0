#pragma once
// Encoding and decoding of data packets. Every decoding failure is an EDBClient carrying one of
// the documented messages; no input crashes or allocates without bound.

#include <string>
#include <string_view>

#include "plan/DataPacket.h"
#include "plan/DecodeDiagnostics.h"

namespace tarvolen {

// True when the bytes start like a binary packet (magic 0xBDE01996 with version words <= 3,
// or 0x0000ABCD); everything else is read as XML.
bool isBinaryPacket(std::string_view bytes);

// Decodes either form, chosen by the bytes alone.
DataPacket decodePacket(std::string_view bytes);
DataPacket decodeXmlPacket(std::string_view bytes);
DataPacket decodeBinaryPacket(std::string_view bytes);
// The same, reporting to `diagnostics` each row value loaded other than as the file holds it.
DataPacket decodePacket(std::string_view bytes, DecodeDiagnostics& diagnostics);
DataPacket decodeXmlPacket(std::string_view bytes, DecodeDiagnostics& diagnostics);
DataPacket decodeBinaryPacket(std::string_view bytes, DecodeDiagnostics& diagnostics);

// How the text of an XML packet is taken. A plan is read as the tool has always read it: as
// UTF-8 when a byte-order mark opens it or its prolog declares UTF-8 and it is valid UTF-8,
// otherwise as the Windows-1252 bytes the tool writes it in, whatever they look like. An
// import's data file is also read as UTF-8 when it declares no encoding and its text is valid
// UTF-8 beyond ASCII (what XML assumes); and one taken as UTF-8 that is not valid UTF-8, or
// holds a character Windows-1252 lacks, is refused with EDataFileRefused naming the byte.
enum class TextRules { Plan, DataFile };
DataPacket decodeXmlPacket(std::string_view bytes, TextRules rules, DecodeDiagnostics* diagnostics);
// Either form, the XML form by `rules`; `diagnostics` may be null.
DataPacket decodePacket(std::string_view bytes, TextRules rules, DecodeDiagnostics* diagnostics);

// The XML form: one line, prolog then DATAPACKET, byte for byte as the plan file is written.
std::string encodeXmlPacket(const DataPacket& packet);
// The binary form; decodeBinaryPacket(encodeBinaryPacket(p)) gives back p.
std::string encodeBinaryPacket(const DataPacket& packet);

// Order in which a writer emits the row versions: storage order when the change log is not
// empty; otherwise the DEFAULT_ORDER attribute's order when present, else storage order.
std::vector<size_t> rowWriteOrder(const DataPacket& packet);

}  // namespace tarvolen
