#pragma once
// A text box bound to one column of a model's current row: filled when the row or its value
// changes, handed back to the model when the operator leaves the box or a command asks for it.
// Only the operator's own changes count: filling the box is never taken for typing.

#include <QObject>
#include <QPersistentModelIndex>

class QAbstractItemModel;
class QPlainTextEdit;

namespace tarvolen {

class MemoBinding : public QObject {
    Q_OBJECT
  public:
    MemoBinding(QPlainTextEdit& memo, QAbstractItemModel& model, int column, QObject* parent);

    // Shows the column of `row`; -1 shows nothing and makes the box read-only.
    void setRow(int row);
    // Hands the typed text to the model, if the operator changed it.
    void submit();
    // Drops the typed text and shows the model's value again.
    void revert();

  signals:
    // The operator changed the text.
    void typed();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void fill();
    void modelDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);

    QPlainTextEdit& m_memo;
    QAbstractItemModel& m_model;
    int m_column;
    QPersistentModelIndex m_index;
    bool m_filling = false;
};

}  // namespace tarvolen
