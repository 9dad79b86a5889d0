// Reader of the binary data packet. The layout is described in FORMAT.md ("Binary form").
// Every count and length is checked against what is left of the buffer before anything is
// allocated for it, so a corrupt header cannot make us reserve gigabytes.

#include <bit>
#include <cstring>

#include "plan/BinaryFormat.h"
#include "plan/Errors.h"
#include "plan/FieldTypes.h"
#include "plan/PackedDecimal.h"
#include "plan/PacketCodec.h"

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

// Bounds-checked little-endian cursor over the packet.
class ByteReader {
  public:
    ByteReader(const unsigned char* begin, const unsigned char* end) : m_pos(begin), m_end(end) {}

    size_t remaining() const { return static_cast<size_t>(m_end - m_pos); }
    void need(uint64_t n) const {
        if (n > remaining()) corrupt();
    }
    const char* take(size_t n) {
        need(n);
        const auto* p = reinterpret_cast<const char*>(m_pos);
        m_pos += n;
        return p;
    }
    uint8_t u8() {
        need(1);
        return *m_pos++;
    }
    uint16_t u16() {
        need(2);
        const uint16_t v = static_cast<uint16_t>(m_pos[0] | (m_pos[1] << 8));
        m_pos += 2;
        return v;
    }
    uint32_t u32() {
        need(4);
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
    const unsigned char* m_pos;
    const unsigned char* m_end;
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
std::string readDecimal(ByteReader& in, uint32_t recordSize) {
    const char* record = in.take(recordSize);
    std::string text;
    if (!unpackDecimal(std::string_view(record, recordSize), text)) corrupt();
    return text;
}

std::u16string readWide(ByteReader& in, size_t byteLength) {
    if (byteLength % 2 != 0) corrupt();
    const char* bytes = in.take(byteLength);
    std::u16string text(byteLength / 2, u'\0');
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(text.data(), bytes, byteLength);
    } else {
        for (size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                            (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
        }
    }
    return text;
}

// How one field's values are read: its type and the size bits of its type word.
struct FieldSlot {
    FieldType type = FieldType::Int32;
    uint32_t size = 0;
    int target = -1;  // index in the resulting layout; -1 for a dropped 8-bit integer field
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

// Reads one stored value into `out`.
void readValue(ByteReader& in, FieldType type, uint32_t size, FieldValue& out) {
    switch (type) {
        case FieldType::Int16:
            out = readInteger(in, 2, true);
            return;
        case FieldType::Int32:
        case FieldType::Date:
        case FieldType::Time:
            out = readInteger(in, 4, true);
            return;
        case FieldType::Int64:
            out = readInteger(in, 8, true);
            return;
        case FieldType::UInt16:
            out = readInteger(in, 2, false);
            return;
        case FieldType::UInt32:
            out = readInteger(in, 4, false);
            return;
        case FieldType::Boolean:
            out = in.u16() != 0;
            return;
        case FieldType::Float:
        case FieldType::DateTime:
            out = in.f64();
            return;
        case FieldType::Bcd:
        case FieldType::FmtBcd:
            out = readDecimal(in, size);
            return;
        case FieldType::SqlTimeStamp: {
            SqlTimeStamp ts;
            ts.year = static_cast<int16_t>(in.u16());
            ts.month = in.u16();
            ts.day = in.u16();
            ts.hour = in.u16();
            ts.minute = in.u16();
            ts.second = in.u16();
            ts.millisecond = in.u32();
            out = ts;
            return;
        }
        case FieldType::String: {
            const size_t n = in.length(size);
            const char* bytes = in.take(n);
            // Empty text that is not null is stored as a single zero byte.
            if (n == 1 && bytes[0] == '\0') {
                out.emplace<std::string>();
            } else {
                out.emplace<std::string>(bytes, n);
            }
            return;
        }
        case FieldType::WideString:
            out = readWide(in, in.length(size));
            return;
        case FieldType::Blob: {
            const uint32_t n = in.u32();
            const char* bytes = in.take(n);
            out = makeBlob(std::string(bytes, n));
            return;
        }
        case FieldType::Bytes:
            out.emplace<std::string>(in.take(size), size);
            return;
    }
}

FieldValue readAttributeValue(ByteReader& in, uint32_t typeWord) {
    if ((typeWord & typeword::kComposite) != 0) throw dberr::invalidFieldType();
    const uint32_t size = typeWord & typeword::kSizeMask;
    if ((typeWord & typeword::kArray) != 0) {
        const uint32_t element = typeWord & ~typeword::kArray;
        if (!isIntegerElement(element)) throw dberr::invalidFieldType();
        const uint32_t count = in.u32();
        in.need(static_cast<uint64_t>(count) * (element & typeword::kSizeMask));
        IntArray values;
        values.reserve(count);
        const bool isSigned = (element & typeword::kClassMask) == kIntClass;
        for (uint32_t i = 0; i < count; ++i) {
            values.push_back(readInteger(in, element & typeword::kSizeMask, isSigned));
        }
        return values;
    }
    if ((typeWord & typeword::kClassMask) == kStringClass) {
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
    readValue(in, type, size, value);
    return value;
}

Attribute readAttribute(ByteReader& in) {
    Attribute attribute;
    const uint8_t nameLength = in.u8();
    attribute.name.assign(in.take(nameLength), nameLength);
    attribute.typeWord = in.u32();
    attribute.value = readAttributeValue(in, attribute.typeWord);
    return attribute;
}

std::vector<Attribute> readAttributes(ByteReader& in, size_t count) {
    in.need(count * kMinAttribute);
    std::vector<Attribute> attributes;
    attributes.reserve(count);
    for (size_t i = 0; i < count; ++i) attributes.push_back(readAttribute(in));
    return attributes;
}

std::vector<ChangeLogEntry> changeLogFrom(const FieldValue& value) {
    const auto* numbers = std::get_if<IntArray>(&value);
    if (numbers == nullptr || numbers->size() % 3 != 0) corrupt();
    std::vector<ChangeLogEntry> log;
    log.reserve(numbers->size() / 3);
    for (size_t i = 0; i < numbers->size(); i += 3) {
        ChangeLogEntry entry;
        for (size_t k = 0; k < 3; ++k) {
            if ((*numbers)[i + k] < 0 || (*numbers)[i + k] > UINT32_MAX) corrupt();
        }
        entry.version = static_cast<uint32_t>((*numbers)[i]);
        entry.replaced = static_cast<uint32_t>((*numbers)[i + 1]);
        entry.kind = static_cast<uint32_t>((*numbers)[i + 2]);
        log.push_back(entry);
    }
    return log;
}

}  // namespace

DataPacket decodeBinaryPacket(std::string_view bytes) {
    const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
    ByteReader in(begin, begin + bytes.size());

    // Detection also sends packets starting with 0x0000ABCD here; we know no layout for them,
    // so they are refused like any other foreign magic.
    if (in.u32() != kMagic) corrupt();
    const uint16_t major = in.u16();
    const uint16_t minor = in.u16();
    if (major > kMaxVersionWord || minor > kMaxVersionWord) corrupt();
    const uint32_t headerSize = in.u32();
    const uint16_t fieldCount = in.u16();
    const uint32_t rowCount = in.u32();
    const uint32_t properties = in.u32();
    const uint16_t firstRowOffset = in.u16();
    if (headerSize < kHeaderSize || headerSize > bytes.size()) corrupt();
    if ((properties & kHoldsLayout) == 0) throw dberr::noMetaData();
    in.take(headerSize - kHeaderSize);

    DataPacket packet;
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
        field.attributes = readAttributes(in, in.u16());
        if (slot.target >= 0) {
            slot.target = static_cast<int>(packet.fields.size());
            packet.fields.push_back(std::move(field));
        }
        slots.push_back(slot);
    }

    for (Attribute& attribute : readAttributes(in, in.u16())) {
        if (attribute.name == "CHANGE_LOG") {
            for (const ChangeLogEntry& entry : changeLogFrom(attribute.value)) {
                packet.changeLog.push_back(entry);
            }
        } else {
            packet.attributes.push_back(std::move(attribute));
        }
    }

    const size_t rowsStart = bytes.size() - in.remaining();
    if ((properties & kHoldsRowOffset) != 0 && firstRowOffset != rowsStart) corrupt();

    const size_t statusBytes = (size_t{fieldCount} + 3) / 4;
    in.need(static_cast<uint64_t>(rowCount) * (1 + statusBytes));
    packet.rows.resize(rowCount);
    std::vector<std::vector<int>> pending;
    for (size_t r = 0; r < rowCount; ++r) {
        RowVersion& row = packet.rows[r];
        row.status = in.u8();
        const auto* status = reinterpret_cast<const unsigned char*>(in.take(statusBytes));
        row.values.resize(packet.fields.size());
        for (size_t i = 0; i < fieldCount; ++i) {
            const FieldSlot& slot = slots[i];
            const unsigned bits = (status[i / 4] >> (2 * (i % 4))) & 3u;
            if (bits != 0) {
                // Null wins when a writer sets both bits.
                if (bits == 2 && slot.target >= 0) {
                    if (pending.empty()) pending.resize(rowCount);
                    pending[r].push_back(slot.target);
                }
                continue;
            }
            if (slot.target < 0) {
                in.take(slot.size);
                continue;
            }
            readValue(in, slot.type, slot.size, row.values[static_cast<size_t>(slot.target)]);
        }
    }
    if (in.remaining() != 0) corrupt();

    if (!pending.empty()) carryOverFromReplaced(packet, pending);
    return packet;
}

}  // namespace tarvolen
