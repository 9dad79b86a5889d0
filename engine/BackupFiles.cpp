#include "engine/BackupFiles.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "base/os/Files.h"
#include "base/os/Process.h"
#include "base/os/SystemError.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"

namespace tarvolen {
namespace {

constexpr std::string_view kSuffix = ".fbk";

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "a.b.c.d", each a run of digits (a leading "-" allowed, as a version may be negative).
bool isVersion(std::string_view text) {
    int parts = 0;
    while (true) {
        const size_t dot = text.find('.');
        std::string_view part = text.substr(0, dot);
        if (!part.empty() && part.front() == '-') part.remove_prefix(1);
        if (!allDigits(part)) return false;
        ++parts;
        if (dot == std::string_view::npos) break;
        text.remove_prefix(dot + 1);
    }
    return parts == 4;
}

// Characters a file name keeps as they are; every other one becomes "_".
std::string fileNamePart(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        out += plain ? c : '_';
    }
    return out.empty() ? "_" : out;
}

}  // namespace

std::string BackupFileInfo::takenText() const {
    if (stamp.size() != 15) return stamp;
    return stamp.substr(0, 4) + "-" + stamp.substr(4, 2) + "-" + stamp.substr(6, 2) + " " +
           stamp.substr(9, 2) + ":" + stamp.substr(11, 2) + ":" + stamp.substr(13, 2);
}

std::string BackupFileName(std::string_view alias, std::string_view version,
                           std::chrono::system_clock::time_point time, int sequence) {
    const std::tm local = os::localTime(std::chrono::system_clock::to_time_t(time));
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string name = fileNamePart(alias) + "-" + std::string(version) + "-" + stamp;
    if (sequence > 1) name += "-" + std::to_string(sequence);
    return name + std::string(kSuffix);
}

std::optional<BackupFileInfo> ParseBackupFileName(std::string_view name) {
    if (name.size() <= kSuffix.size() || name.substr(name.size() - kSuffix.size()) != kSuffix ||
        name.front() == '.')
        return std::nullopt;
    name.remove_suffix(kSuffix.size());
    // From the right: an optional "-N", the stamp, the version, and the alias before them.
    std::string_view rest = name;
    size_t dash = rest.rfind('-');
    if (dash != std::string_view::npos && allDigits(rest.substr(dash + 1)) &&
        rest.size() - dash - 1 < 6) {
        // A sequence number, unless what is left would not end with a whole stamp.
        const std::string_view before = rest.substr(0, dash);
        if (before.size() >= 15 && allDigits(before.substr(before.size() - 6)) &&
            before[before.size() - 7] == '-')
            rest = before;
    }
    if (rest.size() < 17) return std::nullopt;
    const std::string_view stamp = rest.substr(rest.size() - 15);
    if (!allDigits(stamp.substr(0, 8)) || stamp[8] != '-' || !allDigits(stamp.substr(9)))
        return std::nullopt;
    rest.remove_suffix(16);  // the stamp and the dash before it
    if (rest.empty()) return std::nullopt;
    // The version is the last four dot-separated numbers; the alias is what comes before them.
    size_t versionStart = std::string_view::npos;
    for (size_t at = rest.rfind('-'); at != std::string_view::npos && at > 0;
         at = rest.rfind('-', at - 1)) {
        if (isVersion(rest.substr(at + 1))) {
            versionStart = at + 1;
            break;
        }
    }
    if (versionStart == std::string_view::npos) return std::nullopt;
    BackupFileInfo info;
    info.alias = std::string(rest.substr(0, versionStart - 1));
    info.version = std::string(rest.substr(versionStart));
    info.stamp = std::string(stamp);
    return info;
}

std::vector<BackupFileInfo> ListBackups(const std::string& folder) {
    std::error_code error;
    const std::vector<std::string> names = os::folderEntries(folder, error);
    if (error) {
        throw EFOpenError("Cannot open file \"" + fullPath(folder) + "\". " +
                          os::errorText(error));
    }
    std::vector<BackupFileInfo> found;
    for (const std::string& name : names) {
        auto info = ParseBackupFileName(name);
        if (!info) continue;
        info->path = (std::filesystem::path(folder) / name).string();
        const auto stamp = os::stampOf(info->path);
        if (!stamp) continue;
        info->bytes = stamp->size;
        found.push_back(std::move(*info));
    }
    std::sort(found.begin(), found.end(), [](const BackupFileInfo& a, const BackupFileInfo& b) {
        if (a.stamp != b.stamp) return a.stamp > b.stamp;
        return a.path > b.path;
    });
    return found;
}

std::string SizeText(uint64_t bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
        return text;
    }
    const char* units[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024.0;
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

}  // namespace tarvolen
