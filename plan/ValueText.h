#pragma once
// Values in the text form of the XML data packet (before escaping / after unescaping), for
// field values by the field's type and for attribute values by their type word.

#include <cstdint>
#include <string>
#include <string_view>

#include "plan/DataPacket.h"

namespace tarvolen {

// A field value as XML text; null gives empty text. Wide strings come out in Windows-1252 ('?'
// where the code page lacks a character); the XML writer handles them itself.
std::string valueToText(const FieldDef& field, const FieldValue& value);
// Decoded XML text of a field value -> value. Numbers and dates that do not read give null;
// strings are not cut here.
FieldValue valueFromText(const FieldDef& field, std::string_view text);

// Attribute values in XML, by attribute type word.
std::string attributeValueToText(const Attribute& attribute);
FieldValue attributeValueFromText(uint32_t typeWord, std::string_view text);

}  // namespace tarvolen
