#pragma once
// The maintenance window on a plan file in a temporary folder, offscreen, with the item-model
// checker attached to its grid's model for the whole test. Its message boxes go through a
// dialog script.

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../plan/PlanFileSupport.h"
#include "DialogScript.h"
#include "ModelChecker.h"
#include "tests/support/TestFolder.h"
#include "app/maintenance/PlanGrid.h"
#include "app/maintenance/PlanGridModel.h"
#include "app/maintenance/fm_manutenzione.h"
#include "plan/ClientDataSet.h"
#include "plan/FileIO.h"
#include "plan/PlanLayout.h"

namespace tarvolen::testing {

// Lets the events that are due (queued calls, repaints) run.
inline void settle() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

// The four phases every maintenance test starts from.
inline std::vector<Phase> fourPhases() {
    return {
        {.id = 10, .stato = "S", .testo = "create table T1 (A integer);\r\n"},
        {.id = 20, .testo = "insert into T1 values (1);\r\ninsert into T1 values (2);\r\n"},
        {.id = 30, .tipo = "I", .nomeTabella = "T1", .nomeFile = "dati/t1.xml", .svuota = "S"},
        {.id = 40, .testo = "drop table T1;", .versione = "1.2.0.0"},
    };
}

// Every visible row of a plan file, as "ID:STATO:TIPO" in ID order.
inline std::vector<std::string> planFileRows(const std::filesystem::path& file) {
    TClientDataSet plan("plan");
    configurePlanTable(plan);
    plan.SetFileName(file.string());
    plan.Open();
    std::vector<std::string> rows;
    for (plan.First(); !plan.Eof(); plan.Next()) {
        rows.push_back(plan.FieldByName("ID").AsString() + ":" +
                       plan.FieldByName("STATO").AsString() + ":" +
                       plan.FieldByName("TIPO").AsString());
    }
    plan.SetFileName("");  // read only: nothing is written back
    plan.Close();
    return rows;
}

class MaintenanceTest : public ::testing::Test {
  protected:
    MaintenanceTest() : m_cwd(m_folder.path()), m_dialogs(m_script.runner(), "Tarvolen") {
        writePlan(fourPhases());
        configurePlanTable(m_plan);
        m_plan.Open();
        m_window = std::make_unique<TfmManutenzione>(m_plan, m_dialogs);
        m_checker = std::make_unique<ModelChecker>(&m_window->model());
    }
    ~MaintenanceTest() override {
        m_checker.reset();
        m_window.reset();
        m_plan.SetFileName("");  // what a test left in memory stays out of its plan file
        m_plan.Close();
    }
    void TearDown() override { EXPECT_EQ(m_script.pending(), 0u) << "boxes expected, not shown"; }

    std::filesystem::path planFile() const { return m_folder.path() / "dbquery.xml"; }
    void writePlan(const std::vector<Phase>& phases) const {
        std::ofstream(planFile(), std::ios::binary) << planXml(phases);
    }
    std::string planBytes() const { return readWholeFile(planFile().string()); }

    // Shows the window as the main window does (FormShow reloads), active, grid focused.
    void open() {
        m_window->show();
        m_window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
        settle();
    }

    PlanGridModel& model() { return m_window->model(); }
    PlanGrid& grid() { return *m_window->DBGrid1; }
    QModelIndex cell(int row, int column) { return model().index(row, column); }
    QString text(int row, int column) { return cell(row, column).data().toString(); }
    // One column of the grid, top to bottom.
    QStringList column(int column) {
        // The grid heard of every row the model gained or lost.
        EXPECT_EQ(grid().verticalHeader()->count(), model().rowCount());
        QStringList values;
        for (int row = 0; row < model().rowCount(); ++row) values << text(row, column);
        return values;
    }
    int gridRow() { return grid().currentIndex().row(); }

    // Clicks a cell, as the operator moves to it.
    void clickCell(int row, int column) {
        grid().scrollTo(cell(row, column));
        const QRect rect = grid().visualRect(cell(row, column));
        QTest::mouseClick(grid().viewport(), Qt::LeftButton, {}, rect.center());
        settle();
    }
    // Opens the cell's editor and types into it, leaving the editor open with its focus.
    QWidget* typeIntoCell(int row, int column, const QString& typed) {
        // Moved to by keyboard: a click on the current cell would start a second, delayed edit.
        grid().setCurrentIndex(cell(row, column));
        grid().edit(cell(row, column));
        QWidget* editor = grid().openEditor();
        if (editor == nullptr) {
            ADD_FAILURE() << "no editor opened at " << row << "," << column;
            return nullptr;
        }
        QLineEdit* line = qobject_cast<QLineEdit*>(editor);
        if (auto* combo = qobject_cast<QComboBox*>(editor)) line = combo->lineEdit();
        if (line == nullptr) {
            ADD_FAILURE() << "the editor has no text box";
            return nullptr;
        }
        line->setFocus();
        line->selectAll();
        if (typed.isEmpty())
            QTest::keyClick(line, Qt::Key_Delete);
        else
            QTest::keyClicks(line, typed);
        return editor;
    }
    // Types into the script box, which keeps the focus.
    void typeIntoMemo(const QString& typed) {
        m_window->DBMemo->setFocus();
        m_window->DBMemo->moveCursor(QTextCursor::End);
        QTest::keyClicks(m_window->DBMemo, typed);
    }
    void press(NavigateButton button) {
        QWidget* widget = m_window->DBNavigator1->button(button);
        ASSERT_TRUE(widget->isEnabled()) << "the button is disabled";
        QTest::mouseClick(widget, Qt::LeftButton);
        settle();
    }
    void choose(QAction* menuItem) {
        menuItem->trigger();
        settle();
    }
    bool enabled(NavigateButton button) {
        return m_window->DBNavigator1->action(button)->isEnabled();
    }

    TempFolder m_folder;
    ScopedCurrentPath m_cwd;
    BasicDialogScript m_script;
    Dialogs m_dialogs;
    TClientDataSet m_plan{"cdsQuery"};
    std::unique_ptr<TfmManutenzione> m_window;
    std::unique_ptr<ModelChecker> m_checker;
};

}  // namespace tarvolen::testing
