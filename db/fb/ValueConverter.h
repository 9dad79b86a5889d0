#pragma once
// Private to db/: a value converted to what a column of the given type can hold, with the
// errors that name the column when it cannot.

#include <cstdint>
#include <string>
#include <string_view>

#include "MessageCodec.h"
#include "db/Value.h"

namespace tarvolen::database::fb {

// Each reading throws DatabaseError "<owner>: cannot convert ..." when the value has no such
// reading; the caller checks the range of its own column type with outOfRange()/tooLong().
class ValueConverter {
  public:
    ValueConverter(const Column& column, const Value& value, std::string_view owner)
        : m_column(column), m_value(value), m_owner(owner) {}

    [[noreturn]] void cannotConvert() const;
    [[noreturn]] void outOfRange() const;
    [[noreturn]] void tooLong(size_t bytes) const;

    // The value as an integer scaled to the column's decimals, rounded half away from zero.
    int64_t scaledInteger() const;
    // A finite number.
    double floating() const;
    Date date() const;
    Time time() const;
    Timestamp timestamp() const;
    bool boolean() const;
    // The value's text (valueText).
    std::string text() const;

  private:
    Time checked(const Time& time) const;

    const Column& m_column;
    const Value& m_value;
    std::string_view m_owner;
};

}  // namespace tarvolen::database::fb
