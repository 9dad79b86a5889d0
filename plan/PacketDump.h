#pragma once
// A data packet as readable text, for a person at a terminal: the layout, the dataset
// attributes, every row version and the change log. Text shows as UTF-8 with control
// characters escaped, so no value can garble the terminal.

#include <ostream>

#include "plan/DataPacket.h"

namespace tarvolen {

void writePacketDump(const DataPacket& packet, std::ostream& os);

}  // namespace tarvolen
