#include "PlanGenerator.h"

#include <string>

#include "plan/PlanLayout.h"

namespace tarvolen::bench {

DataPacket generatePlan(size_t phases, size_t scriptBytes, bool markedDone) {
    DataPacket packet = emptyPlanPacket();
    static const char* kLines[] = {
        "update ANAGRAFE set STATO_CIVILE = 'C' where COD_INDIVIDUO between 1000 and 2000;",
        "  insert into AFCOMUNI (CODICE, NOME) values ('F205', 'Milano <città>');",
        "/* ricalcolo dei totali: \"famiglie\" & convivenze */",
        "alter table SYSDBVER add NOTE varchar(200);",
        "\tcreate index IDX_ANAG_COGNOME on ANAGRAFE (COGNOME, NOME);",
    };
    packet.rows.reserve(markedDone ? phases * 2 : phases);
    for (size_t i = 0; i < phases; ++i) {
        std::string script;
        script.reserve(scriptBytes + 100);
        for (size_t k = 0; script.size() < scriptBytes; ++k) {
            script += kLines[(i + k) % 5];
            script += "\r\n";
        }
        const std::string version =
            "1.0." + std::to_string(i / 100) + "." + std::to_string(i % 100);
        packet.rows.push_back({0,
                               {int64_t(i + 1), std::string("N"), std::string("S"),
                                std::string(";"), makeBlob(std::move(script)), int64_t(i + 1),
                                FieldValue{}, FieldValue{}, std::string("N"), version}});
    }
    if (markedDone) {
        for (size_t i = 0; i < phases; ++i) {
            RowVersion marked = packet.rows[i];
            marked.values[1] = std::string("S");
            // As the table posts an edit: the new version keeps the script by reference.
            packet.rows.append(rowstate::kModified, marked.values, i);
            packet.rows.setStatus(i, rowstate::kSuperseded);
            packet.changeLog.push_back({uint32_t(packet.rows.size()), uint32_t(i + 1), 8});
        }
    }
    return packet;
}

}  // namespace tarvolen::bench
