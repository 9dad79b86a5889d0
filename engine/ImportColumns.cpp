#include "engine/ImportColumns.h"

#include <algorithm>

namespace tarvolen {
namespace {

bool isAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Whether the database would take the name without quotes, and so store it upper-cased.
bool isUnquotedName(std::string_view name) {
    if (name.empty() || !isAsciiLetter(name[0])) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_' || c == '$';
    });
}

// The one field of the column's name: the field named exactly so, else the one unquoted name
// that stands for it; npos when there is none, or more than one.
size_t fieldNamed(const std::vector<std::string>& fileFields, const std::string& column) {
    const auto exact = std::count(fileFields.begin(), fileFields.end(), column);
    if (exact == 1)
        return static_cast<size_t>(std::find(fileFields.begin(), fileFields.end(), column) -
                                   fileFields.begin());
    if (exact > 1) return std::string::npos;
    size_t found = std::string::npos;
    for (size_t i = 0; i < fileFields.size(); ++i) {
        if (!SameColumnName(fileFields[i], column)) continue;
        if (found != std::string::npos) return std::string::npos;
        found = i;
    }
    return found;
}

}  // namespace

bool SameColumnName(std::string_view field, std::string_view column) {
    if (field == column) return true;
    if (field.size() != column.size() || !isUnquotedName(field)) return false;
    for (size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) != column[i])
            return false;
    }
    return true;
}

ColumnMapping MapImportColumns(const std::vector<std::string>& fileFields,
                               const std::vector<std::string>& columns) {
    ColumnMapping mapping;
    size_t differs = 0;
    while (differs < columns.size() && differs < fileFields.size() &&
           SameColumnName(fileFields[differs], columns[differs]))
        ++differs;
    if (differs < columns.size()) {
        std::vector<bool> taken(fileFields.size(), false);
        for (const std::string& column : columns) {
            const size_t field = fieldNamed(fileFields, column);
            if (field == std::string::npos || taken[field]) break;
            taken[field] = true;
            mapping.fieldOf.push_back(field);
        }
        if (mapping.fieldOf.size() == columns.size()) {
            mapping.kind = ColumnMapping::Kind::ByName;
            const auto unused = std::find(taken.begin(), taken.end(), false);
            if (unused != taken.end())
                mapping.firstUnusedField = static_cast<size_t>(unused - taken.begin());
            return mapping;
        }
        mapping.fieldOf.clear();
    }
    for (size_t i = 0; i < columns.size(); ++i) mapping.fieldOf.push_back(i);
    if (fileFields.size() > columns.size()) mapping.firstUnusedField = columns.size();
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
