// What validation finds against a database: the version table, and each import's table and
// how its columns meet the data file's fields.

#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "engine/PlanValidation.h"

namespace tarvolen::testing {
namespace {

std::string dataFile(const std::vector<std::string>& fields) {
    std::string xml = "<DATAPACKET><METADATA><FIELDS>";
    for (const auto& f : fields)
        xml += "<FIELD attrname=\"" + f + "\" fieldtype=\"string\" WIDTH=\"10\"/>";
    return xml + "</FIELDS><PARAMS/></METADATA><ROWDATA/></DATAPACKET>";
}

class PlanValidationDb : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        m_dm.dbsagg().execute("create table T (N integer, S varchar(10))");
    }
    std::vector<std::string> problems() {
        std::vector<std::string> texts;
        for (const PlanProblem& p : ValidateAgainstDatabase(m_dm.cdsQuery(), m_dm.dbsagg()))
            texts.push_back(ProblemText(p));
        return texts;
    }
    Phase import(int id, const std::string& table, const std::string& file) {
        return {.id = id, .tipo = "I", .nomeTabella = table, .nomeFile = path(file)};
    }
};

TEST_F(PlanValidationDb, importTablesAndTheirColumnsAgainstTheDataFiles) {
    struct Case {
        const char* name;
        std::vector<std::string> fields;
        std::string problem;  // empty: none
    };
    const Case cases[] = {
        {"the same names in order", {"N", "S"}, ""},
        {"the same names in another order: they go by name", {"S", "N"}, ""},
        {"a column without a field",
         {"N"},
         "row 1 (ID 1), field NOME_FILE: the fields of the data file differ from the columns of "
         "T: column 2 (S) has no field in the file, so every row fails"},
        {"a field under another name",
         {"N", "NAME"},
         "row 1 (ID 1), field NOME_FILE: the fields of the data file differ from the columns of "
         "T: column 2 (S) receives the field NAME"},
        {"a field without a column",
         {"N", "S", "X"},
         "row 1 (ID 1), field NOME_FILE: the fields of the data file differ from the columns of "
         "T: the file's field X (position 3) has no column, so its values are not imported"},
        // As the database compares unquoted names, n is N.
        {"names in lower case", {"n", "s"}, ""},
        {"names in lower case in another order, and one more",
         {"s", "X", "n"},
         "row 1 (ID 1), field NOME_FILE: the fields of the data file differ from the columns of "
         "T: the file's field X (position 2) has no column, so its values are not imported"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile("data.xml", dataFile(c.fields));
        loadPlan({import(1, "T", "data.xml")});
        const std::vector<std::string> expected =
            c.problem.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.problem};
        EXPECT_EQ(problems(), expected);
    }
}

TEST_F(PlanValidationDb, aMissingTableCountsUnlessThePhaseIsDone) {
    writeFile("data.xml", dataFile({"N"}));
    Phase done = import(2, "GONE", "data.xml");
    done.stato = "S";
    loadPlan({import(1, "NOPE", "data.xml"), done, import(3, "T", "unreadable.xml")});
    // The unreadable file is the plan's own problem, found without the database.
    EXPECT_EQ(problems(), (std::vector<std::string>{"row 1 (ID 1), field NOME_TABELLA: the "
                                                    "database has no table 'NOPE'"}));
}

TEST_F(PlanValidationDb, aTableThatAScriptBeforeMakesOrChangesIsLeftToTheRun) {
    writeFile("data.xml", dataFile({"N", "S", "X"}));
    struct Case {
        const char* name;
        std::string script;  // of phase 1, before the import of phase 2 into NEW or T
        const char* table;
        std::string stato = "N";
        bool problem = false;
    };
    const Case cases[] = {
        {"created", "create table new (N integer);", "NEW"},
        {"recreated, quoted", "recreate table \"NEW\"\r\n(N integer);", "NEW"},
        {"altered", "ALTER TABLE T ADD X varchar(10);", "T"},
        {"created by a phase already done", "create table NEW (N integer);", "NEW", "S", true},
        {"another table created", "create table NEWER (N integer);", "NEW", "N", true},
        {"a column named like the table", "create table B (NEW integer);", "NEW", "N", true},
        {"only read", "insert into T select * from T;", "T", "N", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        loadPlan({{.id = 1, .stato = c.stato, .testo = c.script, .versione = "1.1.0.0"},
                  import(2, c.table, "data.xml")});
        EXPECT_EQ(problems().size(), c.problem ? 1u : 0u);
    }
}

TEST_F(PlanValidationDb, theVersionTableAndItsColumns) {
    loadPlan({});
    EXPECT_EQ(problems(), std::vector<std::string>{});
    m_dm.dbsagg().execute("drop table SYSDBVER");
    EXPECT_EQ(problems(), (std::vector<std::string>{
                              "database, table SYSDBVER: the table is missing: a run cannot read "
                              "or record the database's version"}));
    m_dm.dbsagg().execute(
        "create table SYSDBVER (MAJOR_VERSION integer, MINOR_VERSION integer, BUILD integer)");
    EXPECT_EQ(problems(), (std::vector<std::string>{
                              "database, table SYSDBVER: no column RELEASE_VERSION: a run cannot "
                              "read or record the database's version",
                              "database, table SYSDBVER: no column APPID: a run cannot read or "
                              "record the database's version"}));
}

}  // namespace
}  // namespace tarvolen::testing
