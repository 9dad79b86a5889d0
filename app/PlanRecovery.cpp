#include "app/PlanRecovery.h"

#include <ctime>

#include "base/os/Process.h"
#include "plan/ClientDataSet.h"
#include "plan/Errors.h"

namespace tarvolen {

std::filesystem::path recoveryFileName(std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const std::tm local = os::localTime(seconds);
    char name[64];
    std::strftime(name, sizeof name, "dbquery-recupero-%Y%m%d-%H%M%S.xml", &local);
    return name;
}

std::filesystem::path savePlanRecovery(TClientDataSet& plan, const std::filesystem::path& planFile,
                                       const std::filesystem::path& fallbackFolder,
                                       std::chrono::system_clock::time_point now) {
    const std::filesystem::path name = recoveryFileName(now);
    std::filesystem::path beside = planFile.parent_path() / name;
    try {
        plan.SaveFile(beside.string(), TClientDataSet::Format::Xml);
        return beside;
    } catch (const EFCreateError&) {
        if (fallbackFolder.empty()) throw;
        // The plan's folder refuses files: try the user's own settings folder.
    }
    std::error_code ec;
    std::filesystem::create_directories(fallbackFolder, ec);
    std::filesystem::path fallback = fallbackFolder / name;
    plan.SaveFile(fallback.string(), TClientDataSet::Format::Xml);
    return fallback;
}

}  // namespace tarvolen
