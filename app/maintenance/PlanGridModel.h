#pragma once
// The plan table as a grid model. The table holds one pending row (being edited or inserted);
// every operation that changes the table's rows or state goes through this model, so the views
// hear of it. An inserted row shows before the row that was current when the insert began, and
// moves to its place in ID order when it is posted.

#include <QAbstractTableModel>
#include <QString>
#include <string>

namespace tarvolen {

class TClientDataSet;
class TField;

class PlanGridModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    // The grid's columns in their order, then the script text, which the memo edits.
    enum Column {
        ColId,
        ColStato,
        ColTipo,
        ColSeparatore,
        ColNomeTabella,
        ColSvuotaTabella,
        ColNomeFile,
        ColOrdine,
        ColVersione,
        ColTesto,
        ColumnCount
    };

    explicit PlanGridModel(TClientDataSet& table, QObject* parent = nullptr);

    // The plan field a column shows.
    static const char* fieldName(int column);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Sets the field of that row, first making it current (which stores another pending row)
    // and putting it into editing. Text equal to the stored value changes nothing. A value
    // the field refuses is reported through failed(); the row stays as it was.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    bool active() const;
    // Inside one of the operations below: the views' own moves of their current row then
    // follow the model and ask nothing.
    bool changing() const { return m_changing > 0; }
    // A row is being edited or inserted.
    bool editing() const;
    // The current row; -1 when the table is closed or empty.
    int currentRow() const;
    // Characters a text column takes (the field object's length); 0 for no limit.
    int maxLength(int column) const;

    // Each of these throws the table's error; the table and the model then stay as they were.
    // Makes `row` current, storing the pending row first (posted when modified, else dropped).
    void moveTo(int row);
    void first();
    void prior();
    void next();
    void last();
    // Starts a new row before the current one.
    void insert();
    // Puts the current row into editing (an empty table starts a new row).
    void edit();
    // Stores the pending row; a refused post leaves it in editing.
    void post();
    // Drops the pending changes; a new row goes away.
    void cancel();
    // Deletes the current row (a new row is dropped instead).
    void remove();
    // Posts the pending row when it was modified, else drops it.
    void storePending();
    // Closes the table (dropping a pending row, writing back a changed table) and reads `file`.
    void reload(const std::string& file);
    // Stores the pending row, then writes the whole table to `file` (for the plan's own file,
    // through its merge with the file: the rows may change).
    void save(const std::string& file);
    // Stores the pending row, then removes every row and the table's history.
    void emptyTable();

  signals:
    // The table's state or current row changed.
    void stateChanged();
    // A value typed into a cell or the memo was refused; the message as the table gave it.
    void failed(const QString& message);

  private:
    bool holds(const QModelIndex& index) const;
    TField* fieldAt(int column) const;
    // The record index in the table of a model row; -1 for the row being inserted.
    int recordOf(int row) const;
    QString textAt(int row, int column) const;
    void postMovingRow();
    void announceState();

    TClientDataSet& m_table;
    int m_changing = 0;    // depth of the operations under way
    int m_insertRow = -1;  // where the row being inserted shows; -1 when none
};

}  // namespace tarvolen
