#pragma once
// The encoding of row versions inside RowStore's arena, shared by the store and its builder.
// Not for use outside them: the arena's bytes are RowStore's own business.
//
// A version: a varint length of what follows, the status byte, header items (0x80 and up),
// then one item per field in layout order. Fields past the last item are null.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "plan/FieldValue.h"

namespace tarvolen::rowencoding {

// Item tags. Field items are below 0x80; header items, which follow the status byte, above.
// A run of up to 32 null fields takes one byte, as null fields take two bits each in the binary
// form.
namespace tag {
constexpr uint8_t kNullRun = 0x00;       // varint n: n null fields
constexpr uint8_t kCarryRun = 0x01;      // varint n: n fields carried from the source
constexpr uint8_t kExplicitNull = 0x02;  // one null field that inherits nothing
constexpr uint8_t kFalse = 0x03;
constexpr uint8_t kTrue = 0x04;
constexpr uint8_t kInt8 = 0x05;  // then the integer in 1, 2, 4 or 8 bytes
constexpr uint8_t kInt16 = 0x06;
constexpr uint8_t kInt32 = 0x07;
constexpr uint8_t kInt64 = 0x08;
constexpr uint8_t kUInt32 = 0x09;
constexpr uint8_t kDouble = 0x0A;        // 8 bytes
constexpr uint8_t kText = 0x0B;          // varint length, bytes
constexpr uint8_t kPaddedText = 0x0C;    // varint length, bytes, varint count of zero bytes after
constexpr uint8_t kDecimal = 0x0D;       // sign byte, varint decimals, varint digits, nibbles
constexpr uint8_t kWide = 0x0E;          // varint units, UTF-16LE units
constexpr uint8_t kNarrowWide = 0x0F;    // varint units, one byte per unit (all below 256)
constexpr uint8_t kBlob = 0x10;          // varint length, bytes
constexpr uint8_t kTimeStamp = 0x11;     // 16 bytes, as the binary form stores it
constexpr uint8_t kIntArray = 0x12;      // varint count, zigzag varints
constexpr uint8_t kShortNullRun = 0x40;  // 0x40 + n - 1, n from 1 to 32: n null fields
constexpr uint8_t kShortNullRunEnd = 0x60;
constexpr uint8_t kSource = 0x80;        // header: varint version whose values are carried
constexpr uint8_t kInheritBlobs = 0x81;  // header: null fields take the source's blobs
}  // namespace tag

// A sampled arena offset every this many versions.
constexpr size_t kSampleEvery = 16;

inline uint64_t readVarint(const uint8_t*& p) {
    uint64_t v = 0;
    unsigned shift = 0;
    while (true) {
        const uint8_t b = *p++;
        v |= static_cast<uint64_t>(b & 0x7F) << shift;
        if ((b & 0x80) == 0) return v;
        shift += 7;
    }
}

inline size_t varintSize(uint64_t v) {
    size_t n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

inline uint64_t readFixed(const uint8_t* p, unsigned bytes) {
    uint64_t v = 0;
    for (unsigned i = bytes; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

inline uint64_t zigzag(int64_t v) {
    return (static_cast<uint64_t>(v) << 1) ^ (v < 0 ? ~uint64_t{0} : 0);
}
inline int64_t unzigzag(uint64_t v) {
    return static_cast<int64_t>((v >> 1) ^ (0 - (v & 1)));
}

// When the item at `p` is a run of null or carried fields: its length, whether it is carried,
// and `p` moved past it.
inline bool readRun(const uint8_t*& p, size_t& count, bool& carried) {
    const uint8_t t = *p;
    if (t >= tag::kShortNullRun && t < tag::kShortNullRunEnd) {
        count = static_cast<size_t>(t - tag::kShortNullRun) + 1;
        carried = false;
        ++p;
        return true;
    }
    if (t != tag::kNullRun && t != tag::kCarryRun) return false;
    ++p;
    count = static_cast<size_t>(readVarint(p));
    carried = t == tag::kCarryRun;
    return true;
}

// Past the end of the item at `p`.
const uint8_t* itemEnd(const uint8_t* p);
// The bytes of a text or blob item.
std::string_view itemBytes(const uint8_t* p);
// The value of a value item, into `out`, reusing the room its alternative has.
void decodeItem(const uint8_t* p, FieldValue& out);

}  // namespace tarvolen::rowencoding
