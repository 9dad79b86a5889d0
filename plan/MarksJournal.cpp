#include "plan/MarksJournal.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <set>
#include <string_view>

#include "base/os/SystemError.h"
#include "plan/ClientDataSet.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "plan/PlanLayout.h"

namespace tarvolen {
namespace {

constexpr std::string_view kMagic = "tarvolen done-marks 1 of plan ";

[[noreturn]] void fail(const std::string& path, const std::error_code& error) {
    throw EFCreateError("Cannot create file \"" + fullPath(path) + "\". " + os::errorText(error));
}

std::string folderOf(const std::string& path) {
    const std::filesystem::path file(path);
    return file.has_parent_path() ? file.parent_path().string() : std::string(".");
}

}  // namespace

MarksJournal::MarksJournal(const std::string& planPath)
    : m_planPath(resolvedFile(planPath)), m_path(m_planPath + ".marks") {}

MarksJournal::~MarksJournal() = default;

std::string MarksJournal::HeaderForPlan() const {
    // Which plan file the marks belong to: a plan written whole since (the walk's end, a
    // new plan copied in its place) makes the journal stale. Every write of the plan makes a
    // new file, and a copy over it changes its time.
    const auto stamp = os::stampOf(m_planPath);
    if (!stamp) return std::string(kMagic) + "(no plan)\n";
    return std::string(kMagic) + std::to_string(stamp->device) + ":" +
           std::to_string(stamp->index) + ":" + std::to_string(stamp->size) + ":" +
           std::to_string(stamp->modified / 1000000000) + "." +
           std::to_string(stamp->modified % 1000000000) + "\n";
}

void MarksJournal::Open() {
    if (m_file.isOpen()) return;
    // Whatever a journal holds when a walk first writes is stale: the walk applied and removed
    // a live one before it began.
    std::error_code error;
    m_file = os::File::openToWrite(m_path, error);
    if (error) fail(m_path, error);
    m_end = 0;
    try {
        WriteAtEnd(HeaderForPlan());
    } catch (const EFCreateError&) {
        // A journal without its whole header takes no line: the next write starts it again.
        m_file = os::File();
        throw;
    }
    os::syncFolder(folderOf(m_path));  // the journal's own name, not only its contents
}

void MarksJournal::WriteAtEnd(std::string_view text) {
    if (const std::error_code error = m_file.writeAt(static_cast<uint64_t>(m_end), text))
        fail(m_path, error);
    Sync();
    m_end += static_cast<int64_t>(text.size());
}

void MarksJournal::Sync() {
    if (const std::error_code error = m_file.flush()) fail(m_path, error);
}

void MarksJournal::Append(int64_t id) {
    if (m_file.isOpen() && m_reservedAt >= 0 && m_reservedId == id) {
        if (const std::error_code error = m_file.writeAt(static_cast<uint64_t>(m_reservedAt), "."))
            fail(m_path, error);
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
    m_file = os::File();
    m_end = 0;
    m_reservedAt = -1;
    if (const std::error_code error = os::removeFile(m_path)) fail(m_path, error);
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
        if (done.count(plan.FieldByName(planfield::kId).AsInteger()) == 0) continue;
        if (plan.FieldByName(planfield::kStato).AsString() == "S") continue;
        plan.Edit();
        plan.FieldByName(planfield::kStato).SetAsString("S");
        plan.Post();
        ++marked;
    }
    plan.First();
    return marked;
}

}  // namespace tarvolen
