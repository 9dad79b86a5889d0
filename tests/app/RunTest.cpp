// "Esegui": the run, its log, its controls, an error escaping it and a close request during it.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>

#include "GuiTestSupport.h"
#include "plan/PlanLock.h"

namespace tarvolen::testing {
namespace {

// What the window looked like while a message box of the run was open.
struct RunControls {
    bool aliasList = false;
    bool statistics = false;
    bool esegui = false;
    bool maintenance = false;
    bool progressVisible = false;
    QString progressText;
};

class RunTest : public GuiTest {
  protected:
    // The files of a folder, by name.
    static std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
        std::vector<std::filesystem::path> found;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
            found.push_back(entry.path());
        std::sort(found.begin(), found.end());
        return found;
    }
    // Answers the next box with OK, noting the state of the run's controls meanwhile.
    void expectBoxNoting(RunControls& controls) {
        m_script.expect([this, &controls](QDialog&) {
            TfmMain& w = window();
            controls = {w.DatabaseComboBox1->isEnabled(), w.chkStatistics->isEnabled(),
                        w.SpeedButton1->isEnabled(),      w.Manutenzione1->isEnabled(),
                        w.ProgressBar1->isVisibleTo(&w),  w.ProgressBar1->format()};
            return int{QMessageBox::Ok};
        });
    }
    void expectIdleControls() {
        TfmMain& w = window();
        EXPECT_TRUE(w.DatabaseComboBox1->isEnabled());
        EXPECT_TRUE(w.chkStatistics->isEnabled());
        EXPECT_TRUE(w.SpeedButton1->isEnabled());
        EXPECT_TRUE(w.Manutenzione1->isEnabled());
        EXPECT_FALSE(w.ProgressBar1->isVisibleTo(&w));
    }
};

TEST_F(RunTest, fullRunFillsTheLogMarksThePhasesAndReenablesTheControls) {
    writePlan({
        {.id = 10, .stato = "S", .testo = "create table GIA (A integer);"},
        {.id = 20,
         .testo = "create table T1 (A integer);\ninsert into T1 values (1);",
         .versione = "1.1.0.0"},
        {.id = 30, .testo = "create table T2 (A integer);", .versione = "0.9.0.0"},
        {.id = 40, .testo = "insert into T1 values (2);\ninsert into T1 values (3);"},
    });
    startConnected();
    RunControls during;
    expectBoxNoting(during);
    clickEsegui();

    ASSERT_EQ(m_script.shown.size(), 2u);
    EXPECT_EQ(m_script.shown[1].caption, "Query batch");
    EXPECT_EQ(m_script.shown[1].text, "Batch eseguito correttamente");
    EXPECT_EQ(m_script.shown[1].icon, QMessageBox::Warning);
    EXPECT_FALSE(during.aliasList);
    EXPECT_FALSE(during.statistics);
    EXPECT_FALSE(during.esegui);
    EXPECT_FALSE(during.maintenance);
    EXPECT_TRUE(during.progressVisible);
    // Within a phase the bar follows at its redraw pace; a new phase shows at once.
    EXPECT_TRUE(during.progressText.startsWith("Fase 4 di 4")) << during.progressText.toStdString();
    expectIdleControls();

    // The window backs the database up first, by default into "backup" beside the plan, and
    // names the run's kept log last, before the summary box.
    const std::vector<std::filesystem::path> backups = filesIn(folder() / "backup");
    const std::vector<std::filesystem::path> logs = filesIn(folder() / "log");
    ASSERT_EQ(backups.size(), 1u);
    ASSERT_EQ(logs.size(), 1u);
    QStringList lines = logLines();
    ASSERT_GE(lines.size(), 2);
    const QString backupLine =
        "BACKUP ESEGUITO NEL FILE " + QString::fromStdString(backups[0].string()) + ": ";
    EXPECT_TRUE(lines[1].startsWith(backupLine)) << lines[1].toStdString();
    lines[1] = backupLine;  // its size and time vary
    EXPECT_EQ(lines, (QStringList{
                         "Backup del database in corso...",
                         backupLine,
                         "Calcolo statistiche database...",
                         "STATISTICHE RICALCOLATE SU 1 INDICI",
                         "",
                         "Versione del DB PRIMA dell'aggiornamento: 1.0.0.0",
                         "FASE 10 PROCEDURA GIA' ESEGUITA.",
                         "FASE 20 SCRIPT IN ESECUZIONE.",
                         "FASE 20 TERMINATA.",
                         "FASE 30 NON ESEGUITA PER VERSIONE DATABASE.",
                         "FASE 40 SCRIPT IN ESECUZIONE.",
                         "FASE 40 TERMINATA.",
                         "Versione del DB DOPO l'aggiornamento: 1.1.0.0",
                         "Log dell'esecuzione: " + QString::fromStdString(logs[0].string()),
                     }));
    EXPECT_TRUE(window().logText().endsWith(u'\n'));
    EXPECT_EQ(count("select count(*) from T1"), 3);

    // A second run runs nothing twice, and clears the log first.
    RunControls again;
    expectBoxNoting(again);
    clickEsegui();
    const QStringList second = logLines();
    EXPECT_TRUE(second.contains("FASE 20 PROCEDURA GIA' ESEGUITA."));
    EXPECT_TRUE(second.contains("FASE 40 PROCEDURA GIA' ESEGUITA."));
    EXPECT_FALSE(second.contains("FASE 20 SCRIPT IN ESECUZIONE."));
    EXPECT_EQ(second.count("Calcolo statistiche database..."), 1);
    EXPECT_EQ(count("select count(*) from T1"), 3);
}

TEST_F(RunTest, uncheckedStatisticsRunsOnlyTheBatch) {
    startConnected();
    window().chkStatistics->setChecked(false);
    window().chkBackup->setChecked(false);
    m_script.expect(DialogScript::ok());
    clickEsegui();
    const QStringList lines = logLines();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), "Versione del DB PRIMA dell'aggiornamento: 1.0.0.0");
    EXPECT_FALSE(lines.contains("Calcolo statistiche database..."));
}

TEST_F(RunTest, failingStatementIsLoggedAndTheSummarySaysSo) {
    writePlan(
        {{.id = 10, .testo = "insert into NESSUNA values (1);\ncreate table T1 (A integer);"}});
    startConnected();
    window().chkStatistics->setChecked(false);
    m_script.expect(DialogScript::ok());
    clickEsegui();
    EXPECT_EQ(m_script.shown.back().text, "Batch eseguito con errori");
    const QStringList lines = logLines();
    EXPECT_TRUE(lines.contains("ERRORE:"));
    EXPECT_TRUE(lines.contains("FASE 10 TERMINATA."));
    EXPECT_EQ(count("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = 'T1'"), 1);
}

TEST_F(RunTest, errorEscapingARunIsShownAfterTheControlsAreBack) {
    startConnected();
    {
        auto connection = m_db.connect("breaker");
        connection->execute("drop table SYSDBVER");
    }
    RunControls atError;
    expectBoxNoting(atError);
    clickEsegui();
    ASSERT_EQ(m_script.shown.size(), 2u) << "no summary box: the run failed as it started";
    EXPECT_EQ(m_script.shown[1].caption, title());
    EXPECT_EQ(m_script.shown[1].icon, QMessageBox::Critical);
    EXPECT_TRUE(m_script.shown[1].text.contains("SYSDBVER"))
        << m_script.shown[1].text.toStdString();
    EXPECT_TRUE(atError.aliasList);
    EXPECT_TRUE(atError.statistics);
    EXPECT_TRUE(atError.esegui);
    EXPECT_FALSE(atError.progressVisible);
    expectIdleControls();
    EXPECT_EQ(logLines().first(), "Backup del database in corso...")
        << "the log keeps what was written before the error";
    // The version the backup's name needs is where the run failed; the kept log is named last.
    EXPECT_TRUE(logLines().last().startsWith("Log dell'esecuzione: "))
        << logLines().last().toStdString();
}

TEST_F(RunTest, planHeldByAnotherRunIsRefusedBeforeAnythingRuns) {
    startConnected();
    window().chkStatistics->setChecked(false);
    {
        const PlanLock otherRun((folder() / "dbquery.xml").string());
        m_script.expect(DialogScript::ok());
        clickEsegui();
    }
    ASSERT_EQ(m_script.shown.size(), 2u);
    EXPECT_EQ(m_script.shown[1].icon, QMessageBox::Critical);
    EXPECT_TRUE(m_script.shown[1].text.contains("plan in use by process"))
        << m_script.shown[1].text.toStdString();
    EXPECT_TRUE(m_script.shown[1].text.contains(
        QStringLiteral("è in uso dal processo %1").arg(static_cast<qint64>(::getpid()))))
        << m_script.shown[1].text.toStdString();
    EXPECT_TRUE(m_script.shown[1].text.contains("Nessuna fase è stata eseguita"))
        << m_script.shown[1].text.toStdString();
    EXPECT_EQ(count("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = 'T1'"), 0);
    expectIdleControls();

    // Once the other run has let go, the same window runs the plan.
    m_script.expect(DialogScript::ok());
    clickEsegui();
    EXPECT_EQ(m_script.shown.back().text, "Batch eseguito correttamente");
    EXPECT_EQ(count("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = 'T1'"), 1);
}

TEST_F(RunTest, closeRequestDuringARunWaitsForItsEnd) {
    std::string script;
    for (int i = 0; i < 200; ++i) script += "insert into T1 values (" + std::to_string(i) + ");\n";
    writePlan({{.id = 10, .testo = "create table T1 (A integer);"}, {.id = 20, .testo = script}});
    startConnected();
    window().chkStatistics->setChecked(false);
    window().show();
    bool visibleAtSummary = false;
    m_script.expect([&](QDialog&) {
        visibleAtSummary = window().isVisible();
        return int{QMessageBox::Ok};
    });
    // Delivered at the run's first pump point, as a click on the close control would be.
    QTimer::singleShot(0, &window(), [this] { window().close(); });
    clickEsegui();
    EXPECT_TRUE(visibleAtSummary) << "the window stays until the run has ended";
    EXPECT_EQ(count("select count(*) from T1"), 200);
    EXPECT_TRUE(window().isVisible()) << "the close waits for the event loop";
    QCoreApplication::processEvents();
    EXPECT_FALSE(window().isVisible());
}

TEST_F(RunTest, eseguiIsIgnoredWhileARunIsInProgress) {
    writePlan({{.id = 10, .testo = "create table T1 (A integer);\ninsert into T1 values (1);"}});
    startConnected();
    window().chkStatistics->setChecked(false);
    int runsStarted = 0;
    QTimer::singleShot(0, &window(), [&] {
        // A second press during the run: the button is disabled and the handler refuses.
        runsStarted += window().SpeedButton1->isEnabled() ? 1 : 0;
        window().SpeedButton1->click();
    });
    m_script.expect(DialogScript::ok());
    clickEsegui();
    EXPECT_EQ(runsStarted, 0);
    EXPECT_EQ(m_script.shown.size(), 2u) << "one summary box: one run";
    EXPECT_EQ(count("select count(*) from T1"), 1);
}

TEST_F(RunTest, logFollowsTheAppendRules) {
    start();
    TfmMain& w = window();
    w.appendLog("primo");
    w.appendLog("secondo");
    EXPECT_EQ(w.logText(), "primo\nsecondo\n");
    w.appendLog("con a capo\r\n");
    EXPECT_EQ(w.logText(), "primo\nsecondo\ncon a capo\n\n");
    w.appendLog("due\r\nrighe");
    EXPECT_EQ(w.logText(), "primo\nsecondo\ncon a capo\n\ndue\nrighe\n");
    // Text the operator typed without a line break, and a caret anywhere: the message still
    // goes at the end, on a line of its own.
    w.Memo1->setPlainText("scritto a mano");
    QTextCursor cursor = w.Memo1->textCursor();
    cursor.setPosition(3);
    w.Memo1->setTextCursor(cursor);
    w.appendLog("Citt\xE0");
    EXPECT_EQ(w.logText(), QString::fromUtf8("scritto a mano\nCittà\n"));
}

TEST_F(RunTest, maintenanceMenuOpensTheWindowOnlyOutsideARun) {
    startConnected();
    window().chkStatistics->setChecked(false);
    m_script.expect([](QDialog& dialog) {
        EXPECT_EQ(dialog.objectName(), "fmManutenzione");
        return 0;
    });
    window().Manutenzione1->trigger();
    EXPECT_EQ(m_script.shown.size(), 2u);
    QTimer::singleShot(0, &window(), [this] { window().Manutenzione1->trigger(); });
    m_script.expect(DialogScript::ok());
    clickEsegui();
    ASSERT_EQ(m_script.shown.size(), 3u) << "the menu item is disabled during the run";
    EXPECT_EQ(m_script.shown[2].caption, "Query batch");
}

}  // namespace
}  // namespace tarvolen::testing
