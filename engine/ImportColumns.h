#pragma once
// How the fields of an import's data file meet the columns of its table. Names compare as the
// database compares them: a field named as an unquoted name (id, Cognome) meets the column of
// that name upper-cased (ID, COGNOME); any name meets a column of exactly its name (a column
// created with a quoted name in mixed case, "Nome", takes only a field named exactly so). When
// every column finds its field by name, values go by name; otherwise by position, as ever.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvolen {

// True when a file field of this name fills the column of that name: the names are equal, or
// the field's name is an unquoted name (an ASCII letter, then ASCII letters, digits, "_" and
// "$") equal to the column's once upper-cased, as the database stores such a name.
bool SameColumnName(std::string_view field, std::string_view column);

struct ColumnMapping {
    enum class Kind { ByPosition, ByName };
    Kind kind = Kind::ByPosition;
    // For each column of the table, the position of the file field it takes. By position it is
    // the column's own position, whether or not the file has a field there.
    std::vector<size_t> fieldOf;
    // By position, when the names do not agree: the first column whose name differs from its
    // field's, in words ("LA COLONNA 2 (COGNOME) RICEVE IL CAMPO NOME"); empty otherwise.
    std::string firstDifference;
    // The first file field no column takes, whose values are not imported; npos when none.
    size_t firstUnusedField = std::string::npos;
};

// By position when every column meets the field at its own position (fields after the last
// column play no part), or when some column finds no field of its name, or finds two; by name
// when every column finds one field of its own.
ColumnMapping MapImportColumns(const std::vector<std::string>& fileFields,
                               const std::vector<std::string>& columns);

// What a run logs, and the dry run shows, about the mapping: empty when the names agree in
// order; "CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER NOME" by name; otherwise "ATTENZIONE: CAMPI
// DEL FILE ASSEGNATI ALLE COLONNE PER POSIZIONE, MA " and the first difference.
std::string MappingNote(const ColumnMapping& mapping);

}  // namespace tarvolen
