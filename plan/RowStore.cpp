#include "plan/RowStore.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/os/Memory.h"
#include "plan/RowEncoding.h"

namespace tarvolen {

using namespace rowencoding;

namespace {

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
        size_t n = 0;
        bool carried = false;
        if (readRun(p, n, carried)) {
            if (field < at + n) return carried ? Slot::Carried : Slot::Null;
            at += n;
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

}  // namespace

// Arenas from this size on come from the system: their pages are faulted in by the megabyte.
constexpr size_t kLargeArena = size_t{1} << 20;
// The largest arena kept as the spare.
constexpr size_t kMaxSpare = size_t{256} << 20;

std::atomic<size_t> g_largeArenaBytes{0};

// One large arena kept when its store lets it go, for the next store that needs one: a decode
// after another (the next import, a plan read again) then writes into pages already in place
// instead of faulting in fresh ones, which costs as much as the decoding itself. Meanwhile the
// system may take the spare's pages back whenever it needs memory (os::discardLargeContents).
class SpareArena {
  public:
    // The spare made `bytes` long, or nullptr when there is none.
    void* take(size_t bytes) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_block == nullptr) return nullptr;
        void* block = os::resizeLarge(m_block, m_bytes, bytes);
        if (block == nullptr) return nullptr;
        m_block = nullptr;
        m_bytes = 0;
        return block;
    }
    // Keeps the block as the spare when it is larger than the one kept, else gives it back.
    void keep(void* block, size_t bytes) {
        if (bytes <= kMaxSpare) {
            os::discardLargeContents(block, bytes);
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (bytes > m_bytes) {
                std::swap(block, m_block);
                std::swap(bytes, m_bytes);
            }
        }
        os::freeLarge(block, bytes);
    }

    // Gives the spare back to the system.
    void release() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        os::freeLarge(m_block, m_bytes);
        m_block = nullptr;
        m_bytes = 0;
    }

  private:
    std::mutex m_mutex;
    void* m_block = nullptr;
    size_t m_bytes = 0;
};

// Never destroyed: stores held by static objects let their arenas go after main returns.
SpareArena& spareArena() {
    static SpareArena& spare = *new SpareArena;  // NOLINT(cppcoreguidelines-owning-memory)
    return spare;
}

RowStore::Block::Block(Block&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_capacity(std::exchange(other.m_capacity, 0)),
      m_large(std::exchange(other.m_large, false)) {}

RowStore::Block& RowStore::Block::operator=(Block&& other) noexcept {
    if (this != &other) {
        reset();
        m_data = std::exchange(other.m_data, nullptr);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_large = std::exchange(other.m_large, false);
    }
    return *this;
}

void RowStore::Block::reset() {
    if (m_large) {
        g_largeArenaBytes -= m_capacity;
        spareArena().keep(m_data, m_capacity);
    } else {
        std::free(m_data);  // NOLINT(cppcoreguidelines-no-malloc): the arena grows by realloc
    }
    m_data = nullptr;
    m_capacity = 0;
    m_large = false;
}

void RowStore::Block::resize(size_t capacity, size_t keep) {
    void* p = nullptr;
    if (m_large) {
        p = os::resizeLarge(m_data, m_capacity, capacity);
        if (p != nullptr) {
            g_largeArenaBytes += capacity;
            g_largeArenaBytes -= m_capacity;
        }
    } else if (capacity >= kLargeArena) {
        p = spareArena().take(capacity);
        if (p == nullptr) p = os::allocateLarge(capacity);
        if (p != nullptr) {
            g_largeArenaBytes += capacity;
            if (keep > 0) std::memcpy(p, m_data, keep);
            std::free(m_data);  // NOLINT(cppcoreguidelines-no-malloc)
            m_large = true;
        }
    } else {
        // Large heap blocks are remapped rather than copied, so growing never holds two
        // copies of the arena at once.
        p = std::realloc(m_data, capacity);  // NOLINT(cppcoreguidelines-no-malloc)
    }
    if (p == nullptr) throw std::bad_alloc();
    m_data = static_cast<uint8_t*>(p);
    m_capacity = capacity;
}

RowStore::RowStore(std::initializer_list<RowVersion> rows) {
    *this = rows;
}

RowStore::RowStore(const RowStore& other)
    : m_count(other.m_count), m_fieldCount(other.m_fieldCount), m_samples(other.m_samples) {
    if (other.m_used > 0) {
        m_arena.resize(other.m_used, 0);
        std::memcpy(m_arena.get(), other.m_arena.get(), other.m_used);
    }
    m_used = other.m_used;
}

RowStore::RowStore(RowStore&& other) noexcept
    : m_arena(std::move(other.m_arena)),
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
    m_used = 0;
    m_count = 0;
    std::vector<uint64_t>().swap(m_samples);
    m_lastRow = SIZE_MAX;
}

void RowStore::reserve(size_t rows) {
    m_samples.reserve((m_count + rows) / kSampleEvery + 1);
}

void RowStore::shrinkToFit() {
    if (m_arena.capacity() != m_used) {
        if (m_used == 0) {
            m_arena.reset();
        } else {
            try {
                m_arena.resize(m_used, m_used);  // in place: no copy
            } catch (const std::bad_alloc&) {
                // Shrinking in place does not fail; should it, the room stays, which is harmless.
            }
        }
    }
    m_samples.shrink_to_fit();
}

size_t RowStore::largeArenaBytes() {
    return g_largeArenaBytes.load();
}

void RowStore::releaseSpareArena() {
    spareArena().release();
}

size_t RowStore::bytesUsed() const {
    return m_arena.capacity() + m_samples.capacity() * sizeof(uint64_t);
}

void RowStore::growTo(size_t bytes) {
    const size_t capacity = m_arena.capacity();
    if (bytes <= capacity) return;
    // Every byte is kept: a builder writes its version beyond m_used before committing it.
    m_arena.resize(std::max({bytes, capacity + capacity / 2, size_t{256}}), capacity);
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
        size_t n = 0;
        bool carried = false;
        if (readRun(p, n, carried)) {
            covered += n;
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
        size_t n = 0;
        bool carried = false;
        if (readRun(p, n, carried)) {
            for (size_t k = 0; k < n; ++k, ++field) {
                if (carried) {
                    fromSource(field, false);
                } else if (v.inheritBlobs) {
                    fromSource(field, true);
                } else {
                    values[field] = FieldValue{};
                }
            }
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

void RowStore::popBack() {
    m_used = static_cast<size_t>(rowStart(m_count - 1) - m_arena.get());
    --m_count;
    if (m_count % kSampleEvery == 0) m_samples.pop_back();  // the version's own sample
    m_lastRow = SIZE_MAX;
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

}  // namespace tarvolen
