#include "plan/MarksJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <set>
#include <string_view>

#include "plan/ClientDataSet.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"

namespace tarvolen {
namespace {

constexpr std::string_view kMagic = "tarvolen done-marks 1 of plan ";

[[noreturn]] void fail(const std::string& path, int error) {
    throw EFCreateError("Cannot create file \"" + fullPath(path) + "\". " + std::strerror(error));
}

// Writes all of text at offset `at` of fd, however many calls it takes.
bool writeAllAt(int fd, std::string_view text, int64_t at) {
    while (!text.empty()) {
        const ssize_t n = ::pwrite(fd, text.data(), text.size(), static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
        at += n;
    }
    return true;
}

// Makes the journal's own name durable, not only its contents.
void syncFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;  // the journal's contents are synced all the same
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

MarksJournal::MarksJournal(const std::string& planPath)
    : m_planPath(resolvedFile(planPath)), m_path(m_planPath + ".marks") {}

MarksJournal::~MarksJournal() {
    if (m_fd >= 0) ::close(m_fd);
}

std::string MarksJournal::HeaderForPlan() const {
    // Which plan file the marks belong to: a plan written whole since (the walk's end, a
    // new plan copied in its place) makes the journal stale. Every write of the plan makes a
    // new file, and a copy over it changes its time.
    struct stat st {};
    if (::stat(m_planPath.c_str(), &st) != 0) return std::string(kMagic) + "(no plan)\n";
    return std::string(kMagic) + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
           std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec) + "\n";
}

void MarksJournal::Open() {
    if (m_fd >= 0) return;
    // Whatever a journal holds when a walk first writes is stale: the walk applied and removed
    // a live one before it began.
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail(m_path, errno);
    m_fd = fd;
    m_end = 0;
    try {
        WriteAtEnd(HeaderForPlan());
    } catch (const EFCreateError&) {
        // A journal without its whole header takes no line: the next write starts it again.
        ::close(m_fd);
        m_fd = -1;
        throw;
    }
    syncFolderOf(m_path);
}

void MarksJournal::WriteAtEnd(std::string_view text) {
    errno = 0;
    if (!writeAllAt(m_fd, text, m_end)) fail(m_path, errno != 0 ? errno : ENOSPC);
    Sync();
    m_end += static_cast<int64_t>(text.size());
}

void MarksJournal::Sync() {
    if (::fdatasync(m_fd) != 0) fail(m_path, errno);
}

void MarksJournal::Append(int64_t id) {
    if (m_fd >= 0 && m_reservedAt >= 0 && m_reservedId == id) {
        errno = 0;
        if (!writeAllAt(m_fd, ".", m_reservedAt)) fail(m_path, errno != 0 ? errno : ENOSPC);
        Sync();
        m_reservedAt = -1;
        m_pending = true;
        return;
    }
    Open();
    // Each line starts afresh and ends with a dot, so a line cut short by a kill reads as
    // nothing, never as another ID.
    WriteAtEnd("\n" + std::to_string(id) + ".\n");
    m_pending = true;
}

void MarksJournal::Reserve(int64_t id) {
    Open();
    const std::string line = "\n" + std::to_string(id) + "?\n";
    WriteAtEnd(line);
    m_reservedId = id;
    m_reservedAt = m_end - 2;
}

void MarksJournal::Remove() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_end = 0;
    m_reservedAt = -1;
    if (::unlink(m_path.c_str()) != 0 && errno != ENOENT) fail(m_path, errno);
    m_pending = false;
}

std::vector<int64_t> MarksJournal::Read() const {
    std::vector<int64_t> ids;
    if (!fileExists(m_path)) return ids;
    const std::string text = readWholeFile(m_path);
    if (kMagic.starts_with(text)) return ids;  // killed while it wrote its header
    if (!std::string_view(text).starts_with(kMagic)) {
        throw EFCreateError("File \"" + fullPath(m_path) +
                            "\" is not a journal of done-marks: move it away to go on.");
    }
    const std::string header = HeaderForPlan();
    if (!std::string_view(text).starts_with(header)) return ids;  // for another plan file
    std::string_view rest = std::string_view(text).substr(header.size());
    while (!rest.empty()) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (!line.ends_with('.')) continue;  // empty, cut short, or reserved only
        line.remove_suffix(1);
        int64_t id = 0;
        const auto [last, error] = std::from_chars(line.data(), line.data() + line.size(), id);
        if (!line.empty() && error == std::errc() && last == line.data() + line.size())
            ids.push_back(id);
    }
    return ids;
}

int ApplyJournalledMarks(TClientDataSet& plan, const MarksJournal& journal) {
    return ApplyJournalledMarks(plan, journal.Read());
}

int ApplyJournalledMarks(TClientDataSet& plan, const std::vector<int64_t>& ids) {
    if (ids.empty()) return 0;
    const std::set<int64_t> done(ids.begin(), ids.end());
    int marked = 0;
    for (plan.First(); !plan.Eof(); plan.Next()) {
        if (done.count(plan.FieldByName("ID").AsInteger()) == 0) continue;
        if (plan.FieldByName("STATO").AsString() == "S") continue;
        plan.Edit();
        plan.FieldByName("STATO").SetAsString("S");
        plan.Post();
        ++marked;
    }
    plan.First();
    return marked;
}

}  // namespace tarvolen
