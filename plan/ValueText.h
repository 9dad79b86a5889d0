#pragma once
// Values in the text form of the XML data packet (before escaping / after unescaping), for
// field values by the field's type and for attribute values by their type word.

#include <cstdint>
#include <string>
#include <string_view>

#include "plan/DataPacket.h"

namespace tarvolen {

// The one rule for integer text: an optional single sign, "+" or "-", directly followed by
// decimal digits; "+-5", "--5" and "- 5" are not numbers. Reads such a number at the start of
// `text` and returns how many characters it took; 0, leaving `out` alone, when the text does not
// start with one or its value does not fit 64 bits.
size_t readIntegerPrefix(std::string_view text, int64_t& out);

// A field value as XML text; null gives empty text. Wide strings come out in Windows-1252 ('?'
// where the code page lacks a character); the XML writer handles them itself.
std::string valueToText(const FieldDef& field, const FieldValue& value);
// Decoded XML text of a field value -> value. Numbers and dates that do not read give null;
// strings are not cut here. An integer is read by readIntegerPrefix after any blanks, and text
// after its digits is ignored.
FieldValue valueFromText(const FieldDef& field, std::string_view text);

// True when a text that valueFromText reads as a value (not null) spells that value whole, in
// the form its type is written: an integer or a number with nothing but blanks around it, a
// boolean "TRUE" or "FALSE" in any letter case, a time with all or none of its milliseconds, a
// date and time with nothing after it, Base64 with nothing else in it. valueFromText is more
// lenient: it passes over text after a number ("12,50" reads as 12), takes any text not
// starting with "T" as false, and skips what is not Base64. Texts, blobs of text, dates and
// decimals have no such leniency (true).
bool spellsWholeValue(const FieldDef& field, std::string_view text);

// True when the XML text can say a value of a date, time, dateTime or timestamp field and reads
// it back as itself (true for any other type): dates of the years 1 to 9999, times of day below
// 24 hours, dateTimes of such a date and a whole number of milliseconds, timestamps with a real
// date and a real time.
bool sayableAsText(FieldType type, const FieldValue& value);

// Cuts a wide text to `width` UTF-16 units (as a field's WIDTH counts them), leaving out a high
// surrogate that the cut would part from its pair.
void cutWideText(std::u16string& text, size_t width);

// Attribute values in XML, by attribute type word: as the values of a field of that type
// (dates as dates, blobs and bytes in Base64, ...), arrays as their numbers. Wide texts come out
// in Windows-1252 here; the XML writer writes them itself.
std::string attributeValueToText(const Attribute& attribute);
FieldValue attributeValueFromText(uint32_t typeWord, std::string_view text);
// Sets the attribute's value from its XML text, by its type word. A text that does not read as
// a value of that type (a date that is none, ...) is kept as a text attribute instead, so that
// nothing is lost and what loads can be written; integers that do not read are 0, as ever.
void setAttributeFromText(Attribute& attribute, std::string_view text);

}  // namespace tarvolen
