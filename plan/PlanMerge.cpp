#include "plan/PlanMerge.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "plan/ClientDataSet.h"

namespace tarvolen {
namespace {

constexpr const char* kIdField = "ID";
constexpr const char* kStatoField = "STATO";
constexpr const char* kDone = "S";

// A 64-bit fingerprint of a stream of bytes: FNV-1a, then a final mix so that values differing
// in their last bytes differ in every bit.
class Fingerprint {
  public:
    void bytes(const void* data, size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) {
            m_hash ^= p[i];
            m_hash *= 0x100000001b3ULL;
        }
    }
    template <typename T>
    void plain(const T& value) {
        bytes(&value, sizeof value);
    }
    void text(std::string_view s) {
        plain(s.size());
        bytes(s.data(), s.size());
    }
    uint64_t value() const {
        uint64_t z = m_hash + 0x9e3779b97f4a7c15ULL;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

  private:
    uint64_t m_hash = 0xcbf29ce484222325ULL;
};

void addValue(Fingerprint& print, const FieldValue& value) {
    const auto kind = static_cast<unsigned char>(value.index());
    print.plain(kind);
    if (const auto* i = std::get_if<int64_t>(&value)) {
        print.plain(*i);
    } else if (const auto* d = std::get_if<double>(&value)) {
        // Equal values print alike: one zero, one NaN.
        const double x = std::isnan(*d) ? std::nan("") : (*d == 0 ? 0.0 : *d);
        print.plain(x);
    } else if (const auto* b = std::get_if<bool>(&value)) {
        print.plain(static_cast<unsigned char>(*b ? 1 : 0));
    } else if (const auto* s = std::get_if<std::string>(&value)) {
        print.text(*s);
    } else if (const auto* w = std::get_if<std::u16string>(&value)) {
        print.plain(w->size());
        print.bytes(w->data(), w->size() * sizeof(char16_t));
    } else if (const auto* blob = std::get_if<BlobData>(&value)) {
        print.text(**blob);
    } else if (const auto* ts = std::get_if<SqlTimeStamp>(&value)) {
        for (const int64_t part :
             {int64_t{ts->year}, int64_t{ts->month}, int64_t{ts->day}, int64_t{ts->hour},
              int64_t{ts->minute}, int64_t{ts->second}, int64_t{ts->millisecond}})
            print.plain(part);
    } else if (const auto* array = std::get_if<IntArray>(&value)) {
        print.plain(array->size());
        for (const int64_t v : *array) print.plain(v);
    }
}

// Where the merge finds the ID and the mark in a table's layout; -1 when it has none.
struct PlanColumns {
    int id = -1;
    int stato = -1;
    explicit PlanColumns(const TClientDataSet& table)
        : id(table.Packet().fieldIndex(kIdField)), stato(table.Packet().fieldIndex(kStatoField)) {}
};

uint64_t statoPrint(const FieldValue& value) {
    Fingerprint print;
    addValue(print, value);
    return print.value();
}

std::optional<int64_t> idOf(const FieldValue& value) {
    if (const auto* i = std::get_if<int64_t>(&value)) return *i;
    return std::nullopt;
}

RowPrint printRow(const TClientDataSet& table, const PlanColumns& columns,
                  const std::vector<FieldValue>& values) {
    RowPrint row;
    if (columns.id >= 0) row.id = idOf(values[static_cast<size_t>(columns.id)]);
    Fingerprint others;
    const auto& fields = table.Packet().fields;
    for (size_t i = 0; i < values.size() && i < fields.size(); ++i) {
        if (static_cast<int>(i) == columns.stato) continue;
        // By name, so tables whose layouts differ never print alike.
        others.text(fields[i].name);
        addValue(others, values[i]);
    }
    row.others = others.value();
    row.stato =
        statoPrint(columns.stato >= 0 ? values[static_cast<size_t>(columns.stato)] : FieldValue{});
    return row;
}

using Content = std::pair<uint64_t, uint64_t>;  // others, stato

Content contentOf(const RowPrint& row) {
    return {row.others, row.stato};
}

// The rows of one ID on each side, as sorted multisets of contents.
struct Group {
    std::vector<Content> base;
    std::vector<Content> mine;
    std::vector<Content> file;
    std::vector<int> mineRows;  // record indexes in `mine`
};

using Groups = std::map<std::optional<int64_t>, Group>;

void sortContents(Groups& groups) {
    for (auto& [id, group] : groups) {
        std::sort(group.base.begin(), group.base.end());
        std::sort(group.mine.begin(), group.mine.end());
        std::sort(group.file.begin(), group.file.end());
    }
}

// The record indexes [first, last) of the rows with this ID, in a table kept in ID order.
std::pair<int, int> rowsWithId(const TClientDataSet& table, int idColumn,
                               const std::optional<int64_t>& id) {
    const auto keyAt = [&](int row) {
        return idOf(table.RowValue(row, static_cast<size_t>(idColumn)));
    };
    int low = 0;
    int high = table.RecordCount();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (keyAt(middle) < id)
            low = middle + 1;
        else
            high = middle;
    }
    int last = low;
    while (last < table.RecordCount() && keyAt(last) == id) ++last;
    return {low, last};
}

// Sets every field of the row being edited or inserted in `to` that `from` has by name to the
// value `from` holds in `values`; the others keep their value.
void copyValues(TClientDataSet& to, const TClientDataSet& from,
                const std::vector<FieldValue>& values) {
    const auto& fields = to.Packet().fields;
    for (size_t i = 0; i < fields.size(); ++i) {
        const int source = from.Packet().fieldIndex(fields[i].name);
        if (source >= 0) to.SetPendingValue(i, values[static_cast<size_t>(source)]);
    }
}

void insertRow(TClientDataSet& file, const TClientDataSet& mine, int mineRow) {
    std::vector<FieldValue> values;
    mine.RowValues(mineRow, values);
    file.Insert();
    try {
        copyValues(file, mine, values);
        file.Post();
    } catch (...) {
        file.Cancel();
        throw;
    }
}

// Makes the file's rows with this ID those of `mine`: rows alike stay, others are edited into
// this program's, deleted or added.
void replaceRows(TClientDataSet& file, const TClientDataSet& mine, const PlanColumns& fileColumns,
                 const std::optional<int64_t>& id, const std::vector<int>& mineRows) {
    const PlanColumns mineColumns(mine);
    std::vector<FieldValue> values;
    std::vector<RowPrint> wanted;
    for (const int row : mineRows) {
        mine.RowValues(row, values);
        wanted.push_back(printRow(mine, mineColumns, values));
    }
    const auto [first, last] = rowsWithId(file, fileColumns.id, id);
    std::vector<bool> kept(static_cast<size_t>(last - first), false);
    std::vector<size_t> unmatchedWanted;
    std::vector<Content> present;
    for (int row = first; row < last; ++row) {
        file.RowValues(row, values);
        present.push_back(contentOf(printRow(file, fileColumns, values)));
    }
    for (size_t w = 0; w < wanted.size(); ++w) {
        bool found = false;
        for (size_t p = 0; p < present.size() && !found; ++p) {
            if (kept[p] || present[p] != contentOf(wanted[w])) continue;
            kept[p] = true;
            found = true;
        }
        if (!found) unmatchedWanted.push_back(w);
    }
    std::vector<int> unmatchedRows;
    for (size_t p = 0; p < kept.size(); ++p)
        if (!kept[p]) unmatchedRows.push_back(first + static_cast<int>(p));
    const size_t edits = std::min(unmatchedRows.size(), unmatchedWanted.size());
    // From the last row back: a delete, or an edited row moving to the end of its run of
    // equal IDs, never moves a row before it.
    for (size_t k = unmatchedRows.size(); k > edits; --k) {
        file.MoveTo(unmatchedRows[k - 1]);
        file.Delete();
    }
    for (size_t k = edits; k > 0; --k) {
        mine.RowValues(mineRows[unmatchedWanted[k - 1]], values);
        file.MoveTo(unmatchedRows[k - 1]);
        file.Edit();
        try {
            copyValues(file, mine, values);
            file.Post();
        } catch (...) {
            file.Cancel();
            throw;
        }
    }
    for (size_t w = edits; w < unmatchedWanted.size(); ++w)
        insertRow(file, mine, mineRows[unmatchedWanted[w]]);
}

}  // namespace

std::vector<RowPrint> PlanPrints(const TClientDataSet& table) {
    const PlanColumns columns(table);
    std::vector<RowPrint> prints;
    prints.reserve(static_cast<size_t>(table.RecordCount()));
    std::vector<FieldValue> values;
    for (int row = 0; row < table.RecordCount(); ++row) {
        table.RowValues(row, values);
        prints.push_back(printRow(table, columns, values));
    }
    return prints;
}

MergeConflicts MergePlanInto(TClientDataSet& file, const TClientDataSet& mine,
                             const std::vector<RowPrint>& base) {
    const PlanColumns fileColumns(file);
    Groups groups;
    for (const RowPrint& row : base) groups[row.id].base.push_back(contentOf(row));
    const std::vector<RowPrint> minePrints = PlanPrints(mine);
    for (size_t row = 0; row < minePrints.size(); ++row) {
        Group& group = groups[minePrints[row].id];
        group.mine.push_back(contentOf(minePrints[row]));
        group.mineRows.push_back(static_cast<int>(row));
    }
    for (const RowPrint& row : PlanPrints(file)) groups[row.id].file.push_back(contentOf(row));
    sortContents(groups);

    MergeConflicts conflicts;
    std::vector<const Groups::value_type*> takeMine;
    bool fileRowsStay = false;
    for (const auto& entry : groups) {
        const Group& group = entry.second;
        if (group.mine == group.base || group.file == group.mine) {
            fileRowsStay = fileRowsStay || !group.file.empty();
        } else if (group.file == group.base) {
            takeMine.push_back(&entry);
        } else {
            conflicts.ids.push_back(entry.first);
            fileRowsStay = fileRowsStay || !group.file.empty();
        }
    }
    if (takeMine.empty()) return conflicts;
    if (mine.EmptiedSinceLoad() && !fileRowsStay) {
        // Emptied here, and nothing of the file's own is left: emptied there too, history and
        // all, as the plan emptied here would be written.
        file.EmptyTable();
        for (const auto* entry : takeMine)
            for (const int row : entry->second.mineRows) insertRow(file, mine, row);
        return conflicts;
    }
    if (fileColumns.id < 0) return conflicts;  // no plan: nothing to match rows by
    for (const auto* entry : takeMine)
        replaceRows(file, mine, fileColumns, entry->first, entry->second.mineRows);
    return conflicts;
}

bool ApplyJournalToMine(TClientDataSet& mine, const std::vector<RowPrint>& base,
                        const std::vector<int64_t>& journalIds) {
    if (journalIds.empty()) return true;
    const std::set<std::optional<int64_t>> marked(journalIds.begin(), journalIds.end());
    const PlanColumns columns(mine);
    if (columns.stato < 0 || columns.id < 0) return false;
    const uint64_t done = statoPrint(FieldValue{std::string(kDone)});
    Groups groups;
    for (const RowPrint& row : base) {
        if (marked.count(row.id) == 0) continue;
        Group& group = groups[row.id];
        group.base.push_back(contentOf(row));
        group.file.push_back({row.others, done});  // the file: the same rows, marked
    }
    const std::vector<RowPrint> minePrints = PlanPrints(mine);
    for (size_t row = 0; row < minePrints.size(); ++row) {
        if (marked.count(minePrints[row].id) == 0) continue;
        Group& group = groups[minePrints[row].id];
        group.mine.push_back(contentOf(minePrints[row]));
        group.mineRows.push_back(static_cast<int>(row));
    }
    sortContents(groups);

    std::vector<int> toMark;
    for (const auto& [id, group] : groups) {
        if (group.file == group.base || group.file == group.mine) continue;
        if (group.mine != group.base) return false;
        for (const int row : group.mineRows)
            if (minePrints[static_cast<size_t>(row)].stato != done) toMark.push_back(row);
    }
    // From the last row back: a marked row moves to the end of its run of equal IDs, never
    // before a row still to be marked.
    std::sort(toMark.rbegin(), toMark.rend());
    for (const int row : toMark) {
        mine.MoveTo(row);
        mine.Edit();
        try {
            mine.SetPendingValue(static_cast<size_t>(columns.stato), std::string(kDone));
            mine.Post();
        } catch (...) {
            mine.Cancel();
            throw;
        }
    }
    if (!toMark.empty()) mine.First();
    return true;
}

}  // namespace tarvolen
