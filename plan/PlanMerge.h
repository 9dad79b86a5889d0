#pragma once
// Three-way merge of a plan by phase: what this program holds, what the file holds now, and
// what the file held when this program last read or wrote it (kept as fingerprints only, so a
// plan of 50 MB is not held twice).
//
// Rows are matched by ID; rows sharing an ID (or all having none) are merged as one unit. For
// each ID: untouched here -> the file's rows; changed here only -> this program's rows; changed
// on both sides the same way -> either; changed on both sides differently -> a conflict: the
// file's rows stay. Inserted and deleted rows are changes like any other.

#include <cstdint>
#include <optional>
#include <vector>

namespace tarvolen {

class TClientDataSet;

// What the merge needs to know of one visible row: its ID (none when null) and fingerprints of
// its values, the done-mark STATO apart from the others.
struct RowPrint {
    std::optional<int64_t> id;
    uint64_t others = 0;
    uint64_t stato = 0;
    bool operator==(const RowPrint&) const = default;
};

// The visible rows of a plan table, in its order. REQUIRES: `table` open.
std::vector<RowPrint> PlanPrints(const TClientDataSet& table);

// The phases (IDs; none for rows without one) whose rows changed both here and in the file.
struct MergeConflicts {
    std::vector<std::optional<int64_t>> ids;
    bool empty() const { return ids.empty(); }
};

// Changes `file` (the plan as its file holds it now, journal applied) into the merge of it with
// `mine` (this program's plan), `base` being the prints of the rows as they were when this
// program last read or wrote the file. Every change goes through the table's insert, edit,
// delete and post, so `file` keeps its row versions and change log; when this program emptied
// its table (EmptyTable) and nothing of the file's own rows is left, `file` is emptied the same
// way. Returns the conflicts, whose rows `file` keeps as they were.
// REQUIRES: both tables open, browsing, with the plan's fields.
MergeConflicts MergePlanInto(TClientDataSet& file, const TClientDataSet& mine,
                             const std::vector<RowPrint>& base);

// The merge for the case where the file is still the one this program last read or wrote, with
// only the marks of `journalIds` (a journal of done-marks) applied to it since: applies them to
// `mine` where it did not change those rows itself. Returns false, changing nothing, when a row
// it would mark was changed here in another way (a conflict, for MergePlanInto to settle).
bool ApplyJournalToMine(TClientDataSet& mine, const std::vector<RowPrint>& base,
                        const std::vector<int64_t>& journalIds);

}  // namespace tarvolen
