// The maintenance window in the program: opened from the main window after a run, and a mark
// edited there and saved that the next run honours.

#include <QAction>

#include "GuiTestSupport.h"
#include "ModelChecker.h"
#include "app/maintenance/PlanGridModel.h"
#include "app/maintenance/fm_manutenzione.h"

namespace tarvolen::testing {
namespace {

using Col = PlanGridModel::Column;

class MaintenanceRunTest : public GuiTest {
  protected:
    // Opens "Gestione" > "Manutenzione"; `work` acts in the window while it is shown.
    void inMaintenanceWindow(const std::function<void(TfmManutenzione&)>& work) {
        m_script.expect([&work](QDialog& dialog) {
            auto* window = qobject_cast<TfmManutenzione*>(&dialog);
            if (window == nullptr) {
                ADD_FAILURE() << "expected the maintenance window";
                return int{QDialog::Rejected};
            }
            const ModelChecker checker(&window->model());
            window->show();  // as the modal showing does: FormShow reloads
            work(*window);
            window->close();
            return window->result();
        });
        window().Manutenzione1->trigger();
        EXPECT_EQ(m_script.pending(), 0u);
    }
    static QStringList stati(TfmManutenzione& w) {
        QStringList values;
        for (int row = 0; row < w.model().rowCount(); ++row)
            values << w.model().index(row, Col::ColStato).data().toString();
        return values;
    }
};

TEST_F(MaintenanceRunTest, openedAfterARunShowsThePhasesMarkedAsDone) {
    writePlan({{.id = 10, .testo = "create table T1 (A integer);"},
               {.id = 20, .testo = "insert into T1 values (1);"}});
    startConnected();
    m_script.expect(DialogScript::ok());
    clickEsegui();
    // Each phase's mark reached the file as the phase ended.
    EXPECT_EQ(planMarks(folder() / "dbquery.xml"), "10=S 20=S");

    QStringList shown;
    inMaintenanceWindow([&shown](TfmManutenzione& w) { shown = stati(w); });
    EXPECT_EQ(shown, (QStringList{"S", "S"}));
    EXPECT_EQ(planMarks(folder() / "dbquery.xml"), "10=S 20=S");
}

TEST_F(MaintenanceRunTest, aDoneMarkEditedAndSavedIsHonouredByTheNextRun) {
    writePlan({{.id = 10, .testo = "create table T1 (A integer);"},
               {.id = 20, .testo = "create table T2 (A integer);"}});
    startConnected();
    inMaintenanceWindow([](TfmManutenzione& w) {
        ASSERT_TRUE(w.model().setData(w.model().index(0, Col::ColStato), "S", Qt::EditRole));
        w.Salvalapianificazione1->trigger();
    });
    EXPECT_EQ(planMarks(folder() / "dbquery.xml"), "10=S 20=N");

    m_script.expect(DialogScript::ok());
    clickEsegui();
    EXPECT_TRUE(logLines().contains("FASE 10 PROCEDURA GIA' ESEGUITA."))
        << logLines().join("\n").toStdString();
    EXPECT_EQ(count("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = 'T1'"), 0);
    EXPECT_EQ(count("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = 'T2'"), 1);
}

}  // namespace
}  // namespace tarvolen::testing
