// The batch over the update plan: TdmMain::RunBatch.

#include "engine/EngineHost.h"
#include "engine/PhaseDecision.h"
#include "engine/dm_main.h"

namespace tarvolen {
void TdmMain::RunBatch() {
    BatchHasErrors = false;
    StartVersion = ReadDatabaseVersion();
    Log("Versione del DB PRIMA dell'aggiornamento: " + StartVersion->AsText());
    ReachedVersion = std::make_unique<TVersione>();
    ReachedVersion->Assign(*StartVersion);
    cdsQuery.First();
    m_progress = RunProgress{};
    m_progress.phaseCount = cdsQuery.RecordCount();

    // Runs after the walk however it ends: frees the versions and shows the outcome.
    auto summary = [this] {
        StartVersion.reset();
        ReachedVersion.reset();
        if (m_host != nullptr) {
            m_host->showMessage(
                BatchHasErrors ? "Batch eseguito con errori" : "Batch eseguito correttamente",
                "Query batch", MessageIcon::Warning);
        }
    };

    try {
        bool stopped = false;
        while (!cdsQuery.Eof() && !stopped) {
            ++m_progress.phase;
            m_progress.phaseId = static_cast<int>(cdsQuery.FieldByName("ID").AsInteger());
            m_progress.unit = RunProgress::Unit::None;
            m_progress.done = m_progress.total = 0;
            Pump();
            const std::string id = PhaseId();
            const PhaseDecision decision = DecideCurrentPhase(cdsQuery, *StartVersion);
            if (PassesOver(decision)) {
                Log(PassedOverLogLine(id, decision));
                cdsQuery.Next();
                continue;
            }

            bool markDone = true;
            if (decision == PhaseDecision::Script) {
                stopped = !RunScriptPhase(*ReachedVersion);
                markDone = !stopped;
            } else if (decision == PhaseDecision::Import) {
                std::string phase = "FASE " + id + " IMPORT TABELLA ";
                phase += cdsQuery.FieldByName("NOME_TABELLA").AsString();
                Log(phase + " IN ESECUZIONE.");
                ImportTable();
                Log(phase + " TERMINATO.");
                // A failed import stays due, so it runs again once its file is fixed.
                markDone = !ImportFailed;
            }
            if (markDone) {
                cdsQuery.Edit();
                cdsQuery.FieldByName("STATO").SetAsString("S");
                cdsQuery.Post();
            }
            if (!stopped) cdsQuery.Next();
        }
        if (!stopped) {
            WriteDatabaseVersion(*ReachedVersion);
            Log("Versione del DB DOPO l'aggiornamento: " + ReachedVersion->AsText());
        }
    } catch (...) {
        summary();
        throw;  // the failure goes on to the caller once the box is closed
    }
    summary();
}

}  // namespace tarvolen
