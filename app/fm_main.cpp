#include "app/fm_main.h"

#include <optional>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/AnsiText.h"
#include "app/LoginDlg.h"
#include "app/maintenance/PlanMessages.h"
#include "app/settings/DefaultAlias.h"
#include "app/settings/IniFile.h"
#include "app/settings/SettingsText.h"
#include "base/Text.h"
#include "db/DatabaseError.h"
#include "db/ServerErrors.h"
#include "engine/DatabaseBackup.h"
#include "engine/dm_main.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "plan/PlanLock.h"
#include "plan/SharedPlanFile.h"

namespace tarvolen {
namespace {

// Wider than the first layout's 665: the backup's check box sits beside the statistics' and
// the progress bar keeps its room.
constexpr int kClientWidth = 900;
constexpr int kClientHeight = 394;
// A pass through the event loop costs a few system calls: made at every line of a script, it
// slows a long script by a quarter. The passes come at most this often, well within what the
// eye or the hand notices.
constexpr qint64 kEventPassIntervalMs = 5;
// qrGestore's NOME_COMUNE is fixed-length text of this many characters.
constexpr size_t kNomeComuneLength = 80;
constexpr const char* kBackupDirKey = "BackupDir";

// The run button's image, drawn rather than shipped: a green "play" triangle.
QIcon runIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 110, 0), 1));
    p.setBrush(QColor(40, 170, 40));
    p.drawPolygon(QPolygonF({QPointF(4, 2.5), QPointF(13.5, 8), QPointF(4, 13.5)}));
    return QIcon(pixmap);
}

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

TfmMain::TfmMain(TdmMain& dm, const Dialogs& dialogs, ShellSettings settings)
    : m_dm(dm), m_dialogs(dialogs), m_settings(std::move(settings)) {
    setObjectName("fmMain");
    setWindowTitle("tarvolen");
    buildLayout();
    m_log = std::make_unique<ActivityLog>(*Memo1);
    m_progress = std::make_unique<RunProgressView>(*ProgressBar1);
    m_dm.setHost(this);
}

TfmMain::~TfmMain() {
    if (m_dm.host() == this) m_dm.setHost(nullptr);
}

void TfmMain::buildLayout() {
    buildMenus();
    auto* client = new QWidget(this);
    auto* column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    buildAliasPanel(client);
    buildLogView(client);
    buildRunPanel(client);
    column->addWidget(Panel1);
    column->addWidget(Memo1, 1);
    column->addWidget(Panel2);
    setCentralWidget(client);
    placeOnScreen();
}

void TfmMain::buildMenus() {
    File1 = menuBar()->addMenu("File");
    File1->setObjectName("File1");
    Esci1 = File1->addAction("Esci");
    Esci1->setObjectName("Esci1");
    Gestione1 = menuBar()->addMenu("Gestione");
    Gestione1->setObjectName("Gestione1");
    Manutenzione1 = Gestione1->addAction("Manutenzione");
    Manutenzione1->setObjectName("Manutenzione1");
    CartellaBackup1 = Gestione1->addAction("Cartella dei backup...");
    CartellaBackup1->setObjectName("CartellaBackup1");
    connect(CartellaBackup1, &QAction::triggered, this,
            [this] { guarded([this] { CartellaBackup1Click(); }); });
    connect(Esci1, &QAction::triggered, this, [this] { guarded([this] { Esci1Click(); }); });
    connect(Manutenzione1, &QAction::triggered, this,
            [this] { guarded([this] { Manutenzione1Click(); }); });
}

void TfmMain::buildAliasPanel(QWidget* client) {
    Panel1 = new QWidget(client);
    Panel1->setObjectName("Panel1");
    Panel1->setFixedHeight(45);
    auto* aliasRow = new QHBoxLayout(Panel1);
    aliasRow->setContentsMargins(8, 0, 8, 0);
    Label1 = new QLabel("Selezionare un Alias", Panel1);
    Label1->setObjectName("Label1");
    DatabaseComboBox1 = new QComboBox(Panel1);
    DatabaseComboBox1->setObjectName("DatabaseComboBox1");
    DatabaseComboBox1->setEditable(true);
    // Typed text only completes to an entry; it never becomes an entry of its own.
    DatabaseComboBox1->setInsertPolicy(QComboBox::NoInsert);
    DatabaseComboBox1->completer()->setCaseSensitivity(Qt::CaseInsensitive);
    DatabaseComboBox1->completer()->setCompletionMode(QCompleter::InlineCompletion);
    DatabaseComboBox1->setFixedWidth(251);
    Label1->setBuddy(DatabaseComboBox1);
    QFont bold = font();
    bold.setBold(true);
    lblGestore = new QLabel("Comune di", Panel1);
    lblGestore->setObjectName("lblGestore");
    lblGestore->setFont(bold);
    lblGestore->setVisible(false);
    dbtxtGestore = new QLabel(Panel1);
    dbtxtGestore->setObjectName("dbtxtGestore");
    dbtxtGestore->setFont(bold);
    dbtxtGestore->setMinimumWidth(100);
    dbtxtGestore->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    aliasRow->addWidget(Label1);
    aliasRow->addSpacing(6);
    aliasRow->addWidget(DatabaseComboBox1);
    aliasRow->addSpacing(17);
    aliasRow->addWidget(lblGestore);
    aliasRow->addSpacing(4);
    aliasRow->addWidget(dbtxtGestore, 1);
    connect(DatabaseComboBox1, &QComboBox::activated, this,
            [this](int index) { DatabaseComboBox1Click(index); });
}

void TfmMain::buildLogView(QWidget* client) {
    Memo1 = new QPlainTextEdit(client);
    Memo1->setObjectName("Memo1");
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // A log of a long run would otherwise be kept twice, once more in the undo history.
    Memo1->setUndoRedoEnabled(false);
}

void TfmMain::buildRunPanel(QWidget* client) {
    Panel2 = new QWidget(client);
    Panel2->setObjectName("Panel2");
    Panel2->setFixedHeight(41);
    auto* runRow = new QHBoxLayout(Panel2);
    runRow->setContentsMargins(8, 0, 0, 0);
    runRow->setSpacing(0);
    chkStatistics = new QCheckBox("Ricalcola statistiche database", Panel2);
    chkStatistics->setObjectName("chkStatistics");
    chkStatistics->setMinimumWidth(169);
    chkStatistics->setChecked(true);
    chkBackup = new QCheckBox("Backup del database prima dell'aggiornamento", Panel2);
    chkBackup->setObjectName("chkBackup");
    chkBackup->setChecked(true);
    ProgressBar1 = new QProgressBar(Panel2);
    ProgressBar1->setObjectName("ProgressBar1");
    Panel3 = new QWidget(Panel2);
    Panel3->setObjectName("Panel3");
    Panel3->setFixedWidth(234);
    auto* buttonRow = new QHBoxLayout(Panel3);
    buttonRow->setContentsMargins(0, 0, 11, 0);
    buttonRow->addStretch(1);
    SpeedButton1 = new QToolButton(Panel3);
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton1->setText("Esegui");
    SpeedButton1->setIcon(runIcon());
    SpeedButton1->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setFixedSize(157, 29);
    buttonRow->addWidget(SpeedButton1);
    runRow->addWidget(chkStatistics);
    runRow->addSpacing(12);
    runRow->addWidget(chkBackup);
    runRow->addSpacing(12);
    // The bar takes the free space while it shows; otherwise the stretch after it does.
    runRow->addWidget(ProgressBar1, 1);
    runRow->addStretch(0);
    runRow->addSpacing(12);
    runRow->addWidget(Panel3);
    connect(SpeedButton1, &QToolButton::clicked, this,
            [this] { guarded([this] { SpeedButton1Click(); }); });
}

void TfmMain::placeOnScreen() {
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->availableGeometry();
        move(desktop.center() - QPoint(width() / 2, height() / 2));
    }
}

template <typename Handler>
void TfmMain::guarded(Handler&& handler) {
    try {
        handler();
    } catch (const PlanInUse& e) {
        // Only a write of the plan needs it: the changes held here stay in memory.
        m_dialogs.standardError(
            this, planInUseText(e, QStringLiteral("Le modifiche della pianificazione restano in "
                                                  "memoria e saranno scritte più tardi.")));
    } catch (const std::exception& e) {
        m_dialogs.standardError(this, e);
    }
}

void TfmMain::FormCreate() {
    guarded([this] {
        m_dm.LoginPassword.clear();
        m_dm.LoginUser.clear();
        showBackupFolder();
        fillAliasList();
        LoginConfirmed = false;
        const QString alias = QString::fromStdString(ReadDefaultAlias());
        if (alias.isEmpty()) return;
        // Exact on the whole entry, without regard to case.
        const int index = DatabaseComboBox1->findText(alias, Qt::MatchFixedString);
        if (index < 0) return;
        DatabaseComboBox1->setCurrentIndex(index);
        m_aliasIndex = index;
        SelectDatabase();
    });
}

std::string TfmMain::ReadAliasRegistryKey() const {
    return settings::readAliasRegistryKey(m_settings.executableFolder);
}

std::string TfmMain::ReadDefaultAlias() const {
    const std::string key = ReadAliasRegistryKey();
    if (key.empty() || !m_settings.openRegistry) return {};
    const auto registry = m_settings.openRegistry();
    return registry ? settings::readDefaultAlias(key, *registry) : std::string{};
}

void TfmMain::fillAliasList() {
    DatabaseComboBox1->clear();
    for (const std::string& name : m_dm.GetDatabaseNames())
        DatabaseComboBox1->addItem(fromFileText(name), QByteArray::fromStdString(name));
    DatabaseComboBox1->setCurrentIndex(-1);
    m_aliasIndex = -1;
}

std::string TfmMain::selectedAlias() const {
    const int index = DatabaseComboBox1->currentIndex();
    if (index < 0) return {};
    return DatabaseComboBox1->itemData(index).toByteArray().toStdString();
}

void TfmMain::SelectDatabase() {
    m_dm.dbsagg().close();
    m_dm.dbsagg().params().clear();
    m_dm.dbsagg().setAliasName(selectedAlias());
    if (m_dm.LoginPassword.empty()) {
        LoginConfirmed = false;
        TfdLogin login(m_dm, LoginConfirmed);
        m_dialogs.run(login);
        if (!LoginConfirmed) return;
    }
    try {
        m_dm.dbsagg().open();
    } catch (const database::DatabaseError& e) {
        // Retrying a password the server refused would only count more failed logins against
        // the account: the next choice of alias asks again.
        if (database::isLoginRefused(e)) m_dm.LoginPassword.clear();
        throw;
    }
    m_dm.ReloadPlan();
    refreshGestore();
    m_dm.CollectTableNames();
}

void TfmMain::refreshGestore() {
    std::string gestore;
    try {
        gestore = m_dm.ManagingMunicipality();
        if (gestore.size() > kNomeComuneLength) gestore.resize(kNomeComuneLength);
    } catch (const database::ConnectionLost&) {
        // The connection is gone, which says nothing of the registry tables; the window keeps
        // the municipality it showed, as for any failure before it is read.
        throw;
    } catch (const std::exception&) {
        // Whatever else failed, the database lacks what the registry tables should hold.
        m_dialogs.message(this, QStringLiteral("Il database non è corretto."),
                          QStringLiteral("Error"), QMessageBox::Critical);
    }
    m_gestore = gestore;
    const std::string_view shown = trimmedRight(m_gestore);
    dbtxtGestore->setText(fromAnsi(shown));
    lblGestore->setVisible(!shown.empty());
}

void TfmMain::DatabaseComboBox1Click(int index) {
    // Choosing the connected entry again changes nothing; choosing an entry whose connection
    // failed or was cancelled tries again.
    if (index == m_aliasIndex && m_dm.dbsagg().connected()) return;
    m_aliasIndex = index;
    guarded([this] { SelectDatabase(); });
}

void TfmMain::SpeedButton1Click() {
    if (m_running) return;
    if (!m_dm.dbsagg().connected()) {
        m_dialogs.message(this, QStringLiteral("SELEZIONARE UN ALIAS"), QStringLiteral("Errore"),
                          QMessageBox::Critical);
        return;
    }
    setRunning(true);
    QString failure;
    bool failed = false;
    try {
        RunUpdate();
    } catch (const PlanInUse& e) {
        failed = true;
        failure = planInUseText(e, QStringLiteral("Nessuna fase è stata eseguita: riprovare "
                                                  "quando quel processo avrà terminato."));
    } catch (const std::exception& e) {
        failed = true;
        failure = fromFileText(e.what());
    }
    finishRunLog(failed ? &failure : nullptr);
    m_log->flush();
    setRunning(false);
    if (failed) m_dialogs.standardError(this, failure);
    if (m_closeRequested) QTimer::singleShot(0, this, &QWidget::close);
}

void TfmMain::RunUpdate() {
    // The run marks phases in the plan file as it goes: a command-line run on the same plan
    // would apply every due phase a second time, so one of the two must refuse. Held, the plan
    // is brought to what its file holds now, so that a phase another program ran since this
    // window read it is not run again.
    std::optional<SharedPlanFile::Hold> held;
    if (!m_dm.cdsQuery().FileName().empty()) {
        held.emplace(m_dm.PlanFile().hold());
        m_dm.PlanFile().BringUpToDate();
    }
    m_log->clear();
    Memo1->repaint();
    startRunLog();
    // The way back from a phase that goes wrong: without it, nothing runs.
    if (chkBackup->isChecked()) {
        // The window's own default folder is made when missing; one the administrator chose
        // must be there.
        BackupDatabaseBeforeRun(m_dm, {BackupFolder(), configuredBackupFolder().empty(), false});
    }
    if (chkStatistics->isChecked()) m_dm.RecalculateStatistics();
    m_dm.RunBatch();
}

std::string TfmMain::configuredBackupFolder() const {
    if (!m_sessionBackupFolder.empty()) return m_sessionBackupFolder;
    return settings::readIniString(m_settings.executableFolder / settings::kSettingsFileName,
                                   settings::kSettingsSection, kBackupDirKey);
}

std::string TfmMain::BackupFolder() const {
    const std::string configured = configuredBackupFolder();
    const std::string plan = m_dm.cdsQuery().FileName().empty()
                                 ? std::string(".")
                                 : fullPath(m_dm.cdsQuery().FileName());
    const std::filesystem::path planFolder = std::filesystem::path(plan).parent_path();
    if (configured.empty()) return (planFolder / "backup").string();
    const std::filesystem::path folder(configured);
    return folder.is_absolute() ? folder.string()
                                : (planFolder / folder).lexically_normal().string();
}

void TfmMain::showBackupFolder() {
    chkBackup->setToolTip(QStringLiteral("Cartella dei backup: ") +
                          QString::fromStdString(BackupFolder()));
}

void TfmMain::CartellaBackup1Click() {
    QFileDialog dialog(this, QStringLiteral("Cartella dei backup"),
                       QString::fromStdString(BackupFolder()));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (m_dialogs.run(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const std::string chosen = dialog.selectedFiles().first().toStdString();
    const std::filesystem::path ini = m_settings.executableFolder / settings::kSettingsFileName;
    try {
        std::string text;
        if (fileExists(ini.string())) {
            // The file's own encoding, read as the settings are read; written back as UTF-8.
            text = settings::decodeTextFile(readWholeFile(ini.string())).value_or(std::string());
        }
        writeFileAtomically(ini.string(), settings::withIniValue(text, settings::kSettingsSection,
                                                                 kBackupDirKey, chosen));
        m_sessionBackupFolder.clear();
    } catch (const std::exception& e) {
        m_sessionBackupFolder = chosen;
        m_dialogs.message(this,
                          QStringLiteral("La cartella dei backup non è stata salvata in %1 "
                                         "(%2): vale fino alla chiusura del programma.")
                              .arg(QString::fromStdString(ini.string()), fromFileText(e.what())),
                          QStringLiteral("Errore"), QMessageBox::Warning);
    }
    showBackupFolder();
}

void TfmMain::startRunLog() {
    m_runLog.reset();
    m_runLogNamed = false;
    if (m_dm.cdsQuery().FileName().empty()) return;
    m_runLog = std::make_unique<WindowRunLog>(fullPath(m_dm.cdsQuery().FileName()),
                                              m_dm.dbsagg().aliasName(), m_dm.LoginUser);
}

void TfmMain::nameRunLog() {
    if (!m_runLog || m_runLogNamed) return;
    m_runLogNamed = true;
    appendLog("Log dell'esecuzione: " + m_runLog->path());
}

void TfmMain::finishRunLog(const QString* failure) {
    if (!m_runLog) return;
    nameRunLog();
    if (failure != nullptr) m_runLog->write(toAnsi(*failure));
    const RunSummary& run = m_dm.LastRun();
    m_runLog->finish(run.failedStatements, run.failedImports,
                     failure != nullptr ? 2 : (run.BatchHasErrors ? 1 : 0));
    m_runLog.reset();
}

void TfmMain::setRunning(bool running) {
    m_running = running;
    m_sinceEventPass.invalidate();  // a run's first pump point lets events through
    DatabaseComboBox1->setEnabled(!running);
    chkStatistics->setEnabled(!running);
    chkBackup->setEnabled(!running);
    CartellaBackup1->setEnabled(!running);
    SpeedButton1->setEnabled(!running);
    // The maintenance window would reload the plan the batch is walking.
    Manutenzione1->setEnabled(!running);
    if (running)
        m_progress->start();
    else
        m_progress->finish();
}

void TfmMain::Esci1Click() {
    close();
}

void TfmMain::Manutenzione1Click() {
    if (m_maintenance != nullptr) m_dialogs.run(*m_maintenance);
}

void TfmMain::closeEvent(QCloseEvent* event) {
    if (m_running) {
        m_closeRequested = true;
        event->ignore();
        return;
    }
    event->accept();
}

void TfmMain::appendLog(std::string_view text) {
    m_log->append(text);
    if (m_runLog) m_runLog->write(text);
    if (!m_running) m_log->flush();
}

void TfmMain::processEvents() {
    // A handler run from the event loop below may itself reach a pump point.
    if (m_pumping) return;
    if (m_sinceEventPass.isValid() && m_sinceEventPass.elapsed() < kEventPassIntervalMs) return;
    m_sinceEventPass.start();
    m_pumping = true;
    m_log->flushIfDue();
    QCoreApplication::processEvents();
    m_pumping = false;
}

void TfmMain::phaseEnded(const PhaseTiming& timing) {
    if (m_runLog) m_runLog->phaseEnded(timing);
}

void TfmMain::beforeSummary() {
    nameRunLog();
}

void TfmMain::reportProgress(const RunProgress& progress) {
    m_progress->report(progress);
}

void TfmMain::showMessage(std::string_view text, std::string_view caption, MessageIcon icon) {
    m_log->flush();
    m_dialogs.message(this, fromAnsi(text), fromAnsi(caption), boxIcon(icon));
}

}  // namespace tarvolen
