#include "plan/SharedPlanFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string_view>

#include "plan/Errors.h"
#include "plan/MarksJournal.h"
#include "plan/PacketCodec.h"
#include "plan/PlanLayout.h"
#include "plan/PlanRecovery.h"

namespace tarvolen {
namespace {

constexpr const char* kIdField = "ID";

std::optional<int64_t> idAt(const TClientDataSet& table, int row) {
    const int column = table.Packet().fieldIndex(kIdField);
    if (column < 0 || row < 0) return std::nullopt;
    const FieldValue value = table.RowValue(row, static_cast<size_t>(column));
    if (const auto* id = std::get_if<int64_t>(&value)) return *id;
    return std::nullopt;
}

// Puts the table back on a row with this ID, or near the place it was, after its contents
// were replaced under it.
void returnTo(TClientDataSet& table, const std::optional<int64_t>& id, int place) {
    if (table.RecordCount() == 0) return;
    for (int row = 0; id && row < table.RecordCount(); ++row) {
        if (idAt(table, row) == id) {
            table.MoveTo(row);
            return;
        }
    }
    table.MoveTo(std::max(0, std::min(place, table.RecordCount() - 1)));
}

std::string idText(const std::optional<int64_t>& id) {
    return id ? std::to_string(*id) : std::string("(no ID)");
}

}  // namespace

std::string PlanConflictMessage(const PlanConflict& conflict) {
    std::string ids;
    for (const auto& id : conflict.ids) ids += (ids.empty() ? "" : ", ") + idText(id);
    return "The plan \"" + conflict.planFile + "\" was changed by another program too: phase" +
           (conflict.ids.size() == 1 ? " " : "s ") + ids +
           (conflict.ids.size() == 1 ? " was" : " were") +
           " changed both there and here, and the plan keeps the file's version. This program's "
           "copy of the plan is in \"" +
           conflict.recoveryFile.string() + "\".";
}

SharedPlanFile::SharedPlanFile(TClientDataSet& table)
    : m_table(table), m_recoveryFolder(defaultRecoveryFolder()) {}

SharedPlanFile::Hold SharedPlanFile::hold() {
    if (m_holds == 0 && !m_table.FileName().empty()) {
        try {
            m_lock.emplace(m_table.FileName());
        } catch (const EFCreateError& e) {
            // The lock file lives beside the plan: a folder that takes no lock file takes no
            // plan either, and the plan is the file the operator knows. The system's reason
            // follows the lock file's name.
            const std::string_view text = e.what();
            const size_t reason = text.find("\". ");
            throw EFCreateError(
                "Cannot create file \"" + fullPath(m_table.FileName()) + "\". " +
                std::string(reason == std::string_view::npos ? text : text.substr(reason + 3)));
        }
    }
    ++m_holds;
    return Hold(this);
}

void SharedPlanFile::release() {
    if (--m_holds == 0) m_lock.reset();
}

void SharedPlanFile::BringUpToDate() {
    const std::string path = m_table.FileName();
    if (path.empty() || !m_table.Active()) return;
    const Hold held = hold();
    if (m_table.ChangeCount() != 0 || !fileExists(path)) {
        m_table.SaveFile();
        return;
    }
    if (m_base && fileIdentity(path) == m_baseFile && MarksJournal(path).Read().empty())
        return;  // the table holds the file as it stands
    m_table.LoadFile(path);
}

std::string SharedPlanFile::ReadOwnFile(const std::string& path) {
    FileIdentity identity;
    std::string bytes = readWholeFile(path, identity);
    m_lastRead = identity;
    return bytes;
}

void SharedPlanFile::OwnFileLoaded(TClientDataSet& table) {
    // A journal that is no journal stops the load's use of it, not the load: the base is the
    // file as read.
    std::vector<int64_t> journal;
    try {
        journal = MarksJournal(table.FileName()).Read();
    } catch (...) {
        m_base = PlanPrints(table);
        m_baseFile = m_lastRead;
        throw;
    }
    ApplyJournalledMarks(table, journal);
    m_base = PlanPrints(table);
    m_baseFile = m_lastRead;
}

void SharedPlanFile::rememberBase(const std::string& path) {
    m_base = PlanPrints(m_table);
    m_baseFile = fileIdentity(path);
}

void SharedPlanFile::WriteOwnFile(TClientDataSet& /*table: always m_table*/, bool xml) {
    const auto format = xml ? TClientDataSet::Format::Xml : TClientDataSet::Format::Binary;
    const Hold held = hold();
    const std::string path = m_table.FileName();
    MarksJournal journalFile(path);
    const std::vector<int64_t> journal = journalFile.Read();
    const std::optional<FileIdentity> onDisk = fileIdentity(path);
    // The table alone is the plan to write when there is nothing to merge with; when the
    // table was not read from this file, so that nothing tells this program's changes from
    // the file's (written whole, as before plans were shared; the journal's marks still hold);
    // and when the file is the one the table last read or wrote, plus at most its journal's
    // marks, which the table then takes without the file being read again.
    bool tableAlone = true;
    if (!onDisk || onDisk->size == 0) {
        // nothing there
    } else if (!m_base) {
        ApplyJournalledMarks(m_table, journal);
    } else if (onDisk != m_baseFile || !ApplyJournalToMine(m_table, *m_base, journal)) {
        tableAlone = false;
    }
    std::optional<PlanConflict> conflict;
    if (tableAlone)
        m_table.WriteCopy(path, format);
    else
        conflict = writeMerged(path, format, journal);
    rememberBase(path);
    if (!journal.empty()) {
        try {
            journalFile.Remove();
        } catch (const EFCreateError&) {
            // The plan holds its marks now, and a journal written for the file replaced is
            // never applied again: it only lingers.
        }
    }
    if (!conflict) return;
    if (m_reporter) {
        m_reporter(*conflict);
    } else {
        std::fprintf(stderr, "%s\n", PlanConflictMessage(*conflict).c_str());
    }
}

std::optional<PlanConflict> SharedPlanFile::writeMerged(const std::string& path,
                                                        TClientDataSet::Format format,
                                                        const std::vector<int64_t>& journal) {
    TClientDataSet file(m_table.Name());
    configurePlanFields(file);
    file.SetKeepBackup(true);
    file.AdoptPacket(decodePacket(readWholeFile(path)));
    ApplyJournalledMarks(file, journal);
    const MergeConflicts conflicts = MergePlanInto(file, m_table, *m_base);
    std::optional<PlanConflict> conflict;
    if (!conflicts.empty()) {
        // This program's copy is kept before the file's version of those phases is written
        // over it; when it cannot be kept, nothing is written.
        conflict = PlanConflict{fullPath(path), conflicts.ids, {}};
        conflict->recoveryFile = savePlanRecovery(m_table, fullPath(path), m_recoveryFolder,
                                                  std::chrono::system_clock::now());
    }
    file.WriteCopy(path, format);
    const int place = m_table.RecordIndex();
    const std::optional<int64_t> id = idAt(m_table, place);
    m_table.AdoptPacket(file.TakePacket());
    returnTo(m_table, id, place);
    return conflict;
}

SharedPlanFile& SharedPlanOf(TClientDataSet& plan) {
    auto* shared = dynamic_cast<SharedPlanFile*>(plan.FileKeeper());
    if (shared == nullptr) throw std::logic_error(plan.Name() + " is not a shared plan table");
    return *shared;
}

}  // namespace tarvolen
