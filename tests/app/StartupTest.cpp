// Start-up: the plan, the alias list, the default alias and the login before the main window.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QToolButton>

#include "GuiTestSupport.h"

namespace tarvolen::testing {
namespace {

using StartupTest = GuiTest;

TEST_F(StartupTest, withoutDefaultAliasOpensIdleWithNothingSelected) {
    start();
    EXPECT_TRUE(m_script.shown.empty());
    EXPECT_EQ(m_registryOpened, 0) << "no RegKey: the registry is not consulted";
    TfmMain& w = window();
    EXPECT_EQ(w.windowTitle(), "tarvolen");
    QStringList entries;
    for (int i = 0; i < w.DatabaseComboBox1->count(); ++i)
        entries << w.DatabaseComboBox1->itemText(i);
    EXPECT_EQ(entries, (QStringList{"DB", "dbsagg", "mancante", "test"}));
    EXPECT_EQ(w.DatabaseComboBox1->currentIndex(), -1);
    EXPECT_FALSE(dm().dbsagg().connected());
    EXPECT_TRUE(w.chkStatistics->isChecked());
    EXPECT_FALSE(w.lblGestore->isVisibleTo(&w));
    EXPECT_FALSE(w.ProgressBar1->isVisibleTo(&w));
    EXPECT_EQ(w.lblGestore->text(), "Comune di");
    EXPECT_EQ(w.Label1->text(), "Selezionare un Alias");
    EXPECT_EQ(w.chkStatistics->text(), "Ricalcola statistiche database");
    EXPECT_EQ(w.SpeedButton1->text(), "Esegui");
    EXPECT_EQ(w.File1->title(), "File");
    EXPECT_EQ(w.Esci1->text(), "Esci");
    EXPECT_EQ(w.Gestione1->title(), "Gestione");
    EXPECT_EQ(w.Manutenzione1->text(), "Manutenzione");
    EXPECT_TRUE(dm().cdsQuery().Active());
    EXPECT_TRUE(dm().LoginUser.empty());
    EXPECT_TRUE(dm().LoginPassword.empty());
}

TEST_F(StartupTest, defaultAliasDifferingInCaseConnectsWithTheLoginBeforeTheWindow) {
    setDefaultAlias("\"AliasName\"=\"TEST\"");
    m_script.expect(DialogScript::login("SYSDBA", "segreta"));
    start();
    ASSERT_EQ(m_script.shown.size(), 1u);
    EXPECT_EQ(m_script.shown[0].kind, "login");
    EXPECT_EQ(m_script.shown[0].caption, "Login Database");
    EXPECT_FALSE(m_script.shown[0].mainWindowVisible);
    EXPECT_EQ(m_script.shown[0].loginUserShown, "");
    EXPECT_EQ(m_script.shown[0].passwordShown, "");
    EXPECT_EQ(window().DatabaseComboBox1->currentText(), "test");
    EXPECT_TRUE(dm().dbsagg().connected());
    EXPECT_EQ(dm().LoginUser, "SYSDBA");
    EXPECT_EQ(dm().LoginPassword, "segreta");
    EXPECT_TRUE(window().lblGestore->isVisibleTo(&window()));
    EXPECT_EQ(window().dbtxtGestore->text(), "Alba");
    EXPECT_EQ(dm().TableNames(), (std::vector<std::string>{"AFCOMUNI", "AFDATGEN", "SYSDBVER"}));
}

TEST_F(StartupTest, defaultAliasNotInTheListSelectsNothing) {
    setDefaultAlias("\"AliasName\"=\"sconosciuto\"");
    start();
    EXPECT_EQ(m_registryOpened, 1);
    EXPECT_TRUE(m_script.shown.empty());
    EXPECT_EQ(window().DatabaseComboBox1->currentIndex(), -1);
    EXPECT_FALSE(dm().dbsagg().connected());
}

TEST_F(StartupTest, aliasNameOfWrongTypeShowsTheErrorThenAnIdleWindow) {
    setDefaultAlias("\"AliasName\"=dword:00000007");
    m_script.expect(DialogScript::ok());
    start();
    ASSERT_EQ(m_script.shown.size(), 1u);
    const ShownDialog& box = m_script.shown[0];
    EXPECT_EQ(box.caption, title());
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.text, "Invalid data type for 'AliasName'");
    EXPECT_FALSE(box.mainWindowVisible);
    EXPECT_EQ(window().DatabaseComboBox1->currentIndex(), -1);
    EXPECT_EQ(window().DatabaseComboBox1->count(), 4) << "the list was filled before the lookup";
}

TEST_F(StartupTest, malformedRegistryFileCountsAsNoDefault) {
    writeFile(binFolder() / "tarvolen.ini", "[UpdateSettings]\nRegKey=Software\\Tarvolen\\Test\n");
    writeFile(folder() / "registry.reg", "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\r\ngarbage\r\n");
    start();
    EXPECT_TRUE(m_script.shown.empty());
    EXPECT_EQ(window().DatabaseComboBox1->currentIndex(), -1);
}

TEST_F(StartupTest, withoutPlanFileShowsTheTablesErrorAndOpensAllTheSame) {
    std::filesystem::remove(folder() / "dbquery.xml");
    m_script.expect(DialogScript::ok());
    start();
    ASSERT_EQ(m_script.shown.size(), 1u);
    EXPECT_EQ(m_script.shown[0].caption, title());
    EXPECT_EQ(m_script.shown[0].icon, QMessageBox::Critical);
    EXPECT_EQ(m_script.shown[0].text, "cdsQuery: Missing data provider or data packet.");
    EXPECT_FALSE(dm().cdsQuery().Active());
    EXPECT_EQ(window().DatabaseComboBox1->count(), 4);
}

TEST_F(StartupTest, failedDefaultConnectionLeavesTheAliasSelectedButNotConnected) {
    setDefaultAlias("\"AliasName\"=\"mancante\"");
    m_script.expect(DialogScript::login("SYSDBA", "segreta"));
    m_script.expect(DialogScript::ok());
    start();
    ASSERT_EQ(m_script.shown.size(), 2u);
    EXPECT_EQ(m_script.shown[1].caption, title());
    EXPECT_FALSE(m_script.shown[1].mainWindowVisible);
    EXPECT_EQ(window().DatabaseComboBox1->currentText(), "mancante");
    EXPECT_FALSE(dm().dbsagg().connected());
    EXPECT_EQ(dm().LoginPassword, "segreta") << "only a refused login forgets the password";
}

TEST_F(StartupTest, maintenanceWindowStaysHiddenUntilAskedFor) {
    start();
    QDialog* maintenance = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "fmManutenzione") maintenance = qobject_cast<QDialog*>(w);
    ASSERT_NE(maintenance, nullptr);
    EXPECT_FALSE(maintenance->isVisible());
    EXPECT_EQ(maintenance->windowTitle(), "Manutenzione aggiornamento");
    m_script.expect([](QDialog&) { return 0; });
    window().Manutenzione1->trigger();
    ASSERT_EQ(m_script.shown.size(), 1u);
    EXPECT_EQ(m_script.shown[0].kind, "fmManutenzione");
}

}  // namespace
}  // namespace tarvolen::testing
