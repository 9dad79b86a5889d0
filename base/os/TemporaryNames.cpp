#include "base/os/TemporaryNames.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string_view>
#include <system_error>

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
    for (; !ec && entries != fs::directory_iterator(); entries.increment(ec)) {
        const Writer writer = writerOf(entries->path().filename().string(), base);
        if (writer.pid < 0 || processMayBeRunning(writer.pid, writer.start)) continue;
        std::error_code ignored;  // another writer may be removing it at the same time
        fs::remove(entries->path(), ignored);
    }
}

}  // namespace tarvolen::os::detail
