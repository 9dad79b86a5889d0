#pragma once
// The value of a data file's field as the database layer takes it in a table import.

#include "db/Value.h"
#include "plan/DataPacket.h"

namespace tarvolen {

// The value as the database layer takes it; the layer then converts it to the column's type, or
// refuses it. Null stays null. Throws database::DatabaseError naming the field when the value is
// not of the kind the field's type holds, or when a date and time lies beyond any date.
database::Value importValue(const FieldDef& field, const FieldValue& value);

}  // namespace tarvolen
