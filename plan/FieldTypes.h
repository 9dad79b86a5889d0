#pragma once
// Field types across the two forms of a data packet: the XML `fieldtype` text, the binary type
// word, the names shown for types, and the types of attributes. The text form of values is in
// ValueText.h, the packed-decimal record in PackedDecimal.h.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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
// The type word a field is written with in the binary form: its own when that names its type,
// else the one typeWordFor gives for its type and WIDTH.
uint32_t storedTypeWord(const FieldDef& field);

// Largest WIDTH of a string, wide string, byte or blob field: WIDTH is a 16-bit signed number.
constexpr int kMaxFieldWidth = 32767;

// Refuses with "Invalid parameter." a field whose layout does not say what either form needs to
// read its values back alike, so that whatever one form holds the other can carry: a string or
// wide string needs a WIDTH from 1 to 32767; a byte field (bin.hex without SUBTYPE) a WIDTH from
// 1 to 32767 equal to its size; a blob a SUBTYPE (and a WIDTH, if any, up to 32767); a decimal
// a WIDTH (its precision; 32 when absent) up to 64 whose record has the size its type word says.
// `typeWord` is the one the field is or will be stored with.
void requireCarriableLayout(const FieldDef& field, uint32_t typeWord);

// True when an integer value lies in the range of an integer field type (any value for others).
bool fitsIntegerType(FieldType type, int64_t v);

// True for blobs whose XML value is plain text (SUBTYPE "Text" or "WideText") rather than Base64.
bool isTextBlob(const FieldDef& field);

// Type name shown in binding errors ("Integer", "String", "Memo", "LargeInt", ...).
std::string fieldTypeDisplayName(const FieldDef& field);

// Whether an attribute may have this type word: any field type, the 8-bit integers, or an
// array of integers.
bool isAttributeTypeWord(uint32_t typeWord);
// Type of an attribute as the XML form names it in PARAM Type="...", and back, so that every
// attribute type travels through XML unchanged: its `fieldtype` text ("i4", "date",
// "string.uni", "bin.hex", ...), "UIntArray" or "IntArray" when that names exactly its type
// word, else the type word itself as "0x" and eight hexadecimal digits ("0x00490001" for a text
// with a 1-byte length). Texts naming no attribute type read as "string".
std::string attributeTypeName(uint32_t typeWord);
uint32_t attributeTypeWord(std::string_view typeName);
// Type word a reader gives a known attribute name met in XML; nullopt for unknown names.
std::optional<uint32_t> knownAttributeTypeWord(std::string_view name);

}  // namespace tarvolen
