#pragma once
// Plan files written for a test: phases as the tool writes them.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "plan/PacketCodec.h"
#include "plan/PlanLayout.h"

namespace tarvolen::testing {

// One plan row; empty texts are left out of the file (null).
struct Phase {
    int id = 0;
    std::string stato = "N";
    std::string tipo = "S";
    std::string separatore = ";";
    std::string testo;
    std::string versione;
    std::string nomeTabella;
    std::string nomeFile;
    std::string svuota = "N";
};

// The plan file holding these phases, as the tool writes it.
inline std::string planXml(const std::vector<Phase>& phases) {
    DataPacket packet = emptyPlanPacket();
    auto text = [](const std::string& v) { return v.empty() ? FieldValue{} : FieldValue{v}; };
    for (const auto& p : phases) {
        packet.rows.push_back(
            {0,
             {int64_t{p.id}, text(p.stato), text(p.tipo), text(p.separatore),
              p.testo.empty() ? FieldValue{} : FieldValue{makeBlob(p.testo)}, int64_t{100 - p.id},
              text(p.nomeTabella), text(p.nomeFile), text(p.svuota), text(p.versione)}});
    }
    return encodeXmlPacket(packet);
}

// Replaces one value of one row version of a decoded packet, the way a hand-edited file would
// hold it; versions are stored packed, so the rows are built again.
inline void setRowValue(DataPacket& packet, size_t row, size_t field, FieldValue value) {
    RowStore rows;
    for (size_t i = 0; i < packet.rows.size(); ++i) {
        RowVersion version = packet.rows[i];
        if (i == row) version.values.at(field) = std::move(value);
        rows.push_back(version);
    }
    packet.rows = std::move(rows);
}

}  // namespace tarvolen::testing
