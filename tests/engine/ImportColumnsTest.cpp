#include "engine/ImportColumns.h"

#include <gtest/gtest.h>

namespace tarvolen {
namespace {

TEST(ImportColumns, goByNameOnlyWhenTheFileHoldsExactlyTheColumnsInAnotherOrder) {
    using Kind = ColumnMapping::Kind;
    struct Case {
        const char* name;
        std::vector<std::string> fields;
        std::vector<size_t> fieldOf;
        Kind kind;
        std::string note;
    };
    const std::vector<std::string> columns = {"ID", "NOME", "NOTE"};
    const Case cases[] = {
        {"same order", {"ID", "NOME", "NOTE"}, {0, 1, 2}, Kind::ByPosition, ""},
        {"extra fields after the columns",
         {"ID", "NOME", "NOTE", "X"},
         {0, 1, 2},
         Kind::ByPosition,
         ""},
        {"another order",
         {"NOTE", "ID", "NOME"},
         {1, 2, 0},
         Kind::ByName,
         "CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER NOME"},
        {"a name that differs",
         {"ID", "COGNOME", "NOTE"},
         {0, 1, 2},
         Kind::ByPosition,
         "ATTENZIONE: CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER POSIZIONE, MA LA COLONNA 2 (NOME) "
         "RICEVE IL CAMPO COGNOME"},
        {"another order with an extra field",
         {"NOTE", "ID", "NOME", "X"},
         {0, 1, 2},
         Kind::ByPosition,
         "ATTENZIONE: CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER POSIZIONE, MA LA COLONNA 1 (ID) "
         "RICEVE IL CAMPO NOTE"},
        {"names differing in case only",
         {"id", "nome", "note"},
         {0, 1, 2},
         Kind::ByPosition,
         "ATTENZIONE: CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER POSIZIONE, MA LA COLONNA 1 (ID) "
         "RICEVE IL CAMPO id"},
        {"fewer fields",
         {"ID", "NOME"},
         {0, 1, 2},
         Kind::ByPosition,
         "ATTENZIONE: CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER POSIZIONE, MA LA COLONNA 3 (NOTE) "
         "NON HA UN CAMPO NEL FILE"},
        {"a name twice",
         {"NOME", "NOME", "ID"},
         {0, 1, 2},
         Kind::ByPosition,
         "ATTENZIONE: CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER POSIZIONE, MA LA COLONNA 1 (ID) "
         "RICEVE IL CAMPO NOME"},
    };
    for (const auto& c : cases) {
        const ColumnMapping m = MapImportColumns(c.fields, columns);
        EXPECT_EQ(m.kind, c.kind) << c.name;
        EXPECT_EQ(m.fieldOf, c.fieldOf) << c.name;
        EXPECT_EQ(MappingNote(m), c.note) << c.name;
    }
}

}  // namespace
}  // namespace tarvolen
