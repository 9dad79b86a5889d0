#include "app/maintenance/PlanGrid.h"

#include <QComboBox>
#include <QCompleter>
#include <QHeaderView>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include "app/maintenance/PlanGridModel.h"

namespace tarvolen {

// ---- RowGateSelectionModel ----------------------------------------------------------------

RowGateSelectionModel::RowGateSelectionModel(QAbstractItemModel* model, QObject* parent)
    : QItemSelectionModel(model, parent) {}

void RowGateSelectionModel::setCurrentIndex(const QModelIndex& index,
                                            QItemSelectionModel::SelectionFlags command) {
    if (!m_gate || !index.isValid() || index.row() == currentIndex().row()) {
        QItemSelectionModel::setCurrentIndex(index, command);
        return;
    }
    // The gate may store the pending row, which can move rows: follow the target.
    const QPersistentModelIndex target(index);
    if (!m_gate(index.row())) return;
    QItemSelectionModel::setCurrentIndex(target, command);
}

// ---- PlanFieldDelegate --------------------------------------------------------------------

PlanFieldDelegate::PlanFieldDelegate(QHash<int, QStringList> choices, QObject* parent)
    : QStyledItemDelegate(parent), m_choices(std::move(choices)) {}

QWidget* PlanFieldDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& /*option*/,
                                         const QModelIndex& index) const {
    const auto* model = qobject_cast<const PlanGridModel*>(index.model());
    const int maxLength = model != nullptr ? model->maxLength(index.column()) : 0;
    QLineEdit* line = nullptr;
    QWidget* editor = nullptr;
    if (const auto choices = m_choices.find(index.column()); choices != m_choices.end()) {
        auto* combo = new QComboBox(parent);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->addItems(*choices);
        // Flags compare exactly: a typed "s" must stay "s", neither completed nor matched to "S".
        combo->completer()->setCaseSensitivity(Qt::CaseSensitive);
        // Picking from the list is the whole edit, as Return is. A combo box also reports a
        // typed text that names an item as picked when it loses the focus, its editor closing
        // (handed over or dropped): that is no pick.
        connect(combo, &QComboBox::activated, this, [this, combo] {
            if (!combo->isVisible() || !combo->lineEdit()->hasFocus()) return;
            // Signals are not const; the editor factory is.
            auto* self = const_cast<PlanFieldDelegate*>(this);
            emit self->typed();
            emit self->commitData(combo);
            emit self->closeEditor(combo);
        });
        line = combo->lineEdit();
        editor = combo;
    } else {
        line = new QLineEdit(parent);
        line->setFrame(false);
        editor = line;
    }
    if (maxLength > 0) line->setMaxLength(maxLength);
    connect(line, &QLineEdit::textEdited, this, &PlanFieldDelegate::typed);
    if (index.column() == PlanGridModel::ColId || index.column() == PlanGridModel::ColOrdine) {
        static const QRegularExpression integerText(QStringLiteral("[+-]?[0-9]*"));
        line->setValidator(new QRegularExpressionValidator(integerText, line));
    }
    return editor;
}

void PlanFieldDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    const QString text = index.data(Qt::EditRole).toString();
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        combo->setEditText(text);
    } else if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        line->setText(text);
    }
}

void PlanFieldDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                     const QModelIndex& index) const {
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        model->setData(index, combo->currentText(), Qt::EditRole);
    } else if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        model->setData(index, line->text(), Qt::EditRole);
    }
}

// ---- PlanGrid -----------------------------------------------------------------------------

PlanGrid::PlanGrid(QWidget* parent) : QTableView(parent) {
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                    QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    setTabKeyNavigation(true);
    setWordWrap(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    verticalHeader()->setMinimumWidth(fontMetrics().horizontalAdvance(u'W') * 2);
    horizontalHeader()->setHighlightSections(false);
}

void PlanGrid::setModel(QAbstractItemModel* model) {
    QTableView::setModel(model);
    auto* gated = new RowGateSelectionModel(model, this);
    gated->setGate(m_gate);
    setSelectionModel(gated);
    // The selection models made before this one (QTableView makes its own) are unused now.
    for (QObject* child : children()) {
        auto* other = qobject_cast<QItemSelectionModel*>(child);
        if (other != nullptr && other != gated) other->deleteLater();
    }
}

void PlanGrid::setRowChangeGate(RowGateSelectionModel::Gate gate) {
    m_gate = std::move(gate);
    if (auto* gated = qobject_cast<RowGateSelectionModel*>(selectionModel()))
        gated->setGate(m_gate);
}

QWidget* PlanGrid::openEditor() const {
    if (state() != QAbstractItemView::EditingState) return nullptr;
    return indexWidget(currentIndex());
}

void PlanGrid::commitOpenEditor() {
    if (QWidget* editor = openEditor()) {
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

void PlanGrid::discardOpenEditor() {
    if (QWidget* editor = openEditor())
        closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
}

}  // namespace tarvolen
