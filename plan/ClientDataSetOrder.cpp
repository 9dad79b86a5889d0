// TClientDataSet: the order its rows are seen in, and the view of its visible versions.

#include <algorithm>

#include "plan/ClientDataSet.h"
#include "plan/Errors.h"

namespace tarvolen {
namespace {

const FieldValue kNull{};

}  // namespace

bool TClientDataSet::rowLess(size_t a, size_t b) const {
    for (int field : m_indexFields) {
        const auto f = static_cast<size_t>(field);
        const int c = compareFieldValues(m_packet.fields[f].type, m_packet.rows.value(a, f),
                                         m_packet.rows.value(b, f));
        if (c != 0) return c < 0;
    }
    return false;
}

size_t TClientDataSet::viewInsertPosition(const std::vector<FieldValue>& values) const {
    // After every row that does not sort after the values: equal keys keep their storage order.
    if (m_indexFields.empty()) return viewSize();
    auto valuesLess = [this](const std::vector<FieldValue>& v, uint32_t row) {
        for (int field : m_indexFields) {
            const auto f = static_cast<size_t>(field);
            const FieldValue& mine = f < v.size() ? v[f] : kNull;
            const int c =
                compareFieldValues(m_packet.fields[f].type, mine, m_packet.rows.value(row, f));
            if (c != 0) return c < 0;
        }
        return false;
    };
    return static_cast<size_t>(std::upper_bound(m_view.begin(), m_view.end(), values, valuesLess) -
                               m_view.begin());
}

void TClientDataSet::materializeView() {
    if (!m_identityView) return;
    std::vector<uint32_t> view(m_packet.rows.size());
    for (size_t i = 0; i < view.size(); ++i) view[i] = static_cast<uint32_t>(i);
    view.reserve(view.size() + 1);
    m_view.swap(view);
    m_identityView = false;
}

void TClientDataSet::rebuildView() {
    // Built aside and committed at the end, so an unknown name changes nothing.
    std::vector<int> indexFields;
    size_t start = 0;
    while (start <= m_indexFieldNames.size() && !m_indexFieldNames.empty()) {
        size_t end = m_indexFieldNames.find(';', start);
        if (end == std::string::npos) end = m_indexFieldNames.size();
        const std::string name = m_indexFieldNames.substr(start, end - start);
        const int index = m_packet.fieldIndex(name);
        if (index < 0) throwTableError("Field '" + name + "' not found");
        indexFields.push_back(index);
        start = end + 1;
    }
    const RowStore& rows = m_packet.rows;
    if (rows.size() > UINT32_MAX) throw dberr::invalidParameter();
    auto visible = [&](size_t i) {
        return (rows.status(i) & (rowstate::kSuperseded | rowstate::kDeleted)) == 0;
    };
    size_t visibleCount = 0;
    for (size_t i = 0; i < rows.size(); ++i) visibleCount += visible(i) ? 1U : 0U;
    std::vector<uint32_t> view;
    const bool identity = indexFields.empty() && visibleCount == rows.size();
    if (!identity) {
        view.reserve(visibleCount);
        for (size_t i = 0; i < rows.size(); ++i) {
            if (visible(i)) view.push_back(static_cast<uint32_t>(i));
        }
    }
    m_indexFields.swap(indexFields);
    if (!m_indexFields.empty()) {
        std::stable_sort(view.begin(), view.end(),
                         [this](uint32_t a, uint32_t b) { return rowLess(a, b); });
    }
    m_view.swap(view);
    m_identityView = identity;
    forgetCurrentRow();
}

}  // namespace tarvolen
