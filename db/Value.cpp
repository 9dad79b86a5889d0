#include "db/Value.h"

#include <charconv>
#include <cstdio>

namespace tarvolen::database {

namespace {

// Sized for any int in every field, so a value out of its range shows whole in errors.
std::string dateText(const Date& d) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
    return buf;
}

std::string timeText(const Time& t) {
    char buf[64];
    if (t.fraction != 0)
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%04d", t.hour, t.minute, t.second,
                      t.fraction);
    else
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buf;
}

}  // namespace

std::string valueText(const Value& value) {
    struct Visitor {
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(bool b) const { return b ? "True" : "False"; }
        std::string operator()(int64_t i) const { return std::to_string(i); }
        std::string operator()(double d) const {
            char buf[64];
            const auto result = std::to_chars(buf, buf + sizeof buf, d);
            return std::string(buf, result.ptr);
        }
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(const Date& d) const { return dateText(d); }
        std::string operator()(const Time& t) const { return timeText(t); }
        std::string operator()(const Timestamp& ts) const {
            return dateText(ts.date) + " " + timeText(ts.time);
        }
    };
    return std::visit(Visitor{}, value);
}

}  // namespace tarvolen::database
