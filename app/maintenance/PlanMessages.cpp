#include "app/maintenance/PlanMessages.h"

#include <QStringList>

#include "app/AnsiText.h"
#include "plan/PlanLock.h"
#include "plan/SharedPlanFile.h"

namespace tarvolen {

QString planInUseText(const PlanInUse& refusal, const QString& consequence) {
    const QString holder = refusal.pid() > 0 ? QStringLiteral("dal processo %1").arg(refusal.pid())
                                             : QStringLiteral("da un altro processo");
    return QStringLiteral(
               "La pianificazione \"%1\" è in uso %2 (un'esecuzione di tarvolen-run, "
               "tarvolen-plan o un'altra finestra di tarvolen). %3\n\n%4")
        .arg(fromFileText(refusal.planFile()), holder, consequence, fromFileText(refusal.what()));
}

QString planConflictText(const PlanConflict& conflict) {
    QStringList ids;
    for (const auto& id : conflict.ids)
        ids << (id ? QString::number(*id) : QStringLiteral("senza codice"));
    const QString phases =
        conflict.ids.size() == 1
            ? QStringLiteral("la fase %1 è stata cambiata").arg(ids.front())
            : QStringLiteral("le fasi %1 sono state cambiate").arg(ids.join(QStringLiteral(", ")));
    return QStringLiteral(
               "La pianificazione \"%1\" è stata cambiata anche da un altro programma: %2 sia "
               "lì sia qui, e la pianificazione tiene la versione del file.\n\nLa copia della "
               "pianificazione di questa sessione, con le sue modifiche, è stata salvata in "
               "\"%3\": riportare da lì nella finestra di manutenzione quello che serve.")
        .arg(fromFileText(conflict.planFile), phases, fromFileText(conflict.recoveryFile.string()));
}

}  // namespace tarvolen
