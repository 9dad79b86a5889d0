#include "plan/ChangeLog.h"

#include <algorithm>

namespace tarvolen {
namespace {

unsigned widthFor(uint32_t n) {
    return n <= 0xFF ? 1 : (n <= 0xFFFF ? 2 : 4);
}

}  // namespace

ChangeLog::ChangeLog(std::initializer_list<ChangeLogEntry> entries) {
    *this = entries;
}

ChangeLog& ChangeLog::operator=(std::initializer_list<ChangeLogEntry> entries) {
    clear();
    reserve(entries.size());
    for (const ChangeLogEntry& e : entries) push_back(e);
    return *this;
}

void ChangeLog::clear() {
    std::vector<uint8_t>().swap(m_bytes);
    m_width = 1;
    m_size = 0;
}

void ChangeLog::reserve(size_t entries) {
    m_bytes.reserve(entries * 3 * m_width);
}

uint32_t ChangeLog::number(size_t at) const {
    const uint8_t* p = m_bytes.data() + at * m_width;
    uint32_t v = 0;
    for (unsigned i = m_width; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

ChangeLogEntry ChangeLog::operator[](size_t index) const {
    return {number(3 * index), number(3 * index + 1), number(3 * index + 2)};
}

void ChangeLog::widen(unsigned width) {
    std::vector<uint8_t> wider;
    wider.reserve(std::max(m_bytes.capacity() / m_width, 3 * (m_size + 1)) * width);
    for (size_t i = 0; i < 3 * m_size; ++i) {
        const uint32_t n = number(i);
        for (unsigned b = 0; b < width; ++b) wider.push_back(static_cast<uint8_t>(n >> (8 * b)));
    }
    m_bytes.swap(wider);
    m_width = width;
}

void ChangeLog::push_back(const ChangeLogEntry& entry) {
    const unsigned width = std::max(
        {widthFor(entry.version), widthFor(entry.replaced), widthFor(entry.kind), m_width});
    if (width != m_width) widen(width);  // builds aside, then swaps: nothing changes on failure
    if (m_bytes.size() + size_t{3} * m_width > m_bytes.capacity()) {
        m_bytes.reserve(std::max<size_t>(48, m_bytes.capacity() * 2));
    }
    for (const uint32_t n : {entry.version, entry.replaced, entry.kind}) {
        for (unsigned b = 0; b < m_width; ++b)
            m_bytes.push_back(static_cast<uint8_t>(n >> (8 * b)));
    }
    ++m_size;
}

bool ChangeLog::operator==(const ChangeLog& other) const {
    if (m_size != other.m_size) return false;
    for (size_t i = 0; i < m_size; ++i) {
        if (!((*this)[i] == other[i])) return false;
    }
    return true;
}

bool operator==(const ChangeLog& log, const std::vector<ChangeLogEntry>& entries) {
    if (log.size() != entries.size()) return false;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!(log[i] == entries[i])) return false;
    }
    return true;
}

ReplacedVersions::ReplacedVersions(const ChangeLog& log) : m_log(log) {
    for (size_t i = 1; i < log.size() && m_sorted; ++i) {
        m_sorted = log[i - 1].version <= log[i].version;
    }
    if (m_sorted) return;
    for (size_t i = 0; i < log.size(); ++i) {
        if (log[i].replaced != 0) m_index.push_back(static_cast<uint32_t>(i));
    }
    // Stable, so that among entries for one version the log's order stays and the last wins.
    std::stable_sort(m_index.begin(), m_index.end(),
                     [&](uint32_t a, uint32_t b) { return log[a].version < log[b].version; });
}

uint32_t ReplacedVersions::of(uint32_t version) const {
    if (m_sorted) {
        // Past the last entry for `version`, then back over those that replace nothing.
        // Readers and writers ask in rising order: the search then goes on from the last one.
        size_t low = 0;
        size_t high = m_log.size();
        if (version >= m_lastAsked) {
            low = m_lastEnd;
            while (low < high && m_log[low].version <= version) ++low;
            high = low;
        }
        m_lastAsked = version;
        while (low < high) {
            const size_t mid = low + (high - low) / 2;
            if (m_log[mid].version <= version) {
                low = mid + 1;
            } else {
                high = mid;
            }
        }
        m_lastEnd = low;
        for (size_t i = low; i-- > 0;) {
            const ChangeLogEntry e = m_log[i];
            if (e.version != version) return 0;
            if (e.replaced != 0) return e.replaced;
        }
        return 0;
    }
    const auto it =
        std::upper_bound(m_index.begin(), m_index.end(), version,
                         [&](uint32_t v, uint32_t entry) { return v < m_log[entry].version; });
    if (it == m_index.begin()) return 0;
    const ChangeLogEntry e = m_log[*(it - 1)];
    return e.version == version ? e.replaced : 0;
}

}  // namespace tarvolen
