// One rule for both forms: a layout that does not say what either form needs to read its values
// back alike is refused by both readers and both writers with "Invalid parameter.", so that no
// packet that loads writes something that cannot be read back.

#include <gtest/gtest.h>

#include "BinaryPacketSupport.h"

namespace tarvolen {
namespace {

using namespace binarytest;

struct LayoutCase {
    const char* name;
    FieldType type;
    uint32_t typeWord;
    std::optional<int> width;            // WIDTH, when the field has one
    std::optional<std::string> subtype;  // SUBTYPE, when the field has one
    const char* xmlType;                 // its `fieldtype`; nullptr: XML cannot say it
};

std::string binaryWith(const LayoutCase& c) {
    Bytes b = header(1, 0);
    b.name("F").u32(c.typeWord).u16(0);
    b.u16(static_cast<uint16_t>((c.width ? 1 : 0) + (c.subtype ? 1 : 0)));
    if (c.width) b.name("WIDTH").u32(typeword::kInt32).u32(static_cast<uint32_t>(*c.width));
    if (c.subtype) {
        b.name("SUBTYPE").u32(typeword::kString2).u16(static_cast<uint16_t>(c.subtype->size() + 1));
        b.raw(*c.subtype).u8(0);
    }
    b.u16(0);
    return b.str();
}

std::string xmlWith(const LayoutCase& c) {
    std::string field = std::string("<FIELD attrname=\"F\" fieldtype=\"") + c.xmlType + "\"";
    if (c.subtype) field += " SUBTYPE=\"" + *c.subtype + "\"";
    if (c.width) field += " WIDTH=\"" + std::to_string(*c.width) + "\"";
    return "<DATAPACKET><METADATA><FIELDS>" + field +
           "/></FIELDS><PARAMS/></METADATA><ROWDATA/></DATAPACKET>";
}

DataPacket packetWith(const LayoutCase& c) {
    std::vector<Attribute> attributes;
    if (c.subtype) attributes.push_back(subtype(*c.subtype));
    if (c.width) attributes.push_back(attr("WIDTH", typeword::kInt32, int64_t{*c.width}));
    DataPacket p;
    p.fields = {field("F", c.type, c.typeWord, attributes)};
    return p;
}

TEST(LayoutRule, bothFormsRefuseWhatTheOtherCouldNotReadBack) {
    using namespace typeword;
    const LayoutCase refused[] = {
        {"StringWithoutWidth", FieldType::String, kString1, {}, {}, "string"},
        {"StringWidthZero", FieldType::String, kString1, 0, {}, "string"},
        {"StringTooWide", FieldType::String, kString2, 40000, {}, "string"},
        {"WideWithoutWidth", FieldType::WideString, kWideString2, {}, {}, "string.uni"},
        {"WideTooWide", FieldType::WideString, kWideString2, 32768, {}, "string.uni"},
        {"BytesWithoutWidth", FieldType::Bytes, kBytesClass | 4, {}, {}, "bin.hex"},
        {"BytesTooWide", FieldType::Bytes, kBytesClass | 0xFFFF, 65535, {}, "bin.hex"},
        {"BytesOtherThanTheirSize", FieldType::Bytes, kBytesClass | 4, 8, {}, nullptr},
        {"BlobWithoutSubtype", FieldType::Blob, kBlob, {}, {}, nullptr},
        {"DecimalTooPrecise", FieldType::Bcd, kBcdClass | 34, 65, {}, "fixed"},
        {"DecimalOtherThanItsRecord", FieldType::Bcd, kBcdClass | 34, 18, {}, nullptr},
        {"DecimalWithoutWidthOtherThanItsRecord",
         FieldType::FmtBcd,
         kFmtBcdClass | 5,
         {},
         {},
         nullptr},
    };
    for (const LayoutCase& c : refused) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(binaryError(binaryWith(c)), kInvalidParameter);
        if (c.xmlType != nullptr) {
            EXPECT_EQ(decodeError([&] { return decodeXmlPacket(xmlWith(c)); }), kInvalidParameter);
        }
        EXPECT_EQ(encodeError(packetWith(c)), kInvalidParameter);
        EXPECT_EQ(xmlEncodeError(packetWith(c)), kInvalidParameter);
    }

    const LayoutCase accepted[] = {
        {"String", FieldType::String, kString1, 1, {}, "string"},
        {"WidestString", FieldType::String, kString2, 32767, {}, "string"},
        {"Wide", FieldType::WideString, kWideString1, 20, {}, "string.uni"},
        {"Bytes", FieldType::Bytes, kBytesClass | 4, 4, {}, "bin.hex"},
        {"Blob", FieldType::Blob, kBlob, {}, std::string("Binary"), "bin.hex"},
        {"Decimal", FieldType::Bcd, kBcdClass | 11, 18, {}, "fixed"},
        {"DecimalWithoutWidth", FieldType::FmtBcd, kFmtBcdClass | 18, {}, {}, "fixedFMT"},
    };
    for (const LayoutCase& c : accepted) {
        SCOPED_TRACE(c.name);
        const DataPacket fromBinary = decodeBinaryPacket(binaryWith(c));
        const DataPacket fromXml = decodeXmlPacket(xmlWith(c));
        EXPECT_EQ(fromBinary.fields[0].type, c.type);
        EXPECT_EQ(fromXml.fields[0].type, c.type);
        EXPECT_EQ(encodeXmlPacket(fromBinary), encodeXmlPacket(fromXml));
    }
}

}  // namespace
}  // namespace tarvolen
