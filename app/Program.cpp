#include "app/Program.h"

#include <chrono>

#include "app/AnsiText.h"
#include "app/maintenance/PlanMessages.h"
#include "app/maintenance/fm_manutenzione.h"
#include "engine/dm_main.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "plan/PlanLock.h"
#include "plan/PlanRecovery.h"
#include "plan/SharedPlanFile.h"

namespace tarvolen {
namespace {

// The plan file's full path, or its name as given when the current folder is gone.
std::filesystem::path planPath(const TClientDataSet& plan) {
    try {
        return fullPath(plan.FileName());
    } catch (const std::exception&) {
        // The current folder no longer exists; the name as given is all there is.
        return plan.FileName();
    }
}

QString quotedPath(const std::filesystem::path& path) {
    return u'"' + fromFileText(path.string()) + u'"';
}

}  // namespace

Program::Program(const Dialogs& dialogs, ShellSettings settings,
                 std::filesystem::path recoveryFolder)
    : m_dialogs(dialogs), m_recoveryFolder(std::move(recoveryFolder)) {
    m_dmMain = std::make_unique<TdmMain>();
    SharedPlanFile& planFile = m_dmMain->PlanFile();
    planFile.SetRecoveryFolder(m_recoveryFolder);
    // Whichever window's write found the phases changed on both sides, the box says so.
    planFile.SetConflictReporter([this](const PlanConflict& conflict) {
        m_dialogs.message(nullptr, planConflictText(conflict), m_dialogs.title(),
                          QMessageBox::Warning);
    });
    try {
        m_dmMain->DataModuleCreate();
    } catch (const std::exception& e) {
        m_dialogs.standardError(nullptr, e);
    }
    m_fmMain = std::make_unique<TfmMain>(*m_dmMain, m_dialogs, std::move(settings));
    m_fmMain->FormCreate();
    m_fmManutenzione =
        std::make_unique<TfmManutenzione>(m_dmMain->cdsQuery(), m_dialogs, m_fmMain.get());
    m_fmMain->setMaintenanceWindow(m_fmManutenzione.get());
}

Program::~Program() {
    finish();
}

void Program::show() {
    m_fmMain->show();
}

void Program::finish() {
    if (!m_dmMain) return;
    m_fmManutenzione.reset();
    m_fmMain.reset();
    finishDataModule();
    m_dmMain.reset();
}

void Program::finishDataModule() {
    TClientDataSet& plan = m_dmMain->cdsQuery();
    try {
        // A window with no changes of its own writes nothing; changes go through the merge
        // with the plan file as it is now.
        m_dmMain->DataModuleDestroy();
        return;
    } catch (const PlanInUse& e) {
        // Another program holds the plan: this session's changes wait in a file of their own,
        // which must not replace the plan that program is bringing up to date.
        const Recovery kept = keepInRecoveryFile(plan);
        m_dialogs.standardError(
            nullptr,
            planInUseText(
                e, kept.saved.isEmpty()
                       ? QStringLiteral("Le modifiche di questa sessione non vi sono state "
                                        "scritte, e non è stato possibile salvarle nemmeno "
                                        "altrove (%1): non sono state registrate.")
                             .arg(kept.failure)
                       : QStringLiteral(
                             "Le modifiche di questa sessione non vi sono state scritte: sono "
                             "state salvate, con tutta la pianificazione di questa finestra, in "
                             "%1. Non copiare quel file sopra la pianificazione, che quel "
                             "processo sta aggiornando: quando avrà terminato, riportare le "
                             "modifiche che servono nella finestra di manutenzione.")
                             .arg(kept.saved)));
    } catch (const std::exception& e) {
        // Closing would drop this session's changes with the table: keep them in a file.
        const QString failure = fromFileText(e.what());
        const Recovery kept = keepInRecoveryFile(plan);
        m_dialogs.standardError(
            nullptr,
            failure + (kept.saved.isEmpty()
                           ? QStringLiteral("\n\nNon è stato possibile salvare la pianificazione "
                                            "nemmeno altrove (%1): le fasi segnate come eseguite "
                                            "in questa sessione non sono state registrate.")
                                 .arg(kept.failure)
                           : QStringLiteral("\n\nLa pianificazione, con le fasi segnate come "
                                            "eseguite in questa sessione, è stata salvata in %1. "
                                            "Per ripristinarla, prima di riavviare il programma "
                                            "copiare quel file su %2.")
                                 .arg(kept.saved, kept.target)));
    }
    // The table is released without another attempt to write it.
    plan.SetFileName("");
    plan.Close();
}

Program::Recovery Program::keepInRecoveryFile(TClientDataSet& plan) {
    Recovery kept;
    const auto target = planPath(plan);
    kept.target = quotedPath(target);
    try {
        kept.saved = quotedPath(
            savePlanRecovery(plan, target, m_recoveryFolder, std::chrono::system_clock::now()));
    } catch (const std::exception& e) {
        kept.failure = fromFileText(e.what());
    }
    return kept;
}

}  // namespace tarvolen
