// The maintenance window on a real plan file: what it shows, the navigator, the grid and the
// script box editing the plan table, the menu's reload, save and empty, and typed text that a
// command must not leave behind. One file, a little over 500 lines, since every case is a
// step of the same editing session on the same fixture.

#include <QStatusBar>

#include "MaintenanceTestSupport.h"

namespace tarvolen::testing {
namespace {

using Col = PlanGridModel::Column;

// A field of one plan row as the plan file holds it.
std::string fileField(const std::filesystem::path& file, int id, const char* field) {
    TClientDataSet plan("plan");
    configurePlanTable(plan);
    plan.SetFileName(file.string());
    plan.Open();
    std::string value = "(no row)";
    for (plan.First(); !plan.Eof(); plan.Next()) {
        if (plan.FieldByName("ID").AsInteger() == id) value = plan.FieldByName(field).AsString();
    }
    plan.SetFileName("");
    plan.Close();
    return value;
}

const std::vector<std::string> kFourRows = {"10:S:S", "20:N:S", "30:N:I", "40:N:S"};

TEST_F(MaintenanceTest, showsThePlanInTheGridWithTheFirstPhasesScriptBelow) {
    open();
    EXPECT_EQ(m_window->windowTitle(), "Manutenzione aggiornamento");
    EXPECT_EQ(column(Col::ColId), (QStringList{"10", "20", "30", "40"}));
    EXPECT_EQ(column(Col::ColStato), (QStringList{"S", "N", "N", "N"}));
    EXPECT_EQ(column(Col::ColNomeFile), (QStringList{"", "", "dati/t1.xml", ""}));
    EXPECT_EQ(gridRow(), 0);
    EXPECT_EQ(m_window->DBMemo->toPlainText(), "create table T1 (A integer);\n");

    struct Shown {
        Col column;
        const char* title;
        int width;  // 0: the width the field's length gives
    };
    const Shown shown[] = {
        {Col::ColId, "Codice", 50},
        {Col::ColStato, "Eseguito", 51},
        {Col::ColTipo, "Tipo", 40},
        {Col::ColSeparatore, "Separatore", 0},
        {Col::ColNomeTabella, "Nome Tabella", 127},
        {Col::ColSvuotaTabella, "Svuota", 0},
        {Col::ColNomeFile, "Nome File", 267},
        {Col::ColVersione, "Versione", 0},
    };
    const QHeaderView& header = *grid().horizontalHeader();
    int visual = -1;
    for (const Shown& s : shown) {
        SCOPED_TRACE(s.title);
        EXPECT_GT(header.visualIndex(s.column), visual);  // in this order
        visual = header.visualIndex(s.column);
        EXPECT_FALSE(grid().isColumnHidden(s.column));
        EXPECT_EQ(model().headerData(s.column, Qt::Horizontal, Qt::DisplayRole).toString(),
                  s.title);
        // Never narrower than the title: a width of its own grows only for that.
        EXPECT_GE(grid().columnWidth(s.column), header.sectionSizeHint(s.column));
        if (s.width != 0) {
            EXPECT_EQ(grid().columnWidth(s.column),
                      std::max(s.width, header.sectionSizeHint(s.column)));
        }
    }
    EXPECT_TRUE(grid().isColumnHidden(Col::ColOrdine));
    EXPECT_TRUE(grid().isColumnHidden(Col::ColTesto));
    // The default widths follow the field's length: VERSIONE takes 15 characters, SVUOTA one.
    const int digit = grid().fontMetrics().horizontalAdvance(u'0');
    EXPECT_GE(grid().columnWidth(Col::ColVersione), 15 * digit);
    EXPECT_LT(grid().columnWidth(Col::ColSvuotaTabella), grid().columnWidth(Col::ColVersione));

    // The menu bar: "Esci", then "Gestione" with its three items around a separator.
    const QList<QAction*> bar = m_window->MainMenu1->actions();
    ASSERT_EQ(bar.size(), 2);
    EXPECT_EQ(bar[0]->text(), "Esci");
    EXPECT_EQ(bar[1]->text(), "Gestione");
    QStringList items;
    for (QAction* item : m_window->Gestione1->actions())
        items << (item->isSeparator() ? QStringLiteral("-") : item->text());
    EXPECT_EQ(items, (QStringList{"Carica la pianificazione", "Salva la pianificazione", "-",
                                  "Cancella la tabella"}));
    EXPECT_TRUE(m_window->StatusBar1->currentMessage().isEmpty());
    EXPECT_EQ(m_window->DBNavigator1->size(), QSize(279, 33));
    EXPECT_EQ(m_window->DBNavigator1->pos(), QPoint(8, 4));
}

TEST_F(MaintenanceTest, flagColumnsOfferTheirChoicesAndTakeAnyValueWithinTheFieldsSize) {
    open();
    struct Choices {
        Col column;
        QStringList offered;  // empty: a plain text box
    };
    for (const Choices& c : {Choices{Col::ColStato, {"N", "S"}}, Choices{Col::ColTipo, {"S", "I"}},
                             Choices{Col::ColSvuotaTabella, {"S", "N"}}, Choices{Col::ColId, {}},
                             Choices{Col::ColVersione, {}}}) {
        SCOPED_TRACE(PlanGridModel::fieldName(c.column));
        clickCell(1, c.column);
        grid().edit(cell(1, c.column));
        auto* combo = qobject_cast<QComboBox*>(grid().openEditor());
        if (c.offered.isEmpty()) {
            EXPECT_EQ(combo, nullptr);
            EXPECT_NE(qobject_cast<QLineEdit*>(grid().openEditor()), nullptr);
        } else {
            ASSERT_NE(combo, nullptr);
            QStringList offered;
            for (int i = 0; i < combo->count(); ++i) offered << combo->itemText(i);
            EXPECT_EQ(offered, c.offered);
            EXPECT_TRUE(combo->isEditable());
        }
        grid().discardOpenEditor();
    }

    struct Typed {
        Col column;
        QString typed;
        QString stored;
    };
    const Typed typed[] = {
        {Col::ColStato, "X", "X"},   // not a choice, accepted
        {Col::ColTipo, "s", "s"},    // flags compare exactly: no completion to "S"
        {Col::ColStato, "SN", "S"},  // one character wide
        {Col::ColVersione, "1.2.3.4567890123456", "1.2.3.456789012"},  // 15, not the file's 20
        {Col::ColSeparatore, "GO;GO;", "GO;GO"},
    };
    for (const Typed& t : typed) {
        SCOPED_TRACE(t.typed.toStdString());
        typeIntoCell(1, t.column, t.typed);
        clickCell(2, Col::ColId);
        EXPECT_EQ(text(1, t.column), t.stored);
        EXPECT_EQ(m_plan.GetState(), TClientDataSet::State::Browse);
    }

    // Picking from the list ends the edit at once.
    clickCell(1, Col::ColSvuotaTabella);
    grid().edit(cell(1, Col::ColSvuotaTabella));
    auto* combo = qobject_cast<QComboBox*>(grid().openEditor());
    ASSERT_NE(combo, nullptr);
    combo->setCurrentIndex(0);
    emit combo->activated(0);
    settle();
    EXPECT_EQ(grid().openEditor(), nullptr);
    EXPECT_EQ(text(1, Col::ColSvuotaTabella), "S");
    EXPECT_EQ(m_plan.GetState(), TClientDataSet::State::Edit);
}

TEST_F(MaintenanceTest, navigatorMovesTheCurrentRowAndDerivesItsButtonsFromTheTable) {
    open();
    struct Step {
        NavigateButton button;
        int row;
        std::vector<NavigateButton> enabled;
    };
    using B = NavigateButton;
    const Step steps[] = {
        {B::Last, 3, {B::First, B::Prior, B::Insert, B::Delete, B::Edit}},
        {B::Prior, 2, {B::First, B::Prior, B::Next, B::Last, B::Insert, B::Delete, B::Edit}},
        {B::First, 0, {B::Next, B::Last, B::Insert, B::Delete, B::Edit}},
        {B::Next, 1, {B::First, B::Prior, B::Next, B::Last, B::Insert, B::Delete, B::Edit}},
        {B::Edit,
         1,
         {B::First, B::Prior, B::Next, B::Last, B::Insert, B::Delete, B::Post, B::Cancel}},
        {B::Cancel, 1, {B::First, B::Prior, B::Next, B::Last, B::Insert, B::Delete, B::Edit}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(m_window->DBNavigator1->action(step.button)->objectName().toStdString());
        press(step.button);
        EXPECT_EQ(gridRow(), step.row);
        EXPECT_EQ(model().currentRow(), step.row);
        EXPECT_EQ(m_plan.RecordIndex(), step.row);
        for (int b = 0; b < kNavigateButtonCount; ++b) {
            const auto button = static_cast<NavigateButton>(b);
            const bool expected =
                std::find(step.enabled.begin(), step.enabled.end(), button) != step.enabled.end();
            EXPECT_EQ(enabled(button), expected)
                << m_window->DBNavigator1->action(button)->objectName().toStdString();
        }
    }
    EXPECT_EQ(m_window->DBMemo->toPlainText(),
              "insert into T1 values (1);\ninsert into T1 values (2);\n");
}

TEST_F(MaintenanceTest, aCellEditedIsStoredWhenAnotherRowIsChosen) {
    open();
    const std::string before = planBytes();
    typeIntoCell(1, Col::ColStato, "S");
    EXPECT_EQ(m_plan.GetState(), TClientDataSet::State::Edit);  // typing starts the edit
    EXPECT_TRUE(enabled(NavigateButton::Post));
    clickCell(2, Col::ColTipo);
    EXPECT_EQ(gridRow(), 2);
    EXPECT_EQ(m_plan.GetState(), TClientDataSet::State::Browse);
    EXPECT_EQ(m_plan.ChangeCount(), 1);
    EXPECT_EQ(column(Col::ColStato), (QStringList{"S", "S", "N", "N"}));
    EXPECT_EQ(m_window->DBMemo->toPlainText(), "");  // phase 30 is an import
    EXPECT_EQ(planBytes(), before);                  // in memory only
}

TEST_F(MaintenanceTest, aChangedIdTakesTheRowToItsPlaceAndTheGridFollowsIt) {
    open();
    typeIntoCell(0, Col::ColId, "35");
    clickCell(3, Col::ColId);  // phase 40
    EXPECT_EQ(column(Col::ColId), (QStringList{"20", "30", "35", "40"}));
    EXPECT_EQ(gridRow(), 3);
    EXPECT_EQ(m_plan.FieldByName("ID").AsInteger(), 40);
    EXPECT_EQ(m_window->DBMemo->toPlainText(), "drop table T1;");
}

TEST_F(MaintenanceTest, aCellEditedThenReloadedIsLost) {
    open();
    const std::string before = planBytes();
    typeIntoCell(1, Col::ColStato, "S");
    choose(m_window->Caricalapianificazione1);
    EXPECT_EQ(column(Col::ColStato), (QStringList{"S", "N", "N", "N"}));
    EXPECT_EQ(m_plan.GetState(), TClientDataSet::State::Browse);
    EXPECT_EQ(grid().openEditor(), nullptr);
    EXPECT_EQ(planBytes(), before);  // nothing stored, so nothing written back
}

TEST_F(MaintenanceTest, aCellEditedThenSavedIsStoredAndWritten) {
    open();
    typeIntoCell(1, Col::ColStato, "S");
    choose(m_window->Salvalapianificazione1);
    EXPECT_EQ(m_plan.GetState(), TClientDataSet::State::Browse);
    EXPECT_EQ(column(Col::ColStato), (QStringList{"S", "S", "N", "N"}));
    EXPECT_EQ(planFileRows(planFile()),
              (std::vector<std::string>{"10:S:S", "20:S:S", "30:N:I", "40:N:S"}));
    EXPECT_EQ(planBytes().rfind("<?xml", 0), 0u);  // XML, though the save asks for binary
    EXPECT_EQ(gridRow(), 1);
}

TEST_F(MaintenanceTest, aNewRowStartsBeforeTheCurrentOneAndIsPostedInIdOrder) {
    open();
    clickCell(2, Col::ColId);
    press(NavigateButton::Insert);
    EXPECT_EQ(column(Col::ColId), (QStringList{"10", "20", "", "30", "40"}));
    EXPECT_EQ(gridRow(), 2);
    EXPECT_EQ(model().headerData(2, Qt::Vertical, Qt::DisplayRole).toString(), "*");
    EXPECT_TRUE(m_window->DBMemo->toPlainText().isEmpty());
    EXPECT_TRUE(enabled(NavigateButton::Post));
    typeIntoCell(2, Col::ColId, "25");
    typeIntoCell(2, Col::ColTipo, "S");
    press(NavigateButton::Post);
    EXPECT_EQ(column(Col::ColId), (QStringList{"10", "20", "25", "30", "40"}));
    EXPECT_EQ(column(Col::ColTipo), (QStringList{"S", "S", "S", "I", "S"}));
    EXPECT_EQ(m_plan.GetState(), TClientDataSet::State::Browse);
    EXPECT_EQ(gridRow(), 2);

    // A new row whose ID sorts elsewhere moves there when posted; the grid goes with it.
    press(NavigateButton::Insert);
    typeIntoCell(2, Col::ColId, "50");
    press(NavigateButton::Post);
    EXPECT_EQ(column(Col::ColId), (QStringList{"10", "20", "25", "30", "40", "50"}));
    EXPECT_EQ(gridRow(), 5);
    EXPECT_EQ(m_plan.FieldByName("ID").AsInteger(), 50);
    EXPECT_EQ(m_plan.ChangeCount(), 2);
}

TEST_F(MaintenanceTest, aNewRowCancelledGoesAwayAndTheRowBeforeItIsCurrentAgain) {
    open();
    clickCell(1, Col::ColId);
    press(NavigateButton::Insert);
    typeIntoCell(1, Col::ColId, "15");
    press(NavigateButton::Cancel);
    EXPECT_EQ(column(Col::ColId), (QStringList{"10", "20", "30", "40"}));
    EXPECT_EQ(gridRow(), 1);
    EXPECT_EQ(m_plan.GetState(), TClientDataSet::State::Browse);
    EXPECT_EQ(m_plan.ChangeCount(), 0);
    EXPECT_EQ(m_window->DBMemo->toPlainText(),
              "insert into T1 values (1);\ninsert into T1 values (2);\n");
    // A new row left unchanged goes away as another row is chosen.
    press(NavigateButton::Insert);
    clickCell(3, Col::ColId);
    EXPECT_EQ(column(Col::ColId), (QStringList{"10", "20", "30", "40"}));
    EXPECT_EQ(gridRow(), 2);  // phase 30, which was on row 3 beside the new row
    EXPECT_EQ(m_plan.FieldByName("ID").AsInteger(), 30);
}

TEST_F(MaintenanceTest, deleteAsksFirstAndCancelKeepsTheRow) {
    open();
    const std::string before = planBytes();
    struct Case {
        QMessageBox::StandardButton answer;
        QStringList ids;
    };
    for (const Case& c : {Case{QMessageBox::Cancel, {"10", "20", "30", "40"}},
                          Case{QMessageBox::Ok, {"10", "30", "40"}}}) {
        SCOPED_TRACE(c.answer == QMessageBox::Ok ? "OK" : "Cancel");
        clickCell(1, Col::ColId);
        m_script.shown.clear();
        m_script.expect(BasicDialogScript::press(c.answer));
        press(NavigateButton::Delete);
        ASSERT_EQ(m_script.shown.size(), 1u);
        EXPECT_EQ(m_script.shown[0].text, "Delete record?");
        EXPECT_EQ(m_script.shown[0].caption, "Confirm");
        EXPECT_EQ(m_script.shown[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
        EXPECT_EQ(m_script.shown[0].icon, QMessageBox::Question);
        EXPECT_EQ(column(Col::ColId), c.ids);
        EXPECT_EQ(gridRow(), 1);
    }
    EXPECT_EQ(m_plan.ChangeCount(), 1);
    EXPECT_EQ(planBytes(), before);  // in memory only
}

TEST_F(MaintenanceTest, emptyingThePlanReachesTheFileAtTheNextReload) {
    open();
    const std::string before = planBytes();
    choose(m_window->Cancellalatabella1);
    EXPECT_EQ(model().rowCount(), 0);
    EXPECT_EQ(planBytes(), before);
    EXPECT_TRUE(m_window->DBMemo->isReadOnly());
    for (int b = 0; b < kNavigateButtonCount; ++b) {
        const auto button = static_cast<NavigateButton>(b);
        EXPECT_EQ(enabled(button),
                  button == NavigateButton::Insert || button == NavigateButton::Edit);
    }
    choose(m_window->Caricalapianificazione1);
    EXPECT_EQ(model().rowCount(), 0);
    EXPECT_TRUE(planFileRows(planFile()).empty());
    EXPECT_TRUE(m_plan.Active());
}

TEST_F(MaintenanceTest, emptyingThePlanLeavesTheOldPlanInTheBackupFile) {
    open();
    choose(m_window->Cancellalatabella1);
    choose(m_window->Caricalapianificazione1);
    ASSERT_TRUE(planFileRows(planFile()).empty());
    const auto backup = m_folder.path() / "dbquery.xml.bak";
    ASSERT_TRUE(std::filesystem::exists(backup)) << "the plan was written without its backup";
    EXPECT_EQ(planFileRows(backup), kFourRows);
}

TEST_F(MaintenanceTest, aBrokenFieldRuleIsShownAndTheRowStaysInEditing) {
    open();
    struct Case {
        const char* name;
        std::function<void()> act;
        QString message;
        TClientDataSet::State state;
        int row;
    };
    const Case cases[] = {
        {"ID emptied, then another row",
         [this] {
             typeIntoCell(1, Col::ColId, "");
             clickCell(2, Col::ColId);
         },
         "Field value required.", TClientDataSet::State::Edit, 1},
        {"ID emptied, then post",
         [this] {
             typeIntoCell(1, Col::ColId, "");
             press(NavigateButton::Post);
         },
         "Field value required.", TClientDataSet::State::Edit, 1},
        {"new row without ID, then next",
         [this] {
             clickCell(1, Col::ColId);
             press(NavigateButton::Insert);
             typeIntoCell(1, Col::ColTipo, "S");
             press(NavigateButton::Next);
         },
         "Field value required.", TClientDataSet::State::Insert, 1},
        {"ID beyond 32 bits, then post",
         [this] {
             typeIntoCell(1, Col::ColId, "99999999999");
             press(NavigateButton::Post);
         },
         // No period added: the text ends in a quote, which sorts before it.
         "'99999999999' is not a valid value for field 'ID'", TClientDataSet::State::Edit, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_script.shown.clear();
        m_script.expect(BasicDialogScript::ok());
        c.act();
        settle();
        ASSERT_EQ(m_script.shown.size(), 1u);
        EXPECT_EQ(m_script.shown[0].caption, "Tarvolen");
        EXPECT_EQ(m_script.shown[0].text, c.message);
        EXPECT_EQ(m_script.shown[0].icon, QMessageBox::Critical);
        EXPECT_EQ(m_plan.GetState(), c.state);
        EXPECT_EQ(gridRow(), c.row);
        EXPECT_EQ(model().currentRow(), c.row);
        EXPECT_EQ(model().headerData(c.row, Qt::Vertical, Qt::DisplayRole).toString(),
                  c.state == TClientDataSet::State::Insert ? "*" : "I");
        press(NavigateButton::Cancel);
        EXPECT_EQ(column(Col::ColId), (QStringList{"10", "20", "30", "40"}));
    }
    EXPECT_EQ(m_plan.ChangeCount(), 0);
}

TEST_F(MaintenanceTest, typedTextReachesTheRowWhenACommandIsUsedWithTheEditorStillFocused) {
    open();
    struct Case {
        const char* name;
        bool memo;  // typed into the script box, else into the SEPARATORE cell
        NavigateButton button;
        bool save;  // "Salva la pianificazione" instead of the button
    };
    const Case cases[] = {
        {"memo, next", true, NavigateButton::Next, false},
        {"memo, post", true, NavigateButton::Post, false},
        {"memo, save", true, NavigateButton::Post, true},
        {"cell, next", false, NavigateButton::Next, false},
        {"cell, post", false, NavigateButton::Post, false},
        {"cell, save", false, NavigateButton::Post, true},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString mark = QString::number(++round);
        clickCell(0, Col::ColId);
        QWidget* focused = nullptr;
        if (c.memo) {
            typeIntoMemo("-- " + mark);
            focused = m_window->DBMemo;
        } else {
            typeIntoCell(0, Col::ColSeparatore, mark);
            focused = QApplication::focusWidget();
        }
        ASSERT_TRUE(focused->hasFocus());
        if (c.save)
            choose(m_window->Salvalapianificazione1);
        else
            press(c.button);
        EXPECT_EQ(m_plan.GetState(), TClientDataSet::State::Browse);
        const int column = c.memo ? Col::ColTesto : Col::ColSeparatore;
        const std::string field = c.memo ? "TESTO" : "SEPARATORE";
        const QString stored = text(0, column);
        EXPECT_TRUE(stored.endsWith(c.memo ? "-- " + mark : mark)) << stored.toStdString();
        if (c.save) {
            const std::string inFile = fileField(planFile(), 10, field.c_str());
            EXPECT_EQ(QString::fromStdString(inFile).endsWith(c.memo ? "-- " + mark : mark), true)
                << inFile;
        }
    }
}

TEST_F(MaintenanceTest, theScriptBoxChangesNothingUntilTypedIntoAndKeepsCrLfLineBreaks) {
    // Scripts written on other systems: lone LF and lone CR line breaks as well.
    auto phases = fourPhases();
    phases.push_back({.id = 50, .testo = "select 1\nfrom RDB$DATABASE;\rselect 2;"});
    writePlan(phases);
    open();
    for (int row = 0; row < 5; ++row) {
        clickCell(row, Col::ColId);
        m_window->DBMemo->setFocus();
    }
    press(NavigateButton::First);
    m_window->DBMemo->setFocus();
    press(NavigateButton::Next);
    EXPECT_EQ(m_plan.ChangeCount(), 0);
    EXPECT_EQ(m_plan.GetState(), TClientDataSet::State::Browse);

    typeIntoMemo("-- fine");
    press(NavigateButton::Post);
    const auto testo = static_cast<size_t>(m_plan.FieldByName("TESTO").LayoutIndex());
    const FieldValue stored = m_plan.RowValue(1, testo);
    ASSERT_TRUE(std::holds_alternative<BlobData>(stored));
    EXPECT_EQ(*std::get<BlobData>(stored),
              "insert into T1 values (1);\r\ninsert into T1 values (2);\r\n-- fine");
}

TEST_F(MaintenanceTest, reloadOfADeletedPlanFileWritesTheTableAnewAndReadsItBack) {
    open();
    std::filesystem::remove(planFile());
    choose(m_window->Caricalapianificazione1);
    EXPECT_EQ(planFileRows(planFile()), kFourRows);
    EXPECT_EQ(column(Col::ColId), (QStringList{"10", "20", "30", "40"}));
    EXPECT_TRUE(m_script.shown.empty());
}

TEST_F(MaintenanceTest, aPlanThatCannotBeReadIsReportedAndTheWindowOpensEmpty) {
    std::ofstream(planFile(), std::ios::binary) << "not a data packet";
    m_script.expect(BasicDialogScript::ok());
    open();
    ASSERT_EQ(m_script.shown.size(), 1u);
    EXPECT_EQ(m_script.shown[0].caption, "Tarvolen");
    EXPECT_EQ(m_script.shown[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(m_script.shown[0].text.isEmpty());
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_FALSE(m_plan.Active());
    EXPECT_EQ(model().rowCount(), 0);
    for (int b = 0; b < kNavigateButtonCount; ++b)
        EXPECT_FALSE(enabled(static_cast<NavigateButton>(b)));
    // Saving a closed table writes nothing and says nothing.
    choose(m_window->Salvalapianificazione1);
    EXPECT_EQ(planBytes(), "not a data packet");
}

TEST_F(MaintenanceTest, closingStoresTheRowBeingEditedOrStaysOpenWhenItCannot) {
    open();
    typeIntoCell(1, Col::ColStato, "S");
    choose(m_window->Esci1);
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(m_plan.GetState(), TClientDataSet::State::Browse);
    EXPECT_EQ(m_plan.ChangeCount(), 1);

    // Showing it again reloads: the change is written back first, then read.
    open();
    EXPECT_EQ(planFileRows(planFile()),
              (std::vector<std::string>{"10:S:S", "20:S:S", "30:N:I", "40:N:S"}));
    EXPECT_EQ(column(Col::ColStato), (QStringList{"S", "S", "N", "N"}));

    press(NavigateButton::Insert);
    typeIntoCell(0, Col::ColTipo, "S");
    m_script.expect(BasicDialogScript::ok());
    choose(m_window->Esci1);
    ASSERT_EQ(m_script.shown.size(), 1u);
    EXPECT_EQ(m_script.shown[0].text, "Field value required.");
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_EQ(m_plan.GetState(), TClientDataSet::State::Insert);
    press(NavigateButton::Cancel);
    m_window->close();
    EXPECT_FALSE(m_window->isVisible());
}

}  // namespace
}  // namespace tarvolen::testing
