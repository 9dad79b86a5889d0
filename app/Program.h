#pragma once
// The program's three long-lived objects, made in start-up's order (data module, main window,
// maintenance window) and ended in reverse, the data module last, whose plan table is then
// written back.

#include <filesystem>
#include <memory>

#include "app/Dialogs.h"
#include "app/fm_main.h"

namespace tarvolen {

class TClientDataSet;
class TdmMain;
class TfmManutenzione;

class Program {
  public:
    // Creates the data module (opening the plan), the main window (whose FormCreate may connect
    // to the default alias, login dialog first) and the hidden maintenance window. Errors of a
    // creation step go to the standard error display; start-up goes on. `recoveryFolder` takes
    // the plan when its own folder refuses the recovery file at the end.
    Program(const Dialogs& dialogs, ShellSettings settings, std::filesystem::path recoveryFolder);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Shows the main window.
    void show();
    // Destroys the windows, then the data module, writing the plan back through its merge with
    // the file when this session changed it. When the write-back fails or another program
    // holds the plan, the plan is saved under a recovery name (with the plan file's
    // permissions) and the standard error display says why, where it is and what to do with
    // it. Idempotent.
    void finish();

    TdmMain& dmMain() { return *m_dmMain; }
    TfmMain& fmMain() { return *m_fmMain; }
    TfmManutenzione& fmManutenzione() { return *m_fmManutenzione; }

  private:
    void finishDataModule();
    // The plan saved under a recovery name: the file it went to and the plan file, both
    // quoted, or why it could not be saved (`saved` empty).
    struct Recovery {
        QString saved;
        QString target;
        QString failure;
    };
    Recovery keepInRecoveryFile(TClientDataSet& plan);

    const Dialogs& m_dialogs;
    std::filesystem::path m_recoveryFolder;
    std::unique_ptr<TdmMain> m_dmMain;
    std::unique_ptr<TfmMain> m_fmMain;
    std::unique_ptr<TfmManutenzione> m_fmManutenzione;
};

}  // namespace tarvolen
