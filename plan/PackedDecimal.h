#pragma once
// The packed-decimal record that holds "fixed" and "fixedFMT" values in the binary form, both
// ways. Byte 0 is the number of digits, byte 1 the sign (bit 7, 1 = negative) and the number of
// decimals (bits 0-5), then the digits as nibbles, high nibble first, left-aligned. In memory
// such a value is its decimal text ("-12.50"). FORMAT.md ("Packed decimal") has the details.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvolen {

// Size in bytes of the record for a precision (the field's WIDTH); 0 or less means the
// default precision of 32.
int bcdRecordSize(int precision);

// Decimal text (optional sign, digits, optional "." and digits) -> record of `recordSize`
// bytes. False when the text does not read or the record cannot hold it.
bool packDecimal(std::string_view text, uint32_t recordSize, std::string& record);

// Record -> the decimal text the table keeps: "-" only for a value that is not zero, the integer
// digits without leading zeros (at least "0"), then "." and exactly `decimals` fraction digits
// when there are decimals. False for a damaged record: one shorter than two bytes, a digit count
// the record cannot hold, or a digit nibble above 9.
bool unpackDecimal(std::string_view record, std::string& text);

}  // namespace tarvolen
