#pragma once
// What a field or an attribute may hold so that either form writes it and reads it back as
// itself. The writers refuse any other value with "Invalid parameter."; field objects refuse it
// where it is set.

#include <cstddef>
#include <cstdint>

#include "plan/DataPacket.h"

namespace tarvolen {

// True when `value` (null included) is one a field of this layout, stored with `typeWord`, can
// be written with in either form and read back as itself: the alternative its type calls for,
// an integer in the type's range, a text no longer than WIDTH nor than its length prefix allows
// (bytes, or UTF-16 units of whole characters for a wide text) and other than a single zero byte
// (the binary form's empty text), a decimal its record holds, a
// date or time the XML text can say, bytes no longer than WIDTH, a blob of at most 4 GB.
bool fitsField(const FieldDef& field, uint32_t typeWord, const FieldValue& value);
// The same for an attribute of this type word, which has no WIDTH: texts as long as their
// length prefix (with the closing zero of 8-bit texts) allows, integers of any size (they are
// written wider when they must be).
bool fitsAttribute(uint32_t typeWord, const FieldValue& value);

// The type word an attribute is stored with: its own, but 64-bit signed (`0x00010008`, or
// `0x00810008` for an array) for an integer, or integer array, holding a value outside its
// type's range, so that no value is refused or cut. Both writers go by it.
uint32_t storedAttributeWord(uint32_t typeWord, const FieldValue& value);

// A value as a field of this layout keeps it: a text cut to `length` (0 for no limit) and to
// WIDTH (and empty when that leaves a single zero byte, as both readers make it), a decimal in
// its one form, bytes padded to WIDTH with zero bytes. Anything else, and a
// value that cannot be made to fit, is left as it is.
FieldValue fieldFormOf(const FieldDef& field, FieldValue value, size_t length = 0);

}  // namespace tarvolen
