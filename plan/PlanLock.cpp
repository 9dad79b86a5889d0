#include "plan/PlanLock.h"

#include <filesystem>
#include <string>

#include "base/os/SystemError.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"

namespace tarvolen {
namespace {

// Names in the plan's own folder that a write of the plan links to the plan file for a moment,
// or leaves linked to it when it is cut short: "<plan>.bak", and the temporary files
// ".<plan>.<writer>..." and ".<plan>.bak.<writer>...".
bool isWriteCompanion(const std::string& name, const std::string& base) {
    return name == base + ".bak" || name.rfind("." + base + ".", 0) == 0;
}

// Links to the plan file beyond its own name, less those a write of the plan makes.
unsigned long foreignLinks(const std::string& plan, unsigned long& total) {
    total = static_cast<unsigned long>(os::hardLinkCount(plan));
    if (total <= 1) return 0;
    const std::optional<os::FileStamp> planFile = os::stampOf(plan);
    if (!planFile) return 0;
    const std::filesystem::path file(plan);
    const std::string base = file.filename().string();
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    unsigned long companions = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        // A symbolic link is no second name of the file's own.
        if (!isWriteCompanion(entry.path().filename().string(), base) || entry.is_symlink(ec))
            continue;
        const std::optional<os::FileStamp> other = os::stampOf(entry.path().string());
        if (other && other->device == planFile->device && other->index == planFile->index)
            ++companions;
    }
    return total - 1 > companions ? total - 1 - companions : 0;
}

}  // namespace

PlanLock::PlanLock(const std::string& planPath) : m_lockPath(resolvedFile(planPath) + ".lock") {
    long holder = 0;
    std::error_code error;
    switch (m_file.take(m_lockPath, holder, error)) {
        case os::LockFile::Outcome::Taken:
            break;
        case os::LockFile::Outcome::InUse:
            throw PlanInUse("Cannot use the plan \"" + fullPath(planPath) +
                                "\": plan in use by process " +
                                (holder > 0 ? std::to_string(holder) : std::string("(unknown)")),
                            fullPath(planPath), holder);
        case os::LockFile::Outcome::Failed:
            throw EFCreateError("Cannot create file \"" + fullPath(m_lockPath) + "\". " +
                                os::errorText(error));
    }
    // Checked with the lock held, so that no write of ours is halfway through. The lock file
    // goes with m_file when this throws.
    unsigned long links = 1;
    if (foreignLinks(resolvedFile(planPath), links) > 0) {
        throw PlanHardLinked("Cannot use the plan \"" + fullPath(planPath) + "\": the file has " +
                                 std::to_string(links) +
                                 " hard links, and a run through another of its names would not "
                                 "see this one's lock; give the plan one name only (remove the "
                                 "other links, or make the plan a copy)",
                             links);
    }
}

}  // namespace tarvolen
