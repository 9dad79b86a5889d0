#pragma once
// Private to db/: the layout of a statement's message buffers, and reading and writing the
// values in them.

#include <firebird/Interface.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/Value.h"

namespace tarvolen::database::fb {

// How a message buffer holds one column or parameter.
enum class Kind {
    Char,
    VarChar,
    SmallInt,
    Integer,
    BigInt,
    Float,
    Double,
    Date,
    Time,
    Timestamp,
    Blob,
    Boolean,
    Other
};

struct Column {
    std::string name;      // what the row calls it (alias for select columns)
    std::string field;     // underlying table column, empty for expressions
    std::string relation;  // its table, empty for expressions
    Kind kind = Kind::Other;
    unsigned sqlType = 0;
    int subType = 0;
    int scale = 0;
    unsigned length = 0;  // bytes
    unsigned charSet = 0;
    unsigned offset = 0;
    unsigned nullOffset = 0;
};

std::vector<Column> describe(Firebird::IMessageMetadata* metadata);
// "INTEGER", "VARCHAR(40)", "NUMERIC(9,2)", ... as errors show a column's type.
std::string typeName(const Column& column);

// Reads a column of a fetched message. Blobs are read whole through the transaction.
Value decode(const Column& column, const unsigned char* message, Firebird::IAttachment* attachment,
             Firebird::ITransaction* transaction);
// A message holds each null indicator as a 16-bit integer at nullOffset: non-zero for null.
// It is read and written by its bytes, as every other field of the buffer is.
inline bool isNullIn(const Column& column, const unsigned char* message) {
    int16_t indicator = 0;
    std::memcpy(&indicator, message + column.nullOffset, sizeof indicator);
    return indicator != 0;
}
inline void setNullIn(const Column& column, unsigned char* message, bool null = true) {
    const int16_t indicator = null ? -1 : 0;
    std::memcpy(message + column.nullOffset, &indicator, sizeof indicator);
}

// Converts a value to the column's type and stores it in the message. Throws DatabaseError
// "<owner>: ..." naming the column when the value does not convert or does not fit. A blob
// column's bytes are handed back instead, to be written once a transaction is at hand.
std::optional<std::string> encode(const Column& column, const Value& value, unsigned char* message,
                                  std::string_view owner);
// Writes a blob and stores its id in the message.
void writeBlob(const Column& column, std::string_view bytes, unsigned char* message,
               Firebird::IAttachment* attachment, Firebird::ITransaction* transaction);

}  // namespace tarvolen::database::fb
