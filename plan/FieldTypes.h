#pragma once
// Field types across the two forms of a data packet: the XML `fieldtype` text, the binary type
// word, and the text form of each type's values in XML.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/Calendar.h"
#include "plan/DataPacket.h"

namespace tarvolen {

// What a `fieldtype` text or a type word stands for.
enum class TypeLookup { Field, Dropped /* 8-bit integers: no field */, Invalid };

// XML `fieldtype` text -> type. "bin.hex" yields Blob; the caller turns it into Bytes when the
// field has no SUBTYPE.
TypeLookup lookupXmlType(std::string_view fieldtype, FieldType& type);
// Type -> XML `fieldtype` text ("bin.hex" for Blob and Bytes).
const char* xmlTypeName(FieldType type);

// Binary type word -> type. Arrays, composite types, unknown classes and impossible sizes are
// Invalid.
TypeLookup lookupTypeWord(uint32_t word, FieldType& type);
// The type word a field of this type carries in the binary form; `width` is its WIDTH
// attribute (string width, byte-field size, decimal precision), 0 when absent.
uint32_t typeWordFor(FieldType type, int width);
// Size in bytes of the packed-decimal record for a precision (WIDTH), 0 meaning the default.
int bcdRecordSize(int precision);
// The type word a field is written with in the binary form: its own when that names its type,
// else the one typeWordFor gives for its type and WIDTH.
uint32_t storedTypeWord(const FieldDef& field);
// Decimal text (optional sign, digits, optional "." and digits) -> packed-decimal record of
// `recordSize` bytes. False when the text does not read or the record cannot hold it.
bool packDecimal(std::string_view text, uint32_t recordSize, std::string& record);

// True when an integer value lies in the range of an integer field type (any value for others).
bool fitsIntegerType(FieldType type, int64_t v);

// Type name shown in binding errors ("Integer", "String", "Memo", "LargeInt", ...).
std::string fieldTypeDisplayName(const FieldDef& field);

// Type of an attribute as the XML form names it in PARAM Type="..." ("i4", "string",
// "UIntArray", ...), and back. Unknown texts read as "string".
std::string attributeTypeName(uint32_t typeWord);
uint32_t attributeTypeWord(std::string_view typeName);
// Type word a reader gives a known attribute name met in XML; nullopt for unknown names.
std::optional<uint32_t> knownAttributeTypeWord(std::string_view name);

// Values in the XML text form (before escaping / after unescaping). Wide strings come out in
// Windows-1252 ('?' where the code page lacks a character); the XML writer handles them itself.
std::string valueToText(const FieldDef& field, const FieldValue& value);
// Converts decoded XML text of a field value. Numbers and dates that do not read give null;
// strings are not cut here.
FieldValue valueFromText(const FieldDef& field, std::string_view text);
// True for blobs whose XML value is plain text (SUBTYPE "Text" or "WideText") rather than Base64.
bool isTextBlob(const FieldDef& field);
// Attribute values in XML, by attribute type word.
std::string attributeValueToText(const Attribute& attribute);
FieldValue attributeValueFromText(uint32_t typeWord, std::string_view text);

// Base64 as the XML form writes byte values.
std::string base64Encode(std::string_view bytes);
std::string base64Decode(std::string_view text);

}  // namespace tarvolen
