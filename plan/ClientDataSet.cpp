#include "plan/ClientDataSet.h"

#include <algorithm>
#include <cctype>

#include "plan/Errors.h"
#include "plan/FieldTypes.h"
#include "plan/FileIO.h"
#include "plan/PacketCodec.h"

namespace tarvolen {
namespace {

const FieldValue kNull{};

bool endsWithXml(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".xml";
}

const char* kindName(FieldKind kind) {
    switch (kind) {
        case FieldKind::Integer:
            return "Integer";
        case FieldKind::String:
            return "String";
        case FieldKind::Memo:
            return "Memo";
        case FieldKind::Any:
            return "";
    }
    return "";
}

bool kindAccepts(FieldKind kind, const FieldDef& field) {
    switch (kind) {
        case FieldKind::Integer:
            return field.type == FieldType::Int16 || field.type == FieldType::Int32 ||
                   field.type == FieldType::UInt16 || field.type == FieldType::UInt32;
        case FieldKind::String:
            return field.type == FieldType::String;
        case FieldKind::Memo:
            return field.type == FieldType::Blob;
        case FieldKind::Any:
            return true;
    }
    return false;
}

// Makes room for one more element, growing geometrically, so that the push that follows cannot
// throw: a post or delete then either fails before changing anything or completes.
template <typename T>
void reserveOneMore(std::vector<T>& v) {
    if (v.size() == v.capacity()) v.reserve(std::max<size_t>(8, v.size() * 2));
}

bool isEmptyValue(const FieldValue& v) {
    if (isNull(v)) return true;
    if (const auto* s = std::get_if<std::string>(&v)) return s->empty();
    return false;
}

DataPacket decodePlanRules(std::string_view bytes) {
    return decodePacket(bytes);
}

}  // namespace

// ---- TClientDataSet ---------------------------------------------------------------------

TClientDataSet::TClientDataSet(std::string name) : m_name(std::move(name)) {}

TClientDataSet::~TClientDataSet() {
    try {
        Close();
    } catch (...) {
        // A destructor cannot report, and any error escaping it would end the program; owners
        // that care close the table themselves first.
    }
}

void TClientDataSet::SetIndexFieldNames(std::string names) {
    if (!Active()) {
        m_indexFieldNames = std::move(names);
        return;
    }
    // An unknown name leaves the old order in force.
    std::swap(m_indexFieldNames, names);
    try {
        rebuildView();
    } catch (...) {
        std::swap(m_indexFieldNames, names);
        throw;
    }
}

TField& TClientDataSet::AddField(std::string name, FieldKind kind, int size, bool required) {
    m_fields.push_back(std::make_unique<TField>(*this, std::move(name), kind, size, required));
    return *m_fields.back();
}

void TClientDataSet::throwTableError(const std::string& message) const {
    throw EDatabaseError(m_name + ": " + message);
}

void TClientDataSet::Open() {
    if (Active()) return;
    std::string bytes;
    if (!m_fileName.empty() && fileExists(m_fileName)) bytes = readOwn(m_fileName);
    openFrom(std::move(bytes), decodePlanRules, true);
}

void TClientDataSet::LoadFile(const std::string& fileName) {
    LoadFile(fileName, decodePlanRules);
}

void TClientDataSet::LoadFile(const std::string& fileName, const PacketDecoder& decode) {
    Close();
    const bool own = isOwnFile(fileName);
    const std::string& path = fileName.empty() ? m_fileName : fileName;
    openFrom(own ? readOwn(path) : readWholeFile(path), decode, own);
}

bool TClientDataSet::isOwnFile(const std::string& fileName) const {
    if (m_fileName.empty()) return false;
    return fileName.empty() || fileName == m_fileName || fullPath(fileName) == fullPath(m_fileName);
}

std::string TClientDataSet::readOwn(const std::string& path) {
    return m_keeper ? m_keeper->ReadOwnFile(path) : readWholeFile(path);
}

void TClientDataSet::openFrom(std::string bytes, const PacketDecoder& decode, bool ownFile) {
    if (bytes.empty()) throwTableError("Missing data provider or data packet");
    DataPacket packet = decode(bytes);
    bytes.clear();
    bytes.shrink_to_fit();
    openOn(std::move(packet));
    if (!ownFile || !m_keeper) return;
    // What the keeper adds to a load of the own file is part of the file as it stands.
    try {
        m_keeper->OwnFileLoaded(*this);
    } catch (...) {
        Cancel();
        m_changeCount = 0;
        First();
        throw;
    }
    m_changeCount = 0;
    First();
}

void TClientDataSet::AdoptPacket(DataPacket packet) {
    m_pending.clear();
    m_pendingChanged = false;
    openOn(std::move(packet));
}

DataPacket TClientDataSet::TakePacket() {
    DataPacket packet = std::move(m_packet);
    release();
    return packet;
}

void TClientDataSet::openOn(DataPacket packet) {
    m_packet = std::move(packet);
    forgetCurrentRow();
    try {
        bindFields();
        rebuildView();
    } catch (...) {
        release();
        throw;  // a binding or index error goes to the caller; the table stays closed
    }
    m_changeCount = 0;
    m_emptied = false;
    m_state = State::Browse;
    First();
}

void TClientDataSet::bindFields() {
    if (m_fields.empty() || m_dynamicFields) {
        m_fields.clear();
        m_dynamicFields = true;
        for (const auto& def : m_packet.fields) {
            auto& f =
                AddField(def.name, FieldKind::Any, def.type == FieldType::String ? def.width() : 0);
            f.m_layoutIndex = static_cast<int>(&def - m_packet.fields.data());
        }
        return;
    }
    for (auto& field : m_fields) {
        const int index = m_packet.fieldIndex(field->m_name);
        if (index < 0) throwTableError("Field '" + field->m_name + "' not found");
        const FieldDef& def = m_packet.fields[static_cast<size_t>(index)];
        if (!kindAccepts(field->m_kind, def)) {
            throwTableError("Type mismatch for field '" + field->m_name + "', expecting: " +
                            kindName(field->m_kind) + " actual: " + fieldTypeDisplayName(def));
        }
        field->m_layoutIndex = index;
        field->m_size = field->m_declaredSize;
        const int width = def.width();
        if (field->m_kind == FieldKind::String && width > 0 && field->m_size > width) {
            field->m_size = width;
        }
    }
}

void TClientDataSet::Close() {
    if (!Active()) return;
    m_pending.clear();
    m_pendingChanged = false;
    m_state = State::Browse;
    if (!m_fileName.empty() && (m_changeCount != 0 || !fileExists(m_fileName))) {
        // On failure the table stays open with its changes, so nothing is lost and a later
        // save can still succeed.
        writeOwn(Format::Binary);
    }
    release();
}

void TClientDataSet::writeOwn(Format format) {
    if (!m_keeper) {
        writeTo(m_fileName, format);
        return;
    }
    m_keeper->WriteOwnFile(*this, format == Format::Xml || endsWithXml(m_fileName));
    m_changeCount = 0;
}

void TClientDataSet::release() {
    m_packet = DataPacket{};
    std::vector<uint32_t>().swap(m_view);
    m_identityView = true;
    m_current.clear();
    forgetCurrentRow();
    m_pending.clear();
    m_pendingChanged = false;
    m_state = State::Inactive;
    m_changeCount = 0;
    m_emptied = false;
    m_position = 0;
    m_eof = m_bof = true;
    for (auto& f : m_fields) f->m_layoutIndex = -1;
    if (m_dynamicFields) m_fields.clear();
}

void TClientDataSet::SaveFile(const std::string& fileName, Format format) {
    if (!Active()) return;
    postOrCancelPending();
    if (m_keeper && isOwnFile(fileName)) {
        writeOwn(format);
        return;
    }
    writeTo(fileName.empty() ? m_fileName : fileName, format);
}

void TClientDataSet::WriteCopy(const std::string& path, Format format) const {
    writeTo(path, format);
}

void TClientDataSet::writeTo(const std::string& path, Format format) const {
    const bool xml = format == Format::Xml || endsWithXml(path);
    WriteOptions options;
    options.keepBackup = m_keepBackup;
    writeFileAtomically(path, xml ? encodeXmlPacket(m_packet) : encodeBinaryPacket(m_packet),
                        options);
}

void TClientDataSet::EmptyTable() {
    requireActive();
    postOrCancelPending();
    m_packet.rows.clear();
    m_packet.changeLog.clear();
    forgetCurrentRow();
    m_changeCount = 1;
    m_emptied = true;
    rebuildView();
    First();
}

void TClientDataSet::postOrCancelPending() {
    if (m_state != State::Edit && m_state != State::Insert) return;
    if (m_pendingChanged) {
        Post();
    } else {
        Cancel();
    }
}

void TClientDataSet::requireActive() const {
    if (!Active()) throwTableError("Cannot perform this operation on a closed dataset");
}

void TClientDataSet::requireEditing() const {
    requireActive();
    if (m_state != State::Edit && m_state != State::Insert) {
        throwTableError("Dataset not in edit or insert mode");
    }
}

// ---- navigation ---------------------------------------------------------------------------

void TClientDataSet::First() {
    requireActive();
    postOrCancelPending();
    m_position = 0;
    m_bof = true;
    m_eof = viewSize() == 0;
}

void TClientDataSet::Last() {
    requireActive();
    postOrCancelPending();
    m_position = viewSize() == 0 ? 0 : viewSize() - 1;
    m_eof = true;
    m_bof = viewSize() == 0;
}

void TClientDataSet::Next() {
    requireActive();
    postOrCancelPending();
    if (m_position + 1 < viewSize()) {
        ++m_position;
        m_bof = false;
        m_eof = false;
    } else {
        m_eof = true;
    }
}

void TClientDataSet::Prior() {
    requireActive();
    postOrCancelPending();
    if (m_position > 0 && viewSize() != 0) {
        --m_position;
        m_eof = false;
        m_bof = false;
    } else {
        m_bof = true;
    }
}

void TClientDataSet::MoveTo(int recordIndex) {
    requireActive();
    postOrCancelPending();
    if (viewSize() == 0) {
        First();
        return;
    }
    m_position = static_cast<size_t>(std::clamp(recordIndex, 0, RecordCount() - 1));
    m_bof = m_position == 0;
    m_eof = false;
}

int TClientDataSet::RecordIndex() const {
    return viewSize() == 0 ? -1 : static_cast<int>(m_position);
}

TField* TClientDataSet::FindField(std::string_view name) {
    for (auto& f : m_fields) {
        if (f->m_name == name) return f.get();
    }
    return nullptr;
}

TField& TClientDataSet::FieldByName(std::string_view name) {
    TField* f = FindField(name);
    if (f == nullptr) throwTableError("Field '" + std::string(name) + "' not found");
    return *f;
}

const FieldValue& TClientDataSet::CurrentValue(size_t layoutIndex) const {
    if (m_state == State::Edit || m_state == State::Insert) {
        return layoutIndex < m_pending.size() ? m_pending[layoutIndex] : kNull;
    }
    if (m_position >= viewSize()) return kNull;
    const size_t row = viewRow(m_position);
    if (row != m_currentRow) {
        m_packet.rows.decodeRow(row, m_current);
        m_currentRow = row;
    }
    return layoutIndex < m_current.size() ? m_current[layoutIndex] : kNull;
}

FieldValue TClientDataSet::RowValue(int recordIndex, size_t layoutIndex) const {
    if (recordIndex < 0 || static_cast<size_t>(recordIndex) >= viewSize()) return kNull;
    if (layoutIndex >= m_packet.fields.size()) return kNull;
    return m_packet.rows.value(viewRow(static_cast<size_t>(recordIndex)), layoutIndex);
}

void TClientDataSet::RowValues(int recordIndex, std::vector<FieldValue>& values) const {
    m_packet.rows.decodeRow(viewRow(static_cast<size_t>(recordIndex)), values);
    values.resize(m_packet.fields.size());
}

// ---- editing ------------------------------------------------------------------------------

void TClientDataSet::SetPendingValue(size_t layoutIndex, FieldValue value) {
    requireEditing();
    setPending(layoutIndex, std::move(value));
}

void TClientDataSet::Edit() {
    requireActive();
    if (m_state == State::Edit || m_state == State::Insert) return;
    if (viewSize() == 0) {
        Insert();
        return;
    }
    m_packet.rows.decodeRow(viewRow(m_position), m_pending);
    m_pending.resize(m_packet.fields.size());
    m_pendingChanged = false;
    m_state = State::Edit;
}

void TClientDataSet::Insert() {
    requireActive();
    postOrCancelPending();
    m_pending.assign(m_packet.fields.size(), FieldValue{});
    m_pendingChanged = false;
    m_state = State::Insert;
}

void TClientDataSet::setPending(size_t layoutIndex, FieldValue value) {
    if (layoutIndex >= m_pending.size()) return;
    // The writers and comparisons rely on a blob never being a null pointer.
    if (const auto* blob = std::get_if<BlobData>(&value); blob != nullptr && *blob == nullptr) {
        value = FieldValue{};
    }
    m_pending[layoutIndex] = std::move(value);
    m_pendingChanged = true;
}

void TClientDataSet::Cancel() {
    if (m_state != State::Edit && m_state != State::Insert) return;
    m_pending.clear();
    m_pendingChanged = false;
    m_state = State::Browse;
}

void TClientDataSet::Post() {
    requireActive();
    if (m_state != State::Edit && m_state != State::Insert) return;
    for (size_t i = 0; i < m_packet.fields.size(); ++i) {
        if (m_packet.fields[i].required() && isEmptyValue(m_pending[i]))
            throw dberr::fieldValueRequired();
    }
    for (const auto& f : m_fields) {
        if (f->m_required && f->m_layoutIndex >= 0 &&
            isEmptyValue(m_pending[static_cast<size_t>(f->m_layoutIndex)])) {
            throw dberr::fieldValueRequired();
        }
    }

    // Each step that can fail (out of memory) comes before the first change, or undoes what
    // went before it: a failed post leaves the table as it was, still editing.
    if (m_packet.rows.size() >= UINT32_MAX) throw dberr::invalidParameter();
    const auto newVersion = static_cast<uint32_t>(m_packet.rows.size() + 1);
    if (m_state == State::Insert) {
        const size_t at = viewInsertPosition(m_pending);
        if (!m_identityView) reserveOneMore(m_view);
        m_packet.changeLog.push_back({newVersion, 0, rowstate::kInserted});
        try {
            m_packet.rows.append(rowstate::kInserted, m_pending);
        } catch (...) {
            m_packet.changeLog.pop_back();
            throw;
        }
        ++m_changeCount;
        if (!m_identityView) {
            m_view.insert(m_view.begin() + static_cast<ptrdiff_t>(at), newVersion - 1);
        }
        m_position = at;
    } else {
        const size_t old = viewRow(m_position);
        bool changed = false;
        for (size_t i = 0; i < m_pending.size() && !changed; ++i) {
            changed = !m_packet.rows.holds(old, i, m_pending[i]);
        }
        if (changed) {
            materializeView();
            reserveOneMore(m_view);
            // The row keeps its place unless its key changed; its place counted without it.
            size_t at = viewInsertPosition(m_pending);
            if (at > m_position) --at;
            const uint8_t oldStatus = m_packet.rows.status(old);
            const uint8_t status = (oldStatus & rowstate::kInserted) != 0
                                       ? rowstate::kModified | rowstate::kInserted
                                       : rowstate::kModified;
            m_packet.changeLog.push_back(
                {newVersion, static_cast<uint32_t>(old + 1), rowstate::kModified});
            try {
                // The new version refers to the blobs it keeps instead of copying them.
                m_packet.rows.append(status, m_pending, old);
            } catch (...) {
                m_packet.changeLog.pop_back();
                throw;
            }
            m_packet.rows.setStatus(old, oldStatus | rowstate::kSuperseded);
            ++m_changeCount;
            m_view.erase(m_view.begin() + static_cast<ptrdiff_t>(m_position));
            m_view.insert(m_view.begin() + static_cast<ptrdiff_t>(at), newVersion - 1);
            m_position = at;
        }
    }
    forgetCurrentRow();
    m_pending.clear();
    m_pendingChanged = false;
    m_state = State::Browse;
    m_eof = false;
    m_bof = m_position == 0;
}

void TClientDataSet::Delete() {
    requireActive();
    if (m_state == State::Insert) {
        Cancel();
        return;
    }
    Cancel();
    if (viewSize() == 0) return;
    materializeView();
    const size_t version = m_view[m_position];
    m_packet.changeLog.push_back({static_cast<uint32_t>(version + 1), 0, rowstate::kDeleted});
    m_packet.rows.setStatus(version, m_packet.rows.status(version) | rowstate::kDeleted);
    ++m_changeCount;
    m_view.erase(m_view.begin() + static_cast<ptrdiff_t>(m_position));
    forgetCurrentRow();
    if (m_position >= m_view.size() && m_position > 0) --m_position;
    m_eof = m_view.empty();
    m_bof = m_position == 0;
}

}  // namespace tarvolen
