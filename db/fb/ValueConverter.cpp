#include "ValueConverter.h"

#include <cmath>
#include <limits>

#include "db/DatabaseError.h"
#include "db/ValueParsing.h"

namespace tarvolen::database::fb {

namespace {

__extension__ typedef __int128 Int128;  // exact decimal arithmetic, past int64 before checks

}  // namespace

void ValueConverter::cannotConvert() const {
    std::string shown = valueText(m_value);
    if (std::holds_alternative<std::string>(m_value)) shown = "\"" + shown + "\"";
    throw DatabaseError(std::string(m_owner) + ": cannot convert " + shown + " to " +
                        typeName(m_column) + " for column \"" + m_column.name + "\"");
}

void ValueConverter::outOfRange() const {
    throw DatabaseError(std::string(m_owner) + ": value " + valueText(m_value) +
                        " is out of range for column \"" + m_column.name + "\" (" +
                        typeName(m_column) + ")");
}

void ValueConverter::tooLong(size_t bytes) const {
    throw DatabaseError(std::string(m_owner) + ": text of " + std::to_string(bytes) +
                        " bytes is too long for column \"" + m_column.name + "\" (" +
                        typeName(m_column) + ")");
}

int64_t ValueConverter::scaledInteger() const {
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
        const double v = std::round(*d * std::pow(10.0, scale));
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
            case ParseOutcome::Ok:
                return v;
            case ParseOutcome::Overflow:
                outOfRange();
            case ParseOutcome::NotNumber:
                cannotConvert();
        }
    }
    cannotConvert();
}

double ValueConverter::floating() const {
    if (const auto* i = std::get_if<int64_t>(&m_value)) return static_cast<double>(*i);
    if (const auto* d = std::get_if<double>(&m_value)) {
        // NaN and infinities are no number a column can hold, as in text.
        if (std::isfinite(*d)) return *d;
        cannotConvert();
    }
    if (const auto* b = std::get_if<bool>(&m_value)) return *b ? 1.0 : 0.0;
    if (const auto* s = std::get_if<std::string>(&m_value)) {
        if (const auto v = parseDouble(*s)) return *v;
    }
    cannotConvert();
}

Date ValueConverter::date() const {
    if (const auto* d = std::get_if<Date>(&m_value)) {
        if (!validDate(*d)) cannotConvert();
        return *d;
    }
    if (const auto* ts = std::get_if<Timestamp>(&m_value)) return ts->date;
    if (const auto* s = std::get_if<std::string>(&m_value)) {
        if (const auto d = parseDate(*s)) return *d;
    }
    cannotConvert();
}

Time ValueConverter::time() const {
    if (const auto* t = std::get_if<Time>(&m_value)) return checked(*t);
    if (const auto* ts = std::get_if<Timestamp>(&m_value)) return checked(ts->time);
    if (const auto* s = std::get_if<std::string>(&m_value)) {
        if (const auto t = parseTime(*s)) return *t;
    }
    cannotConvert();
}

Timestamp ValueConverter::timestamp() const {
    if (const auto* ts = std::get_if<Timestamp>(&m_value)) {
        if (!validDate(ts->date)) cannotConvert();
        return {ts->date, checked(ts->time)};
    }
    if (const auto* d = std::get_if<Date>(&m_value)) {
        if (!validDate(*d)) cannotConvert();
        return {*d, {}};
    }
    if (const auto* s = std::get_if<std::string>(&m_value)) {
        if (const auto ts = parseTimestamp(*s)) return *ts;
    }
    cannotConvert();
}

bool ValueConverter::boolean() const {
    if (const auto* b = std::get_if<bool>(&m_value)) return *b;
    if (const auto* i = std::get_if<int64_t>(&m_value)) {
        if (*i == 0 || *i == 1) return *i == 1;
    }
    if (const auto* s = std::get_if<std::string>(&m_value)) {
        if (const auto b = parseBoolean(*s)) return *b;
    }
    cannotConvert();
}

std::string ValueConverter::text() const {
    return valueText(m_value);
}

Time ValueConverter::checked(const Time& t) const {
    if (!validTime(t)) cannotConvert();
    return t;
}

}  // namespace tarvolen::database::fb
