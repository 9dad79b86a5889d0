#pragma once
// The desktop program on an embedded database of its own, offscreen. Every modal dialog the
// program shows goes through a DialogScript: the test queues the answers, and the script
// records what was shown.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestFolder.h"
#include "../engine/EngineTestSupport.h"
#include "DialogScript.h"
#include "app/Dialogs.h"
#include "app/LoginDlg.h"
#include "app/Program.h"
#include "app/settings/RegistryFile.h"
#include "engine/dm_main.h"

namespace tarvolen::testing {

// The shell's dialog script: it also answers and describes the login dialog.
class DialogScript : public BasicDialogScript {
  public:
    // Types the credentials into the login dialog and presses "OK".
    static Answer login(const QString& user, const QString& password) {
        return [user, password](QDialog& dialog) {
            auto* login = qobject_cast<TfdLogin*>(&dialog);
            if (login == nullptr) {
                ADD_FAILURE() << "expected the login dialog";
                return int{QDialog::Rejected};
            }
            login->EDLogin->setText(user);
            login->EDPasswd->setText(password);
            login->BitBtn1->click();
            return login->result();
        };
    }
    // Presses "Annulla" in the login dialog.
    static Answer cancelLogin() {
        return [](QDialog& dialog) {
            auto* login = qobject_cast<TfdLogin*>(&dialog);
            if (login == nullptr) {
                ADD_FAILURE() << "expected the login dialog";
                return int{QDialog::Rejected};
            }
            login->BitBtn2->click();
            return login->result();
        };
    }

  protected:
    void describe(QDialog& dialog, ShownDialog& record) override {
        auto* login = qobject_cast<TfdLogin*>(&dialog);
        if (login == nullptr) {
            BasicDialogScript::describe(dialog, record);
            return;
        }
        record.kind = "login";
        // Shown as the program shows it, so its activation fills the boxes.
        login->show();
        record.loginUserShown = login->EDLogin->text();
        record.passwordShown = login->EDPasswd->text();
    }
};

// The registry file of the tests: the last subkey of Software\Tarvolen\Test names the alias.
inline std::string registryWithAlias(const std::string& aliasLine) {
    return "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_CURRENT_USER\\Software\\Tarvolen\\Test\\1]\r\n"
           "\"AliasName\"=\"non-questo\"\r\n"
           "[HKEY_CURRENT_USER\\Software\\Tarvolen\\Test\\2]\r\n" +
           aliasLine + "\r\n";
}

// A database with the registry tables the window reads, a plan file, an alias file and the
// settings of a default alias, all in one temporary folder; the program is started on demand.
class GuiTest : public ::testing::Test {
  protected:
    GuiTest()
        : m_aliases("TARVOLEN_ALIASES", (m_db.folder() / "aliases.ini").c_str()),
          m_cwd(prepareFolder()),
          m_dialogs(m_script.runner(), applicationTitle(QCoreApplication::applicationFilePath())) {}

    ~GuiTest() override {
        if (m_program) m_program->finish();
    }

    void SetUp() override {
        auto connection = m_db.connect();
        for (const char* sql : {
                 "create table SYSDBVER (MAJOR_VERSION integer, MINOR_VERSION integer, "
                 "RELEASE_VERSION integer, BUILD integer, APPID varchar(3))",
                 "create table AFCOMUNI (ID_COMUNE varchar(6) not null primary key, "
                 "NOME_COMUNE varchar(80))",
                 "create table AFDATGEN (COD_ISTAT_GESTORE varchar(6))",
             })
            connection->execute(sql);
        for (const char* sql : {
                 "insert into SYSDBVER values (1, 0, 0, 0, 'QLM')",
                 "insert into AFCOMUNI values ('004003', 'Alba')",
                 "insert into AFCOMUNI values ('004130', 'Mondov\xEC')",
                 "insert into AFDATGEN values ('004003')",
             })
            connection->execute(sql);
        writePlan({{.id = 10, .testo = "create table T1 (A integer);"}});
    }

    std::filesystem::path folder() const { return m_db.folder(); }
    std::filesystem::path binFolder() const { return m_db.folder() / "bin"; }

    void writeFile(const std::filesystem::path& file, const std::string& bytes) const {
        std::ofstream(file, std::ios::binary) << bytes;
    }
    void writePlan(const std::vector<Phase>& phases) const {
        writeFile(folder() / "dbquery.xml", planXml(phases));
    }
    // tarvolen.ini beside the "executable" naming the tests' registry key, and the registry.
    void setDefaultAlias(const std::string& aliasLine) const {
        writeFile(binFolder() / "tarvolen.ini",
                  "[UpdateSettings]\nRegKey=Software\\Tarvolen\\Test\n");
        writeFile(folder() / "registry.reg", registryWithAlias(aliasLine));
    }

    // Starts the program as its entry does, without the event loop.
    void start() {
        ShellSettings shell;
        shell.executableFolder = binFolder();
        shell.openRegistry = [this]() -> std::unique_ptr<settings::RegistrySource> {
            ++m_registryOpened;
            return std::make_unique<settings::RegistryFile>(folder() / "registry.reg");
        };
        m_program =
            std::make_unique<Program>(m_dialogs, std::move(shell), folder() / "recovery-fallback");
    }

    TfmMain& window() { return m_program->fmMain(); }
    TdmMain& dm() { return m_program->dmMain(); }

    // Chooses an alias in the list, as a click on the entry does.
    void choose(const QString& alias) {
        const int index = window().DatabaseComboBox1->findText(alias);
        ASSERT_GE(index, 0) << alias.toStdString() << " is not in the list";
        window().DatabaseComboBox1->setCurrentIndex(index);
        emit window().DatabaseComboBox1->activated(index);
    }
    // Starts the program and connects to "test" with the given credentials.
    void startConnected() {
        start();
        m_script.expect(DialogScript::login("SYSDBA", "segreta"));
        choose("test");
        ASSERT_TRUE(dm().dbsagg().connected());
    }
    void clickEsegui() { window().SpeedButton1->click(); }

    QStringList logLines() {
        QString text = window().logText();
        if (text.endsWith(u'\n')) text.chop(1);
        return text.isEmpty() ? QStringList{} : text.split(u'\n');
    }
    int64_t count(const std::string& sql) {
        auto connection = m_db.connect("probe");
        return database::testing::selectCount(*connection, sql);
    }
    // STATO of every phase in the plan file, in ID order ("10=S 20=N").
    std::string planMarks(const std::filesystem::path& file) const {
        TClientDataSet plan("plan");
        configurePlanTable(plan);
        plan.SetFileName(file.string());
        plan.Open();
        std::string marks;
        for (plan.First(); !plan.Eof(); plan.Next()) {
            if (!marks.empty()) marks += ' ';
            marks += plan.FieldByName("ID").AsString() + "=" + plan.FieldByName("STATO").AsString();
        }
        plan.SetFileName("");
        plan.Close();
        return marks;
    }
    const QString& title() const { return m_dialogs.title(); }

    database::testing::TempDatabase m_db;
    database::testing::ScopedEnv m_aliases;
    ScopedCurrentPath m_cwd;
    DialogScript m_script;
    Dialogs m_dialogs;
    std::unique_ptr<Program> m_program;
    int m_registryOpened = 0;

  private:
    std::filesystem::path prepareFolder() {
        std::filesystem::create_directory(m_db.folder() / "bin");
        writeFile(m_db.folder() / "aliases.ini",
                  "[test]\nDatabase = test.fdb\n"
                  "[mancante]\nDatabase = mancante.fdb\n");
        return m_db.folder();
    }
};

}  // namespace tarvolen::testing
