#pragma once
// The change log of a table: one entry per posted change, in the order they were made. Held
// compactly, every number in the fewest bytes (1, 2 or 4) that the largest one needs, so that a
// log read from a file never takes more room than the file gave it.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <vector>

namespace tarvolen {

struct ChangeLogEntry {
    uint32_t version = 0;   // 1-based storage number of the version the change made or hit
    uint32_t replaced = 0;  // version it replaced, 0 for none
    uint32_t kind = 0;      // 4 insert, 8 edit, 2 delete
    bool operator==(const ChangeLogEntry&) const = default;
};

class ChangeLog {
  public:
    class const_iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = ChangeLogEntry;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = ChangeLogEntry;

        const_iterator() = default;
        const_iterator(const ChangeLog* log, size_t at) : m_log(log), m_at(at) {}
        ChangeLogEntry operator*() const { return (*m_log)[m_at]; }
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
        const ChangeLog* m_log = nullptr;
        size_t m_at = 0;
    };

    ChangeLog() = default;
    ChangeLog(std::initializer_list<ChangeLogEntry> entries);
    ChangeLog& operator=(std::initializer_list<ChangeLogEntry> entries);

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    // Drops every entry and gives the memory back.
    void clear();
    void reserve(size_t entries);
    ChangeLogEntry operator[](size_t index) const;
    ChangeLogEntry back() const { return (*this)[m_size - 1]; }
    // Appends an entry; when it throws (out of memory), the log is as it was.
    void push_back(const ChangeLogEntry& entry);
    void pop_back() { --m_size; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, m_size}; }

    bool operator==(const ChangeLog& other) const;
    friend bool operator==(const ChangeLog& log, const std::vector<ChangeLogEntry>& entries);

  private:
    uint32_t number(size_t at) const;
    void widen(unsigned width);

    std::vector<uint8_t> m_bytes;  // three numbers per entry, m_width bytes each, little-endian
    unsigned m_width = 1;
    size_t m_size = 0;
};

// Version -> the version it replaces, as the change log says: the last entry for a version
// that names a replaced one wins. Reads the log it was made from, which must outlive it.
// Asked in rising order, as readers and writers walk the versions, each answer costs little;
// one object serves one thread.
class ReplacedVersions {
  public:
    explicit ReplacedVersions(const ChangeLog& log);
    // 0 when the log names none.
    uint32_t of(uint32_t version) const;

  private:
    const ChangeLog& m_log;
    bool m_sorted = true;           // versions never decrease along the log: search it directly
    std::vector<uint32_t> m_index;  // else: entries naming a replaced version, by version
    // Sorted log: the version last asked for, and where its entries end.
    mutable uint32_t m_lastAsked = 0;
    mutable size_t m_lastEnd = 0;
};

}  // namespace tarvolen
