#include "engine/StopLines.h"

namespace tarvolen {

std::string MarkNotRecordableCause(std::string_view error) {
    std::string cause = "IL SEGNO DI ESEGUITA NON PUO' ESSERE REGISTRATO (";
    cause += error;
    cause += ')';
    return cause;
}

std::string ConnectionLostCause(const database::DatabaseError& error) {
    std::string_view text = error.what();
    text = text.substr(0, text.find('\n'));
    std::string cause = "CONNESSIONE AL DATABASE PERSA (";
    cause += text;
    cause += ')';
    return cause;
}

std::string ScriptStopLine(std::string_view phaseId, size_t statement, size_t line,
                           std::string_view cause) {
    std::string text = "FASE ";
    text += phaseId;
    text += " INTERROTTA ALL'ISTRUZIONE " + std::to_string(statement) + " (RIGA " +
            std::to_string(line) + "): ";
    text += cause;
    text += ". LE ISTRUZIONI PRECEDENTI SONO CONFERMATE; LA FASE RESTA DA ESEGUIRE.";
    return text;
}

std::string ImportStopLine(std::string_view phaseId, std::string_view table,
                           std::string_view cause) {
    std::string text = "FASE ";
    text += phaseId;
    text += " IMPORT TABELLA ";
    text += table;
    text += " INTERROTTO: ";
    text += cause;
    text += ". NESSUNA RIGA IMPORTATA; LA FASE RESTA DA ESEGUIRE.";
    return text;
}

std::string BeforePhaseStopLine(std::string_view phaseId, std::string_view cause) {
    std::string text = "ESECUZIONE INTERROTTA PRIMA DELLA FASE ";
    text += phaseId;
    text += ": ";
    text += cause;
    text += '.';
    return text;
}

std::string VersionStopLine(std::string_view phaseId, std::string_view version,
                            std::string_view cause) {
    std::string text = "FASE ";
    text += phaseId;
    text += " INTERROTTA MENTRE SI REGISTRAVA LA VERSIONE ";
    text += version;
    text += ": ";
    text += cause;
    text += ". LA FASE RESTA DA ESEGUIRE.";
    return text;
}

std::string MarkNotSavedLine(std::string_view phaseId, std::string_view error,
                             std::string_view recordedVersion) {
    std::string text = "FASE ";
    text += phaseId;
    text += " APPLICATA AL DATABASE, MA IL SEGNO DI ESEGUITA NON E' STATO SALVATO: ";
    text += error;
    if (!text.ends_with('.')) text += '.';
    if (!recordedVersion.empty()) {
        text += " LA VERSIONE ";
        text += recordedVersion;
        text +=
            " E' REGISTRATA NEL DATABASE: LA PROSSIMA ESECUZIONE SALTERA' LA FASE PER VERSIONE.";
    } else {
        text +=
            " NEL DATABASE NULLA LO REGISTRA: PRIMA DI ESEGUIRE DI NUOVO IL PIANO, SEGNARE LA "
            "FASE COME ESEGUITA (STATO S), ALTRIMENTI SARA' APPLICATA UNA SECONDA VOLTA.";
    }
    return text;
}

}  // namespace tarvolen
