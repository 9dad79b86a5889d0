// Reader of the binary data packet. The layout is described in FORMAT.md ("Binary form").
// Every count and length is checked against what is left of the buffer before anything is
// allocated for it, so a corrupt header cannot make us reserve gigabytes. It stays one file
// a little over 500 lines: the header, layout, attributes, rows and change log are read in
// one pass over one cursor, and every bound check sits beside the read it guards.

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "plan/BinaryFormat.h"
#include "plan/Errors.h"
#include "plan/FieldTypes.h"
#include "plan/LayoutBudget.h"
#include "plan/PackedDecimal.h"
#include "plan/PacketCodec.h"
#include "plan/PacketReading.h"
#include "plan/ValueText.h"

namespace tarvolen {
namespace {

using namespace binaryformat;

constexpr uint16_t kMaxVersionWord = 3;
// Smallest possible field descriptor: name length, one name byte, type word, bits, count.
constexpr size_t kMinFieldDescriptor = 1 + 1 + 4 + 2 + 2;
// Smallest possible attribute record: name length and type word.
constexpr size_t kMinAttribute = 1 + 4;

[[noreturn]] [[gnu::cold]] [[gnu::noinline]] void corrupt() {
    throw dberr::mismatch();
}

// Little-endian cursor over the packet, every read checked against what is left of it: over
// bytes in memory, or over a source read a piece at a time into a buffer (what take() gives
// then stays valid until the next read).
class ByteReader {
  public:
    ByteReader(const unsigned char* begin, const unsigned char* end)
        : m_pos(begin), m_end(end), m_size(static_cast<size_t>(end - begin)) {}
    ByteReader(PacketSource& source, size_t pieceBytes, std::string& buffer)
        : m_size(static_cast<size_t>(source.size())),
          m_left(m_size),
          m_source(&source),
          m_piece(std::max<size_t>(pieceBytes, 1)),
          m_buffer(&buffer) {}

    // Bytes of the packet not read yet, and read already.
    size_t remaining() const { return buffered() + m_left; }
    size_t offset() const { return m_size - remaining(); }
    size_t size() const { return m_size; }
    void need(uint64_t n) const {
        if (n > remaining()) corrupt();
    }
    const char* take(size_t n) {
        have(n);
        const auto* p = reinterpret_cast<const char*>(m_pos);
        m_pos += n;
        return p;
    }
    // Passes over `n` bytes without holding them all at once.
    void skip(uint64_t n) {
        need(n);
        while (n > 0) {
            have(1);
            const size_t k = static_cast<size_t>(std::min<uint64_t>(n, buffered()));
            m_pos += k;
            n -= k;
        }
    }
    uint8_t u8() {
        have(1);
        return *m_pos++;
    }
    uint16_t u16() {
        have(2);
        const uint16_t v = static_cast<uint16_t>(m_pos[0] | (m_pos[1] << 8));
        m_pos += 2;
        return v;
    }
    uint32_t u32() {
        have(4);
        const uint32_t v =
            static_cast<uint32_t>(m_pos[0]) | (static_cast<uint32_t>(m_pos[1]) << 8) |
            (static_cast<uint32_t>(m_pos[2]) << 16) | (static_cast<uint32_t>(m_pos[3]) << 24);
        m_pos += 4;
        return v;
    }
    uint64_t u64() {
        const uint64_t lo = u32();
        return lo | (static_cast<uint64_t>(u32()) << 32);
    }
    double f64() { return std::bit_cast<double>(u64()); }

    // An unsigned length prefix of 1 or 2 bytes.
    size_t length(uint32_t prefixSize) { return prefixSize == 1 ? u8() : u16(); }

  private:
    size_t buffered() const { return static_cast<size_t>(m_end - m_pos); }
    void have(size_t n) {
        if (n > buffered()) fill(n);
    }
    // Reads on from the source until `n` bytes are at hand.
    [[gnu::cold]] [[gnu::noinline]] void fill(size_t n) {
        if (n > remaining() || m_source == nullptr) corrupt();
        const size_t kept = buffered();
        const size_t count = std::min(m_left, std::max(m_piece, n - kept));
        std::string& buffer = *m_buffer;
        if (kept > 0) std::memmove(buffer.data(), m_pos, kept);
        if (buffer.size() < kept + count) buffer.resize(kept + count);
        m_source->read(m_size - m_left, buffer.data() + kept, count);
        m_left -= count;
        m_pos = reinterpret_cast<const unsigned char*>(buffer.data());
        m_end = m_pos + kept + count;
    }

    const unsigned char* m_pos = nullptr;
    const unsigned char* m_end = nullptr;
    size_t m_size = 0;
    size_t m_left = 0;  // bytes of the source not read into the buffer yet
    PacketSource* m_source = nullptr;
    size_t m_piece = 0;
    std::string* m_buffer = nullptr;
};

// Integer of `size` bytes (1, 2, 4 or 8), sign-extended when `isSigned`.
int64_t readInteger(ByteReader& in, uint32_t size, bool isSigned) {
    switch (size) {
        case 1: {
            const uint8_t v = in.u8();
            return isSigned ? int64_t{static_cast<int8_t>(v)} : int64_t{v};
        }
        case 2: {
            const uint16_t v = in.u16();
            return isSigned ? int64_t{static_cast<int16_t>(v)} : int64_t{v};
        }
        case 4: {
            const uint32_t v = in.u32();
            return isSigned ? int64_t{static_cast<int32_t>(v)} : int64_t{v};
        }
        default:
            return static_cast<int64_t>(in.u64());
    }
}

// The packed-decimal record of a decimal field, as the decimal text the table keeps.
void readDecimal(ByteReader& in, uint32_t recordSize, std::string& text) {
    const char* record = in.take(recordSize);
    if (!unpackDecimal(std::string_view(record, recordSize), text)) corrupt();
}

// How one field's values are read: its type and the size bits of its type word.
struct FieldSlot {
    FieldType type = FieldType::Int32;
    uint32_t size = 0;
    size_t width = 0;  // texts are cut to it (bytes, or UTF-16 units); 0 for other types
    int target = -1;   // index in the resulting layout; -1 for a dropped 8-bit integer field
};

// Checks that we can read a type the lookup accepted with the size its word gives.
bool sizeFits(FieldType type, uint32_t size) {
    switch (type) {
        case FieldType::String:
        case FieldType::WideString:
            return size == 1 || size == 2;
        case FieldType::Bcd:
        case FieldType::FmtBcd:
            return size >= 2;
        case FieldType::Bytes:
            return size >= 1;
        default:
            return true;
    }
}

// How long a text of the field may be: its WIDTH, in bytes or in UTF-16 units.
size_t cutWidth(const FieldDef& field) {
    const bool text = field.type == FieldType::String || field.type == FieldType::WideString;
    return text ? static_cast<size_t>(field.width()) : 0;
}

FieldSlot slotFor(uint32_t typeWord) {
    FieldSlot slot;
    slot.size = typeWord & typeword::kSizeMask;
    switch (lookupTypeWord(typeWord, slot.type)) {
        case TypeLookup::Field:
            if (!sizeFits(slot.type, slot.size)) throw dberr::invalidFieldType();
            slot.target = 0;  // set by the caller
            return slot;
        case TypeLookup::Dropped:
            return slot;
        case TypeLookup::Invalid:
            break;
    }
    throw dberr::invalidFieldType();
}

// Where a value read from the packet goes: a row being built, or an attribute's value.
class BuilderSink {
  public:
    explicit BuilderSink(RowStore::Builder& row) : m_row(row) {}
    void integer(int64_t v) { m_row.integer(v); }
    void real(double v) { m_row.real(v); }
    void boolean(bool v) { m_row.boolean(v); }
    void text(std::string_view v) { m_row.text(v); }
    void wideLittleEndian(const char* bytes, size_t units) { m_row.wideLittleEndian(bytes, units); }
    void blob(std::string_view v) { m_row.blob(v); }
    void timeStamp(const SqlTimeStamp& v) { m_row.timeStamp(v); }

  private:
    RowStore::Builder& m_row;
};

class ValueSink {
  public:
    explicit ValueSink(FieldValue& out) : m_out(out) {}
    void integer(int64_t v) { m_out = v; }
    void real(double v) { m_out = v; }
    void boolean(bool v) { m_out = v; }
    void text(std::string_view v) { m_out.emplace<std::string>(v); }
    void wideLittleEndian(const char* bytes, size_t units) {
        std::u16string& text = m_out.emplace<std::u16string>(units, u'\0');
        for (size_t i = 0; i < units; ++i) {
            text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                            (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
        }
    }
    void blob(std::string_view v) { m_out = makeBlob(std::string(v)); }
    void timeStamp(const SqlTimeStamp& v) { m_out = v; }

  private:
    FieldValue& m_out;
};

// Reads one stored value of a field of `type` (with the size bits `size`) into `sink`.
// Dates and times the XML form cannot say are refused here, so that whatever loads can be
// written in either form and read back as itself.
void requireSayable(FieldType type, const FieldValue& value) {
    if (!sayableAsText(type, value)) throw dberr::invalidParameter();
}

// A wide text must be whole UTF-16: a surrogate without its pair is no character that the XML
// form could write.
void requireWholeCharacters(const char* bytes, size_t units) {
    const auto unit = [&](size_t i) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    };
    for (size_t i = 0; i < units; ++i) {
        const unsigned u = unit(i);
        if (u < 0xD800 || u > 0xDFFF) continue;
        if (u > 0xDBFF || i + 1 == units || unit(i + 1) < 0xDC00 || unit(i + 1) > 0xDFFF) {
            throw dberr::invalidParameter();
        }
        ++i;
    }
}

// Length of a wide text cut to `width` units, without leaving half a surrogate pair at its end.
size_t wideCut(const char* bytes, size_t units, size_t width) {
    if (units <= width) return units;
    const auto unit = [&](size_t i) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    };
    const unsigned last = unit(width - 1);
    return last >= 0xD800 && last <= 0xDBFF ? width - 1 : width;
}

// A timestamp's seven parts, checked as the XML form could write them.
SqlTimeStamp readTimeStamp(ByteReader& in) {
    SqlTimeStamp ts;
    ts.year = static_cast<int16_t>(in.u16());
    ts.month = in.u16();
    ts.day = in.u16();
    ts.hour = in.u16();
    ts.minute = in.u16();
    ts.second = in.u16();
    ts.millisecond = in.u32();
    requireSayable(FieldType::SqlTimeStamp, ts);
    return ts;
}

// An 8-bit text, cut to `width` when not 0; `text` (when given) receives it whole. Returns its
// length in the file.
template <typename Sink>
size_t readText(ByteReader& in, uint32_t size, Sink& sink, size_t width, std::string_view* text) {
    const size_t n = in.length(size);
    const char* bytes = in.take(n);
    // Empty text that is not null is stored as a single zero byte: so is one cut to it.
    if (text != nullptr) *text = std::string_view(bytes, n);
    const size_t kept = width > 0 ? std::min(n, width) : n;
    if (kept == 1 && bytes[0] == '\0') {
        sink.text(std::string_view());
    } else {
        sink.text(std::string_view(bytes, kept));
    }
    return n;
}

// Reads one stored value of a field of `type` (with the size bits `size`) into `sink`; a text
// longer than `width` (when not 0) is cut to it, as the file declares its field that wide.
// Returns a text's length in the file (bytes, or UTF-16 units), 0 for other types.
template <typename Sink>
size_t readValue(ByteReader& in, FieldType type, uint32_t size, Sink& sink, std::string& scratch,
                 size_t width = 0, std::string_view* text = nullptr) {
    switch (type) {
        case FieldType::Int16:
            sink.integer(readInteger(in, 2, true));
            return 0;
        case FieldType::Int32:
            sink.integer(readInteger(in, 4, true));
            return 0;
        case FieldType::Date:
        case FieldType::Time: {
            const int64_t v = readInteger(in, 4, true);
            requireSayable(type, v);
            sink.integer(v);
            return 0;
        }
        case FieldType::Int64:
            sink.integer(readInteger(in, 8, true));
            return 0;
        case FieldType::UInt16:
            sink.integer(readInteger(in, 2, false));
            return 0;
        case FieldType::UInt32:
            sink.integer(readInteger(in, 4, false));
            return 0;
        case FieldType::Boolean:
            sink.boolean(in.u16() != 0);
            return 0;
        case FieldType::Float:
            sink.real(in.f64());
            return 0;
        case FieldType::DateTime: {
            const double v = in.f64();
            requireSayable(type, v);
            sink.real(v);
            return 0;
        }
        case FieldType::Bcd:
        case FieldType::FmtBcd:
            readDecimal(in, size, scratch);
            sink.text(scratch);
            return 0;
        case FieldType::SqlTimeStamp:
            sink.timeStamp(readTimeStamp(in));
            return 0;
        case FieldType::String:
            return readText(in, size, sink, width, text);
        case FieldType::WideString: {
            const size_t n = in.length(size);
            if (n % 2 != 0) corrupt();
            const char* bytes = in.take(n);
            requireWholeCharacters(bytes, n / 2);
            sink.wideLittleEndian(bytes, width > 0 ? wideCut(bytes, n / 2, width) : n / 2);
            return n / 2;
        }
        case FieldType::Blob: {
            const uint32_t n = in.u32();
            sink.blob(std::string_view(in.take(n), n));
            return 0;
        }
        case FieldType::Bytes:
            sink.text(std::string_view(in.take(size), size));
            return 0;
    }
    return 0;
}

FieldValue readAttributeValue(ByteReader& in, uint32_t typeWord, LayoutBudget& budget) {
    if ((typeWord & typeword::kComposite) != 0) throw dberr::invalidFieldType();
    const uint32_t size = typeWord & typeword::kSizeMask;
    if ((typeWord & typeword::kArray) != 0) {
        const uint32_t element = typeWord & ~typeword::kArray;
        if (!isIntegerElement(element)) throw dberr::invalidFieldType();
        const uint32_t count = in.u32();
        in.need(static_cast<uint64_t>(count) * (element & typeword::kSizeMask));
        budget.addArrayElements(count);
        IntArray values;
        values.reserve(count);
        const bool isSigned = (element & typeword::kClassMask) == kIntClass;
        for (uint32_t i = 0; i < count; ++i) {
            values.push_back(readInteger(in, element & typeword::kSizeMask, isSigned));
        }
        return values;
    }
    if (isTextWord(typeWord)) {
        // Attribute strings count and carry a closing zero byte.
        if (size != 1 && size != 2) throw dberr::invalidFieldType();
        size_t n = in.length(size);
        const char* bytes = in.take(n);
        if (n > 0 && bytes[n - 1] == '\0') --n;
        return std::string(bytes, n);
    }
    FieldType type{};
    switch (lookupTypeWord(typeWord, type)) {
        case TypeLookup::Field:
            if (!sizeFits(type, size)) throw dberr::invalidFieldType();
            break;
        case TypeLookup::Dropped:
            return readInteger(in, 1, (typeWord & typeword::kClassMask) == kIntClass);
        case TypeLookup::Invalid:
            throw dberr::invalidFieldType();
    }
    FieldValue value;
    ValueSink sink(value);
    std::string scratch;
    readValue(in, type, size, sink, scratch);
    return value;
}

Attribute readAttribute(ByteReader& in, LayoutBudget& budget) {
    budget.addAttribute();
    Attribute attribute;
    const uint8_t nameLength = in.u8();
    attribute.name.assign(in.take(nameLength), nameLength);
    attribute.typeWord = in.u32();
    attribute.value = readAttributeValue(in, attribute.typeWord, budget);
    return attribute;
}

std::vector<Attribute> readAttributes(ByteReader& in, size_t count, LayoutBudget& budget) {
    in.need(count * kMinAttribute);
    std::vector<Attribute> attributes;
    attributes.reserve(std::min(count, LayoutBudget::kMaxAttributes));
    for (size_t i = 0; i < count; ++i) attributes.push_back(readAttribute(in, budget));
    return attributes;
}

// The value of the dataset attribute CHANGE_LOG, an integer array of three numbers per entry,
// read straight into the log: as an array of 64-bit numbers it would take up to eight times
// the room the packet gives it.
void readChangeLog(ByteReader& in, uint32_t typeWord, ChangeLog& log, LayoutBudget& budget) {
    const uint32_t element = typeWord & ~typeword::kArray;
    if ((typeWord & typeword::kArray) == 0 || !isIntegerElement(element)) {
        readAttributeValue(in, typeWord, budget);  // refuses what no attribute may be
        corrupt();                                 // a change log that is no integer array
    }
    const uint32_t size = element & typeword::kSizeMask;
    const bool isSigned = (element & typeword::kClassMask) == kIntClass;
    const uint32_t count = in.u32();
    in.need(static_cast<uint64_t>(count) * size);
    if (count % 3 != 0) corrupt();
    log.reserve(log.size() + count / 3);  // a second CHANGE_LOG continues the first
    for (uint32_t i = 0; i < count; i += 3) {
        uint32_t numbers[3];
        for (uint32_t& n : numbers) {
            const int64_t v = readInteger(in, size, isSigned);
            if (v < 0 || v > UINT32_MAX) corrupt();
            n = static_cast<uint32_t>(v);
        }
        log.push_back({numbers[0], numbers[1], numbers[2]});
    }
}

// Whether any kept field of a row is marked "not stored": its value is the replaced version's.
bool takesFromReplaced(const unsigned char* status, const std::vector<FieldSlot>& slots) {
    for (size_t i = 0; i < slots.size(); ++i) {
        if (slots[i].target >= 0 && ((status[i / 4] >> (2 * (i % 4))) & 3u) == 2) return true;
    }
    return false;
}

// The fixed part of the header, checked.
struct PacketHeader {
    uint16_t fieldCount = 0;
    uint32_t rowCount = 0;
    uint32_t properties = 0;
    uint16_t firstRowOffset = 0;
};

PacketHeader readHeader(ByteReader& in) {
    // Detection also sends packets starting with 0x0000ABCD here; we know no layout for them,
    // so they are refused like any other foreign magic.
    if (in.u32() != kMagic) corrupt();
    const uint16_t major = in.u16();
    const uint16_t minor = in.u16();
    if (major > kMaxVersionWord || minor > kMaxVersionWord) corrupt();
    const uint32_t headerSize = in.u32();
    PacketHeader header;
    header.fieldCount = in.u16();
    header.rowCount = in.u32();
    header.properties = in.u32();
    header.firstRowOffset = in.u16();
    // A packet without its layout is refused as such whatever else its header says.
    if ((header.properties & kHoldsLayout) == 0) throw dberr::noMetaData();
    if (headerSize < kHeaderSize || headerSize > in.size()) corrupt();
    in.skip(headerSize - kHeaderSize);
    return header;
}

// The field descriptors: the fields kept go into `packet`; a slot for every stored one.
std::vector<FieldSlot> readFields(ByteReader& in, uint16_t fieldCount, LayoutBudget& budget,
                                  DataPacket& packet) {
    std::vector<FieldSlot> slots;
    in.need(static_cast<uint64_t>(fieldCount) * kMinFieldDescriptor);
    slots.reserve(fieldCount);
    packet.fields.reserve(fieldCount);
    for (size_t i = 0; i < fieldCount; ++i) {
        const uint8_t nameLength = in.u8();
        if (nameLength == 0) throw dberr::nullFieldName();
        FieldDef field;
        field.name.assign(in.take(nameLength), nameLength);
        field.typeWord = in.u32();
        FieldSlot slot = slotFor(field.typeWord);
        field.type = slot.type;
        field.bits = in.u16();
        field.attributes = readAttributes(in, in.u16(), budget);
        if (slot.target >= 0) {
            requireCarriableLayout(field, field.typeWord);
            slot.width = cutWidth(field);
            slot.target = static_cast<int>(packet.fields.size());
            packet.fields.push_back(std::move(field));
        }
        slots.push_back(slot);
    }
    return slots;
}

// The dataset's attributes, the change log among them.
void readDatasetAttributes(ByteReader& in, LayoutBudget& budget, DataPacket& packet) {
    const uint16_t datasetAttributes = in.u16();
    in.need(size_t{datasetAttributes} * kMinAttribute);
    for (size_t i = 0; i < datasetAttributes; ++i) {
        budget.addAttribute();
        Attribute attribute;
        const uint8_t nameLength = in.u8();
        attribute.name.assign(in.take(nameLength), nameLength);
        attribute.typeWord = in.u32();
        if (attribute.name == "CHANGE_LOG") {
            readChangeLog(in, attribute.typeWord, packet.changeLog, budget);
        } else {
            attribute.value = readAttributeValue(in, attribute.typeWord, budget);
            packet.attributes.push_back(std::move(attribute));
        }
    }
}

// What the versions are read with: the layout's slots and the buffers reused from row to row.
struct RowReading {
    const std::vector<FieldSlot>& slots;
    const DataPacket& packet;
    DecodeDiagnostics* diagnostics;
    std::string scratch;
    std::vector<unsigned char> fieldStatus;
};

// A text of version `row` (1-based) longer than its field's declared width.
void noteCutText(RowReading& reading, const FieldSlot& slot, size_t row, size_t held,
                 std::string_view text) {
    ValueNote note;
    note.kind = ValueNote::Kind::CutToWidth;
    note.row = row;
    note.field = reading.packet.fields[static_cast<size_t>(slot.target)].name;
    note.fieldType = xmlTypeName(slot.type);
    note.length = held;
    note.width = slot.width;
    // An 8-bit text is noted whole.
    if (slot.type == FieldType::String) note.text = text;
    reading.diagnostics->note(note);
}

// The values of version `row` (1-based), by their status bits.
void readRowValues(ByteReader& in, RowReading& reading, size_t row, RowStore::Builder& builder) {
    BuilderSink sink(builder);
    const std::vector<FieldSlot>& slots = reading.slots;
    for (size_t i = 0; i < slots.size(); ++i) {
        const FieldSlot& slot = slots[i];
        const unsigned bits = (reading.fieldStatus[i / 4] >> (2 * (i % 4))) & 3u;
        if (slot.target < 0) {
            if (bits == 0) in.take(slot.size);
        } else if (bits == 0) {
            std::string_view text;
            const size_t held =
                readValue(in, slot.type, slot.size, sink, reading.scratch, slot.width, &text);
            if (reading.diagnostics != nullptr && slot.width > 0 && held > slot.width)
                noteCutText(reading, slot, row, held, text);
        } else if (bits == 2) {
            builder.carried();
        } else {
            builder.nulls(1);  // null wins when a writer sets both bits
        }
    }
}

void readRows(ByteReader& in, uint32_t rowCount, RowReading& reading,
              packetreading::RowTarget& target) {
    const size_t fieldCount = reading.slots.size();
    const size_t statusBytes = (fieldCount + 3) / 4;
    in.need(static_cast<uint64_t>(rowCount) * (1 + statusBytes));
    // Stored versions take at most a few bytes more than here (a length, a tag per value).
    target.versionsFollow(rowCount, in.remaining() + size_t{rowCount} * (4 + fieldCount));
    const ReplacedVersions replaced(reading.packet.changeLog);
    reading.fieldStatus.resize(statusBytes);
    for (size_t r = 0; r < rowCount; ++r) {
        const uint8_t status = in.u8();
        if (statusBytes > 0)
            std::memcpy(reading.fieldStatus.data(), in.take(statusBytes), statusBytes);
        // A value not stored is the one of the version this one replaces, which must come
        // earlier: later versions are not read yet, and a damaged log could name a cycle.
        size_t source = RowStore::kNoSource;
        if (takesFromReplaced(reading.fieldStatus.data(), reading.slots)) {
            const uint32_t version = replaced.of(static_cast<uint32_t>(r + 1));
            if (version >= 1 && version <= r) source = version - 1;
        }
        readRowValues(in, reading, r + 1, target.begin(status, source, false));
        target.end();
    }
}

void readPacket(ByteReader& in, DecodeDiagnostics* diagnostics, DataPacket& packet,
                packetreading::RowTarget& target) {
    const PacketHeader header = readHeader(in);
    LayoutBudget budget;
    const std::vector<FieldSlot> slots = readFields(in, header.fieldCount, budget, packet);
    readDatasetAttributes(in, budget, packet);
    const size_t rowsStart = in.offset();
    if ((header.properties & kHoldsRowOffset) != 0 && header.firstRowOffset != rowsStart)
        corrupt();
    target.layoutRead(packet);
    RowReading reading{slots, packet, diagnostics, {}, {}};
    readRows(in, header.rowCount, reading, target);
    if (in.remaining() != 0) corrupt();
    target.finish();
}

}  // namespace

namespace packetreading {

void readBinary(std::string_view bytes, DecodeDiagnostics* diagnostics, DataPacket& packet,
                RowTarget& target) {
    const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
    ByteReader in(begin, begin + bytes.size());
    readPacket(in, diagnostics, packet, target);
}

void readBinary(PacketSource& source, size_t pieceBytes, DecodeDiagnostics* diagnostics,
                DataPacket& packet, RowTarget& target) {
    std::string buffer;
    ByteReader in(source, pieceBytes, buffer);
    readPacket(in, diagnostics, packet, target);
}

}  // namespace packetreading

namespace {

DataPacket decodeBinary(std::string_view bytes, DecodeDiagnostics* diagnostics) {
    DataPacket packet;
    packetreading::TableRows rows(packet);
    packetreading::readBinary(bytes, diagnostics, packet, rows);
    return packet;
}

}  // namespace

DataPacket decodeBinaryPacket(std::string_view bytes) {
    return decodeBinary(bytes, nullptr);
}

DataPacket decodeBinaryPacket(std::string_view bytes, DecodeDiagnostics& diagnostics) {
    return decodeBinary(bytes, &diagnostics);
}

}  // namespace tarvolen
