#include "engine/ImportColumns.h"

#include <gtest/gtest.h>

namespace tarvolen {
namespace {

TEST(ImportColumns, namesCompareAsTheDatabaseComparesUnquotedNames) {
    const struct {
        const char* field;
        const char* column;
        bool same;
    } cases[] = {
        {"NOME", "NOME", true},
        {"nome", "NOME", true},
        {"Nome", "NOME", true},
        {"id_1$x", "ID_1$X", true},
        {"nome", "Nome", false},  // a quoted column in mixed case takes only its exact name
        {"Nome", "Nome", true},
        {"NOME", "nome", false},
        {"cognome nome", "COGNOME NOME", false},  // no unquoted name: exact only
        {"1nome", "1NOME", false},
        {"citt\xE0", "CITT\xC0", false},  // unquoted names are ASCII
        {"nom", "NOME", false},
        {"", "", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SameColumnName(c.field, c.column), c.same) << c.field << " / " << c.column;
}

TEST(ImportColumns, goByNameWhenEveryColumnFindsItsField) {
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
         {1, 2, 0},
         Kind::ByName,
         "CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER NOME"},
        {"names differing in case only", {"id", "nome", "note"}, {0, 1, 2}, Kind::ByPosition, ""},
        {"unquoted names in another order",
         {"id", "note", "Nome"},
         {0, 2, 1},
         Kind::ByName,
         "CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER NOME"},
        {"an exact name before one that only upper-cases to it",
         {"nome", "NOME", "ID", "NOTE"},
         {2, 1, 3},
         Kind::ByName,
         "CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER NOME"},
        {"two names that upper-case alike",
         {"Nome", "nome", "ID", "NOTE"},
         {0, 1, 2},
         Kind::ByPosition,
         "ATTENZIONE: CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER POSIZIONE, MA LA COLONNA 1 (ID) "
         "RICEVE IL CAMPO Nome"},
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

// The columns of a table made with quoted names keep their letter case: "Nome" takes a field
// named Nome, and no other.
TEST(ImportColumns, aQuotedMixedCaseColumnTakesOnlyItsExactName) {
    const std::vector<std::string> columns = {"ID", "Nome", "COGNOME"};
    ColumnMapping m = MapImportColumns({"id", "cognome", "Nome"}, columns);
    EXPECT_EQ(m.kind, ColumnMapping::Kind::ByName);
    EXPECT_EQ(m.fieldOf, (std::vector<size_t>{0, 2, 1}));
    m = MapImportColumns({"id", "cognome", "nome"}, columns);
    EXPECT_EQ(m.kind, ColumnMapping::Kind::ByPosition);
    EXPECT_EQ(m.firstDifference, "LA COLONNA 2 (Nome) RICEVE IL CAMPO cognome");
}

TEST(ImportColumns, sayWhichFieldNoColumnTakes) {
    const std::vector<std::string> columns = {"ID", "NOME"};
    EXPECT_EQ(MapImportColumns({"ID", "NOME"}, columns).firstUnusedField, std::string::npos);
    EXPECT_EQ(MapImportColumns({"id", "nome", "X"}, columns).firstUnusedField, 2u);
    EXPECT_EQ(MapImportColumns({"X", "nome", "id"}, columns).firstUnusedField, 0u);
    EXPECT_EQ(MapImportColumns({"ID"}, columns).firstUnusedField, std::string::npos);
}

}  // namespace
}  // namespace tarvolen
