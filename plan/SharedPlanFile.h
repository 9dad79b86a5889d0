#pragma once
// The plan file as several programs share it: the window, its maintenance window and the
// command-line tools all read and write one plan, each from a copy in memory.
//
// Attached to a plan table, it makes every write of the table to its own file (a close's
// write-back, a save, a run's marks) hold the plan's lock and start from the file as it is now,
// with the journal of done-marks applied; this program's own changes since it last read or
// wrote the file are replayed onto that (PlanMerge.h). Afterwards the table holds what the file
// holds. A load of the own file applies the journal too, so the table shows the marks a run has
// earned but not yet written into the plan.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "plan/ClientDataSet.h"
#include "plan/FileIO.h"
#include "plan/PlanLock.h"
#include "plan/PlanMerge.h"

namespace tarvolen {

// A write that found phases changed both in the file and in this program: the file keeps its
// rows of them, and this program's whole copy of the plan went to `recoveryFile`.
struct PlanConflict {
    std::string planFile;  // full path
    std::vector<std::optional<int64_t>> ids;
    std::filesystem::path recoveryFile;
};

// "The plan "<file>" was changed by another program too: ..." naming the phases and the copy.
std::string PlanConflictMessage(const PlanConflict& conflict);

class SharedPlanFile : public TableFileKeeper {
  public:
    // Holds the plan's lock while it lives. Holds nest within the process: the first takes the
    // lock, the last to go lets it go, so a run can hold the plan from start to end and still
    // write it through the merge.
    class Hold {
      public:
        Hold(Hold&& other) noexcept : m_owner(other.m_owner) { other.m_owner = nullptr; }
        Hold& operator=(Hold&&) = delete;
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        ~Hold() {
            if (m_owner != nullptr) m_owner->release();
        }

      private:
        friend class SharedPlanFile;
        explicit Hold(SharedPlanFile* owner) : m_owner(owner) {}
        SharedPlanFile* m_owner;
    };

    // Keeps `table`'s own file (FileName); the table owns it (TClientDataSet::SetFileKeeper).
    explicit SharedPlanFile(TClientDataSet& table);

    // Takes a hold on the plan of the table's FileName (none while it has no FileName). The
    // first hold throws as PlanLock does: PlanInUse, PlanHardLinked, EFCreateError.
    [[nodiscard]] Hold hold();
    bool held() const { return m_holds > 0; }

    // Brings the open table to the file as it stands, under a hold: writes this program's
    // changes through the merge when there are any (or when the file is missing), else reads
    // the file again with its journal, unless it is still the file the table last read or
    // wrote. A closed table stays closed. Throws as a hold, a write or a load does; the table
    // then stays as it was.
    void BringUpToDate();

    // Where this program's copy goes when the plan's folder refuses a recovery file.
    void SetRecoveryFolder(std::filesystem::path folder) { m_recoveryFolder = std::move(folder); }
    // Told of each write that kept the file's rows of phases changed on both sides, once the
    // write is done. Without one, the message goes to standard error.
    void SetConflictReporter(std::function<void(const PlanConflict&)> reporter) {
        m_reporter = std::move(reporter);
    }

    // TableFileKeeper.
    std::string ReadOwnFile(const std::string& path) override;
    void OwnFileLoaded(TClientDataSet& table) override;
    void WriteOwnFile(TClientDataSet& table, bool xml) override;

  private:
    void release();
    // Writes the file's present contents merged with the table's changes; the conflicts.
    std::optional<PlanConflict> writeMerged(const std::string& path, TClientDataSet::Format format,
                                            const std::vector<int64_t>& journal);
    void rememberBase(const std::string& path);

    TClientDataSet& m_table;
    std::optional<PlanLock> m_lock;
    int m_holds = 0;
    // The rows as they were when the table last read or wrote its file, and which file that
    // was; none until then.
    std::optional<std::vector<RowPrint>> m_base;
    std::optional<FileIdentity> m_baseFile;
    std::optional<FileIdentity> m_lastRead;  // of the bytes ReadOwnFile handed out last
    std::filesystem::path m_recoveryFolder;
    std::function<void(const PlanConflict&)> m_reporter;
};

// The SharedPlanFile that configurePlanTable attached to a plan table.
// Throws std::logic_error when the table has none.
SharedPlanFile& SharedPlanOf(TClientDataSet& plan);

}  // namespace tarvolen
