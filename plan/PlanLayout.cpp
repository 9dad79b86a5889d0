#include "PlanLayout.h"

namespace tarvolen {

void configurePlanTable(TClientDataSet& cdsQuery) {
    cdsQuery.SetFileName(kPlanFileName);
    cdsQuery.SetIndexFieldNames("ID");
    cdsQuery.AddField("ID", FieldKind::Integer, 0, true);
    cdsQuery.AddField("STATO", FieldKind::String, 1);
    cdsQuery.AddField("TIPO", FieldKind::String, 1);
    cdsQuery.AddField("SEPARATORE", FieldKind::String, 5);
    cdsQuery.AddField("TESTO", FieldKind::Memo);
    cdsQuery.AddField("ORDINE", FieldKind::Integer);
    cdsQuery.AddField("NOME_TABELLA", FieldKind::String, 40);
    cdsQuery.AddField("NOME_FILE", FieldKind::String, 255);
    cdsQuery.AddField("SVUOTA_TABELLA", FieldKind::String, 1);
    cdsQuery.AddField("VERSIONE", FieldKind::String, 15);
}

}  // namespace tarvolen
