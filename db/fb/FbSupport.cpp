#include <firebird/Interface.h>

#include "FbSupport.h"
#include "base/Calendar.h"
#include "base/Text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace tarvolen::database::fb {

using namespace Firebird;

IMaster* master() {
    static IMaster* const instance = fb_get_master_interface();
    return instance;
}

IUtil* util() {
    static IUtil* const instance = master()->getUtilInterface();
    return instance;
}

IProvider* provider() {
    // Kept for the life of the process: the in-process engine stays loaded until exit.
    static IProvider* const instance = master()->getDispatcher();
    return instance;
}

DatabaseError errorFrom(IStatus* status) {
    std::string text(8192, '\0');
    const unsigned length =
        util()->formatStatus(text.data(), static_cast<unsigned>(text.size()), status);
    text.resize(std::min<size_t>(length, text.size()));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
    const intptr_t* errors = status->getErrors();
    const long code = (errors != nullptr && errors[0] == isc_arg_gds) ? errors[1] : 0;
    return DatabaseError(text, code);
}

void freeStatement(IStatement*& statement) {
    if (statement == nullptr) return;
    QuietStatus status;
    statement->free(&status);
    // A statement the server cannot free (connection lost) only needs its handle released.
    if (status.failed()) statement->release();
    statement = nullptr;
}

void endQuietly(ITransaction*& transaction, bool commit) {
    if (transaction == nullptr) return;
    QuietStatus status;
    if (commit)
        transaction->commit(&status);
    else
        transaction->rollback(&status);
    // A transaction the server cannot end (connection lost) dies with the attachment; only the
    // handle is left to release.
    if (status.failed()) transaction->release();
    transaction = nullptr;
}

PreparedStatement::PreparedStatement(IAttachment* attachment, ITransaction* transaction,
                                     std::string_view sql, unsigned flags) {
    Status status;
    statement.reset(attachment->prepare(&status, transaction, static_cast<unsigned>(sql.size()),
                                        sql.data(), SQL_DIALECT_V6, flags));
    if ((flags & IStatement::PREPARE_PREFETCH_INPUT_PARAMETERS) != 0)
        in.reset(statement->getInputMetadata(&status));
    if ((flags & IStatement::PREPARE_PREFETCH_OUTPUT_PARAMETERS) != 0)
        out.reset(statement->getOutputMetadata(&status));
    if (in) inputs = describe(in.get());
    if (out) outputs = describe(out.get());
    if (in) inBuffer.assign(in->getMessageLength(&status), 0);
    if (out) outBuffer.assign(out->getMessageLength(&status), 0);
}

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

__extension__ typedef __int128 Int128;  // exact decimal arithmetic, past int64 before checks

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

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

enum class Parsed { Ok, NotNumber, Overflow };

// Decimal text (sign, digits, fraction, exponent) as an integer scaled by 10^scale, rounded
// half away from zero. Exact: no detour through double.
Parsed parseScaled(std::string_view text, int scale, int64_t& out) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    std::string digits;
    long fractionDigits = 0;
    bool point = false;
    size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (isDigit(c)) {
            digits += c;
            if (point) ++fractionDigits;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits.empty()) return Parsed::NotNumber;
    long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::string_view e = text.substr(i + 1);
        // from_chars takes no '+', and after one no second sign may follow ("1e+-5").
        if (!e.empty() && e[0] == '+') {
            e.remove_prefix(1);
            if (e.empty() || !isDigit(e[0])) return Parsed::NotNumber;
        }
        const auto r = std::from_chars(e.data(), e.data() + e.size(), exponent);
        if (r.ec != std::errc() || r.ptr != e.data() + e.size()) return Parsed::NotNumber;
        i = text.size();
    }
    if (i != text.size()) return Parsed::NotNumber;

    // value = digits * 10^shift. Summed wide: an exponent near the limits of long must not
    // wrap. Past +-2^62 the outcome (0 or overflow) no longer depends on the exact shift.
    constexpr Int128 kShiftBound = Int128{1} << 62;
    const long shift = static_cast<long>(std::clamp<Int128>(
        static_cast<Int128>(exponent) - fractionDigits + scale, -kShiftBound, kShiftBound));
    long keep = static_cast<long>(digits.size()) + std::min(shift, 0L);
    Int128 acc = 0;
    const Int128 limit = static_cast<Int128>(std::numeric_limits<int64_t>::max()) + 1;
    for (long k = 0; k < keep; ++k) {
        acc = acc * 10 + (digits[static_cast<size_t>(k)] - '0');
        if (acc > limit) return Parsed::Overflow;
    }
    for (long k = 0; k < shift && acc != 0; ++k) {
        acc *= 10;
        if (acc > limit) return Parsed::Overflow;
    }
    if (keep >= 0 && keep < static_cast<long>(digits.size()) &&
        digits[static_cast<size_t>(keep)] >= '5')
        ++acc;
    if (negative) acc = -acc;
    if (acc > std::numeric_limits<int64_t>::max() || acc < std::numeric_limits<int64_t>::min())
        return Parsed::Overflow;
    out = static_cast<int64_t>(acc);
    return Parsed::Ok;
}

bool parseDouble(std::string_view text, double& out) {
    text = trimmed(text);
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text[0] == '-') return false;  // "+-5": one sign only
    }
    const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    return r.ec == std::errc() && r.ptr == text.data() + text.size() && !text.empty() &&
           std::isfinite(out);
}

bool readNumber(std::string_view& s, size_t minDigits, size_t maxDigits, int& out) {
    size_t n = 0;
    out = 0;
    while (n < s.size() && n < maxDigits && isDigit(s[n])) out = out * 10 + (s[n++] - '0');
    if (n < minDigits) return false;
    s.remove_prefix(n);
    return true;
}

bool take(std::string_view& s, char c) {
    if (s.empty() || s[0] != c) return false;
    s.remove_prefix(1);
    return true;
}

bool validDate(const Date& d) {
    return tarvolen::validDate(d.year, d.month, d.day);
}

// YYYY-MM-DD, or DD.MM.YYYY / DD/MM/YYYY as operators write dates.
bool parseDatePart(std::string_view& s, Date& d) {
    std::string_view t = s;
    if (readNumber(t, 4, 4, d.year) && take(t, '-') && readNumber(t, 1, 2, d.month) &&
        take(t, '-') && readNumber(t, 1, 2, d.day)) {
        s = t;
        return validDate(d);
    }
    t = s;
    if (!readNumber(t, 1, 2, d.day) || t.empty() || (t[0] != '.' && t[0] != '/')) return false;
    const char sep = t[0];
    t.remove_prefix(1);
    if (!readNumber(t, 1, 2, d.month) || !take(t, sep) || !readNumber(t, 4, 4, d.year))
        return false;
    s = t;
    return validDate(d);
}

// HH:MM[:SS[.f...]], fraction kept to ten-thousandths.
bool parseTimePart(std::string_view& s, Time& t) {
    std::string_view r = s;
    if (!readNumber(r, 1, 2, t.hour) || !take(r, ':') || !readNumber(r, 2, 2, t.minute))
        return false;
    t.second = 0;
    t.fraction = 0;
    if (take(r, ':')) {
        if (!readNumber(r, 2, 2, t.second)) return false;
        if (take(r, '.')) {
            int scale = 1000;
            size_t n = 0;
            while (n < r.size() && isDigit(r[n])) {
                t.fraction += (r[n] - '0') * scale;
                scale /= 10;
                ++n;
            }
            if (n == 0) return false;
            r.remove_prefix(n);
        }
    }
    s = r;
    return t.hour <= 23 && t.minute <= 59 && t.second <= 59;
}

bool parseTimestamp(std::string_view text, Timestamp& ts, bool& hasTime) {
    text = trimmed(text);
    if (!parseDatePart(text, ts.date)) return false;
    ts.time = {};
    hasTime = false;
    if (text.empty()) return true;
    if (text[0] != ' ' && text[0] != 'T') return false;
    text = trimmed(text.substr(1));
    hasTime = true;
    return parseTimePart(text, ts.time) && text.empty();
}

bool parseTime(std::string_view text, Time& t) {
    text = trimmed(text);
    return parseTimePart(text, t) && text.empty();
}

class Converter {
  public:
    Converter(const Column& c, const Value& v, std::string_view owner)
        : m_column(c), m_value(v), m_owner(owner) {}

    [[noreturn]] void cannotConvert() const {
        std::string shown = valueText(m_value);
        if (std::holds_alternative<std::string>(m_value)) shown = "\"" + shown + "\"";
        throw DatabaseError(std::string(m_owner) + ": cannot convert " + shown + " to " +
                            typeName(m_column) + " for column \"" + m_column.name + "\"");
    }
    [[noreturn]] void outOfRange() const {
        throw DatabaseError(std::string(m_owner) + ": value " + valueText(m_value) +
                            " is out of range for column \"" + m_column.name + "\" (" +
                            typeName(m_column) + ")");
    }
    [[noreturn]] void tooLong(size_t bytes) const {
        throw DatabaseError(std::string(m_owner) + ": text of " + std::to_string(bytes) +
                            " bytes is too long for column \"" + m_column.name + "\" (" +
                            typeName(m_column) + ")");
    }

    // The value as an integer scaled to the column's decimals.
    int64_t scaledInteger() const {
        const int scale = -m_column.scale;
        if (const auto* i = std::get_if<int64_t>(&m_value)) {
            Int128 v = *i;
            for (int k = 0; k < scale; ++k) v *= 10;
            if (v > std::numeric_limits<int64_t>::max() || v < std::numeric_limits<int64_t>::min())
                outOfRange();
            return static_cast<int64_t>(v);
        }
        if (const auto* d = std::get_if<double>(&m_value)) {
            if (!std::isfinite(*d)) cannotConvert();
            const double v = std::round(*d * powerOfTen(scale));
            if (!(v >= -9.2233720368547758e18 && v < 9.2233720368547758e18)) outOfRange();
            return static_cast<int64_t>(v);
        }
        if (const auto* b = std::get_if<bool>(&m_value)) {
            int64_t v = *b ? 1 : 0;
            for (int k = 0; k < scale; ++k) v *= 10;
            return v;
        }
        if (const auto* s = std::get_if<std::string>(&m_value)) {
            int64_t v = 0;
            switch (parseScaled(*s, scale, v)) {
                case Parsed::Ok:
                    return v;
                case Parsed::Overflow:
                    outOfRange();
                case Parsed::NotNumber:
                    cannotConvert();
            }
        }
        cannotConvert();
    }

    double floating() const {
        if (const auto* i = std::get_if<int64_t>(&m_value)) return static_cast<double>(*i);
        if (const auto* d = std::get_if<double>(&m_value)) {
            // NaN and infinities are no number a column can hold, as in text.
            if (std::isfinite(*d)) return *d;
            cannotConvert();
        }
        if (const auto* b = std::get_if<bool>(&m_value)) return *b ? 1.0 : 0.0;
        if (const auto* s = std::get_if<std::string>(&m_value)) {
            double v = 0;
            if (parseDouble(*s, v)) return v;
        }
        cannotConvert();
    }

    Date date() const {
        if (const auto* d = std::get_if<Date>(&m_value)) {
            if (!validDate(*d)) cannotConvert();
            return *d;
        }
        if (const auto* ts = std::get_if<Timestamp>(&m_value)) return ts->date;
        if (const auto* s = std::get_if<std::string>(&m_value)) {
            Timestamp ts;
            bool hasTime = false;
            if (parseTimestamp(*s, ts, hasTime) && !hasTime) return ts.date;
        }
        cannotConvert();
    }

    Time time() const {
        if (const auto* t = std::get_if<Time>(&m_value)) return checked(*t);
        if (const auto* ts = std::get_if<Timestamp>(&m_value)) return checked(ts->time);
        if (const auto* s = std::get_if<std::string>(&m_value)) {
            Time t;
            if (parseTime(*s, t)) return t;
        }
        cannotConvert();
    }

    Timestamp timestamp() const {
        if (const auto* ts = std::get_if<Timestamp>(&m_value)) {
            if (!validDate(ts->date)) cannotConvert();
            return {ts->date, checked(ts->time)};
        }
        if (const auto* d = std::get_if<Date>(&m_value)) {
            if (!validDate(*d)) cannotConvert();
            return {*d, {}};
        }
        if (const auto* s = std::get_if<std::string>(&m_value)) {
            Timestamp ts;
            bool hasTime = false;
            if (parseTimestamp(*s, ts, hasTime)) return ts;
        }
        cannotConvert();
    }

    bool boolean() const {
        if (const auto* b = std::get_if<bool>(&m_value)) return *b;
        if (const auto* i = std::get_if<int64_t>(&m_value)) {
            if (*i == 0 || *i == 1) return *i == 1;
        }
        if (const auto* s = std::get_if<std::string>(&m_value)) {
            const auto t = trimmed(*s);
            if (equalsNoCase(t, "true") || t == "1") return true;
            if (equalsNoCase(t, "false") || t == "0") return false;
        }
        cannotConvert();
    }

    std::string text() const { return valueText(m_value); }

  private:
    Time checked(const Time& t) const {
        if (t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 ||
            t.second > 59 || t.fraction < 0 || t.fraction > 9999)
            cannotConvert();
        return t;
    }

    const Column& m_column;
    const Value& m_value;
    std::string_view m_owner;
};

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
    const Converter convert(c, value, owner);
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
            *reinterpret_cast<short*>(message + c.nullOffset) = 0;
            return convert.text();
        case Kind::Other:
            convert.cannotConvert();
    }
    *reinterpret_cast<short*>(message + c.nullOffset) = 0;
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
    *reinterpret_cast<short*>(message + c.nullOffset) = 0;
}

// --- statement text -------------------------------------------------------------------------

namespace {

void skipSpaceAndComments(std::string_view s, size_t& i) {
    for (;;) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        if (s.compare(i, 2, "/*") == 0) {
            const auto end = s.find("*/", i + 2);
            i = end == std::string_view::npos ? s.size() : end + 2;
        } else if (s.compare(i, 2, "--") == 0) {
            const auto end = s.find('\n', i);
            i = end == std::string_view::npos ? s.size() : end + 1;
        } else {
            return;
        }
    }
}

bool keywordAt(std::string_view s, size_t i, std::string_view word) {
    if (s.size() - i < word.size() || !equalsNoCase(s.substr(i, word.size()), word)) return false;
    const size_t after = i + word.size();
    return after == s.size() || !(std::isalnum(static_cast<unsigned char>(s[after])) ||
                                  s[after] == '_' || s[after] == '$');
}

// Skips the argument of FIRST or SKIP: a number, a parameter or a parenthesised expression.
bool skipLimitArgument(std::string_view s, size_t& i) {
    skipSpaceAndComments(s, i);
    if (i < s.size() && s[i] == '(') {
        int depth = 0;
        for (; i < s.size(); ++i) {
            if (s[i] == '(') ++depth;
            if (s[i] == ')' && --depth == 0) {
                ++i;
                return true;
            }
        }
        return false;
    }
    const size_t start = i;
    while (i < s.size() && (isDigit(s[i]) || s[i] == '?')) ++i;
    return i > start;
}

}  // namespace

std::optional<std::string> withDbKey(std::string_view sql) {
    size_t i = 0;
    skipSpaceAndComments(sql, i);
    if (!keywordAt(sql, i, "select")) return std::nullopt;
    i += 6;
    for (;;) {
        skipSpaceAndComments(sql, i);
        if (keywordAt(sql, i, "first") || keywordAt(sql, i, "skip")) {
            i += keywordAt(sql, i, "first") ? 5 : 4;
            if (!skipLimitArgument(sql, i)) return std::nullopt;
            continue;
        }
        if (keywordAt(sql, i, "distinct")) return std::nullopt;  // rows are not table rows
        if (keywordAt(sql, i, "all")) {
            i += 3;
            continue;
        }
        break;
    }
    std::string result(sql.substr(0, i));
    result += "RDB$DB_KEY, ";
    result += sql.substr(i);
    return result;
}

std::string quoteName(std::string_view name) {
    std::string quoted = "\"";
    for (char c : name) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    quoted += '"';
    return quoted;
}

}  // namespace tarvolen::database::fb
