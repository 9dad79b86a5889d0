#pragma once
// Shared by the binary packet tests: a little-endian byte builder for hand-made packets, the
// decoding and encoding errors as text, layout helpers, packet comparison, and two sample
// packets (every field type; the plan layout with a change log).

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "plan/Errors.h"
#include "plan/FieldTypes.h"
#include "plan/PacketCodec.h"

namespace tarvolen::binarytest {

constexpr uint32_t kMagic = 0xBDE01996u;
constexpr size_t kHeaderSize = 24;

// Little-endian byte builder for hand-made packets.
class Bytes {
  public:
    Bytes& u8(uint8_t v) {
        m_bytes.push_back(static_cast<char>(v));
        return *this;
    }
    Bytes& u16(uint16_t v) { return u8(static_cast<uint8_t>(v)).u8(static_cast<uint8_t>(v >> 8)); }
    Bytes& u32(uint32_t v) {
        return u16(static_cast<uint16_t>(v)).u16(static_cast<uint16_t>(v >> 16));
    }
    Bytes& f64(double v) {
        uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        return u32(static_cast<uint32_t>(bits)).u32(static_cast<uint32_t>(bits >> 32));
    }
    Bytes& raw(std::string_view s) {
        m_bytes.append(s);
        return *this;
    }
    // Length-prefixed name of a field or attribute.
    Bytes& name(std::string_view s) { return u8(static_cast<uint8_t>(s.size())).raw(s); }
    const std::string& str() const { return m_bytes; }
    size_t size() const { return m_bytes.size(); }

  private:
    std::string m_bytes;
};

inline Bytes header(uint16_t fieldCount, uint32_t rowCount, uint32_t properties = 1,
                    uint16_t rowOffset = 0) {
    Bytes b;
    b.u32(kMagic).u16(1).u16(0).u32(kHeaderSize).u16(fieldCount).u32(rowCount);
    return b.u32(properties).u16(rowOffset);
}

// Message of the EDBClient error a decode throws, or "decoded".
inline std::string decodeError(const std::function<DataPacket()>& decode) {
    try {
        decode();
    } catch (const EDBClient& e) {
        return e.what();
    }
    return "decoded";
}
inline std::string binaryError(std::string_view bytes) {
    return decodeError([&] { return decodeBinaryPacket(bytes); });
}
inline std::string xmlEncodeError(const DataPacket& packet) {
    try {
        encodeXmlPacket(packet);
    } catch (const EDBClient& e) {
        return e.what();
    }
    return "encoded";
}
inline std::string encodeError(const DataPacket& packet) {
    try {
        encodeBinaryPacket(packet);
    } catch (const EDBClient& e) {
        return e.what();
    }
    return "encoded";
}

inline const std::string kMismatch = "Mismatch in datapacket.";
inline const std::string kNoMetaData = "Datapacket contains no meta data.";
inline const std::string kInvalidFieldType = "Invalid field type.";
inline const std::string kNullFieldName = "Field name can't be null, datapacket may be corrupted";
inline const std::string kInvalidParameter = "Invalid parameter.";

inline Attribute attr(std::string name, uint32_t typeWord, FieldValue value) {
    Attribute a;
    a.name = std::move(name);
    a.typeWord = typeWord;
    a.value = std::move(value);
    return a;
}

inline FieldDef field(std::string name, FieldType type, uint32_t typeWord,
                      std::vector<Attribute> attributes = {}, uint16_t bits = 0) {
    FieldDef f;
    f.name = std::move(name);
    f.type = type;
    f.typeWord = typeWord;
    f.bits = bits;
    f.attributes = std::move(attributes);
    return f;
}

inline Attribute width(int64_t w) {
    return attr("WIDTH", typeword::kUInt16, w);
}
inline Attribute subtype(std::string s) {
    return attr("SUBTYPE", typeword::kString2, std::move(s));
}

inline void expectSameAttributes(const std::vector<Attribute>& actual,
                                 const std::vector<Attribute>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("attribute " + expected[i].name);
        EXPECT_EQ(actual[i].name, expected[i].name);
        EXPECT_EQ(actual[i].typeWord, expected[i].typeWord);
        EXPECT_TRUE(sameValue(actual[i].value, expected[i].value));
    }
}

inline void expectSamePacket(const DataPacket& actual, const DataPacket& expected) {
    ASSERT_EQ(actual.fields.size(), expected.fields.size());
    for (size_t i = 0; i < expected.fields.size(); ++i) {
        SCOPED_TRACE("field " + expected.fields[i].name);
        EXPECT_EQ(actual.fields[i].name, expected.fields[i].name);
        EXPECT_EQ(actual.fields[i].type, expected.fields[i].type);
        EXPECT_EQ(actual.fields[i].typeWord, expected.fields[i].typeWord);
        EXPECT_EQ(actual.fields[i].bits, expected.fields[i].bits);
        expectSameAttributes(actual.fields[i].attributes, expected.fields[i].attributes);
    }
    expectSameAttributes(actual.attributes, expected.attributes);
    EXPECT_EQ(actual.changeLog, expected.changeLog);
    ASSERT_EQ(actual.rows.size(), expected.rows.size());
    for (size_t r = 0; r < expected.rows.size(); ++r) {
        EXPECT_EQ(actual.rows[r].status, expected.rows[r].status) << "row " << r;
        ASSERT_EQ(actual.rows[r].values.size(), expected.rows[r].values.size()) << "row " << r;
        for (size_t i = 0; i < expected.rows[r].values.size(); ++i) {
            EXPECT_TRUE(sameValue(actual.rows[r].values[i], expected.rows[r].values[i]))
                << "row " << r << ", field " << expected.fields[i].name;
        }
    }
}

inline uint32_t readU32(const std::string& b, size_t at) {
    uint32_t v = 0;
    for (size_t i = 4; i-- > 0;) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}
inline uint16_t readU16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                                 (static_cast<unsigned char>(b[at + 1]) << 8));
}

// Sample packets
inline DataPacket everyFieldType() {
    using namespace typeword;
    DataPacket p;
    p.fields = {
        field("I2", FieldType::Int16, kInt16),
        field("I4", FieldType::Int32, kInt32, {subtype("Autoinc")}, fieldbits::kReadOnly),
        field("I8", FieldType::Int64, kInt64),
        field("UI2", FieldType::UInt16, kUInt16),
        field("UI4", FieldType::UInt32, kUInt32),
        field("FLAG", FieldType::Boolean, kBoolean),
        field("R8", FieldType::Float, kFloat, {subtype("Money")}),
        field("AMOUNT", FieldType::Bcd, kBcdClass | 11,
              {attr("DECIMALS", kUInt16, int64_t{2}), width(18)}),
        field("RATE", FieldType::FmtBcd, kFmtBcdClass | 5, {width(6)}),
        field("DAY", FieldType::Date, kDate),
        field("AT", FieldType::Time, kTime),
        field("WHEN", FieldType::DateTime, kDateTime),
        field("STAMP", FieldType::SqlTimeStamp, kSqlTimeStamp),
        field("NAME", FieldType::String, kString1, {width(20)}, fieldbits::kRequired),
        field("LONG", FieldType::String, kString2, {width(300)}),
        field("WNAME", FieldType::WideString, kWideString1, {width(20)}),
        field("WLONG", FieldType::WideString, kWideString2, {width(200)}),
        field("MEMO", FieldType::Blob, kBlob, {subtype("Text")}, fieldbits::kHidden),
        field("RAW", FieldType::Bytes, kBytesClass | 4, {width(4)}, fieldbits::kLinkField),
    };
    RowVersion extremes;
    extremes.values = {
        int64_t{-32768},
        int64_t{std::numeric_limits<int32_t>::min()},
        int64_t{std::numeric_limits<int64_t>::min()},
        int64_t{65535},
        int64_t{4294967295},
        true,
        -1.5e300,
        std::string("-123.45"),
        std::string("0.05"),
        int64_t{738945},
        int64_t{86399999},
        738945.0 * 86400000.0 + 1.0,
        SqlTimeStamp{2024, 2, 29, 23, 59, 58, 999},
        std::string("Citt\xE0 \"a\"\t"),
        std::string(300, 'x'),
        std::u16string(u"Zo\u00EB \u20AC"),
        std::u16string(200, u'\u4E2D'),
        makeBlob(std::string("two\r\nlines\0with zero", 20)),
        std::string("\x00\x01\xFE\xFF", 4),
    };
    RowVersion empties;
    empties.values = {
        int64_t{32767},
        int64_t{std::numeric_limits<int32_t>::max()},
        int64_t{std::numeric_limits<int64_t>::max()},
        int64_t{0},
        int64_t{0},
        false,
        0.0,
        std::string("9999999999999999.99"),
        std::string("0"),
        int64_t{1},  // the first day and the first moment each type can say
        int64_t{0},
        86400000.0,
        SqlTimeStamp{1, 1, 1, 0, 0, 0, 0},
        std::string(),
        std::string(),
        std::u16string(),
        std::u16string(),
        makeBlob(""),
        std::string(4, '\0'),
    };
    RowVersion nulls;
    nulls.values.resize(p.fields.size());
    p.rows = {extremes, empties, nulls};
    return p;
}

// The plan layout after an edit: carried-over blobs (also along a chain), a stored change, an
// insert and a delete, with field and dataset attributes of several types.
inline DataPacket planWithChangeLog() {
    using namespace typeword;
    DataPacket p;
    p.fields = {
        field("ID", FieldType::Int32, kInt32, {subtype("Autoinc")}, fieldbits::kRequired),
        field("STATO", FieldType::String, kString1, {width(1)}),
        field("TESTO", FieldType::Blob, kBlob, {subtype("Text")}),
    };
    p.attributes = {
        attr("DEFAULT_ORDER", kArray | kUInt16, IntArray{1}),
        attr("AUTOINCVALUE", kInt32, int64_t{4}),
        attr("READONLY", kBoolean, false),
        attr("SCALE", kFloat, 0.25),
        attr("NOTE", kString2, std::string("carried through")),
        attr("OFFSETS", kIntArray, IntArray{-1, 0, 2147483647}),
    };
    const std::string script(5000, 's');
    auto row = [](uint8_t status, int64_t id, const char* stato, FieldValue testo) {
        RowVersion r;
        r.status = status;
        r.values = {id, std::string(stato), std::move(testo)};
        return r;
    };
    using namespace rowstate;
    p.rows = {
        row(kSuperseded, 1, "N", makeBlob(script)),
        row(kModified | kSuperseded, 1, "S", makeBlob(script)),
        row(kModified, 1, "D", makeBlob(script)),
        row(kInserted | kSuperseded, 2, "N", makeBlob("first")),
        row(kModified, 2, "N", makeBlob("second")),
        row(kDeleted, 3, "N", FieldValue{}),
    };
    p.changeLog = {{1, 0, 4}, {2, 1, 8}, {3, 2, 8}, {4, 0, 4}, {5, 4, 8}, {6, 0, 2}};
    return p;
}

inline DataPacket layoutWithoutRows() {
    DataPacket p = planWithChangeLog();
    p.rows.clear();
    p.changeLog.clear();
    p.attributes.clear();
    return p;
}

}  // namespace tarvolen::binarytest
