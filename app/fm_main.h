#pragma once
// The main window: the alias list, the managing municipality, the activity log and the run
// command. It is the engine's host: log lines, pending events, progress and message boxes of a
// run come here.

#include <QElapsedTimer>
#include <QMainWindow>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/ActivityLog.h"
#include "app/Dialogs.h"
#include "app/RunProgressView.h"
#include "app/WindowRunLog.h"
#include "app/settings/RegistrySource.h"
#include "engine/EngineHost.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QToolButton;

namespace tarvolen {

class TdmMain;

// Where the window finds the default alias.
struct ShellSettings {
    // Folder of tarvolen.ini: the running executable's folder.
    std::filesystem::path executableFolder;
    // The registry the default alias is read from; asked for only when the settings file names a
    // registry key.
    std::function<std::unique_ptr<settings::RegistrySource>()> openRegistry;
};

class TfmMain : public QMainWindow, public EngineHost {
    Q_OBJECT
  public:
    TfmMain(TdmMain& dm, const Dialogs& dialogs, ShellSettings settings);
    ~TfmMain() override;

    // Start-up's preparation: empties the credentials, fills the alias list and connects to the
    // default alias when the list holds it. An error goes to the standard error display and
    // skips the remaining steps; the window is usable all the same.
    void FormCreate();
    // The window "Gestione" > "Manutenzione" shows; none until it exists.
    void setMaintenanceWindow(QDialog* window) { m_maintenance = window; }

    // "RegKey" of the settings file beside the executable; empty when missing.
    std::string ReadAliasRegistryKey() const;
    // The default alias (UTF-8), or empty. Throws when "AliasName" has the wrong type.
    std::string ReadDefaultAlias() const;
    // Connects dbsagg to the selected alias, asking for credentials when none are held, then
    // reloads the plan, shows the managing municipality and collects the table names. Errors go
    // to the caller; a refused login forgets the password so the next choice asks again.
    void SelectDatabase();
    // Clears the log, opens the run's kept log, backs the database up and recalculates the
    // statistics when asked, runs the batch.
    void RunUpdate();
    // Where "Backup del database prima dell'aggiornamento" writes: BackupDir of the settings
    // file (a relative folder counts from the plan's), else "backup" beside the plan.
    std::string BackupFolder() const;

    // The activity log, as its text reads with every message added so far.
    QString logText() { return m_log->text(); }
    bool running() const { return m_running; }

    // EngineHost.
    void appendLog(std::string_view text) override;
    void processEvents() override;
    void reportProgress(const RunProgress& progress) override;
    void phaseEnded(const PhaseTiming& timing) override;
    void beforeSummary() override;
    void showMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;

    bool LoginConfirmed = false;

    QWidget* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* DatabaseComboBox1 = nullptr;
    QLabel* lblGestore = nullptr;
    QLabel* dbtxtGestore = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QWidget* Panel2 = nullptr;
    QCheckBox* chkStatistics = nullptr;
    QCheckBox* chkBackup = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QWidget* Panel3 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* Esci1 = nullptr;
    QMenu* Gestione1 = nullptr;
    QAction* Manutenzione1 = nullptr;
    QAction* CartellaBackup1 = nullptr;

  protected:
    // A close request during a run waits until the run has ended.
    void closeEvent(QCloseEvent* event) override;

  private:
    // The window's widgets, built in the order they show: menus, the alias row, the activity
    // log, the run row; then the window's size and place.
    void buildLayout();
    void buildMenus();
    void buildAliasPanel(QWidget* client);
    void buildLogView(QWidget* client);
    void buildRunPanel(QWidget* client);
    void placeOnScreen();
    void fillAliasList();
    void refreshGestore();
    void setRunning(bool running);
    std::string selectedAlias() const;

    void SpeedButton1Click();
    void DatabaseComboBox1Click(int index);
    void Esci1Click();
    void Manutenzione1Click();
    // "Gestione" > "Cartella dei backup...": a folder chosen in a dialog, kept in the settings
    // file (for this session only when the file cannot be written, which a box then says).
    void CartellaBackup1Click();
    void showBackupFolder();
    // The folder chosen for this session, else BackupDir of the settings file; empty for none.
    std::string configuredBackupFolder() const;
    // The run's kept log: opened as a run starts, named in the activity log before the summary
    // (or the error that ends the run), closed with the run's outcome.
    void startRunLog();
    void nameRunLog();
    void finishRunLog(const QString* failure);

    // Runs an event handler; an error it lets out goes to the standard error display.
    template <typename Handler>
    void guarded(Handler&& handler);

    TdmMain& m_dm;
    const Dialogs& m_dialogs;
    ShellSettings m_settings;
    std::unique_ptr<ActivityLog> m_log;
    std::unique_ptr<RunProgressView> m_progress;
    std::unique_ptr<WindowRunLog> m_runLog;
    bool m_runLogNamed = false;
    std::string m_sessionBackupFolder;  // chosen, but the settings file would not take it
    QDialog* m_maintenance = nullptr;
    std::string m_gestore;  // NOME_COMUNE of qrGestore's current row; kept when disconnected
    int m_aliasIndex = -1;  // the entry SelectDatabase last ran for
    bool m_running = false;
    bool m_pumping = false;
    QElapsedTimer m_sinceEventPass;
    bool m_closeRequested = false;
};

}  // namespace tarvolen
