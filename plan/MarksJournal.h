#pragma once
// The done-marks a run has earned since the plan file was last written whole.
//
// Writing the whole plan after every phase keeps each mark safe, but a plan of thousands of
// phases would then spend longer writing itself than running them. Appending the phase's ID
// to "<plan>.marks" and syncing it is as durable and costs a few bytes. The walk's end writes
// the plan whole and removes the journal; a run that was killed leaves it behind, and the next
// run applies it before it decides anything.

#include <cstdint>
#include <string>
#include <vector>

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
    void Append(int64_t id);
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

    std::string m_planPath;
    std::string m_path;
    int m_fd = -1;
    bool m_pending = false;
};

// Marks done, in memory only, the rows of `plan` (an open plan table) whose IDs the journal
// holds, and leaves the table on its first row. Returns how many rows it marked: none when
// there is no journal, when it is stale, or when the plan already holds its marks.
int ApplyJournalledMarks(TClientDataSet& plan, const MarksJournal& journal);
// The same for IDs a journal held.
int ApplyJournalledMarks(TClientDataSet& plan, const std::vector<int64_t>& ids);

}  // namespace tarvolen
