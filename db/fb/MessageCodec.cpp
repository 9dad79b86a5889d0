#include "MessageCodec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "Status.h"
#include "ValueConverter.h"

namespace tarvolen::database::fb {

using namespace Firebird;

// --- message layout -----------------------------------------------------------------------

namespace {

Kind kindOf(unsigned sqlType) {
    switch (sqlType) {
        case SQL_TEXT:
            return Kind::Char;
        case SQL_VARYING:
            return Kind::VarChar;
        case SQL_SHORT:
            return Kind::SmallInt;
        case SQL_LONG:
            return Kind::Integer;
        case SQL_INT64:
            return Kind::BigInt;
        case SQL_FLOAT:
            return Kind::Float;
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            return Kind::Double;
        case SQL_TYPE_DATE:
            return Kind::Date;
        case SQL_TYPE_TIME:
            return Kind::Time;
        case SQL_TIMESTAMP:
            return Kind::Timestamp;
        case SQL_BLOB:
            return Kind::Blob;
        case SQL_BOOLEAN:
            return Kind::Boolean;
        default:
            return Kind::Other;
    }
}

constexpr unsigned kOctets = 1;  // character set id of OCTETS

bool isInteger(Kind kind) {
    return kind == Kind::SmallInt || kind == Kind::Integer || kind == Kind::BigInt;
}

}  // namespace

std::vector<Column> describe(IMessageMetadata* metadata) {
    Status status;
    const unsigned count = metadata->getCount(&status);
    std::vector<Column> columns(count);
    for (unsigned i = 0; i < count; ++i) {
        Column& c = columns[i];
        const char* alias = metadata->getAlias(&status, i);
        c.field = metadata->getField(&status, i);
        c.name = (alias != nullptr && *alias != '\0') ? alias : c.field;
        c.relation = metadata->getRelation(&status, i);
        c.sqlType = metadata->getType(&status, i);
        c.kind = kindOf(c.sqlType);
        c.subType = metadata->getSubType(&status, i);
        c.scale = metadata->getScale(&status, i);
        c.length = metadata->getLength(&status, i);
        c.charSet = metadata->getCharSet(&status, i);
        c.offset = metadata->getOffset(&status, i);
        c.nullOffset = metadata->getNullOffset(&status, i);
    }
    return columns;
}

std::string typeName(const Column& c) {
    const auto len = std::to_string(c.length);
    if (isInteger(c.kind) && c.scale < 0) {
        const int precision = c.kind == Kind::SmallInt ? 4 : c.kind == Kind::Integer ? 9 : 18;
        return "NUMERIC(" + std::to_string(precision) + "," + std::to_string(-c.scale) + ")";
    }
    switch (c.kind) {
        case Kind::Char:
            return "CHAR(" + len + ")";
        case Kind::VarChar:
            return "VARCHAR(" + len + ")";
        case Kind::SmallInt:
            return "SMALLINT";
        case Kind::Integer:
            return "INTEGER";
        case Kind::BigInt:
            return "BIGINT";
        case Kind::Float:
            return "FLOAT";
        case Kind::Double:
            return "DOUBLE PRECISION";
        case Kind::Date:
            return "DATE";
        case Kind::Time:
            return "TIME";
        case Kind::Timestamp:
            return "TIMESTAMP";
        case Kind::Blob:
            return c.subType == 1 ? "BLOB SUB_TYPE TEXT" : "BLOB";
        case Kind::Boolean:
            return "BOOLEAN";
        case Kind::Other:
            break;
    }
    return "type " + std::to_string(c.sqlType);
}

// --- reading --------------------------------------------------------------------------------

namespace {

template <class T>
T load(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void store(unsigned char* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

double powerOfTen(int n) {
    return std::pow(10.0, n);
}

Date toDate(ISC_DATE value) {
    unsigned y = 0, m = 0, d = 0;
    util()->decodeDate(value, &y, &m, &d);
    return {static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)};
}

Time toTime(ISC_TIME value) {
    unsigned h = 0, m = 0, s = 0, f = 0;
    util()->decodeTime(value, &h, &m, &s, &f);
    return {static_cast<int>(h), static_cast<int>(m), static_cast<int>(s), static_cast<int>(f)};
}

std::string readBlob(const ISC_QUAD& id, IAttachment* attachment, ITransaction* transaction) {
    Status status;
    Ref<IBlob> blob(
        attachment->openBlob(&status, transaction, const_cast<ISC_QUAD*>(&id), 0, nullptr));
    std::string bytes;
    char buffer[32768];
    for (;;) {
        unsigned got = 0;
        const int result = blob->getSegment(&status, sizeof buffer, buffer, &got);
        if (result != IStatus::RESULT_OK && result != IStatus::RESULT_SEGMENT) break;
        bytes.append(buffer, got);
    }
    blob->close(&status);
    (void)blob.release();  // close() has let the handle go
    return bytes;
}

}  // namespace

Value decode(const Column& c, const unsigned char* message, IAttachment* attachment,
             ITransaction* transaction) {
    if (isNullIn(c, message)) return std::monostate{};
    const unsigned char* p = message + c.offset;
    auto scaled = [&](int64_t raw) -> Value {
        if (c.scale == 0) return raw;
        return static_cast<double>(raw) / powerOfTen(-c.scale);
    };
    switch (c.kind) {
        case Kind::Char:
            return std::string(reinterpret_cast<const char*>(p), c.length);
        case Kind::VarChar:
            return std::string(reinterpret_cast<const char*>(p + 2), load<uint16_t>(p));
        case Kind::SmallInt:
            return scaled(load<int16_t>(p));
        case Kind::Integer:
            return scaled(load<int32_t>(p));
        case Kind::BigInt:
            return scaled(load<int64_t>(p));
        case Kind::Float:
            return static_cast<double>(load<float>(p));
        case Kind::Double:
            return load<double>(p);
        case Kind::Date:
            return toDate(load<ISC_DATE>(p));
        case Kind::Time:
            return toTime(load<ISC_TIME>(p));
        case Kind::Timestamp: {
            const auto ts = load<ISC_TIMESTAMP>(p);
            return Timestamp{toDate(ts.timestamp_date), toTime(ts.timestamp_time)};
        }
        case Kind::Boolean:
            return load<FB_BOOLEAN>(p) != 0;
        case Kind::Blob:
            return readBlob(load<ISC_QUAD>(p), attachment, transaction);
        case Kind::Other:
            break;
    }
    // Arrays and other types the program never reads come through as null.
    return std::monostate{};
}

// --- converting and writing ---------------------------------------------------------------

namespace {

ISC_DATE encodeDate(const Date& d) {
    return util()->encodeDate(static_cast<unsigned>(d.year), static_cast<unsigned>(d.month),
                              static_cast<unsigned>(d.day));
}

ISC_TIME encodeTime(const Time& t) {
    return util()->encodeTime(static_cast<unsigned>(t.hour), static_cast<unsigned>(t.minute),
                              static_cast<unsigned>(t.second), static_cast<unsigned>(t.fraction));
}

}  // namespace

std::optional<std::string> encode(const Column& c, const Value& value, unsigned char* message,
                                  std::string_view owner) {
    if (isNull(value)) {
        setNullIn(c, message);
        return std::nullopt;
    }
    const ValueConverter convert(c, value, owner);
    unsigned char* p = message + c.offset;
    switch (c.kind) {
        case Kind::Char:
        case Kind::VarChar: {
            const std::string text = convert.text();
            if (text.size() > c.length) convert.tooLong(text.size());
            if (c.kind == Kind::VarChar) {
                store<uint16_t>(p, static_cast<uint16_t>(text.size()));
                std::copy(text.begin(), text.end(), p + 2);
            } else {
                std::copy(text.begin(), text.end(), p);
                // Octets pad with zeros, character sets with blanks, as the server does.
                std::memset(p + text.size(), c.charSet == kOctets ? 0 : ' ',
                            c.length - text.size());
            }
            break;
        }
        case Kind::SmallInt: {
            const int64_t v = convert.scaledInteger();
            if (v < std::numeric_limits<int16_t>::min() || v > std::numeric_limits<int16_t>::max())
                convert.outOfRange();
            store<int16_t>(p, static_cast<int16_t>(v));
            break;
        }
        case Kind::Integer: {
            const int64_t v = convert.scaledInteger();
            if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
                convert.outOfRange();
            store<int32_t>(p, static_cast<int32_t>(v));
            break;
        }
        case Kind::BigInt:
            store<int64_t>(p, convert.scaledInteger());
            break;
        case Kind::Float: {
            const double v = convert.floating();
            if (std::fabs(v) > std::numeric_limits<float>::max()) convert.outOfRange();
            store<float>(p, static_cast<float>(v));
            break;
        }
        case Kind::Double:
            store<double>(p, convert.floating());
            break;
        case Kind::Date:
            store<ISC_DATE>(p, encodeDate(convert.date()));
            break;
        case Kind::Time:
            store<ISC_TIME>(p, encodeTime(convert.time()));
            break;
        case Kind::Timestamp: {
            const Timestamp ts = convert.timestamp();
            ISC_TIMESTAMP raw;
            raw.timestamp_date = encodeDate(ts.date);
            raw.timestamp_time = encodeTime(ts.time);
            store<ISC_TIMESTAMP>(p, raw);
            break;
        }
        case Kind::Boolean:
            store<FB_BOOLEAN>(p, convert.boolean() ? 1 : 0);
            break;
        case Kind::Blob:
            setNullIn(c, message, false);
            return convert.text();
        case Kind::Other:
            convert.cannotConvert();
    }
    setNullIn(c, message, false);
    return std::nullopt;
}

void writeBlob(const Column& c, std::string_view bytes, unsigned char* message,
               IAttachment* attachment, ITransaction* transaction) {
    Status status;
    ISC_QUAD id{};
    Ref<IBlob> blob(attachment->createBlob(&status, transaction, &id, 0, nullptr));
    constexpr size_t kSegment = 32768;
    for (size_t pos = 0; pos < bytes.size(); pos += kSegment) {
        const size_t n = std::min(kSegment, bytes.size() - pos);
        blob->putSegment(&status, static_cast<unsigned>(n), bytes.data() + pos);
    }
    blob->close(&status);
    (void)blob.release();  // close() has let the handle go
    store<ISC_QUAD>(message + c.offset, id);
    setNullIn(c, message, false);
}

}  // namespace tarvolen::database::fb
