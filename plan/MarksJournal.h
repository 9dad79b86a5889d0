#pragma once
// The done-marks a run has earned since the plan file was last written whole.
//
// Writing the whole plan after every phase keeps each mark safe, but a plan of thousands of
// phases would then spend longer writing itself than running them. Appending the phase's ID
// to "<plan>.marks" and syncing it is as durable and costs a few bytes. The walk's end writes
// the plan whole and removes the journal; a run that was killed leaves it behind, and the next
// run applies it before it decides anything.
//
// A phase whose work the database cannot tell apart from new work (an import without a
// version) reserves its line before that work commits: the mark then only overwrites a byte
// already on disk, which a disk that filled meanwhile cannot refuse.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/os/Files.h"

namespace tarvolen {

class TClientDataSet;

class MarksJournal {
  public:
    // The journal of the plan at planPath (beside the file the path finally names, as the
    // plan's lock is). Nothing is created until the first Append.
    explicit MarksJournal(const std::string& planPath);
    ~MarksJournal();
    MarksJournal(const MarksJournal&) = delete;
    MarksJournal& operator=(const MarksJournal&) = delete;

    // Records a phase as done, on disk before it returns. Throws EFCreateError when it cannot.
    // After Reserve(id) it overwrites one byte of the reserved line, and takes no new room.
    void Append(int64_t id);
    // Writes phase id's line, on disk before it returns, in a form that reads as no mark until
    // Append(id) completes it. A reservation never completed (the work was undone, or the run
    // killed before its mark) stays as nothing. Throws EFCreateError when it cannot.
    void Reserve(int64_t id);
    // Removes the journal once the plan file holds every mark in it.
    void Remove();
    // The IDs the journal holds, in the order they were appended; none when there is no
    // journal, or when it was written for another plan file than the one now at the plan's
    // path (the plan was written whole since, or replaced). A last line cut short by a kill
    // is left out: its phase's version, written before the mark, still keeps the phase from
    // running twice. Throws EFCreateError when the file is no journal at all.
    std::vector<int64_t> Read() const;

    const std::string& path() const { return m_path; }
    // True from an Append until Remove: the plan file lacks marks the journal holds.
    bool pending() const { return m_pending; }

  private:
    std::string HeaderForPlan() const;
    // Creates the journal, with its header, when the walk has none yet.
    void Open();
    // Writes text at the journal's end and syncs it; the end moves only when all of it is on
    // disk, so the next line overwrites what a failed write left.
    void WriteAtEnd(std::string_view text);
    void Sync();

    std::string m_planPath;
    std::string m_path;
    os::File m_file;
    int64_t m_end = 0;  // where the next line goes
    bool m_pending = false;
    // The reserved line's phase, and where its last byte but one, '?' until the mark, lies.
    int64_t m_reservedId = 0;
    int64_t m_reservedAt = -1;
};

// Marks done, in memory only, the rows of `plan` (an open plan table) whose IDs the journal
// holds, and leaves the table on its first row. Returns how many rows it marked: none when
// there is no journal, when it is stale, or when the plan already holds its marks.
int ApplyJournalledMarks(TClientDataSet& plan, const MarksJournal& journal);
// The same for IDs a journal held.
int ApplyJournalledMarks(TClientDataSet& plan, const std::vector<int64_t>& ids);

}  // namespace tarvolen
