#pragma once
// The one log line that ends a walk stopped before the end of the plan, naming where it stopped
// and why, in the words of the other log lines.

#include <string>
#include <string_view>

#include "db/DatabaseError.h"

namespace tarvolen {

inline constexpr std::string_view kStopRequestedCause = "INTERRUZIONE RICHIESTA";
inline constexpr std::string_view kStatementFailedCause =
    "ISTRUZIONE FALLITA CON L'ARRESTO AL PRIMO ERRORE";
inline constexpr std::string_view kImportFailedCause =
    "IMPORT FALLITO CON L'ARRESTO AL PRIMO ERRORE";

// "IL SEGNO DI ESEGUITA NON PUO' ESSERE REGISTRATO (<the error>)"
std::string MarkNotRecordableCause(std::string_view error);

// "CONNESSIONE AL DATABASE PERSA (<the first line of the server's text>)"
std::string ConnectionLostCause(const database::DatabaseError& error);

// "FASE 3 INTERROTTA ALL'ISTRUZIONE 12 (RIGA 40): <cause>. LE ISTRUZIONI PRECEDENTI SONO
// CONFERMATE; LA FASE RESTA DA ESEGUIRE." `statement` is the first statement that did not run
// to its end, `line` the script line being read.
std::string ScriptStopLine(std::string_view phaseId, size_t statement, size_t line,
                           std::string_view cause);
// "FASE 4 IMPORT TABELLA T INTERROTTO: <cause>. NESSUNA RIGA IMPORTATA; LA FASE RESTA DA
// ESEGUIRE."
std::string ImportStopLine(std::string_view phaseId, std::string_view table,
                           std::string_view cause);
// "ESECUZIONE INTERROTTA PRIMA DELLA FASE 5: <cause>."
std::string BeforePhaseStopLine(std::string_view phaseId, std::string_view cause);
// "FASE 3 INTERROTTA MENTRE SI REGISTRAVA LA VERSIONE 1.2.0.0: <cause>. LA FASE RESTA DA
// ESEGUIRE."
std::string VersionStopLine(std::string_view phaseId, std::string_view version,
                            std::string_view cause);

// "FASE 3 APPLICATA AL DATABASE, MA IL SEGNO DI ESEGUITA NON E' STATO SALVATO: <error>. " and
// what the next run will do: pass the phase over when the database records `recordedVersion`
// (the version the phase brings, or one above it), else apply it again unless it is marked by
// hand. `recordedVersion` empty: the database records nothing of the phase.
std::string MarkNotSavedLine(std::string_view phaseId, std::string_view error,
                             std::string_view recordedVersion);

}  // namespace tarvolen
