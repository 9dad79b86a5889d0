#pragma once
// The row versions of a table, held compactly. Every version is encoded into one growing byte
// arena, values are decoded only when asked for, and a version that keeps a value of the
// version it replaces refers to it instead of copying it. A table of millions of small rows
// therefore takes about the room its file gave it, not a heap object per value.
//
// A version is encoded (RowEncoding.h, internal to the store) as its length, its status byte,
// an optional header (the version whose values it carries over), then one item per field in
// layout order, with runs of null or carried fields folded into one item and the trailing
// nulls left out. Each value item starts with a tag that says how its bytes read (an integer in
// 1, 2, 4 or 8 bytes, a text with its length, a decimal as packed digits, ...), so the arena
// needs no layout to be read; the layout only says how many fields a version has. A sampled
// offset every 16 versions finds a version; the versions in between are skipped by their
// lengths.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "plan/FieldValue.h"

namespace tarvolen {

class RowStore {
  public:
    static constexpr size_t kNoSource = SIZE_MAX;

    class const_iterator {
      public:
        using iterator_category = std::input_iterator_tag;
        using value_type = RowVersion;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = RowVersion;

        const_iterator() = default;
        const_iterator(const RowStore* store, size_t at) : m_store(store), m_at(at) {}
        RowVersion operator*() const { return (*m_store)[m_at]; }
        const_iterator& operator++() {
            ++m_at;
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator old = *this;
            ++m_at;
            return old;
        }
        bool operator==(const const_iterator& other) const { return m_at == other.m_at; }

      private:
        const RowStore* m_store = nullptr;
        size_t m_at = 0;
    };

    // Appends versions value by value, straight into the arena; what the decoders use.
    class Builder;

    RowStore() = default;
    RowStore(std::initializer_list<RowVersion> rows);
    RowStore(const RowStore& other);
    RowStore(RowStore&& other) noexcept;
    RowStore& operator=(const RowStore& other);
    RowStore& operator=(RowStore&& other) noexcept;
    RowStore& operator=(std::initializer_list<RowVersion> rows);
    ~RowStore() = default;

    size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    // Drops every version and gives the memory back; the field count stays.
    void clear();
    // Room for `rows` more versions' bookkeeping; the arena grows as values come.
    void reserve(size_t rows);
    // Room for `bytes` more bytes of encoded versions, for a decoder that can tell how much
    // its rows will take; growing the arena later copies it.
    void reserveBytes(size_t bytes) { growTo(m_used + bytes); }
    // Gives back arena room beyond what the versions use.
    void shrinkToFit();
    // Bytes the store holds, arena and offsets.
    size_t bytesUsed() const;
    // Bytes of the large arenas all stores hold now, which the heap's statistics do not see
    // (os::allocateLarge): for measurements of memory. The spare arena kept for the next store
    // is not counted.
    static size_t largeArenaBytes();
    // Gives the spare arena back to the system, as malloc_trim gives back the heap's free
    // memory: a store that lets a large arena go keeps it for the next one, so that a decode
    // after another writes into pages already in place.
    static void releaseSpareArena();

    // Every version reads back with at least this many values (nulls past its stored ones).
    size_t fieldCount() const { return m_fieldCount; }
    void setFieldCount(size_t fields) { m_fieldCount = std::max(m_fieldCount, fields); }

    uint8_t status(size_t row) const;
    void setStatus(size_t row, uint8_t status);
    FieldValue value(size_t row, size_t field) const;
    // Decodes a whole version into `values` (resized to its field count), reusing the room
    // the values already have. With `blobs`, blobs are not copied out: their fields are left
    // null in `values` and (*blobs)[field] points at their bytes in the store, valid until it
    // changes; every other field's entry is empty.
    void decodeRow(size_t row, std::vector<FieldValue>& values,
                   std::vector<std::optional<std::string_view>>* blobs = nullptr) const;
    // The version decoded; a copy, so it cannot be changed through it.
    const RowVersion operator[](size_t row) const;  // NOLINT(readability-const-return-type)
    // True when field `field` of version `row` holds `value` (blobs compared by content).
    bool holds(size_t row, size_t field, const FieldValue& value) const;
    // True when field `field` holds the same value in both versions.
    bool sameValueIn(size_t row, size_t other, size_t field) const;
    // True when field `field` of version `row` is null or an empty text or blob.
    bool holdsNoContent(size_t row, size_t field) const;

    void push_back(const RowVersion& row) { append(row.status, row.values); }
    // Drops the last version, which no later one may take values from. REQUIRES: !empty().
    void popBack();
    // Appends a version. With a source (an earlier version), each blob equal to the source's
    // is kept as a reference to it rather than a copy. When it throws (out of memory), the
    // store is as it was.
    void append(uint8_t status, const std::vector<FieldValue>& values, size_t source = kNoSource);

    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, m_count}; }

  private:
    friend class Builder;

    // The arena's bytes: the heap's while small, the system's (os::allocateLarge: huge pages,
    // remapped rather than copied as it grows) once large.
    class Block {
      public:
        Block() = default;
        Block(const Block&) = delete;
        Block& operator=(const Block&) = delete;
        Block(Block&& other) noexcept;
        Block& operator=(Block&& other) noexcept;
        ~Block() { reset(); }

        uint8_t* get() const { return m_data; }
        size_t capacity() const { return m_capacity; }
        // Makes the block `capacity` bytes (not 0), keeping its first `keep` bytes. Throws
        // std::bad_alloc, the block then as it was.
        void resize(size_t capacity, size_t keep);
        void reset();

      private:
        uint8_t* m_data = nullptr;
        size_t m_capacity = 0;
        bool m_large = false;
    };

    const uint8_t* rowStart(size_t row) const;
    void growTo(size_t bytes);
    const uint8_t* resolve(size_t row, size_t field) const;

    Block m_arena;
    size_t m_used = 0;
    size_t m_count = 0;
    size_t m_fieldCount = 0;
    std::vector<uint64_t> m_samples;  // arena offset of every 16th version
    // The last version found, so that walking versions in order skips no more than one.
    mutable size_t m_lastRow = SIZE_MAX;
    mutable size_t m_lastOffset = 0;
};

class RowStore::Builder {
  public:
    explicit Builder(RowStore& store) : m_store(store) {}
    Builder(const Builder&) = delete;
    Builder& operator=(const Builder&) = delete;

    // Starts a version. `source`, an earlier version, is where carried() fields take their
    // value; with `inheritBlobs`, every field left null takes the source's value when that is
    // a blob (explicitNull() fields excepted).
    void begin(uint8_t status, size_t source = kNoSource, bool inheritBlobs = false);
    void nulls(size_t count);
    void explicitNull();
    void carried();
    void integer(int64_t v);
    void real(double v);
    void boolean(bool v);
    void text(std::string_view bytes);
    void wide(std::u16string_view text);
    // UTF-16LE code units as a file holds them.
    void wideLittleEndian(const char* bytes, size_t units);
    void blob(std::string_view bytes);
    // A blob written in place, for a reader that decodes it straight into the store: room for
    // `maxBytes`, to be filled and then committed by endBlob with the bytes written. The room
    // is valid until the builder is used otherwise; a blob begun and not ended is no value.
    char* beginBlob(size_t maxBytes);
    void endBlob(size_t bytes);
    void timeStamp(const SqlTimeStamp& ts);
    void intArray(const IntArray& values);
    void value(const FieldValue& v);
    // Commits the version. A version begun and never ended leaves the store as it was.
    void end();

  private:
    void flushRuns();
    void put(uint8_t byte);
    void putVarint(uint64_t v);
    void putBytes(const void* bytes, size_t n);
    void putFixed(uint64_t v, unsigned bytes);

    RowStore& m_store;
    size_t m_start = 0;  // arena offset where the version begins
    size_t m_pos = 0;    // next byte to write
    size_t m_pendingNulls = 0;
    size_t m_pendingCarried = 0;
    size_t m_fields = 0;
    bool m_hasSource = false;
    size_t m_blobLengthBytes = 0;  // the varint room of a blob written in place
};

}  // namespace tarvolen
