#include "base/os/TemporaryNames.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "base/os/Files.h"
#include "base/os/Process.h"

namespace tarvolen::os::detail {
namespace {

namespace fs = std::filesystem;

fs::path folderOf(const fs::path& file) {
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

std::string prefixOf(const std::string& base) {
    return "." + base + ".";
}

const std::string& writerIdentity() {
    static const std::string identity = std::to_string(currentProcessId()) + '-' +
                                        std::to_string(processStartTime(currentProcessId()));
    return identity;
}

struct Writer {
    long pid = -1;                 // -1: not a temporary file of ours
    unsigned long long start = 0;  // 0: not in the name
};

// Reads a run of digits at the front of `text`, removing it; false when there is none.
bool takeNumber(std::string_view& text, unsigned long long& value) {
    size_t digits = 0;
    value = 0;
    while (digits < text.size() && digits < 19 && text[digits] >= '0' && text[digits] <= '9')
        value = value * 10 + static_cast<unsigned>(text[digits++] - '0');
    text.remove_prefix(digits);
    return digits > 0;
}

// Who wrote a temporary file, as its name says.
Writer writerOf(std::string_view name, const std::string& base) {
    const std::string prefix = prefixOf(base);
    if (name.substr(0, prefix.size()) != prefix) return {};
    name.remove_prefix(prefix.size());
    if (name.substr(0, 4) == "bak.") name.remove_prefix(4);
    unsigned long long pid = 0;
    if (!takeNumber(name, pid) || pid == 0 || pid > static_cast<unsigned long long>(largestProcessId()))
        return {};
    Writer writer;
    if (!name.empty() && name.front() == '-') {
        name.remove_prefix(1);
        if (!takeNumber(name, writer.start)) return {};
    }
    if (name.empty() || name.front() != '.') return {};
    writer.pid = static_cast<long>(pid);
    return writer;
}

// The target a temporary file was written for, as its name says: the last three parts of
// ".<target>.<pid>-<start>.<seed>.<counter>" are the writer's; empty when it is none.
std::string targetOf(std::string_view name) {
    if (name.size() < 2 || name.front() != '.') return {};
    size_t end = name.size();
    for (int part = 0; part < 3; ++part) {
        const size_t dot = name.rfind('.', end - 1);
        if (dot == std::string_view::npos || dot == 0) return {};
        end = dot;
    }
    std::string base(name.substr(1, end - 1));
    // A backup's temporary file (".<target>.bak.<writer>") is the target's own.
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".bak") == 0)
        base.resize(base.size() - 4);
    return base;
}

void removeIfWriterGone(const fs::path& entry, const std::string& base) {
    const Writer writer = writerOf(entry.filename().string(), base);
    if (writer.pid < 0 || processMayBeRunning(writer.pid, writer.start)) return;
    std::error_code ignored;  // another writer may be removing it at the same time
    fs::remove(entry, ignored);
}

}  // namespace

std::string temporaryNameBeside(const std::string& target, const std::string& suffix) {
    static std::atomic<unsigned> counter{0};
    const auto seed = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    const fs::path file(target);
    return (folderOf(file) / (prefixOf(file.filename().string() + suffix) + writerIdentity() +
                              '.' + std::to_string(seed % 1000000) + '.' +
                              std::to_string(counter.fetch_add(1))))
        .string();
}

void removeTemporariesOfDeadWriters(const std::string& target) {
    const fs::path file(target);
    const std::string base = file.filename().string();
    std::error_code ec;
    fs::directory_iterator entries(folderOf(file), ec);
    // A folder that cannot be listed: the write itself will say what is wrong with it.
    for (; !ec && entries != fs::directory_iterator(); entries.increment(ec))
        removeIfWriterGone(entries->path(), base);
}

void removeTemporariesOfDeadWritersIn(const std::string& folder, std::string_view suffix) {
    std::error_code ec;
    fs::directory_iterator entries(folder.empty() ? fs::path(".") : fs::path(folder), ec);
    for (; !ec && entries != fs::directory_iterator(); entries.increment(ec)) {
        const std::string base = targetOf(entries->path().filename().string());
        if (base.empty() || base.size() < suffix.size() ||
            std::string_view(base).substr(base.size() - suffix.size()) != suffix)
            continue;
        removeIfWriterGone(entries->path(), base);
    }
}

}  // namespace tarvolen::os::detail

namespace tarvolen::os {

std::string temporaryNameBeside(const std::string& target) {
    return detail::temporaryNameBeside(target);
}

void removeStaleTemporariesIn(const std::string& folder, std::string_view suffix) {
    detail::removeTemporariesOfDeadWritersIn(folder, suffix);
}

}  // namespace tarvolen::os
