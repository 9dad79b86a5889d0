#include "plan/PlanRecovery.h"

#include <ctime>
#include <optional>
#include <string>

#include "base/os/Process.h"
#include "plan/ClientDataSet.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "plan/PacketCodec.h"

namespace tarvolen {
namespace {

// The first of "<name>", "<stem>-2<ext>", ... that names no file in `folder`.
std::filesystem::path freeName(const std::filesystem::path& folder,
                               const std::filesystem::path& name) {
    std::filesystem::path candidate = folder / name;
    for (int n = 2; n < 1000 && std::filesystem::exists(std::filesystem::symlink_status(candidate));
         ++n) {
        candidate =
            folder / (name.stem().string() + "-" + std::to_string(n) + name.extension().string());
    }
    return candidate;
}

}  // namespace

std::filesystem::path recoveryFileName(std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const std::tm local = os::localTime(seconds);
    char name[64];
    std::strftime(name, sizeof name, "dbquery-recupero-%Y%m%d-%H%M%S.xml", &local);
    return name;
}

std::filesystem::path defaultRecoveryFolder() {
    const std::filesystem::path config = os::userConfigFolder();
    return config.empty() ? config : config / "tarvolen";
}

std::filesystem::path savePlanRecovery(const TClientDataSet& plan,
                                       const std::filesystem::path& planFile,
                                       const std::filesystem::path& fallbackFolder,
                                       std::chrono::system_clock::time_point now) {
    const std::filesystem::path name = recoveryFileName(now);
    const std::string bytes = encodeXmlPacket(plan.Packet());
    WriteOptions options;
    // The copy holds what the plan holds (scripts may carry passwords): no wider permissions.
    options.newFileLike = planFile.string();
    std::filesystem::path beside = freeName(planFile.parent_path(), name);
    try {
        writeFileAtomically(beside.string(), bytes, options);
        return beside;
    } catch (const EFCreateError&) {
        if (fallbackFolder.empty()) throw;
        // The plan's folder refuses files: try the user's own settings folder.
    }
    std::error_code ec;
    std::filesystem::create_directories(fallbackFolder, ec);
    std::filesystem::path fallback = freeName(fallbackFolder, name);
    writeFileAtomically(fallback.string(), bytes, options);
    return fallback;
}

}  // namespace tarvolen
