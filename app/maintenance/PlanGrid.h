#pragma once
// The plan grid: a table view whose current row changes only when the window lets it (the
// pending row must be stored first), with cell editors that offer a column's choices and keep
// to its field's length.

#include <QHash>
#include <QItemSelectionModel>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>

namespace tarvolen {

// Asks before the current index moves to another row; a refused move leaves it where it is.
class RowGateSelectionModel : public QItemSelectionModel {
    Q_OBJECT
  public:
    using Gate = std::function<bool(int row)>;
    RowGateSelectionModel(QAbstractItemModel* model, QObject* parent);
    void setGate(Gate gate) { m_gate = std::move(gate); }
    void setCurrentIndex(const QModelIndex& index,
                         QItemSelectionModel::SelectionFlags command) override;

  private:
    Gate m_gate;
};

// Cell editors of the plan grid: an editable drop-down for a column with choices (any typed
// value is still accepted), a line edit elsewhere; text never longer than the field takes, and
// only sign and digits for a number.
class PlanFieldDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    PlanFieldDelegate(QHash<int, QStringList> choices, QObject* parent);
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

  signals:
    // The operator changed an editor's text: the row goes into editing at once.
    void typed();

  private:
    QHash<int, QStringList> m_choices;
};

class PlanGrid : public QTableView {
    Q_OBJECT
  public:
    explicit PlanGrid(QWidget* parent = nullptr);
    // Installs a RowGateSelectionModel over the model.
    void setModel(QAbstractItemModel* model) override;
    // Called before the current row changes to another row; false keeps the current row.
    void setRowChangeGate(RowGateSelectionModel::Gate gate);
    // The cell editor open at the current cell, if any.
    QWidget* openEditor() const;
    // Hands the open editor's text to the model and closes the editor.
    void commitOpenEditor();
    // Closes the open editor without handing its text over.
    void discardOpenEditor();

  private:
    RowGateSelectionModel::Gate m_gate;
};

}  // namespace tarvolen
