#pragma once
// How the fields of an import's data file meet the columns of its table. Values go by position;
// but a file that holds exactly the table's column names in another order would put every value
// in the wrong column, so such a file goes by name.

#include <cstddef>
#include <string>
#include <vector>

namespace tarvolen {

struct ColumnMapping {
    enum class Kind { ByPosition, ByName };
    Kind kind = Kind::ByPosition;
    // For each column of the table, the position of the file field it takes. By position it is
    // the column's own position, whether or not the file has a field there.
    std::vector<size_t> fieldOf;
    // By position, when the names do not agree: the first column whose name differs from its
    // field's, in words ("LA COLONNA 2 (COGNOME) RICEVE IL CAMPO NOME"); empty otherwise.
    std::string firstDifference;
};

// Names compare exactly. Fields of the file beyond the table's columns play no part, as their
// values are never read.
ColumnMapping MapImportColumns(const std::vector<std::string>& fileFields,
                               const std::vector<std::string>& columns);

// What a run logs, and the dry run shows, about the mapping: empty when the names agree in
// order; "CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER NOME" by name; otherwise "ATTENZIONE: CAMPI
// DEL FILE ASSEGNATI ALLE COLONNE PER POSIZIONE, MA " and the first difference.
std::string MappingNote(const ColumnMapping& mapping);

}  // namespace tarvolen
