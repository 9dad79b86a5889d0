// Writer of the binary data packet, the mirror of BinaryPacketReader.cpp; FORMAT.md
// ("Binary form") describes the layout. Values that do not fit their field's encoding are
// refused with "Invalid parameter." rather than written truncated.

#include <algorithm>
#include <bit>
#include <limits>
#include <optional>

#include "base/os/Memory.h"
#include "plan/BinaryFormat.h"
#include "plan/Errors.h"
#include "plan/FieldTypes.h"
#include "plan/PackedDecimal.h"
#include "plan/PacketCodec.h"
#include "plan/ValueRules.h"

namespace tarvolen {
namespace {

using namespace binaryformat;

constexpr uint16_t kMajor = 1;
// Packets reserved from this size on are asked to be in huge pages.
constexpr size_t kHugePagesFrom = size_t{8} << 20;
constexpr uint16_t kMinor = 0;

void put8(std::string& out, uint8_t v) {
    out.push_back(static_cast<char>(v));
}
void put16(std::string& out, uint16_t v) {
    const char b[2] = {static_cast<char>(v), static_cast<char>(v >> 8)};
    out.append(b, 2);
}
void put32(std::string& out, uint32_t v) {
    const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
    out.append(b, 4);
}
void put64(std::string& out, uint64_t v) {
    put32(out, static_cast<uint32_t>(v));
    put32(out, static_cast<uint32_t>(v >> 32));
}
void patch16(std::string& out, size_t at, uint16_t v) {
    out[at] = static_cast<char>(v);
    out[at + 1] = static_cast<char>(v >> 8);
}
void patch32(std::string& out, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<char>(v >> (8 * i));
}

template <typename T>
const T& valueAs(const FieldValue& value) {
    if (const T* v = std::get_if<T>(&value)) return *v;
    throw dberr::invalidParameter();
}

// Whether `v` fits in `size` bytes (1, 2, 4 or 8).
bool fitsInteger(int64_t v, uint32_t size, bool isSigned) {
    if (size >= 8) return true;
    const int bits = static_cast<int>(size * 8);
    const int64_t low = isSigned ? -(int64_t{1} << (bits - 1)) : 0;
    const int64_t high = isSigned ? (int64_t{1} << (bits - 1)) - 1 : (int64_t{1} << bits) - 1;
    return v >= low && v <= high;
}

// Writes `v` in `size` bytes (1, 2, 4 or 8) after checking that it fits.
void putInteger(std::string& out, int64_t v, uint32_t size, bool isSigned) {
    if (!fitsInteger(v, size, isSigned)) throw dberr::invalidParameter();
    const auto bitsOf = static_cast<uint64_t>(v);
    switch (size) {
        case 1:
            put8(out, static_cast<uint8_t>(bitsOf));
            return;
        case 2:
            put16(out, static_cast<uint16_t>(bitsOf));
            return;
        case 4:
            put32(out, static_cast<uint32_t>(bitsOf));
            return;
        default:
            put64(out, bitsOf);
            return;
    }
}

// A length prefix of 1 or 2 bytes.
void putLength(std::string& out, size_t n, uint32_t prefixSize) {
    const size_t limit = prefixSize == 1 ? 0xFF : 0xFFFF;
    if (n > limit) throw dberr::invalidParameter();
    if (prefixSize == 1) {
        put8(out, static_cast<uint8_t>(n));
    } else {
        put16(out, static_cast<uint16_t>(n));
    }
}

void putDecimal(std::string& out, const std::string& text, uint32_t recordSize) {
    std::string record;
    if (!packDecimal(text, recordSize, record)) throw dberr::invalidParameter();
    out += record;
}

void putBlob(std::string& out, FieldType type, std::string_view blob) {
    if (type != FieldType::Blob || blob.size() > std::numeric_limits<uint32_t>::max()) {
        throw dberr::invalidParameter();
    }
    put32(out, static_cast<uint32_t>(blob.size()));
    out += blob;
}

void putValue(std::string& out, FieldType type, uint32_t size, const FieldValue& value) {
    switch (type) {
        case FieldType::Int16:
            putInteger(out, valueAs<int64_t>(value), 2, true);
            return;
        case FieldType::Int32:
        case FieldType::Date:
        case FieldType::Time:
            putInteger(out, valueAs<int64_t>(value), 4, true);
            return;
        case FieldType::Int64:
            putInteger(out, valueAs<int64_t>(value), 8, true);
            return;
        case FieldType::UInt16:
            putInteger(out, valueAs<int64_t>(value), 2, false);
            return;
        case FieldType::UInt32:
            putInteger(out, valueAs<int64_t>(value), 4, false);
            return;
        case FieldType::Boolean:
            put16(out, valueAs<bool>(value) ? 1 : 0);
            return;
        case FieldType::Float:
        case FieldType::DateTime:
            put64(out, std::bit_cast<uint64_t>(valueAs<double>(value)));
            return;
        case FieldType::Bcd:
        case FieldType::FmtBcd:
            putDecimal(out, valueAs<std::string>(value), size);
            return;
        case FieldType::SqlTimeStamp: {
            const auto& ts = valueAs<SqlTimeStamp>(value);
            put16(out, static_cast<uint16_t>(ts.year));
            put16(out, ts.month);
            put16(out, ts.day);
            put16(out, ts.hour);
            put16(out, ts.minute);
            put16(out, ts.second);
            put32(out, ts.millisecond);
            return;
        }
        case FieldType::String: {
            const auto& text = valueAs<std::string>(value);
            // Length 0 would not tell empty text from a missing value to other readers.
            if (text.empty()) {
                putLength(out, 1, size);
                put8(out, 0);
            } else {
                putLength(out, text.size(), size);
                out += text;
            }
            return;
        }
        case FieldType::WideString: {
            const auto& text = valueAs<std::u16string>(value);
            putLength(out, text.size() * 2, size);
            for (const char16_t unit : text) put16(out, static_cast<uint16_t>(unit));
            return;
        }
        case FieldType::Blob:
            putBlob(out, type, *valueAs<BlobData>(value));
            return;
        case FieldType::Bytes: {
            // A fixed-size byte field always occupies its full width.
            const auto& bytes = valueAs<std::string>(value);
            if (bytes.size() > size) throw dberr::invalidParameter();
            out += bytes;
            out.append(size - bytes.size(), '\0');
            return;
        }
    }
}

void putName(std::string& out, const std::string& name) {
    if (name.size() > 0xFF) throw dberr::invalidParameter();
    put8(out, static_cast<uint8_t>(name.size()));
    out += name;
}

void putAttributeValue(std::string& out, uint32_t typeWord, const FieldValue& value) {
    if ((typeWord & typeword::kComposite) != 0) throw dberr::invalidFieldType();
    const uint32_t size = typeWord & typeword::kSizeMask;
    if ((typeWord & typeword::kArray) != 0) {
        const uint32_t element = typeWord & ~typeword::kArray;
        if (!isIntegerElement(element)) throw dberr::invalidFieldType();
        const auto& numbers = valueAs<IntArray>(value);
        if (numbers.size() > std::numeric_limits<uint32_t>::max()) {
            throw dberr::invalidParameter();
        }
        put32(out, static_cast<uint32_t>(numbers.size()));
        const bool isSigned = (element & typeword::kClassMask) == kIntClass;
        for (const int64_t n : numbers) {
            putInteger(out, n, element & typeword::kSizeMask, isSigned);
        }
        return;
    }
    if (isTextWord(typeWord)) {
        // Attribute strings carry a closing zero byte, counted in their length.
        if (size != 1 && size != 2) throw dberr::invalidFieldType();
        const auto& text = valueAs<std::string>(value);
        const size_t limit = size == 1 ? 0xFF : 0xFFFF;
        // A text read from a record that filled its length without the zero goes back the same.
        if (text.size() == limit && text.back() != '\0') {
            putLength(out, text.size(), size);
            out += text;
            return;
        }
        putLength(out, text.size() + 1, size);
        out += text;
        put8(out, 0);
        return;
    }
    FieldType type{};
    switch (lookupTypeWord(typeWord, type)) {
        case TypeLookup::Field:
            putValue(out, type, size, value);
            return;
        case TypeLookup::Dropped:
            putInteger(out, valueAs<int64_t>(value), 1,
                       (typeWord & typeword::kClassMask) == kIntClass);
            return;
        case TypeLookup::Invalid:
            break;
    }
    throw dberr::invalidFieldType();
}

void putAttribute(std::string& out, const std::string& name, uint32_t typeWord,
                  const FieldValue& value) {
    if (!isAttributeTypeWord(typeWord)) throw dberr::invalidFieldType();
    if (!fitsAttribute(typeWord, value)) throw dberr::invalidParameter();
    const uint32_t word = storedAttributeWord(typeWord, value);
    putName(out, name);
    put32(out, word);
    putAttributeValue(out, word, value);
}

void putCount16(std::string& out, size_t n) {
    if (n > 0xFFFF) throw dberr::invalidParameter();
    put16(out, static_cast<uint16_t>(n));
}

// Generous guess of the packet's size, so that large blobs are not copied by regrowth: the rows
// take about the room they take in the table, fixed-size values somewhat more. Room reserved
// and never written costs no memory.
size_t estimatedSize(const DataPacket& packet) {
    return 1024 + packet.fields.size() * 64 + packet.changeLog.size() * 12 +
           2 * packet.rows.bytesUsed() + packet.rows.size() * (2 + packet.fields.size() / 4);
}

// The field descriptors; returns each field's type word as stored.
std::vector<uint32_t> putFields(std::string& out, const DataPacket& packet) {
    std::vector<uint32_t> typeWords;
    typeWords.reserve(packet.fields.size());
    for (const FieldDef& field : packet.fields) {
        if (field.name.empty()) throw dberr::nullFieldName();
        typeWords.push_back(storedTypeWord(field));
        // What the readers would refuse is not written.
        requireCarriableLayout(field, typeWords.back());
        putName(out, field.name);
        put32(out, typeWords.back());
        put16(out, field.bits);
        putCount16(out, field.attributes.size());
        for (const Attribute& a : field.attributes) putAttribute(out, a.name, a.typeWord, a.value);
    }
    return typeWords;
}

// The dataset's attributes, the change log among them.
void putDatasetAttributes(std::string& out, const DataPacket& packet) {
    // CHANGE_LOG lives in packet.changeLog; a stray copy among the attributes is not written.
    size_t attributeCount = packet.changeLog.empty() ? 0 : 1;
    for (const Attribute& a : packet.attributes) attributeCount += a.name != "CHANGE_LOG";
    putCount16(out, attributeCount);
    for (const Attribute& a : packet.attributes) {
        if (a.name != "CHANGE_LOG") putAttribute(out, a.name, a.typeWord, a.value);
    }
    if (!packet.changeLog.empty()) {
        IntArray numbers;
        numbers.reserve(packet.changeLog.size() * 3);
        for (const ChangeLogEntry& e : packet.changeLog) {
            numbers.insert(numbers.end(), {e.version, e.replaced, e.kind});
        }
        putAttribute(out, "CHANGE_LOG", typeword::kUIntArray, numbers);
    }
}

// What the versions are written with: the layout and the buffers reused from row to row.
struct RowWriting {
    const DataPacket& packet;
    const std::vector<uint32_t>& typeWords;
    const ReplacedVersions replaced;
    std::vector<FieldValue> values;
    std::vector<std::optional<std::string_view>> blobs;  // read in place, not copied out
};

// Version `r`: its status, the status bits of its fields and the values stored.
void putRow(std::string& out, RowWriting& writing, size_t r) {
    static const FieldValue null;
    const DataPacket& packet = writing.packet;
    const size_t fieldCount = packet.fields.size();
    const uint8_t status = packet.rows.status(r);
    packet.rows.decodeRow(r, writing.values, &writing.blobs);
    put8(out, status);
    const size_t statusAt = out.size();
    out.append((fieldCount + 3) / 4, '\0');

    // Blobs of an edit that kept them are not stored again; the reader takes them from the
    // replaced version. Version numbers are storage positions whenever there is a change log.
    // Only an earlier version qualifies: the reader fills versions in storage order, so a
    // later one (or a cycle in a damaged log) would not be filled yet.
    size_t previous = RowStore::kNoSource;
    if ((status & rowstate::kModified) != 0) {
        const uint32_t v = writing.replaced.of(static_cast<uint32_t>(r + 1));
        if (v >= 1 && v < r + 1) previous = v - 1;
    }

    for (size_t i = 0; i < fieldCount; ++i) {
        const FieldValue& value = i < writing.values.size() ? writing.values[i] : null;
        const FieldType type = packet.fields[i].type;
        const bool isBlob = i < writing.blobs.size() && writing.blobs[i].has_value();
        unsigned bits = 0;
        if (isNull(value) && !isBlob) {
            bits = 1;
        } else if (type == FieldType::Blob && previous != RowStore::kNoSource &&
                   packet.rows.sameValueIn(r, previous, i)) {
            bits = 2;
        }
        if (bits != 0) {
            auto& byte = out[statusAt + i / 4];
            byte = static_cast<char>(static_cast<unsigned char>(byte) | (bits << (2 * (i % 4))));
            continue;
        }
        if (isBlob) {
            putBlob(out, type, *writing.blobs[i]);
        } else {
            if (!fitsField(packet.fields[i], writing.typeWords[i], value)) {
                throw dberr::invalidParameter();
            }
            putValue(out, type, writing.typeWords[i] & typeword::kSizeMask, value);
        }
    }
}

}  // namespace

std::string encodeBinaryPacket(const DataPacket& packet) {
    const size_t fieldCount = packet.fields.size();
    if (fieldCount > 0xFFFF || packet.rows.size() > std::numeric_limits<uint32_t>::max()) {
        throw dberr::invalidParameter();
    }
    std::string out;
    out.reserve(estimatedSize(packet));
    // Faulting in a fresh buffer of tens of megabytes page by page costs as much as writing it.
    if (out.capacity() >= kHugePagesFrom) os::adviseHugePages(out.data(), out.capacity());

    put32(out, kMagic);
    put16(out, kMajor);
    put16(out, kMinor);
    put32(out, kHeaderSize);
    put16(out, static_cast<uint16_t>(fieldCount));
    put32(out, static_cast<uint32_t>(packet.rows.size()));
    put32(out, 0);  // property bits, patched once the row offset is known
    put16(out, 0);  // first-row offset, likewise

    const std::vector<uint32_t> typeWords = putFields(out, packet);
    putDatasetAttributes(out, packet);

    const size_t rowsStart = out.size();
    if (rowsStart <= 0xFFFF) {
        patch32(out, kPropertiesOffset, kHoldsLayout | kHoldsRowOffset);
        patch16(out, kRowOffsetOffset, static_cast<uint16_t>(rowsStart));
    } else {
        patch32(out, kPropertiesOffset, kHoldsLayout);
    }

    RowWriting writing{packet, typeWords, ReplacedVersions(packet.changeLog), {}, {}};
    for (const size_t r : rowWriteOrder(packet)) putRow(out, writing, r);
    return out;
}

}  // namespace tarvolen
