#include "app/fm_manutenzione.h"

#include <QLabel>
#include <QVBoxLayout>

namespace tarvolen {

TfmManutenzione::TfmManutenzione(TdmMain& /*dm*/, QWidget* parent) : QDialog(parent) {
    setObjectName("fmManutenzione");
    setWindowTitle("Manutenzione aggiornamento");
    resize(869, 522);
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(
        QStringLiteral("La modifica della pianificazione non è ancora disponibile."), this);
    note->setAlignment(Qt::AlignCenter);
    layout->addWidget(note);
}

}  // namespace tarvolen
