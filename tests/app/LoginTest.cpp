// Choosing an alias: the login dialog, held credentials, failures and the managing municipality.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include "GuiTestSupport.h"
#include "tests/support/LocalServer.h"

namespace tarvolen::testing {
namespace {

using database::testing::localServerAnswers;
using database::testing::sysdbaPassword;

using LoginTest = GuiTest;

TEST_F(LoginTest, okConnectsReloadsThePlanAndShowsTheMunicipality) {
    start();
    m_script.expect(DialogScript::login("SYSDBA", "segreta"));
    choose("test");
    ASSERT_EQ(m_script.shown.size(), 1u);
    EXPECT_EQ(m_script.shown[0].loginUserShown, "");
    EXPECT_EQ(m_script.shown[0].passwordShown, "");
    EXPECT_TRUE(dm().dbsagg().connected());
    EXPECT_TRUE(window().LoginConfirmed);
    EXPECT_TRUE(window().lblGestore->isVisibleTo(&window()));
    EXPECT_EQ(window().dbtxtGestore->text(), "Alba");
    EXPECT_EQ(dm().TableNames().size(), 3u);
    EXPECT_EQ(dm().cdsQuery().RecordCount(), 1);
}

TEST_F(LoginTest, typingCompletesToAnEntryAndReturnChoosesIt) {
    start();
    window().show();
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    m_script.expect(DialogScript::login("SYSDBA", "segreta"));
    QLineEdit* edit = window().DatabaseComboBox1->lineEdit();
    edit->setFocus();
    QTest::keyClicks(edit, "TE");
    EXPECT_EQ(edit->text().toLower(), "test") << "typed text completes inline, ignoring case";
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(m_script.shown.size(), 1u);
    EXPECT_EQ(window().DatabaseComboBox1->currentText(), "test");
    EXPECT_TRUE(dm().dbsagg().connected());
}

TEST_F(LoginTest, secondChoiceReusesTheCredentialsWithoutAsking) {
    startConnected();
    m_script.expect(DialogScript::ok());
    choose("DB");  // the alias file has no such alias: the error, but no login dialog
    ASSERT_EQ(m_script.shown.size(), 2u);
    EXPECT_EQ(m_script.shown[1].kind, "message");
    choose("test");
    EXPECT_EQ(m_script.shown.size(), 2u);
    EXPECT_TRUE(dm().dbsagg().connected());
}

TEST_F(LoginTest, unknownAliasShowsTheErrorAndKeepsTheCredentials) {
    startConnected();
    m_script.expect(DialogScript::ok());
    choose("dbsagg");
    ASSERT_EQ(m_script.shown.size(), 2u);
    EXPECT_EQ(m_script.shown[1].caption, title());
    EXPECT_EQ(m_script.shown[1].icon, QMessageBox::Critical);
    EXPECT_TRUE(m_script.shown[1].text.contains("dbsagg")) << m_script.shown[1].text.toStdString();
    EXPECT_FALSE(dm().dbsagg().connected());
    EXPECT_EQ(dm().LoginPassword, "segreta");
    // The municipality of the earlier database stays on screen.
    EXPECT_EQ(window().dbtxtGestore->text(), "Alba");
}

TEST_F(LoginTest, annullaLeavesTheConnectionClosedAndForgetsTheCredentials) {
    start();
    m_script.expect(DialogScript::cancelLogin());
    choose("test");
    EXPECT_FALSE(dm().dbsagg().connected());
    EXPECT_FALSE(window().LoginConfirmed);
    EXPECT_EQ(dm().dbsagg().aliasName(), "test");
    EXPECT_TRUE(dm().LoginUser.empty());
    m_script.expect(DialogScript::ok());
    clickEsegui();
    ASSERT_EQ(m_script.shown.size(), 2u);
    EXPECT_EQ(m_script.shown[1].text, "SELEZIONARE UN ALIAS");
    EXPECT_EQ(m_script.shown[1].caption, "Errore");
    EXPECT_EQ(m_script.shown[1].icon, QMessageBox::Critical);
}

TEST_F(LoginTest, choosingAFailedEntryAgainTriesAgain) {
    start();
    m_script.expect(DialogScript::cancelLogin());
    choose("test");
    m_script.expect(DialogScript::login("SYSDBA", "segreta"));
    choose("test");
    EXPECT_EQ(m_script.shown.size(), 2u);
    EXPECT_TRUE(dm().dbsagg().connected());
    choose("test");  // the connected entry again: nothing happens
    EXPECT_EQ(m_script.shown.size(), 2u);
}

TEST_F(LoginTest, okWithEmptyPasswordConnectsAndAsksAgainNextTime) {
    start();
    m_script.expect(DialogScript::login("SYSDBA", ""));
    choose("test");
    EXPECT_TRUE(dm().dbsagg().connected());
    m_script.expect(DialogScript::login("SYSDBA", "ora"));
    m_script.expect(DialogScript::ok());  // mancante.fdb does not exist
    choose("mancante");
    ASSERT_GE(m_script.shown.size(), 2u);
    EXPECT_EQ(m_script.shown[1].kind, "login");
    EXPECT_EQ(m_script.shown[1].loginUserShown, "") << "the parameters were cleared first";
}

TEST_F(LoginTest, databaseWithoutRegistryTablesSaysSoAndRunsAllTheSame) {
    {
        auto connection = m_db.connect();
        connection->execute("drop table AFDATGEN");
    }
    start();
    m_script.expect(DialogScript::login("SYSDBA", "segreta"));
    m_script.expect(DialogScript::ok());
    choose("test");
    ASSERT_EQ(m_script.shown.size(), 2u);
    EXPECT_EQ(m_script.shown[1].text, QString::fromUtf8("Il database non è corretto."));
    EXPECT_EQ(m_script.shown[1].caption, "Error");
    EXPECT_EQ(m_script.shown[1].icon, QMessageBox::Critical);
    EXPECT_TRUE(dm().dbsagg().connected());
    EXPECT_FALSE(window().lblGestore->isVisibleTo(&window()));
    EXPECT_EQ(window().dbtxtGestore->text(), "");
    EXPECT_EQ(dm().TableNames().size(), 2u) << "the table names are still collected";
    m_script.expect(DialogScript::ok());  // "Query batch"
    window().chkStatistics->setChecked(false);
    clickEsegui();
    EXPECT_EQ(m_script.shown.back().caption, "Query batch");
}

TEST_F(LoginTest, municipalityCodeMatchingNoRowHidesTheLabelWithoutMessage) {
    {
        auto connection = m_db.connect();
        connection->execute("update AFDATGEN set COD_ISTAT_GESTORE = '999999'");
    }
    startConnected();
    EXPECT_EQ(m_script.shown.size(), 1u);
    EXPECT_FALSE(window().lblGestore->isVisibleTo(&window()));
    EXPECT_EQ(window().dbtxtGestore->text(), "");
}

TEST_F(LoginTest, municipalityNameShowsItsAccentedLetters) {
    {
        auto connection = m_db.connect();
        connection->execute("update AFDATGEN set COD_ISTAT_GESTORE = '004130'");
    }
    startConnected();
    EXPECT_EQ(window().dbtxtGestore->text(), QString::fromUtf8("Mondovì"));
}

// Logins a server checks, against the local server scripts/firebird-server starts.
class ServerLoginGuiTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        std::string why;
        m_password = sysdbaPassword();
        if (!localServerAnswers())
            why = "no Firebird server answers on 127.0.0.1:3050 (scripts/firebird-server start)";
        else if (m_password.empty())
            why = "the SYSDBA password is unknown (set TARVOLEN_FB_SYSDBA_PASSWORD)";
        if (!why.empty()) {
            const char* ci = std::getenv("CI");
            if (ci != nullptr && std::string(ci) == "true") FAIL() << why;
            GTEST_SKIP() << why;
        }
        // The server, running as its own user, creates the file in a folder open to it.
        std::filesystem::permissions(folder(), std::filesystem::perms::all);
        const std::string file = (folder() / "server.fdb").string();
        writeFile(folder() / "aliases.ini",
                  "[test]\nDatabase = test.fdb\n[server]\nDatabase = localhost:" + file + "\n");
        database::Connection creator("creator");
        creator.setAliasConfig(std::make_shared<database::AliasConfig>(
            database::AliasConfig::load(folder() / "aliases.ini")));
        creator.setAliasName("server");
        creator.params().setValue("USER NAME", "SYSDBA");
        creator.params().setValue("PASSWORD", m_password);
        creator.createDatabase();
        creator.execute("create table AFDATGEN (COD_ISTAT_GESTORE varchar(6))");
        m_created = true;
    }
    void TearDown() override {
        if (m_program) m_program->finish();
        m_program.reset();
        if (!m_created) return;
        database::Connection dropper("dropper");
        dropper.setAliasConfig(std::make_shared<database::AliasConfig>(
            database::AliasConfig::load(folder() / "aliases.ini")));
        dropper.setAliasName("server");
        dropper.params().setValue("USER NAME", "SYSDBA");
        dropper.params().setValue("PASSWORD", m_password);
        dropper.open();
        dropper.dropDatabase();
    }
    std::string m_password;
    bool m_created = false;
};

TEST_F(ServerLoginGuiTest, refusedPasswordIsForgottenSoTheNextChoiceAsksAgain) {
    start();
    m_script.expect(DialogScript::login("SYSDBA", "sbagliata"));
    m_script.expect(DialogScript::ok());
    choose("server");
    ASSERT_EQ(m_script.shown.size(), 2u);
    EXPECT_EQ(m_script.shown[1].caption, title());
    EXPECT_TRUE(m_script.shown[1].text.contains("password"))
        << m_script.shown[1].text.toStdString();
    EXPECT_FALSE(dm().dbsagg().connected());
    EXPECT_TRUE(dm().LoginPassword.empty());

    m_script.expect(DialogScript::login("SYSDBA", QString::fromStdString(m_password)));
    m_script.expect(DialogScript::ok());  // the server database lacks AFCOMUNI
    choose("server");
    ASSERT_GE(m_script.shown.size(), 3u);
    EXPECT_EQ(m_script.shown[2].kind, "login") << "the refused password is not tried again";
    EXPECT_TRUE(dm().dbsagg().connected());
}

}  // namespace
}  // namespace tarvolen::testing
