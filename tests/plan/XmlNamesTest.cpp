// Field names in the XML form: every character that may not stand in an XML name is replaced,
// the whole name travels in `fieldname`, and no two fields (nor a field and the row status)
// share a ROW attribute.

#include <gtest/gtest.h>

#include <set>

#include "plan/PacketCodec.h"

namespace tarvolen {
namespace {

DataPacket integerFields(const std::vector<std::string>& names) {
    DataPacket p;
    std::vector<FieldValue> values(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        FieldDef f;
        f.name = names[i];
        f.type = FieldType::Int32;
        f.typeWord = typeword::kInt32;
        p.fields.push_back(f);
        values[i].emplace<int64_t>(static_cast<int64_t>(i + 1));
    }
    p.rows.append(rowstate::kUnchanged, values);
    return p;
}

// The FIELD attributes `fieldname` and `attrname` the writer gives each field.
std::vector<std::pair<std::string, std::string>> writtenNames(const std::string& xml) {
    std::vector<std::pair<std::string, std::string>> names;
    for (size_t at = xml.find("<FIELD "); at != std::string::npos;
         at = xml.find("<FIELD ", at + 1)) {
        const std::string tag = xml.substr(at, xml.find("/>", at) - at);
        auto value = [&](const std::string& attribute) {
            const size_t start = tag.find(" " + attribute + "=\"");
            if (start == std::string::npos) return std::string("(none)");
            const size_t from = start + attribute.size() + 3;
            return tag.substr(from, tag.find('"', from) - from);
        };
        names.emplace_back(value("fieldname"), value("attrname"));
    }
    return names;
}

TEST(XmlNames, replacesEveryCharacterThatCannotStandInAName) {
    struct Case {
        std::string name;
        std::string attrname;  // "(unchanged)": written as it is, without fieldname
        std::string fieldname;
    };
    const Case cases[] = {
        {"NOME_FILE", "(unchanged)", "(none)"},
        {"x.y-z9", "(unchanged)", "(none)"},
        {"Citt\xE0", "(unchanged)", "(none)"},  // letters above 127, as Windows-1252 reads them
        {"\x8A"
         "a\x9F\xB7",
         "(unchanged)", "(none)"},       // S caron, Y diaeresis, middle dot
        {"\x80uro", "_uro", "\x80uro"},  // no parser of the fourth edition's rules takes a euro
        {"\xB7x", "_x", "\xB7x"},        // the middle dot may not start a name
        {"A B", "A_B", "A B"},
        {"Cod (old)#1", "Cod__old__1", "Cod (old)#1"},
        {"a&b", "a_b", "a&amp;b"},
        {"it's", "it_s", "it&apos;s"},
        {"a;b,c", "a_b_c", "a;b,c"},
        {"C:\\x", "C__x", "C:&#092;x"},
        {"[x]", "_x_", "[x]"},
        {"1abc", "_abc", "1abc"},
        {"-x", "_x", "-x"},
        {".x", "_x", ".x"},
        {"a\x81"
         "b",
         "a_b",
         "a\x81"
         "b"},  // a byte the code page lacks
        {"a\xA7"
         "b",
         "a_b",
         "a\xA7"
         "b"},  // the section sign is no letter
        {"t\tab", "t_ab", "t&#009;ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DataPacket p = integerFields({c.name});
        const std::string xml = encodeXmlPacket(p);
        const auto names = writtenNames(xml);
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(names[0].first, c.fieldname);
        EXPECT_EQ(names[0].second, c.attrname == "(unchanged)" ? c.name : c.attrname);
        const DataPacket back = decodeXmlPacket(xml);
        EXPECT_EQ(back.fields[0].name, c.name);
        EXPECT_EQ(back.rows.value(0, 0), FieldValue{int64_t{1}});
    }
}

TEST(XmlNames, noTwoFieldsShareARowAttributeAndNoneIsRowState) {
    const std::vector<std::string> names = {"A B", "A_B",   "RowState", "RowState_1", "X",
                                            "X",   "A_B_1", "1",        "_"};
    const DataPacket p = integerFields(names);
    const std::string xml = encodeXmlPacket(p);
    std::set<std::string> attrnames;
    for (const auto& [fieldname, attrname] : writtenNames(xml)) {
        EXPECT_NE(attrname, "RowState");
        EXPECT_TRUE(attrnames.insert(attrname).second) << attrname << " twice in " << xml;
    }
    // Names that need no change keep them.
    EXPECT_EQ(attrnames.count("A_B"), 1u);
    EXPECT_EQ(writtenNames(xml)[1], (std::pair<std::string, std::string>{"(none)", "A_B"}));

    const DataPacket back = decodeXmlPacket(xml);
    ASSERT_EQ(back.fields.size(), names.size());
    EXPECT_EQ(back.rows.status(0), 0);
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(back.fields[i].name, names[i]);
        EXPECT_EQ(back.rows.value(0, i), FieldValue{static_cast<int64_t>(i + 1)});
    }
    EXPECT_EQ(encodeXmlPacket(back), xml);
}

}  // namespace
}  // namespace tarvolen
