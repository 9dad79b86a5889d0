// The binary data packet: round trips over every field type, hand-built byte fixtures for the
// layout rules and each decoding error, and the bytes the writer emits.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>

#include "plan/Errors.h"
#include "plan/FieldTypes.h"
#include "plan/PacketCodec.h"

namespace tarvolen {
namespace {

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

Bytes header(uint16_t fieldCount, uint32_t rowCount, uint32_t properties = 1,
             uint16_t rowOffset = 0) {
    Bytes b;
    b.u32(kMagic).u16(1).u16(0).u32(kHeaderSize).u16(fieldCount).u32(rowCount);
    return b.u32(properties).u16(rowOffset);
}

// Message of the EDBClient error a decode throws, or "decoded".
std::string decodeError(const std::function<DataPacket()>& decode) {
    try {
        decode();
    } catch (const EDBClient& e) {
        return e.what();
    }
    return "decoded";
}
std::string binaryError(std::string_view bytes) {
    return decodeError([&] { return decodeBinaryPacket(bytes); });
}
std::string encodeError(const DataPacket& packet) {
    try {
        encodeBinaryPacket(packet);
    } catch (const EDBClient& e) {
        return e.what();
    }
    return "encoded";
}

const std::string kMismatch = "Mismatch in datapacket.";
const std::string kNoMetaData = "Datapacket contains no meta data.";
const std::string kInvalidFieldType = "Invalid field type.";
const std::string kNullFieldName = "Field name can't be null, datapacket may be corrupted";
const std::string kInvalidParameter = "Invalid parameter.";

Attribute attr(std::string name, uint32_t typeWord, FieldValue value) {
    Attribute a;
    a.name = std::move(name);
    a.typeWord = typeWord;
    a.value = std::move(value);
    return a;
}

FieldDef field(std::string name, FieldType type, uint32_t typeWord,
               std::vector<Attribute> attributes = {}, uint16_t bits = 0) {
    FieldDef f;
    f.name = std::move(name);
    f.type = type;
    f.typeWord = typeWord;
    f.bits = bits;
    f.attributes = std::move(attributes);
    return f;
}

Attribute width(int64_t w) {
    return attr("WIDTH", typeword::kUInt16, w);
}
Attribute subtype(std::string s) {
    return attr("SUBTYPE", typeword::kString2, std::move(s));
}

void expectSameAttributes(const std::vector<Attribute>& actual,
                          const std::vector<Attribute>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("attribute " + expected[i].name);
        EXPECT_EQ(actual[i].name, expected[i].name);
        EXPECT_EQ(actual[i].typeWord, expected[i].typeWord);
        EXPECT_TRUE(sameValue(actual[i].value, expected[i].value));
    }
}

void expectSamePacket(const DataPacket& actual, const DataPacket& expected) {
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

// ---------------------------------------------------------------------------------------------
// Round trips

DataPacket everyFieldType() {
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
        int64_t{1},
        int64_t{0},
        0.0,
        SqlTimeStamp{},
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
DataPacket planWithChangeLog() {
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

DataPacket layoutWithoutRows() {
    DataPacket p = planWithChangeLog();
    p.rows.clear();
    p.changeLog.clear();
    p.attributes.clear();
    return p;
}

struct RoundTripCase {
    const char* name;
    std::function<DataPacket()> make;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << c.name;
}

class BinaryRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(BinaryRoundTrip, decodesToTheSamePacketAndReencodesToTheSameBytes) {
    const DataPacket original = GetParam().make();
    const std::string bytes = encodeBinaryPacket(original);
    ASSERT_TRUE(isBinaryPacket(bytes));
    const DataPacket decoded = decodePacket(bytes);
    expectSamePacket(decoded, original);
    EXPECT_EQ(encodeBinaryPacket(decoded), bytes);
}

TEST_P(BinaryRoundTrip, everyTruncationIsAMismatch) {
    const std::string bytes = encodeBinaryPacket(GetParam().make());
    for (size_t n = 0; n < bytes.size(); ++n) {
        ASSERT_EQ(binaryError(std::string_view(bytes).substr(0, n)), kMismatch) << n << " bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(BinaryLayouts, BinaryRoundTrip,
                         testing::Values(RoundTripCase{"EveryFieldType", everyFieldType},
                                         RoundTripCase{"PlanWithChangeLog", planWithChangeLog},
                                         RoundTripCase{"LayoutWithoutRows", layoutWithoutRows},
                                         RoundTripCase{"NoFields", [] { return DataPacket{}; }}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// What the writer emits

uint32_t readU32(const std::string& b, size_t at) {
    uint32_t v = 0;
    for (size_t i = 4; i-- > 0;) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}
uint16_t readU16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                                 (static_cast<unsigned char>(b[at + 1]) << 8));
}

TEST(BinaryWriter, headerPointsAtTheFirstRow) {
    const DataPacket packet = planWithChangeLog();
    const std::string bytes = encodeBinaryPacket(packet);
    EXPECT_EQ(readU32(bytes, 0), kMagic);
    EXPECT_EQ(readU16(bytes, 4), 1);
    EXPECT_EQ(readU16(bytes, 6), 0);
    EXPECT_EQ(readU32(bytes, 8), kHeaderSize);
    EXPECT_EQ(readU16(bytes, 12), packet.fields.size());
    EXPECT_EQ(readU32(bytes, 14), packet.rows.size());
    EXPECT_EQ(readU32(bytes, 18), 3u);
    // First row: status, one byte of field bits, then ID 1 and STATO "N".
    const std::string firstRow("\x01\x00\x01\x00\x00\x00\x01N", 8);
    EXPECT_EQ(bytes.substr(readU16(bytes, 22), firstRow.size()), firstRow);
}

TEST(BinaryWriter, omitsTheRowOffsetWhenItDoesNotFitSixteenBits) {
    DataPacket packet = planWithChangeLog();
    packet.attributes.push_back(attr("BIG1", typeword::kString2, std::string(40000, 'a')));
    packet.attributes.push_back(attr("BIG2", typeword::kString2, std::string(40000, 'b')));
    const std::string bytes = encodeBinaryPacket(packet);
    EXPECT_EQ(readU32(bytes, 18), 1u);
    EXPECT_EQ(readU16(bytes, 22), 0u);
    expectSamePacket(decodeBinaryPacket(bytes), packet);
}

size_t occurrences(const std::string& haystack, const std::string& needle) {
    size_t n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size())) {
        ++n;
    }
    return n;
}

TEST(BinaryWriter, storesABlobKeptByAnEditOnlyOnce) {
    const std::string bytes = encodeBinaryPacket(planWithChangeLog());
    EXPECT_EQ(occurrences(bytes, std::string(5000, 's')), 1u);
    EXPECT_EQ(occurrences(bytes, "first"), 1u);
    EXPECT_EQ(occurrences(bytes, "second"), 1u);
}

// Encodes one row holding `value` in a single field and returns that row's bytes.
std::string encodedRow(const FieldDef& f, const FieldValue& value) {
    DataPacket p;
    p.fields = {f};
    p.rows = {RowVersion{rowstate::kUnchanged, {value}}};
    const std::string bytes = encodeBinaryPacket(p);
    return bytes.substr(readU16(bytes, 22));
}

TEST(BinaryWriter, writesEachValueInItsStoredForm) {
    using namespace typeword;
    struct Case {
        const char* name;
        FieldDef field;
        FieldValue value;
        std::string row;  // status byte, field bits, value bytes
    };
    const Case cases[] = {
        {"Null", field("S", FieldType::String, kString1), FieldValue{}, std::string("\0\x01", 2)},
        {"EmptyText", field("S", FieldType::String, kString1), std::string(),
         std::string("\0\0\x01\0", 4)},
        {"TwoByteLength", field("S", FieldType::String, kString2), std::string("hi"),
         std::string("\0\0\x02\0hi", 6)},
        {"Wide", field("W", FieldType::WideString, kWideString1), std::u16string(u"h\u20AC"),
         std::string("\0\0\x04h\0\xAC\x20", 7)},
        {"True", field("B", FieldType::Boolean, kBoolean), true, std::string("\0\0\x01\0", 4)},
        {"NegativeDecimal", field("D", FieldType::Bcd, kBcdClass | 5), std::string("-123.45"),
         std::string("\0\0\x05\x82\x12\x34\x50", 7)},
        {"FractionOnly", field("D", FieldType::Bcd, kBcdClass | 4), std::string("0.05"),
         std::string("\0\0\x02\x02\x05\0", 6)},
        {"ShortBytes", field("R", FieldType::Bytes, kBytesClass | 4), std::string("ab"),
         std::string("\0\0ab\0\0", 6)},
        {"Timestamp", field("T", FieldType::SqlTimeStamp, kSqlTimeStamp),
         SqlTimeStamp{2024, 2, 29, 23, 59, 58, 999},
         std::string("\0\0\xE8\x07\x02\0\x1D\0\x17\0\x3B\0\x3A\0\xE7\x03\0\0", 18)},
        {"TypeWordFromType", field("S", FieldType::String, 0, {width(300)}), std::string("x"),
         std::string("\0\0\x01\0x", 5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(encodedRow(c.field, c.value), c.row);
    }
}

TEST(BinaryWriter, refusesValuesTheirFieldCannotHold) {
    using namespace typeword;
    struct Case {
        const char* name;
        FieldDef field;
        FieldValue value;
        std::string message;
    };
    const Case cases[] = {
        {"TextTooLong", field("S", FieldType::String, kString1), std::string(256, 'x'),
         kInvalidParameter},
        {"SmallIntOutOfRange", field("I", FieldType::Int16, kInt16), int64_t{40000},
         kInvalidParameter},
        {"NegativeWord", field("I", FieldType::UInt16, kUInt16), int64_t{-1}, kInvalidParameter},
        {"TooManyDigits", field("D", FieldType::Bcd, kBcdClass | 3), std::string("123"),
         kInvalidParameter},
        {"NotADecimal", field("D", FieldType::Bcd, kBcdClass | 5), std::string("1e5"),
         kInvalidParameter},
        {"BytesTooLong", field("R", FieldType::Bytes, kBytesClass | 2), std::string("abc"),
         kInvalidParameter},
        {"WrongAlternative", field("S", FieldType::String, kString1), int64_t{1},
         kInvalidParameter},
        {"NoName", field("", FieldType::Int32, kInt32), FieldValue{}, kNullFieldName},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DataPacket p;
        p.fields = {c.field};
        p.rows = {RowVersion{0, {c.value}}};
        EXPECT_EQ(encodeError(p), c.message);
    }
    DataPacket badAttribute;
    badAttribute.attributes = {attr("NESTED", 0x01000004u, int64_t{1})};
    EXPECT_EQ(encodeError(badAttribute), kInvalidFieldType);
}

// ---------------------------------------------------------------------------------------------
// Decoding hand-built packets

// A small valid packet: ID i4 (required) and NAME string WIDTH 10, AUTOINCVALUE 3, two rows,
// the second with NAME null. Options alter one thing at a time.
struct Fixture {
    uint32_t magic = kMagic;
    uint16_t major = 1;
    uint16_t minor = 0;
    uint32_t headerSize = kHeaderSize;
    uint16_t fieldCount = 2;
    uint32_t rowCount = 2;
    uint32_t properties = 3;
    int rowOffsetShift = 0;
    std::string idName = "ID";
    uint32_t idTypeWord = typeword::kInt32;
    std::string datasetAttributes =
        Bytes().u16(1).name("AUTOINCVALUE").u32(typeword::kInt32).u32(3).str();
    std::string trailer;

    std::string bytes() const {
        Bytes b;
        b.u32(magic).u16(major).u16(minor).u32(headerSize).u16(fieldCount).u32(rowCount);
        b.u32(properties).u16(0);
        b.name(idName).u32(idTypeWord).u16(fieldbits::kRequired).u16(0);
        b.name("NAME").u32(typeword::kString1).u16(0).u16(1);
        b.name("WIDTH").u32(typeword::kUInt16).u16(10);
        b.raw(datasetAttributes);
        const size_t rowOffset = b.size() + static_cast<size_t>(rowOffsetShift);
        b.u8(rowstate::kInserted).u8(0).u32(1).name("Ann");
        b.u8(rowstate::kInserted).u8(0x04).u32(2);
        b.raw(trailer);
        std::string s = b.str();
        s[22] = static_cast<char>(rowOffset);
        s[23] = static_cast<char>(rowOffset >> 8);
        return s;
    }
};

TEST(BinaryReader, decodesTheFixture) {
    const DataPacket p = decodeBinaryPacket(Fixture{}.bytes());
    ASSERT_EQ(p.fields.size(), 2u);
    EXPECT_EQ(p.fields[0].name, "ID");
    EXPECT_EQ(p.fields[0].type, FieldType::Int32);
    EXPECT_TRUE(p.fields[0].required());
    EXPECT_EQ(p.fields[1].name, "NAME");
    EXPECT_EQ(p.fields[1].type, FieldType::String);
    EXPECT_EQ(p.fields[1].typeWord, typeword::kString1);
    EXPECT_EQ(p.fields[1].width(), 10);
    expectSameAttributes(p.attributes, {attr("AUTOINCVALUE", typeword::kInt32, int64_t{3})});
    ASSERT_EQ(p.rows.size(), 2u);
    EXPECT_EQ(p.rows[0].status, rowstate::kInserted);
    EXPECT_TRUE(sameValue(p.rows[0].values[0], FieldValue{int64_t{1}}));
    EXPECT_TRUE(sameValue(p.rows[0].values[1], FieldValue{std::string("Ann")}));
    EXPECT_TRUE(sameValue(p.rows[1].values[0], FieldValue{int64_t{2}}));
    EXPECT_TRUE(isNull(p.rows[1].values[1]));
    EXPECT_TRUE(p.changeLog.empty());
}

std::string changeLogAttribute(uint32_t count, std::vector<uint32_t> numbers) {
    Bytes b;
    b.u16(1).name("CHANGE_LOG").u32(typeword::kUIntArray).u32(count);
    for (uint32_t n : numbers) b.u32(n);
    return b.str();
}

TEST(BinaryReader, rejectsDamagedPackets) {
    struct Case {
        const char* name;
        std::function<void(Fixture&)> change;
        std::string message;
    };
    const Case cases[] = {
        {"NoLayoutBit", [](Fixture& f) { f.properties = 2; }, kNoMetaData},
        {"NoPropertyBits", [](Fixture& f) { f.properties = 0; }, kNoMetaData},
        {"EmptyFieldName", [](Fixture& f) { f.idName.clear(); }, kNullFieldName},
        {"TypeClassZero", [](Fixture& f) { f.idTypeWord = 0x00000004; }, kInvalidFieldType},
        {"UnknownTypeClass", [](Fixture& f) { f.idTypeWord = 0x003F0004; }, kInvalidFieldType},
        {"ArrayType", [](Fixture& f) { f.idTypeWord = typeword::kIntArray; }, kInvalidFieldType},
        {"CompositeType", [](Fixture& f) { f.idTypeWord = 0x01010004; }, kInvalidFieldType},
        {"SizeZero", [](Fixture& f) { f.idTypeWord = 0x00490000; }, kInvalidFieldType},
        {"OddIntegerSize", [](Fixture& f) { f.idTypeWord = 0x00010003; }, kInvalidFieldType},
        {"OtherMagic", [](Fixture& f) { f.magic = 0x0000ABCD; }, kMismatch},
        {"ForeignMagic", [](Fixture& f) { f.magic = 0x12345678; }, kMismatch},
        {"MajorVersionFour", [](Fixture& f) { f.major = 4; }, kMismatch},
        {"HeaderSizeTooSmall", [](Fixture& f) { f.headerSize = 20; }, kMismatch},
        {"HeaderSizePastEnd", [](Fixture& f) { f.headerSize = 0xFFFFFFFF; }, kMismatch},
        {"RowOffsetOff", [](Fixture& f) { f.rowOffsetShift = 1; }, kMismatch},
        {"HugeRowCount", [](Fixture& f) { f.rowCount = 0xFFFFFFFF; }, kMismatch},
        {"HugeFieldCount", [](Fixture& f) { f.fieldCount = 0xFFFF; }, kMismatch},
        {"MoreRowsThanStored", [](Fixture& f) { f.rowCount = 3; }, kMismatch},
        {"TrailingBytes", [](Fixture& f) { f.trailer = "x"; }, kMismatch},
        {"HugeAttributeCount", [](Fixture& f) { f.datasetAttributes = Bytes().u16(0xFFFF).str(); },
         kMismatch},
        {"HugeArrayCount",
         [](Fixture& f) { f.datasetAttributes = changeLogAttribute(0xFFFFFFFF, {}); }, kMismatch},
        {"AttributeTextPastEnd",
         [](Fixture& f) {
             f.datasetAttributes =
                 Bytes().u16(1).name("NOTE").u32(typeword::kString2).u16(0xFFFF).str();
         },
         kMismatch},
        {"ChangeLogNotInTriples",
         [](Fixture& f) {
             f.datasetAttributes = changeLogAttribute(2, {1, 0});
         },
         kMismatch},
        {"ArrayOfTexts",
         [](Fixture& f) {
             f.datasetAttributes =
                 Bytes().u16(1).name("NAMES").u32(typeword::kArray | typeword::kString2).str();
         },
         kInvalidFieldType},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        c.change(f);
        EXPECT_EQ(binaryError(f.bytes()), c.message);
    }
}

TEST(BinaryReader, majorVersionFourIsReadAsXml) {
    Fixture f;
    f.major = 4;
    EXPECT_FALSE(isBinaryPacket(f.bytes()));
    EXPECT_EQ(decodeError([&] { return decodePacket(f.bytes()); }), kMismatch);
    f.magic = 0x0000ABCD;
    EXPECT_TRUE(isBinaryPacket(f.bytes()));
    EXPECT_EQ(decodeError([&] { return decodePacket(f.bytes()); }), kMismatch);
}

TEST(BinaryReader, skipsEightBitIntegerFieldsButDropsThemFromTheLayout) {
    Bytes b = header(4, 2);
    b.name("TINY").u32(typeword::kInt8).u16(0).u16(1).name("WIDTH").u32(typeword::kUInt16).u16(1);
    b.name("ID").u32(typeword::kInt32).u16(0).u16(0);
    b.name("UTINY").u32(typeword::kUInt8).u16(0).u16(0);
    b.name("NAME").u32(typeword::kString1).u16(0).u16(0);
    b.u16(0);
    b.u8(0).u8(0x00).u8(0xFB).u32(7).u8(200).name("x");
    b.u8(0).u8(0x41).u32(8).u8(9);  // TINY and NAME null
    const DataPacket p = decodeBinaryPacket(b.str());
    ASSERT_EQ(p.fields.size(), 2u);
    EXPECT_EQ(p.fields[0].name, "ID");
    EXPECT_EQ(p.fields[1].name, "NAME");
    ASSERT_EQ(p.rows.size(), 2u);
    ASSERT_EQ(p.rows[0].values.size(), 2u);
    EXPECT_TRUE(sameValue(p.rows[0].values[0], FieldValue{int64_t{7}}));
    EXPECT_TRUE(sameValue(p.rows[0].values[1], FieldValue{std::string("x")}));
    ASSERT_EQ(p.rows[1].values.size(), 2u);
    EXPECT_TRUE(sameValue(p.rows[1].values[0], FieldValue{int64_t{8}}));
    EXPECT_TRUE(isNull(p.rows[1].values[1]));
}

// A packet of one field with the given type word and one row holding `stored` as its value.
std::string singleValuePacket(uint32_t typeWord, std::string_view stored) {
    Bytes b = header(1, 1);
    b.name("V").u32(typeWord).u16(0).u16(0).u16(0);
    b.u8(0).u8(0).raw(stored);
    return b.str();
}

TEST(BinaryReader, decodesStoredValues) {
    using namespace typeword;
    struct Case {
        const char* name;
        uint32_t typeWord;
        std::string stored;
        FieldValue expected;
    };
    const Case cases[] = {
        {"SmallInt", kInt16, std::string("\xFE\xFF", 2), int64_t{-2}},
        {"Word", kUInt16, std::string("\xFE\xFF", 2), int64_t{65534}},
        {"Integer", kInt32, std::string("\xFF\xFF\xFF\xFF", 4), int64_t{-1}},
        {"UnsignedInteger", kUInt32, std::string("\xFF\xFF\xFF\xFF", 4), int64_t{4294967295}},
        {"LargeInt", kInt64, std::string("\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8), int64_t{-2}},
        {"AnyNonZeroIsTrue", kBoolean, std::string("\x00\xFF", 2), true},
        {"ZeroIsFalse", kBoolean, std::string("\x00\x00", 2), false},
        {"Float", kFloat, Bytes().f64(1.5).str(), 1.5},
        {"Date", kDate, std::string("\x21\x26\x0B\x00", 4), int64_t{0x0B2621}},
        {"Time", kTime, std::string("\xFF\x5B\x26\x05", 4), int64_t{86399999}},
        {"DateTime", kDateTime, Bytes().f64(63082281600000.0).str(), 63082281600000.0},
        {"Timestamp", kSqlTimeStamp,
         std::string("\xE8\x07\x02\0\x1D\0\x17\0\x3B\0\x3A\0\xE7\x03\0\0", 16),
         SqlTimeStamp{2024, 2, 29, 23, 59, 58, 999}},
        {"Text", kString1,
         std::string("\x03"
                     "abc"),
         std::string("abc")},
        {"ZeroByteIsEmptyText", kString1, std::string("\x01\x00", 2), std::string()},
        {"LengthZeroIsEmptyText", kString1, std::string("\x00", 1), std::string()},
        {"TwoByteLength", kString2, std::string("\x02\x00hi", 4), std::string("hi")},
        {"Wide", kWideString1, std::string("\x04h\0\xAC\x20", 5), std::u16string(u"h\u20AC")},
        {"Blob", kBlob, std::string("\x03\0\0\0a\0b", 7), makeBlob(std::string("a\0b", 3))},
        {"Bytes", kBytesClass | 3, std::string("\x01\x02\x03"), std::string("\x01\x02\x03")},
        {"Decimal", kBcdClass | 5, std::string("\x05\x02\x12\x34\x50", 5), std::string("123.45")},
        {"NegativeDecimal", kBcdClass | 5, std::string("\x05\x82\x12\x34\x50", 5),
         std::string("-123.45")},
        {"LeadingZeros", kBcdClass | 4, std::string("\x04\x00\x00\x12", 4), std::string("12")},
        {"FractionOnly", kFmtBcdClass | 4, std::string("\x03\x02\x00\x50", 4), std::string("0.05")},
        {"FewerDigitsThanDecimals", kBcdClass | 3, std::string("\x01\x03\x50", 3),
         std::string("0.005")},
        {"NoDigits", kBcdClass | 3, std::string("\x00\x00\x00", 3), std::string("0")},
        {"NegativeZero", kBcdClass | 3, std::string("\x00\x80\x00", 3), std::string("0")},
        {"EighteenDigits", kBcdClass | 11,
         std::string("\x12\x02\x12\x34\x56\x78\x90\x12\x34\x56\x78", 11),
         std::string("1234567890123456.78")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DataPacket p = decodeBinaryPacket(singleValuePacket(c.typeWord, c.stored));
        ASSERT_EQ(p.rows.size(), 1u);
        EXPECT_EQ(p.fields[0].typeWord, c.typeWord);
        EXPECT_TRUE(sameValue(p.rows[0].values[0], c.expected));
    }
}

TEST(BinaryReader, rejectsDamagedValues) {
    using namespace typeword;
    struct Case {
        const char* name;
        uint32_t typeWord;
        std::string stored;
    };
    const Case cases[] = {
        {"OddWideLength", kWideString1, std::string("\x03h\0i", 4)},
        {"BlobPastEnd", kBlob, std::string("\x09\0\0\0abc", 7)},
        {"DigitAboveNine", kBcdClass | 5, std::string("\x05\x02\x1A\x34\x50", 5)},
        {"MoreDigitsThanTheRecordHolds", kBcdClass | 3, std::string("\x03\x00\x12", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(binaryError(singleValuePacket(c.typeWord, c.stored)), kMismatch);
    }
}

TEST(BinaryReader, takesValuesNotStoredFromTheReplacedVersion) {
    Bytes b = header(2, 3);
    b.name("ID").u32(typeword::kInt32).u16(0).u16(0);
    b.name("MEMO").u32(typeword::kBlob).u16(0).u16(0);
    b.raw(changeLogAttribute(9, {1, 0, 4, 2, 1, 8, 3, 0, 4}));
    b.u8(rowstate::kInserted | rowstate::kSuperseded).u8(0).u32(1).u32(3).raw("abc");
    b.u8(rowstate::kModified).u8(0x08).u32(1);  // MEMO not stored: same as version 1
    b.u8(rowstate::kInserted).u8(0x08).u32(2);  // replaces nothing: MEMO stays null
    const DataPacket p = decodeBinaryPacket(b.str());
    ASSERT_EQ(p.rows.size(), 3u);
    EXPECT_TRUE(sameValue(p.rows[1].values[1], FieldValue{makeBlob("abc")}));
    EXPECT_TRUE(isNull(p.rows[2].values[1]));
    const std::vector<ChangeLogEntry> log = {{1, 0, 4}, {2, 1, 8}, {3, 0, 4}};
    EXPECT_EQ(p.changeLog, log);
    EXPECT_EQ(p.findAttribute("CHANGE_LOG"), nullptr);
}

}  // namespace
}  // namespace tarvolen
