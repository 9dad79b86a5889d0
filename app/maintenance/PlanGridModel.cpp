#include "app/maintenance/PlanGridModel.h"

#include <array>

#include "app/AnsiText.h"
#include "plan/ClientDataSet.h"
#include "plan/PlanLayout.h"
#include "plan/ValueText.h"

namespace tarvolen {
namespace {

constexpr std::array<const char*, PlanGridModel::ColumnCount> kFieldNames = {
    planfield::kId,         planfield::kStato,       planfield::kTipo,
    planfield::kSeparatore, planfield::kNomeTabella, planfield::kSvuotaTabella,
    planfield::kNomeFile,   planfield::kOrdine,      planfield::kVersione,
    planfield::kTesto,
};

// Row markers of the grid's left edge: the current row, and whether it is being edited or
// inserted.
const QString kCurrentMarker = QStringLiteral("\u25B6");
const QString kEditMarker = QStringLiteral("I");
const QString kInsertMarker = QStringLiteral("*");

// Script text is stored with CR LF line breaks; the screen's text boxes break lines at LF.
QString screenText(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}
QString storedText(const QString& screen) {
    QString text = screenText(screen);
    text.replace(u'\n', QStringLiteral("\r\n"));
    return text;
}

// Marks an operation of the model as under way, however it ends.
class ChangeScope {
  public:
    explicit ChangeScope(int& depth) : m_depth(depth) { ++m_depth; }
    ~ChangeScope() { --m_depth; }
    ChangeScope(const ChangeScope&) = delete;
    ChangeScope& operator=(const ChangeScope&) = delete;

  private:
    int& m_depth;
};

}  // namespace

PlanGridModel::PlanGridModel(TClientDataSet& table, QObject* parent)
    : QAbstractTableModel(parent), m_table(table) {}

bool PlanGridModel::holds(const QModelIndex& index) const {
    return index.isValid() && index.model() == this && index.row() < rowCount() &&
           index.column() < ColumnCount;
}

const char* PlanGridModel::fieldName(int column) {
    if (column < 0 || column >= ColumnCount) return "";
    return kFieldNames[static_cast<size_t>(column)];
}

TField* PlanGridModel::fieldAt(int column) const {
    if (column < 0 || column >= ColumnCount) return nullptr;
    TField* field = m_table.FindField(fieldName(column));
    return field != nullptr && field->LayoutIndex() >= 0 ? field : nullptr;
}

bool PlanGridModel::active() const {
    return m_table.Active();
}

bool PlanGridModel::editing() const {
    const auto state = m_table.GetState();
    return state == TClientDataSet::State::Edit || state == TClientDataSet::State::Insert;
}

int PlanGridModel::currentRow() const {
    if (!m_table.Active()) return -1;
    if (m_table.GetState() == TClientDataSet::State::Insert) return m_insertRow;
    return m_table.RecordIndex();
}

int PlanGridModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !m_table.Active()) return 0;
    const bool inserting = m_table.GetState() == TClientDataSet::State::Insert;
    return m_table.RecordCount() + (inserting ? 1 : 0);
}

int PlanGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

int PlanGridModel::recordOf(int row) const {
    if (m_table.GetState() != TClientDataSet::State::Insert) return row;
    if (row == m_insertRow) return -1;
    return row < m_insertRow ? row : row - 1;
}

QString PlanGridModel::textAt(int row, int column) const {
    const TField* field = fieldAt(column);
    if (field == nullptr) return {};
    const auto layoutIndex = static_cast<size_t>(field->LayoutIndex());
    const int record = recordOf(row);
    const bool pending =
        editing() && (record == -1 || (m_table.GetState() == TClientDataSet::State::Edit &&
                                       record == m_table.RecordIndex()));
    const FieldValue value =
        pending ? m_table.CurrentValue(layoutIndex) : m_table.RowValue(record, layoutIndex);
    if (isNull(value)) return {};
    if (const auto* text = std::get_if<std::string>(&value)) return fromAnsi(*text);
    if (const auto* blob = std::get_if<BlobData>(&value)) return screenText(fromAnsi(**blob));
    return fromAnsi(valueToText(m_table.Packet().fields[layoutIndex], value));
}

QVariant PlanGridModel::data(const QModelIndex& index, int role) const {
    if (!holds(index)) return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return textAt(index.row(), index.column());
        case Qt::TextAlignmentRole: {
            const TField* field = fieldAt(index.column());
            const bool number = field != nullptr && field->Kind() == FieldKind::Integer;
            return QVariant::fromValue(Qt::AlignVCenter |
                                       (number ? Qt::AlignRight : Qt::AlignLeft));
        }
        default:
            return {};
    }
}

QVariant PlanGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) {
        static const std::array<const char*, ColumnCount> titles = {
            "Codice", "Eseguito",  "Tipo", "Separatore", "Nome Tabella",
            "Svuota", "Nome File", "",     "Versione",   "",
        };
        if (section < 0 || section >= ColumnCount) return {};
        return QString::fromUtf8(titles[static_cast<size_t>(section)]);
    }
    if (section != currentRow()) return QString();
    switch (m_table.GetState()) {
        case TClientDataSet::State::Edit:
            return kEditMarker;
        case TClientDataSet::State::Insert:
            return kInsertMarker;
        default:
            return kCurrentMarker;
    }
}

Qt::ItemFlags PlanGridModel::flags(const QModelIndex& index) const {
    if (!holds(index)) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (fieldAt(index.column()) != nullptr) flags |= Qt::ItemIsEditable;
    return flags;
}

int PlanGridModel::maxLength(int column) const {
    const TField* field = fieldAt(column);
    return field != nullptr && field->Kind() == FieldKind::String ? field->Size() : 0;
}

bool PlanGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !holds(index)) return false;
    TField* field = fieldAt(index.column());
    if (field == nullptr) return false;
    const QString text = value.toString();
    const ChangeScope scope(m_changing);
    try {
        moveTo(index.row());
        const int row = currentRow();
        if (row >= 0 && screenText(text) == textAt(row, index.column())) return true;
        if (!editing()) edit();
        const QString stored = field->Kind() == FieldKind::Memo ? storedText(text) : text;
        field->SetAsString(toAnsi(stored));
    } catch (const std::exception& e) {
        announceState();
        emit failed(fromFileText(e.what()));
        return false;
    }
    const int row = currentRow();
    emit dataChanged(this->index(row, index.column()), this->index(row, index.column()));
    announceState();
    return true;
}

void PlanGridModel::announceState() {
    const int rows = rowCount();
    if (rows > 0) emit headerDataChanged(Qt::Vertical, 0, rows - 1);
    emit stateChanged();
}

void PlanGridModel::moveTo(int row) {
    const ChangeScope scope(m_changing);
    if (!m_table.Active() || row == currentRow() || row < 0 || row >= rowCount()) return;
    // Storing the pending row may move rows (an edited ID, a dropped new row): follow the target.
    const QPersistentModelIndex target = index(row, 0);
    storePending();
    m_table.MoveTo(target.row());
    announceState();
}

void PlanGridModel::first() {
    const ChangeScope scope(m_changing);
    storePending();
    m_table.First();
    announceState();
}

void PlanGridModel::prior() {
    const ChangeScope scope(m_changing);
    storePending();
    m_table.Prior();
    announceState();
}

void PlanGridModel::next() {
    const ChangeScope scope(m_changing);
    storePending();
    m_table.Next();
    announceState();
}

void PlanGridModel::last() {
    const ChangeScope scope(m_changing);
    storePending();
    m_table.Last();
    announceState();
}

void PlanGridModel::insert() {
    const ChangeScope scope(m_changing);
    if (!m_table.Active()) {
        m_table.Insert();  // the table's own error
        return;
    }
    storePending();
    const int row = std::max(m_table.RecordIndex(), 0);
    beginInsertRows({}, row, row);
    m_insertRow = row;
    m_table.Insert();
    endInsertRows();
    announceState();
}

void PlanGridModel::edit() {
    const ChangeScope scope(m_changing);
    if (editing()) return;
    if (m_table.Active() && m_table.RecordCount() == 0) {
        insert();
        return;
    }
    m_table.Edit();
    announceState();
}

void PlanGridModel::post() {
    const ChangeScope scope(m_changing);
    if (!editing()) return;
    postMovingRow();
    announceState();
}

void PlanGridModel::postMovingRow() {
    const int from = currentRow();
    // The posted row takes its place in ID order; every other row keeps its order.
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    try {
        m_table.Post();
    } catch (...) {
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
        throw;
    }
    m_insertRow = -1;
    const int to = m_table.RecordIndex();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before) {
        int row = old.row();
        if (row == from)
            row = to;
        else if (from < to && row > from && row <= to)
            --row;
        else if (to < from && row >= to && row < from)
            ++row;
        after.append(index(row, old.column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    emit dataChanged(index(to, 0), index(to, ColumnCount - 1));
}

void PlanGridModel::cancel() {
    const ChangeScope scope(m_changing);
    switch (m_table.GetState()) {
        case TClientDataSet::State::Insert: {
            const int row = m_insertRow;
            beginRemoveRows({}, row, row);
            m_table.Cancel();
            m_insertRow = -1;
            endRemoveRows();
            break;
        }
        case TClientDataSet::State::Edit: {
            const int row = currentRow();
            m_table.Cancel();
            emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
            break;
        }
        default:
            return;
    }
    announceState();
}

void PlanGridModel::remove() {
    const ChangeScope scope(m_changing);
    if (m_table.GetState() == TClientDataSet::State::Insert) {
        cancel();
        return;
    }
    if (!m_table.Active() || m_table.RecordCount() == 0) {
        m_table.Delete();  // the table's own error, or nothing to delete
        return;
    }
    const int row = currentRow();
    beginRemoveRows({}, row, row);
    m_table.Delete();
    endRemoveRows();
    announceState();
}

void PlanGridModel::storePending() {
    const ChangeScope scope(m_changing);
    if (!editing()) return;
    if (m_table.Modified())
        post();
    else
        cancel();
}

void PlanGridModel::reload(const std::string& file) {
    const ChangeScope scope(m_changing);
    beginResetModel();
    m_insertRow = -1;
    try {
        m_table.LoadFile(file);
    } catch (...) {
        endResetModel();
        announceState();
        throw;
    }
    endResetModel();
    announceState();
}

void PlanGridModel::save(const std::string& file) {
    const ChangeScope scope(m_changing);
    storePending();
    // A save of the plan's own file leaves the table holding what the file holds, rows other
    // programs added or changed included.
    beginResetModel();
    try {
        m_table.SaveFile(file, TClientDataSet::Format::Binary);
    } catch (...) {
        endResetModel();
        announceState();
        throw;
    }
    endResetModel();
    announceState();
}

void PlanGridModel::emptyTable() {
    const ChangeScope scope(m_changing);
    storePending();
    if (!m_table.Active()) {
        m_table.EmptyTable();  // the table's own error
        return;
    }
    beginResetModel();
    m_table.EmptyTable();
    endResetModel();
    announceState();
}

}  // namespace tarvolen
