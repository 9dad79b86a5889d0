#include "app/maintenance/MemoBinding.h"

#include <QAbstractItemModel>
#include <QEvent>
#include <QFocusEvent>
#include <QPlainTextEdit>
#include <QScopedValueRollback>

namespace tarvolen {

MemoBinding::MemoBinding(QPlainTextEdit& memo, QAbstractItemModel& model, int column,
                         QObject* parent)
    : QObject(parent), m_memo(memo), m_model(model), m_column(column) {
    connect(&m_memo, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_filling) emit typed();
    });
    connect(&m_model, &QAbstractItemModel::dataChanged, this, &MemoBinding::modelDataChanged);
    connect(&m_model, &QAbstractItemModel::modelReset, this, [this] { fill(); });
    connect(&m_model, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (!m_index.isValid()) fill();
    });
    m_memo.installEventFilter(this);
    fill();
}

void MemoBinding::setRow(int row) {
    m_index =
        row >= 0 ? QPersistentModelIndex(m_model.index(row, m_column)) : QPersistentModelIndex();
    fill();
}

void MemoBinding::fill() {
    const QScopedValueRollback filling(m_filling, true);
    m_memo.setPlainText(m_index.isValid() ? m_index.data(Qt::EditRole).toString() : QString());
    m_memo.document()->setModified(false);
    m_memo.setReadOnly(!m_index.isValid());
}

void MemoBinding::submit() {
    if (!m_index.isValid() || !m_memo.document()->isModified()) return;
    // Cleared first: the model's answer may fill the box again.
    m_memo.document()->setModified(false);
    m_model.setData(m_index, m_memo.toPlainText(), Qt::EditRole);
}

void MemoBinding::revert() {
    fill();
}

void MemoBinding::modelDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight) {
    if (!m_index.isValid() || m_memo.document()->isModified()) return;
    if (m_index.row() < topLeft.row() || m_index.row() > bottomRight.row()) return;
    if (m_column < topLeft.column() || m_column > bottomRight.column()) return;
    fill();
}

bool MemoBinding::eventFilter(QObject* watched, QEvent* event) {
    // Leaving the box hands its text over; a menu opening over it does not leave it.
    if (watched == &m_memo && event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
        submit();
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tarvolen
