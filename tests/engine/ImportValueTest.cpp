// The conversion of a data file's values for the database layer, which needs no database.

#include "engine/ImportValue.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "db/DatabaseError.h"

namespace tarvolen {
namespace {

FieldDef field(const std::string& name, FieldType type, const std::string& subtype = {}) {
    FieldDef f;
    f.name = name;
    f.type = type;
    if (!subtype.empty()) f.attributes.push_back({"SUBTYPE", typeword::kString2, subtype});
    return f;
}

std::string errorOf(const FieldDef& f, const FieldValue& value) {
    try {
        importValue(f, value);
    } catch (const database::DatabaseError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(ImportValue, givesEachFieldTypeItsDatabaseValue) {
    SqlTimeStamp ts;
    ts.year = 2024;
    ts.month = 2;
    ts.day = 29;
    ts.hour = 13;
    ts.minute = 5;
    ts.second = 7;
    ts.millisecond = 250;
    struct Case {
        FieldDef field;
        FieldValue value;
        database::Value expected;
    };
    const Case cases[] = {
        {field("N", FieldType::Int32), int64_t{-7}, int64_t{-7}},
        {field("N", FieldType::Int32), FieldValue{}, std::monostate{}},
        {field("L", FieldType::Int64), std::numeric_limits<int64_t>::min(),
         std::numeric_limits<int64_t>::min()},
        {field("B", FieldType::Boolean), true, true},
        {field("F", FieldType::Float), 2.5, 2.5},
        {field("C", FieldType::Bcd), std::string("-12.50"), std::string("-12.50")},
        {field("S", FieldType::String), std::string("testo"), std::string("testo")},
        {field("D", FieldType::Date), int64_t{730179}, database::Date{2000, 2, 29}},
        {field("T", FieldType::Time), int64_t{(13 * 3600 + 5 * 60 + 7) * 1000 + 250},
         database::Time{13, 5, 7, 2500}},
        {field("DT", FieldType::DateTime), 730179.0 * 86400000 + 1000,
         database::Timestamp{{2000, 2, 29}, {0, 0, 1, 0}}},
        {field("TS", FieldType::SqlTimeStamp), ts,
         database::Timestamp{{2024, 2, 29}, {13, 5, 7, 2500}}},
        {field("W", FieldType::WideString), std::u16string(u"caf\u00e9"), std::string("caf\xE9")},
        {field("M", FieldType::Blob, "Text"), makeBlob("memo"), std::string("memo")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(importValue(c.field, c.value), c.expected) << c.field.name;
    }
}

// A value of another alternative than its field's type holds (possible in a table filled
// through field objects, never in one read from a file) is an error that names the field, not a
// bad_variant_access and not a silent null.
TEST(ImportValue, refusesAValueOfAnotherKindThanItsFieldNamingTheField) {
    struct Case {
        FieldDef field;
        FieldValue value;
        std::string message;
    };
    const Case cases[] = {
        {field("NATO", FieldType::Date), 2.5,
         "The data file's field NATO (Date) holds a value of another type"},
        {field("ORA", FieldType::Time), std::string("12:00"),
         "The data file's field ORA (Time) holds a value of another type"},
        {field("QUANDO", FieldType::DateTime), int64_t{1},
         "The data file's field QUANDO (DateTime) holds a value of another type"},
        {field("TS", FieldType::SqlTimeStamp), int64_t{1},
         "The data file's field TS (TimeStamp) holds a value of another type"},
        {field("NOTE", FieldType::Blob, "Text"), std::string("testo"),
         "The data file's field NOTE (Memo) holds a value of another type"},
        {field("ID", FieldType::Int32), std::u16string(u"1"),
         "The data file's field ID (Integer) holds a value of another type"},
        {field("NOME", FieldType::String), IntArray{1, 2},
         "The data file's field NOME (String) holds a value of another type"},
        {field("W", FieldType::WideString), std::string("x"),
         "The data file's field W (WideString) holds a value of another type"},
        {field("F", FieldType::Float), int64_t{3},
         "The data file's field F (Float) holds a value of another type"},
    };
    for (const Case& c : cases) EXPECT_EQ(errorOf(c.field, c.value), c.message) << c.field.name;
}

}  // namespace
}  // namespace tarvolen
