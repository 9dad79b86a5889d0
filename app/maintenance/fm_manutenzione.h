#pragma once
// The maintenance window: the plan table in a grid, a navigator over it, the selected phase's
// script text below, and a menu to reload, save and empty the plan. It works on the plan table
// itself, in memory; the plan file changes only on "Salva la pianificazione" or when the table
// writes itself back as it closes (on every reload). Both writes go through the plan's merge
// with the file (SharedPlanFile): refused while another program holds the plan, the edits then
// staying in the window.
//
// Typed text is never left behind in an editor: every command first hands the open cell
// editor's and the script box's text to the pending row (reload and cancel drop it instead).

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

#include "app/Dialogs.h"
#include "app/maintenance/RecordNavigator.h"

class QAction;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QSplitter;
class QStatusBar;

namespace tarvolen {

class MemoBinding;
class PlanGrid;
class PlanGridModel;
class TClientDataSet;

class TfmManutenzione : public QDialog {
    Q_OBJECT
  public:
    // Works on `cdsQuery`; its message boxes go through `dialogs`.
    TfmManutenzione(TClientDataSet& cdsQuery, const Dialogs& dialogs, QWidget* parent = nullptr);
    ~TfmManutenzione() override;

    // Every showing reloads the plan; an error is shown and the window opens all the same.
    void FormShow();
    void Caricalapianificazione1Click();
    void Salvalapianificazione1Click();
    void Cancellalatabella1Click();
    void Esci1Click();
    void DBNavigator1Click(NavigateButton button);

    PlanGridModel& model() { return *m_model; }

    QMenuBar* MainMenu1 = nullptr;
    QAction* Esci1 = nullptr;
    QMenu* Gestione1 = nullptr;
    QAction* Caricalapianificazione1 = nullptr;
    QAction* Salvalapianificazione1 = nullptr;
    QAction* N1 = nullptr;
    QAction* Cancellalatabella1 = nullptr;
    QWidget* Panel1 = nullptr;
    RecordNavigator* DBNavigator1 = nullptr;
    PlanGrid* DBGrid1 = nullptr;
    QSplitter* Splitter1 = nullptr;
    QPlainTextEdit* DBMemo = nullptr;
    QStatusBar* StatusBar1 = nullptr;

  public slots:
    // A pending row is stored before the window closes; when it cannot be, the error is shown
    // and the window stays open.
    void done(int result) override;

  protected:
    void setVisible(bool visible) override;
    // Escape closes an open editor, never the window.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    enum class Typing { Keep, Drop };

    void buildLayout();
    void setColumnWidths();
    // The operator started typing into a cell or the script box: the row goes into editing.
    void beginEditing();
    // Hands typed text to the pending row, or drops it. A value the table refuses is returned.
    QString settleTyping(Typing typing);
    // Runs a command after settling typed text; the error that stopped it, or empty.
    QString attempt(Typing typing, const std::function<void()>& command);
    // attempt(), then shows the current row and the error. True when the command completed.
    bool command(Typing typing, const std::function<void()>& command);
    // Asked by the grid before it leaves the current row.
    bool allowRowChange(int row);
    void fieldRefused(const QString& message);
    void showLater(const QString& message);
    // Puts the grid's current cell and the script box on the table's current row.
    void showCurrentRow();
    void updateNavigator();

    TClientDataSet& m_cdsQuery;
    const Dialogs& m_dialogs;
    PlanGridModel* m_model = nullptr;
    MemoBinding* m_memoBinding = nullptr;
    bool m_syncing = false;  // the window itself moves the grid's current cell
    bool m_settling = false;
    QString m_refused;  // what the table refused while typed text was settled
};

}  // namespace tarvolen
