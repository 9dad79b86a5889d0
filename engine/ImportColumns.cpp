#include "engine/ImportColumns.h"

#include <algorithm>

namespace tarvolen {
namespace {

// True when both hold the same names, each once, in any order.
bool sameNamesOnce(std::vector<std::string> a, std::vector<std::string> b) {
    if (a.size() != b.size()) return false;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b && std::adjacent_find(a.begin(), a.end()) == a.end();
}

}  // namespace

ColumnMapping MapImportColumns(const std::vector<std::string>& fileFields,
                               const std::vector<std::string>& columns) {
    ColumnMapping mapping;
    size_t differs = 0;
    while (differs < columns.size() && differs < fileFields.size() &&
           fileFields[differs] == columns[differs])
        ++differs;
    if (differs < columns.size() && sameNamesOnce(fileFields, columns)) {
        mapping.kind = ColumnMapping::Kind::ByName;
        for (const std::string& column : columns) {
            const auto at = std::find(fileFields.begin(), fileFields.end(), column);
            mapping.fieldOf.push_back(static_cast<size_t>(at - fileFields.begin()));
        }
        return mapping;
    }
    for (size_t i = 0; i < columns.size(); ++i) mapping.fieldOf.push_back(i);
    if (differs < columns.size()) {
        const std::string column =
            "LA COLONNA " + std::to_string(differs + 1) + " (" + columns[differs] + ")";
        mapping.firstDifference = differs < fileFields.size()
                                      ? column + " RICEVE IL CAMPO " + fileFields[differs]
                                      : column + " NON HA UN CAMPO NEL FILE";
    }
    return mapping;
}

std::string MappingNote(const ColumnMapping& mapping) {
    if (mapping.kind == ColumnMapping::Kind::ByName)
        return "CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER NOME";
    if (mapping.firstDifference.empty()) return {};
    return "ATTENZIONE: CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER POSIZIONE, MA " +
           mapping.firstDifference;
}

}  // namespace tarvolen
