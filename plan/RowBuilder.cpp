// RowStore::Builder: versions encoded straight into the arena (RowEncoding.h).

#include <algorithm>
#include <bit>
#include <cstring>

#include "plan/RowEncoding.h"
#include "plan/RowStore.h"

namespace tarvolen {

using namespace rowencoding;

namespace {

// Texts ending in at least this many zero bytes (byte values padded to their width) are stored
// without them and with their count.
constexpr size_t kZerosWorthPadding = 4;

// Bytes kept for a version's length while it is built: lengths below 2 MB.
constexpr size_t kLengthRoom = 3;

// Whether a text is a decimal in the one form the table keeps ("-12.50", "0.005", "0"): it is
// then stored as packed digits, which for long fractions is far smaller than the text.
bool decimalParts(std::string_view text, bool& negative, std::string_view& intPart,
                  std::string_view& fraction) {
    size_t i = 0;
    negative = !text.empty() && text[0] == '-';
    if (negative) ++i;
    const size_t intStart = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    intPart = text.substr(intStart, i - intStart);
    if (intPart.empty() || (intPart.size() > 1 && intPart[0] == '0')) return false;
    fraction = {};
    if (i == text.size()) return true;
    if (text[i] != '.') return false;
    const size_t fracStart = ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    fraction = text.substr(fracStart);
    return i == text.size() && !fraction.empty();
}

}  // namespace

void RowStore::Builder::put(uint8_t byte) {
    m_store.growTo(m_pos + 1);
    m_store.m_arena.get()[m_pos++] = byte;
}

void RowStore::Builder::putBytes(const void* bytes, size_t n) {
    if (n == 0) return;
    m_store.growTo(m_pos + n);
    std::memcpy(m_store.m_arena.get() + m_pos, bytes, n);
    m_pos += n;
}

void RowStore::Builder::putVarint(uint64_t v) {
    m_store.growTo(m_pos + 10);
    uint8_t* p = m_store.m_arena.get();
    while (v >= 0x80) {
        p[m_pos++] = static_cast<uint8_t>(v | 0x80);
        v >>= 7;
    }
    p[m_pos++] = static_cast<uint8_t>(v);
}

void RowStore::Builder::putFixed(uint64_t v, unsigned bytes) {
    m_store.growTo(m_pos + bytes);
    uint8_t* p = m_store.m_arena.get();
    for (unsigned i = 0; i < bytes; ++i) p[m_pos++] = static_cast<uint8_t>(v >> (8 * i));
}

void RowStore::Builder::begin(uint8_t status, size_t source, bool inheritBlobs) {
    m_start = m_store.m_used;
    m_pos = m_start;
    m_pendingNulls = 0;
    m_pendingCarried = 0;
    m_fields = 0;
    // Only an earlier version can be a source, so resolving a value always ends.
    m_hasSource = source < m_store.m_count;
    // Room for the length, set by end(): a varint of up to kLengthRoom bytes, so that a long
    // version need not be moved once its length is known.
    m_store.growTo(m_pos + kLengthRoom + 1);
    m_pos += kLengthRoom;
    put(status);
    if (m_hasSource) {
        put(tag::kSource);
        putVarint(source);
        if (inheritBlobs) put(tag::kInheritBlobs);
    }
}

void RowStore::Builder::flushRuns() {
    if (m_pendingNulls > 0) {
        const size_t shortest = tag::kShortNullRunEnd - tag::kShortNullRun;
        if (m_pendingNulls <= shortest) {
            put(static_cast<uint8_t>(tag::kShortNullRun + m_pendingNulls - 1));
        } else {
            put(tag::kNullRun);
            putVarint(m_pendingNulls);
        }
        m_pendingNulls = 0;
    }
    if (m_pendingCarried > 0) {
        put(tag::kCarryRun);
        putVarint(m_pendingCarried);
        m_pendingCarried = 0;
    }
}

void RowStore::Builder::nulls(size_t count) {
    if (m_pendingCarried > 0) flushRuns();
    m_pendingNulls += count;
    m_fields += count;
}

void RowStore::Builder::carried() {
    if (!m_hasSource) {
        nulls(1);
        return;
    }
    if (m_pendingNulls > 0) flushRuns();
    ++m_pendingCarried;
    ++m_fields;
}

void RowStore::Builder::explicitNull() {
    flushRuns();
    put(tag::kExplicitNull);
    ++m_fields;
}

void RowStore::Builder::integer(int64_t v) {
    flushRuns();
    if (v >= INT8_MIN && v <= INT8_MAX) {
        put(tag::kInt8);
        putFixed(static_cast<uint64_t>(v), 1);
    } else if (v >= INT16_MIN && v <= INT16_MAX) {
        put(tag::kInt16);
        putFixed(static_cast<uint64_t>(v), 2);
    } else if (v >= INT32_MIN && v <= INT32_MAX) {
        put(tag::kInt32);
        putFixed(static_cast<uint64_t>(v), 4);
    } else if (v >= 0 && v <= UINT32_MAX) {
        put(tag::kUInt32);
        putFixed(static_cast<uint64_t>(v), 4);
    } else {
        put(tag::kInt64);
        putFixed(static_cast<uint64_t>(v), 8);
    }
    ++m_fields;
}

void RowStore::Builder::real(double v) {
    flushRuns();
    put(tag::kDouble);
    putFixed(std::bit_cast<uint64_t>(v), 8);
    ++m_fields;
}

void RowStore::Builder::boolean(bool v) {
    flushRuns();
    put(v ? tag::kTrue : tag::kFalse);
    ++m_fields;
}

void RowStore::Builder::text(std::string_view bytes) {
    flushRuns();
    const size_t plain = varintSize(bytes.size()) + bytes.size();

    bool negative = false;
    std::string_view intPart;
    std::string_view fraction;
    if (bytes.size() > 3 && decimalParts(bytes, negative, intPart, fraction)) {
        // The digits without the integer part's "0" and without the zeros leading them; the
        // decimals count says where the point goes back.
        std::string_view head = intPart == "0" ? std::string_view() : intPart;
        std::string_view tail = fraction;
        if (head.empty()) {
            const size_t first = fraction.find_first_not_of('0');
            tail = first == std::string_view::npos ? std::string_view() : fraction.substr(first);
        }
        const size_t count = head.size() + tail.size();
        const size_t packed = 1 + varintSize(fraction.size()) + varintSize(count) + (count + 1) / 2;
        if (packed < plain) {
            put(tag::kDecimal);
            put(negative ? 1 : 0);
            putVarint(fraction.size());
            putVarint(count);
            const auto digit = [&](size_t i) {
                return static_cast<unsigned>((i < head.size() ? head[i] : tail[i - head.size()]) -
                                             '0');
            };
            for (size_t i = 0; i < count; i += 2) {
                const unsigned low = i + 1 < count ? digit(i + 1) : 0;
                put(static_cast<uint8_t>((digit(i) << 4) | low));
            }
            ++m_fields;
            return;
        }
    }

    // Values of byte fields are padded to their width with zero bytes; those are counted.
    const size_t kept = bytes.find_last_not_of('\0') + 1;  // npos + 1 == 0
    const size_t zeros = bytes.size() - kept;
    if (zeros >= kZerosWorthPadding) {
        put(tag::kPaddedText);
        putVarint(kept);
        putBytes(bytes.data(), kept);
        putVarint(zeros);
    } else {
        put(tag::kText);
        putVarint(bytes.size());
        putBytes(bytes.data(), bytes.size());
    }
    ++m_fields;
}

void RowStore::Builder::wide(std::u16string_view text) {
    flushRuns();
    const bool narrow = std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x100; });
    put(narrow ? tag::kNarrowWide : tag::kWide);
    putVarint(text.size());
    m_store.growTo(m_pos + text.size() * (narrow ? 1 : 2));
    uint8_t* p = m_store.m_arena.get();
    for (const char16_t c : text) {
        p[m_pos++] = static_cast<uint8_t>(c);
        if (!narrow) p[m_pos++] = static_cast<uint8_t>(c >> 8);
    }
    ++m_fields;
}

void RowStore::Builder::wideLittleEndian(const char* bytes, size_t units) {
    flushRuns();
    bool narrow = true;
    for (size_t i = 0; i < units && narrow; ++i) narrow = bytes[2 * i + 1] == 0;
    put(narrow ? tag::kNarrowWide : tag::kWide);
    putVarint(units);
    if (!narrow) {
        putBytes(bytes, 2 * units);
    } else {
        m_store.growTo(m_pos + units);
        uint8_t* p = m_store.m_arena.get();
        for (size_t i = 0; i < units; ++i) p[m_pos++] = static_cast<uint8_t>(bytes[2 * i]);
    }
    ++m_fields;
}

void RowStore::Builder::blob(std::string_view bytes) {
    flushRuns();
    put(tag::kBlob);
    putVarint(bytes.size());
    putBytes(bytes.data(), bytes.size());
    ++m_fields;
}

char* RowStore::Builder::beginBlob(size_t maxBytes) {
    flushRuns();
    m_blobLengthBytes = varintSize(maxBytes);
    m_store.growTo(m_pos + 1 + m_blobLengthBytes + maxBytes);
    return reinterpret_cast<char*>(m_store.m_arena.get() + m_pos + 1 + m_blobLengthBytes);
}

void RowStore::Builder::endBlob(size_t bytes) {
    uint8_t* p = m_store.m_arena.get() + m_pos;
    *p++ = tag::kBlob;
    // The length in the room kept for the longest: a varint padded to more bytes than it needs
    // reads the same, and the bytes need not move.
    uint64_t v = bytes;
    for (size_t i = 1; i < m_blobLengthBytes; ++i) {
        *p++ = static_cast<uint8_t>(v | 0x80);
        v >>= 7;
    }
    *p = static_cast<uint8_t>(v);
    m_pos += 1 + m_blobLengthBytes + bytes;
    ++m_fields;
}

void RowStore::Builder::timeStamp(const SqlTimeStamp& ts) {
    flushRuns();
    put(tag::kTimeStamp);
    putFixed(static_cast<uint16_t>(ts.year), 2);
    putFixed(ts.month, 2);
    putFixed(ts.day, 2);
    putFixed(ts.hour, 2);
    putFixed(ts.minute, 2);
    putFixed(ts.second, 2);
    putFixed(ts.millisecond, 4);
    ++m_fields;
}

void RowStore::Builder::intArray(const IntArray& values) {
    flushRuns();
    put(tag::kIntArray);
    putVarint(values.size());
    for (const int64_t v : values) putVarint(zigzag(v));
    ++m_fields;
}

void RowStore::Builder::value(const FieldValue& v) {
    std::visit(
        [this](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                nulls(1);
            } else if constexpr (std::is_same_v<T, int64_t>) {
                integer(x);
            } else if constexpr (std::is_same_v<T, double>) {
                real(x);
            } else if constexpr (std::is_same_v<T, bool>) {
                boolean(x);
            } else if constexpr (std::is_same_v<T, std::string>) {
                text(x);
            } else if constexpr (std::is_same_v<T, std::u16string>) {
                wide(x);
            } else if constexpr (std::is_same_v<T, BlobData>) {
                if (x == nullptr) {
                    nulls(1);
                } else {
                    blob(*x);
                }
            } else if constexpr (std::is_same_v<T, SqlTimeStamp>) {
                timeStamp(x);
            } else {
                intArray(x);
            }
        },
        v);
}

void RowStore::Builder::end() {
    // Trailing nulls need no item: a version reads null past its last one.
    m_pendingNulls = 0;
    flushRuns();
    const size_t length = m_pos - m_start - kLengthRoom;
    // A short version's length takes one byte and the version moves down to it, so that tiny
    // versions stay tiny; a longer one's is written padded to the room (a varint of more bytes
    // than it needs reads the same), and only a version of megabytes moves up.
    size_t lengthBytes = varintSize(length);
    if (lengthBytes > 1 && lengthBytes < kLengthRoom) lengthBytes = kLengthRoom;
    if (lengthBytes != kLengthRoom) {
        m_store.growTo(m_pos + lengthBytes);
        uint8_t* p = m_store.m_arena.get();
        std::memmove(p + m_start + lengthBytes, p + m_start + kLengthRoom, length);
        m_pos = m_start + lengthBytes + length;
    }
    if (m_store.m_count % kSampleEvery == 0) m_store.m_samples.push_back(m_start);
    uint8_t* p = m_store.m_arena.get() + m_start;
    uint64_t v = length;
    for (size_t i = 1; i < lengthBytes; ++i) {
        *p++ = static_cast<uint8_t>(v | 0x80);
        v >>= 7;
    }
    *p = static_cast<uint8_t>(v);
    m_store.m_used = m_pos;
    ++m_store.m_count;
    m_store.setFieldCount(m_fields);
}

}  // namespace tarvolen
