#include "app/Program.h"

#include <chrono>

#include "app/AnsiText.h"
#include "app/PlanRecovery.h"
#include "app/maintenance/fm_manutenzione.h"
#include "engine/dm_main.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"

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
    try {
        m_dmMain->DataModuleCreate();
    } catch (const std::exception& e) {
        m_dialogs.standardError(nullptr, e);
    }
    m_fmMain = std::make_unique<TfmMain>(*m_dmMain, m_dialogs, std::move(settings));
    m_fmMain->FormCreate();
    m_fmManutenzione =
        std::make_unique<TfmManutenzione>(m_dmMain->cdsQuery, m_dialogs, m_fmMain.get());
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
    TClientDataSet& plan = m_dmMain->cdsQuery;
    try {
        m_dmMain->DataModuleDestroy();
        return;
    } catch (const EFCreateError& e) {
        // Closing would drop the marks of this session with the table: keep them in a file.
        const QString failure = fromFileText(e.what());
        const auto target = planPath(plan);
        QString text;
        try {
            const auto saved =
                savePlanRecovery(plan, target, m_recoveryFolder, std::chrono::system_clock::now());
            text = failure +
                   QStringLiteral(
                       "\n\nLa pianificazione, con le fasi segnate come eseguite in questa "
                       "sessione, è stata salvata in %1. Per ripristinarla, prima di riavviare "
                       "il programma copiare quel file su %2.")
                       .arg(quotedPath(saved), quotedPath(target));
        } catch (const std::exception& again) {
            text = failure +
                   QStringLiteral(
                       "\n\nNon è stato possibile salvare la pianificazione nemmeno altrove (%1): "
                       "le fasi segnate come eseguite in questa sessione non sono state "
                       "registrate.")
                       .arg(fromFileText(again.what()));
        }
        m_dialogs.standardError(nullptr, text);
    } catch (const std::exception& e) {
        m_dialogs.standardError(nullptr, e);
    }
    // The table is released without another attempt to write it.
    plan.SetFileName("");
    plan.Close();
}

}  // namespace tarvolen
