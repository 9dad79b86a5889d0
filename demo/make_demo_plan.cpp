// make_demo_plan SOURCE OUT: writes the demo's update plan to OUT from the phase scripts in
// SOURCE/plan. The plan in demo/dbquery.xml is its output; a test checks the two agree.

#include <cstdio>
#include <exception>
#include <string>

#include "base/Cp1252.h"
#include "plan/DataPacket.h"
#include "plan/FileIO.h"
#include "plan/PacketCodec.h"
#include "plan/PlanLayout.h"

namespace {

using namespace tarvolen;

struct DemoPhase {
    int id;
    const char* stato;
    const char* tipo;
    const char* script;  // file in SOURCE/plan, for a script phase
    const char* versione;
    const char* nomeTabella = "";
    const char* nomeFile = "";
    const char* svuota = "N";
};

// Scripts at rising versions (one already done, one meant for older databases), and imports
// from an XML and a binary data file.
constexpr DemoPhase kPhases[] = {
    {10, "S", "S", "fase-010-schema.sql", "1.0.0.0"},
    {20, "N", "S", "fase-020-vecchia.sql", "0.9.8.0"},
    {30, "N", "S", "fase-030-stato-civile.sql", "1.1.0.0"},
    {40, "N", "S", "fase-040-procedura.sql", "1.2.0.0"},
    {50, "N", "I", nullptr, "", "AFVIE", "dati/nuove-vie.xml"},
    {60, "N", "I", nullptr, "", "AFCOMUNI", "dati/comuni-limitrofi.cds"},
    {70, "N", "S", "fase-070-indici.sql", "1.2.1.0"},
};

// A script as plans hold it: Windows-1252 text with CR LF line ends.
std::string planText(const std::string& utf8) {
    std::string text;
    for (char c : cp1252::fromUtf8(utf8)) {
        if (c == '\r') continue;
        if (c == '\n') text += '\r';
        text += c;
    }
    return text;
}

FieldValue textOrNull(const char* text) {
    return *text == '\0' ? FieldValue{} : FieldValue{std::string(text)};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: make_demo_plan SOURCE OUT\n", stderr);
        return 2;
    }
    try {
        const std::string source = argv[1];
        DataPacket packet = emptyPlanPacket();
        for (const DemoPhase& p : kPhases) {
            const FieldValue testo =
                p.script == nullptr
                    ? FieldValue{}
                    : FieldValue{makeBlob(planText(readWholeFile(source + "/plan/" + p.script)))};
            packet.rows.push_back(
                {0,
                 {int64_t{p.id}, textOrNull(p.stato), textOrNull(p.tipo),
                  FieldValue{std::string(";")}, testo, int64_t{p.id}, textOrNull(p.nomeTabella),
                  textOrNull(p.nomeFile), textOrNull(p.svuota), textOrNull(p.versione)}});
        }
        writeFileAtomically(argv[2], encodeXmlPacket(packet));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_demo_plan: %s\n", e.what());
        return 1;
    }
}
