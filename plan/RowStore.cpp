#include "plan/RowStore.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

namespace tarvolen {
namespace {

// Item tags. Field items are below 0x80; header items, which follow the status byte, above.
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
constexpr uint8_t kSource = 0x80;        // header: varint version whose values are carried
constexpr uint8_t kInheritBlobs = 0x81;  // header: null fields take the source's blobs
}  // namespace tag

constexpr size_t kSampleEvery = 16;
constexpr size_t kZerosWorthPadding = 4;

uint64_t readVarint(const uint8_t*& p) {
    uint64_t v = 0;
    unsigned shift = 0;
    while (true) {
        const uint8_t b = *p++;
        v |= static_cast<uint64_t>(b & 0x7F) << shift;
        if ((b & 0x80) == 0) return v;
        shift += 7;
    }
}

size_t varintSize(uint64_t v) {
    size_t n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

uint64_t readFixed(const uint8_t* p, unsigned bytes) {
    uint64_t v = 0;
    for (unsigned i = bytes; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

uint64_t zigzag(int64_t v) {
    return (static_cast<uint64_t>(v) << 1) ^ (v < 0 ? ~uint64_t{0} : 0);
}
int64_t unzigzag(uint64_t v) {
    return static_cast<int64_t>((v >> 1) ^ (0 - (v & 1)));
}

// Past the end of the item at `p`.
const uint8_t* itemEnd(const uint8_t* p) {
    const uint8_t t = *p++;
    switch (t) {
        case tag::kNullRun:
        case tag::kCarryRun:
            readVarint(p);
            return p;
        case tag::kExplicitNull:
        case tag::kFalse:
        case tag::kTrue:
            return p;
        case tag::kInt8:
            return p + 1;
        case tag::kInt16:
            return p + 2;
        case tag::kInt32:
        case tag::kUInt32:
            return p + 4;
        case tag::kInt64:
        case tag::kDouble:
            return p + 8;
        case tag::kText:
        case tag::kBlob: {
            const uint64_t n = readVarint(p);
            return p + n;
        }
        case tag::kPaddedText: {
            const uint64_t n = readVarint(p);
            p += n;
            readVarint(p);
            return p;
        }
        case tag::kDecimal: {
            ++p;
            readVarint(p);
            const uint64_t digits = readVarint(p);
            return p + (digits + 1) / 2;
        }
        case tag::kWide: {
            const uint64_t n = readVarint(p);
            return p + 2 * n;
        }
        case tag::kNarrowWide: {
            const uint64_t n = readVarint(p);
            return p + n;
        }
        case tag::kTimeStamp:
            return p + 16;
        case tag::kIntArray: {
            const uint64_t n = readVarint(p);
            for (uint64_t i = 0; i < n; ++i) readVarint(p);
            return p;
        }
        default:
            return p;  // not reached: the store writes only the tags above
    }
}

// The bytes of a text or blob item.
std::string_view itemBytes(const uint8_t* p) {
    ++p;
    const auto n = static_cast<size_t>(readVarint(p));
    return {reinterpret_cast<const char*>(p), n};
}

template <typename T>
T& slotAs(FieldValue& slot) {
    if (auto* v = std::get_if<T>(&slot)) return *v;
    return slot.emplace<T>();
}

void decodeItem(const uint8_t* p, FieldValue& out) {
    const uint8_t t = *p;
    switch (t) {
        case tag::kFalse:
            out = false;
            return;
        case tag::kTrue:
            out = true;
            return;
        case tag::kInt8:
            out = int64_t{static_cast<int8_t>(p[1])};
            return;
        case tag::kInt16:
            out = int64_t{static_cast<int16_t>(readFixed(p + 1, 2))};
            return;
        case tag::kInt32:
            out = int64_t{static_cast<int32_t>(readFixed(p + 1, 4))};
            return;
        case tag::kUInt32:
            out = static_cast<int64_t>(readFixed(p + 1, 4));
            return;
        case tag::kInt64:
            out = static_cast<int64_t>(readFixed(p + 1, 8));
            return;
        case tag::kDouble:
            out = std::bit_cast<double>(readFixed(p + 1, 8));
            return;
        case tag::kText: {
            const std::string_view bytes = itemBytes(p);
            slotAs<std::string>(out).assign(bytes.data(), bytes.size());
            return;
        }
        case tag::kPaddedText: {
            const std::string_view bytes = itemBytes(p);
            const uint8_t* q = reinterpret_cast<const uint8_t*>(bytes.data() + bytes.size());
            const auto zeros = static_cast<size_t>(readVarint(q));
            std::string& text = slotAs<std::string>(out);
            text.assign(bytes.data(), bytes.size());
            text.append(zeros, '\0');
            return;
        }
        case tag::kDecimal: {
            const uint8_t* q = p + 1;
            const bool negative = (*q++ & 1) != 0;
            const auto decimals = static_cast<size_t>(readVarint(q));
            const auto count = static_cast<size_t>(readVarint(q));
            std::string digits(count, '0');
            for (size_t i = 0; i < count; ++i) {
                const unsigned byte = q[i / 2];
                digits[i] = static_cast<char>('0' + (i % 2 == 0 ? byte >> 4 : byte & 0x0F));
            }
            std::string& text = slotAs<std::string>(out);
            text.clear();
            if (negative) text += '-';
            if (count > decimals) {
                text.append(digits, 0, count - decimals);
            } else {
                text += '0';
            }
            if (decimals > 0) {
                text += '.';
                if (count < decimals) text.append(decimals - count, '0');
                text.append(digits, count > decimals ? count - decimals : 0, std::string::npos);
            }
            return;
        }
        case tag::kWide:
        case tag::kNarrowWide: {
            const uint8_t* q = p + 1;
            const auto n = static_cast<size_t>(readVarint(q));
            std::u16string& text = slotAs<std::u16string>(out);
            text.resize(n);
            for (size_t i = 0; i < n; ++i) {
                text[i] = t == tag::kWide ? static_cast<char16_t>(q[2 * i] | (q[2 * i + 1] << 8))
                                          : static_cast<char16_t>(q[i]);
            }
            return;
        }
        case tag::kBlob: {
            const std::string_view bytes = itemBytes(p);
            out = makeBlob(std::string(bytes));
            return;
        }
        case tag::kTimeStamp: {
            SqlTimeStamp ts;
            ts.year = static_cast<int16_t>(readFixed(p + 1, 2));
            ts.month = static_cast<uint16_t>(readFixed(p + 3, 2));
            ts.day = static_cast<uint16_t>(readFixed(p + 5, 2));
            ts.hour = static_cast<uint16_t>(readFixed(p + 7, 2));
            ts.minute = static_cast<uint16_t>(readFixed(p + 9, 2));
            ts.second = static_cast<uint16_t>(readFixed(p + 11, 2));
            ts.millisecond = static_cast<uint32_t>(readFixed(p + 13, 4));
            out = ts;
            return;
        }
        case tag::kIntArray: {
            const uint8_t* q = p + 1;
            const auto n = static_cast<size_t>(readVarint(q));
            IntArray& values = slotAs<IntArray>(out);
            values.resize(n);
            for (size_t i = 0; i < n; ++i) values[i] = unzigzag(readVarint(q));
            return;
        }
        default:
            out = FieldValue{};
            return;
    }
}

// One version as the arena holds it.
struct RowView {
    const uint8_t* items = nullptr;  // first field item
    const uint8_t* end = nullptr;
    uint8_t status = 0;
    size_t source = RowStore::kNoSource;
    bool inheritBlobs = false;
};

RowView parseRow(const uint8_t* p) {
    RowView v;
    const auto length = static_cast<size_t>(readVarint(p));
    v.end = p + length;
    v.status = *p++;
    while (p < v.end && *p >= 0x80) {
        if (*p++ == tag::kSource) {
            v.source = static_cast<size_t>(readVarint(p));
        } else {
            v.inheritBlobs = true;
        }
    }
    v.items = p;
    return v;
}

enum class Slot { Value, Null, ExplicitNull, Carried };

// Where field `field` stands in a version: its item, or what kind of absence.
Slot findField(const RowView& v, size_t field, const uint8_t*& item) {
    size_t at = 0;
    for (const uint8_t* p = v.items; p < v.end;) {
        const uint8_t t = *p;
        if (t == tag::kNullRun || t == tag::kCarryRun) {
            const uint8_t* q = p + 1;
            const auto n = static_cast<size_t>(readVarint(q));
            if (field < at + n) return t == tag::kNullRun ? Slot::Null : Slot::Carried;
            at += n;
            p = q;
            continue;
        }
        if (at == field) {
            item = p;
            return t == tag::kExplicitNull ? Slot::ExplicitNull : Slot::Value;
        }
        ++at;
        p = itemEnd(p);
    }
    return Slot::Null;
}

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

void RowStore::Free::operator()(uint8_t* p) const {
    std::free(p);  // NOLINT(cppcoreguidelines-no-malloc): the arena grows by realloc
}

RowStore::RowStore(std::initializer_list<RowVersion> rows) {
    *this = rows;
}

RowStore::RowStore(const RowStore& other)
    : m_count(other.m_count), m_fieldCount(other.m_fieldCount), m_samples(other.m_samples) {
    if (other.m_used > 0) {
        growTo(other.m_used);
        std::memcpy(m_arena.get(), other.m_arena.get(), other.m_used);
    }
    m_used = other.m_used;
}

RowStore::RowStore(RowStore&& other) noexcept
    : m_arena(std::move(other.m_arena)),
      m_capacity(std::exchange(other.m_capacity, 0)),
      m_used(std::exchange(other.m_used, 0)),
      m_count(std::exchange(other.m_count, 0)),
      m_fieldCount(other.m_fieldCount),
      m_samples(std::move(other.m_samples)) {
    other.m_lastRow = SIZE_MAX;
}

RowStore& RowStore::operator=(const RowStore& other) {
    if (this != &other) {
        RowStore copy(other);
        *this = std::move(copy);
    }
    return *this;
}

RowStore& RowStore::operator=(RowStore&& other) noexcept {
    m_arena = std::move(other.m_arena);
    m_capacity = std::exchange(other.m_capacity, 0);
    m_used = std::exchange(other.m_used, 0);
    m_count = std::exchange(other.m_count, 0);
    m_fieldCount = other.m_fieldCount;
    m_samples = std::move(other.m_samples);
    other.m_samples.clear();
    m_lastRow = SIZE_MAX;
    other.m_lastRow = SIZE_MAX;
    return *this;
}

RowStore& RowStore::operator=(std::initializer_list<RowVersion> rows) {
    RowStore fresh;
    fresh.m_fieldCount = m_fieldCount;
    for (const RowVersion& row : rows) fresh.push_back(row);
    *this = std::move(fresh);
    return *this;
}

void RowStore::clear() {
    m_arena.reset();
    m_capacity = 0;
    m_used = 0;
    m_count = 0;
    std::vector<uint64_t>().swap(m_samples);
    m_lastRow = SIZE_MAX;
}

void RowStore::reserve(size_t rows) {
    m_samples.reserve((m_count + rows) / kSampleEvery + 1);
}

void RowStore::shrinkToFit() {
    if (m_capacity == m_used) return;
    if (m_used == 0) {
        m_arena.reset();
        m_capacity = 0;
        return;
    }
    // NOLINTNEXTLINE(cppcoreguidelines-no-malloc): shrinking in place, no copy
    if (auto* p = static_cast<uint8_t*>(std::realloc(m_arena.get(), m_used))) {
        (void)m_arena.release();
        m_arena.reset(p);
        m_capacity = m_used;
    }
    m_samples.shrink_to_fit();
}

size_t RowStore::bytesUsed() const {
    return m_capacity + m_samples.capacity() * sizeof(uint64_t);
}

void RowStore::growTo(size_t bytes) {
    if (bytes <= m_capacity) return;
    // Grown by realloc: large blocks are remapped rather than copied, so growing never holds
    // two copies of the arena at once.
    const size_t capacity = std::max({bytes, m_capacity + m_capacity / 2, size_t{256}});
    // NOLINTNEXTLINE(cppcoreguidelines-no-malloc)
    auto* p = static_cast<uint8_t*>(std::realloc(m_arena.get(), capacity));
    if (p == nullptr) throw std::bad_alloc();
    (void)m_arena.release();
    m_arena.reset(p);
    m_capacity = capacity;
}

const uint8_t* RowStore::rowStart(size_t row) const {
    if (row >= m_count) throw std::out_of_range("row version " + std::to_string(row));
    const uint8_t* base = m_arena.get();
    size_t from = row - row % kSampleEvery;
    size_t offset = m_samples[row / kSampleEvery];
    if (m_lastRow != SIZE_MAX && m_lastRow <= row && m_lastRow >= from) {
        from = m_lastRow;
        offset = m_lastOffset;
    }
    const uint8_t* p = base + offset;
    for (; from < row; ++from) {
        const auto length = static_cast<size_t>(readVarint(p));
        p += length;
    }
    m_lastRow = row;
    m_lastOffset = static_cast<size_t>(p - base);
    return p;
}

uint8_t RowStore::status(size_t row) const {
    return parseRow(rowStart(row)).status;
}

void RowStore::setStatus(size_t row, uint8_t status) {
    const uint8_t* p = rowStart(row);
    readVarint(p);
    m_arena.get()[p - m_arena.get()] = status;
}

const uint8_t* RowStore::resolve(size_t row, size_t field) const {
    bool blobOnly = false;
    while (true) {
        const RowView v = parseRow(rowStart(row));
        const uint8_t* item = nullptr;
        switch (findField(v, field, item)) {
            case Slot::Value:
                return !blobOnly || *item == tag::kBlob ? item : nullptr;
            case Slot::ExplicitNull:
                return nullptr;
            case Slot::Null:
                if (!v.inheritBlobs || v.source == kNoSource) return nullptr;
                blobOnly = true;
                break;
            case Slot::Carried:
                if (v.source == kNoSource) return nullptr;
                break;
        }
        row = v.source;  // always an earlier version, so this ends
    }
}

FieldValue RowStore::value(size_t row, size_t field) const {
    FieldValue out;
    if (const uint8_t* item = resolve(row, field)) decodeItem(item, out);
    return out;
}

void RowStore::decodeRow(size_t row, std::vector<FieldValue>& values,
                         std::vector<std::optional<std::string_view>>* blobs) const {
    const RowView v = parseRow(rowStart(row));
    size_t covered = 0;
    for (const uint8_t* p = v.items; p < v.end;) {
        const uint8_t t = *p;
        if (t == tag::kNullRun || t == tag::kCarryRun) {
            const uint8_t* q = p + 1;
            covered += static_cast<size_t>(readVarint(q));
            p = q;
        } else {
            ++covered;
            p = itemEnd(p);
        }
    }
    values.resize(std::max(covered, m_fieldCount));
    if (blobs != nullptr) blobs->assign(values.size(), std::nullopt);

    auto decode = [&](const uint8_t* item, size_t field) {
        if (blobs != nullptr && *item == tag::kBlob) {
            values[field] = FieldValue{};
            (*blobs)[field] = itemBytes(item);
        } else {
            decodeItem(item, values[field]);
        }
    };
    auto fromSource = [&](size_t field, bool blobOnly) {
        const uint8_t* item = v.source == kNoSource ? nullptr : resolve(v.source, field);
        if (item != nullptr && (!blobOnly || *item == tag::kBlob)) {
            decode(item, field);
        } else {
            values[field] = FieldValue{};
        }
    };
    size_t field = 0;
    for (const uint8_t* p = v.items; p < v.end;) {
        const uint8_t t = *p;
        if (t == tag::kNullRun || t == tag::kCarryRun) {
            const uint8_t* q = p + 1;
            const auto n = static_cast<size_t>(readVarint(q));
            for (size_t k = 0; k < n; ++k, ++field) {
                if (t == tag::kCarryRun) {
                    fromSource(field, false);
                } else if (v.inheritBlobs) {
                    fromSource(field, true);
                } else {
                    values[field] = FieldValue{};
                }
            }
            p = q;
            continue;
        }
        if (t == tag::kExplicitNull) {
            values[field] = FieldValue{};
        } else {
            decode(p, field);
        }
        ++field;
        p = itemEnd(p);
    }
    for (; field < values.size(); ++field) {
        if (v.inheritBlobs) {
            fromSource(field, true);
        } else {
            values[field] = FieldValue{};
        }
    }
}

const RowVersion RowStore::operator[](size_t row) const {  // NOLINT(readability-const-return-type)
    RowVersion version;
    version.status = status(row);
    decodeRow(row, version.values);
    return version;
}

bool RowStore::holds(size_t row, size_t field, const FieldValue& value) const {
    const uint8_t* item = resolve(row, field);
    if (item == nullptr) return isNull(value);
    if (const auto* blob = std::get_if<BlobData>(&value)) {
        return *item == tag::kBlob && itemBytes(item) == **blob;
    }
    FieldValue stored;
    decodeItem(item, stored);
    return sameValue(stored, value);
}

bool RowStore::sameValueIn(size_t row, size_t other, size_t field) const {
    const uint8_t* a = resolve(row, field);
    const uint8_t* b = resolve(other, field);
    if (a == b) return true;
    if (a == nullptr || b == nullptr) return false;
    const uint8_t* endA = itemEnd(a);
    const uint8_t* endB = itemEnd(b);
    if (endA - a == endB - b && std::memcmp(a, b, static_cast<size_t>(endA - a)) == 0) return true;
    FieldValue x;
    FieldValue y;
    decodeItem(a, x);
    decodeItem(b, y);
    return sameValue(x, y);
}

bool RowStore::holdsNoContent(size_t row, size_t field) const {
    const uint8_t* item = resolve(row, field);
    return item == nullptr ||
           ((*item == tag::kBlob || *item == tag::kText) && itemBytes(item).empty());
}

void RowStore::append(uint8_t status, const std::vector<FieldValue>& values, size_t source) {
    Builder builder(*this);
    builder.begin(status, source);
    for (size_t field = 0; field < values.size(); ++field) {
        const FieldValue& v = values[field];
        if (source != kNoSource && std::holds_alternative<BlobData>(v) && holds(source, field, v)) {
            builder.carried();
        } else {
            builder.value(v);
        }
    }
    builder.end();
}

// ---- Builder ------------------------------------------------------------------------------

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
    put(0);  // the length, set by end()
    put(status);
    if (m_hasSource) {
        put(tag::kSource);
        putVarint(source);
        if (inheritBlobs) put(tag::kInheritBlobs);
    }
}

void RowStore::Builder::flushRuns() {
    if (m_pendingNulls > 0) {
        put(tag::kNullRun);
        putVarint(m_pendingNulls);
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
        std::string_view digits = intPart == "0" ? std::string_view() : intPart;
        std::string all;
        if (!digits.empty()) {
            all.assign(digits);
            all.append(fraction);
        } else {
            const size_t first = fraction.find_first_not_of('0');
            all.assign(first == std::string_view::npos ? std::string_view()
                                                       : fraction.substr(first));
        }
        const size_t packed =
            1 + varintSize(fraction.size()) + varintSize(all.size()) + (all.size() + 1) / 2;
        if (packed < plain) {
            put(tag::kDecimal);
            put(negative ? 1 : 0);
            putVarint(fraction.size());
            putVarint(all.size());
            for (size_t i = 0; i < all.size(); i += 2) {
                const auto high = static_cast<unsigned>(all[i] - '0');
                const unsigned low =
                    i + 1 < all.size() ? static_cast<unsigned>(all[i + 1] - '0') : 0;
                put(static_cast<uint8_t>((high << 4) | low));
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
    const size_t length = m_pos - m_start - 1;
    const size_t extra = varintSize(length) - 1;
    if (extra > 0) {
        m_store.growTo(m_pos + extra);
        uint8_t* p = m_store.m_arena.get();
        std::memmove(p + m_start + 1 + extra, p + m_start + 1, length);
        m_pos += extra;
    }
    if (m_store.m_count % kSampleEvery == 0) m_store.m_samples.push_back(m_start);
    uint8_t* p = m_store.m_arena.get() + m_start;
    uint64_t v = length;
    while (v >= 0x80) {
        *p++ = static_cast<uint8_t>(v | 0x80);
        v >>= 7;
    }
    *p = static_cast<uint8_t>(v);
    m_store.m_used = m_pos;
    ++m_store.m_count;
    m_store.setFieldCount(m_fields);
}

}  // namespace tarvolen
