#pragma once
// The import data file of the engine benchmark: rows of integer, text, date, numeric and memo.

#include "plan/DataPacket.h"

namespace tarvolen::bench {

// `rows` rows for the table T (ID integer, NOME varchar(40), NATO date, IMPORTO numeric(12,2),
// NOTE blob sub_type text).
DataPacket importPacket(int rows);

}  // namespace tarvolen::bench
