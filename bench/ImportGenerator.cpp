#include "ImportGenerator.h"

#include <string>

#include "base/Calendar.h"
#include "plan/PacketCodec.h"

namespace tarvolen::bench {

DataPacket importPacket(int rows) {
    DataPacket p = decodeXmlPacket(
        "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"ID\" fieldtype=\"i4\"/>"
        "<FIELD attrname=\"NOME\" fieldtype=\"string\" WIDTH=\"40\"/><FIELD attrname=\"NATO\" "
        "fieldtype=\"date\"/>"
        "<FIELD attrname=\"IMPORTO\" fieldtype=\"fixed\" DECIMALS=\"2\" WIDTH=\"12\"/>"
        "<FIELD attrname=\"NOTE\" fieldtype=\"bin.hex\" "
        "SUBTYPE=\"Text\"/></FIELDS><PARAMS/></METADATA>"
        "<ROWDATA></ROWDATA></DATAPACKET>");
    p.rows.reserve(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i) {
        p.rows.push_back({0,
                          {int64_t{i}, "Cognome Nome " + std::to_string(i),
                           dayNumberFromDate(1950 + i % 60, 1 + i % 12, 1 + i % 28),
                           std::to_string(i) + "." + std::to_string(10 + i % 90),
                           makeBlob("nota " + std::to_string(i))}});
    }
    return p;
}

}  // namespace tarvolen::bench
