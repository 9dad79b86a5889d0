#include "tools/cli/PlanListFormat.h"

#include "base/Cp1252.h"
#include "tools/cli/TextTable.h"

namespace tarvolen::cli {
namespace {

constexpr size_t kFirstLineWidth = 60;

std::string typeName(const std::string& tipo) {
    if (tipo == "S") return "script";
    if (tipo == "I") return "import";
    return "unknown";
}

std::string orDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

std::string shortened(const std::string& text) {
    return text.size() <= kFirstLineWidth ? text : text.substr(0, kFirstLineWidth - 3) + "...";
}

std::string versionColumn(const PhaseSummary& p) {
    if (p.version.empty()) return "-";
    return p.versionClean ? p.version : p.version + " (\"" + p.versionText + "\")";
}

std::string detailColumn(const PhaseSummary& p) {
    if (p.tipo == "I") {
        std::string text = orDash(p.table) + " <- " + orDash(p.file);
        if (p.emptyTable == "S") text += " (emptied first)";
        return text;
    }
    if (p.tipo == "S") return orDash(shortened(p.firstLine));
    return "-";
}

std::string jsonString(const std::string& cp1252Text) {
    std::string out = "\"";
    for (char c : cp1252::toUtf8(cp1252Text)) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
            out += buffer;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

std::string PlanListText(const std::vector<PhaseSummary>& phases) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"ID", "TYPE", "DONE", "VERSION", "SEPARATOR", "TABLE <- FILE, OR SCRIPT"});
    for (const PhaseSummary& p : phases) {
        const std::string type =
            typeName(p.tipo) == "unknown" ? "'" + p.tipo + "'?" : typeName(p.tipo);
        rows.push_back({p.id ? std::to_string(*p.id) : "-", type, orDash(p.stato), versionColumn(p),
                        orDash(p.separator), detailColumn(p)});
    }
    return AlignedTable(rows);
}

std::string PlanListJson(const std::vector<PhaseSummary>& phases) {
    std::string out = "[";
    for (size_t i = 0; i < phases.size(); ++i) {
        const PhaseSummary& p = phases[i];
        out += i == 0 ? "\n  {" : ",\n  {";
        out += "\"id\":" + (p.id ? std::to_string(*p.id) : std::string("null"));
        out += ",\"type\":" + jsonString(typeName(p.tipo));
        out += ",\"tipo\":" + jsonString(p.tipo);
        out += ",\"stato\":" + jsonString(p.stato);
        out += std::string(",\"done\":") + (p.stato == "S" ? "true" : "false");
        out += ",\"version\":" + (p.version.empty() ? std::string("null") : jsonString(p.version));
        out += ",\"versionText\":" + jsonString(p.versionText);
        out += std::string(",\"versionClean\":") + (p.versionClean ? "true" : "false");
        out += ",\"separator\":" + jsonString(p.separator);
        out += ",\"table\":" + jsonString(p.table);
        out += ",\"file\":" + jsonString(p.file);
        out += std::string(",\"emptyTable\":") + (p.emptyTable == "S" ? "true" : "false");
        out += ",\"scriptLines\":" + std::to_string(p.scriptLines);
        out += ",\"firstLine\":" + jsonString(p.firstLine);
        out += "}";
    }
    out += phases.empty() ? "]\n" : "\n]\n";
    return out;
}

}  // namespace tarvolen::cli
