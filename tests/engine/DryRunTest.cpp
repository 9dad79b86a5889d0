// The dry run on a real database: what it reports, that it changes nothing, and that it decides
// every phase as the batch does.

#include "engine/DryRun.h"

#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "PhaseDecisionPrinter.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "plan/PacketCodec.h"

namespace tarvolen::testing {
namespace {

const std::string kRows =
    "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"N\" fieldtype=\"i4\"/>"
    "</FIELDS><PARAMS/></METADATA><ROWDATA><ROW N=\"1\"/><ROW N=\"2\"/><ROW N=\"3\"/></ROWDATA>"
    "</DATAPACKET>";

class DryRun : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        m_dm.dbsagg().execute("create table T (N integer)");
        setDatabaseVersion("1, 0, 0, 0");
        writeFile("rows.xml", kRows);
        writeFile("broken.xml", "<DATAPACKET");
    }
    // One phase of every kind the walk tells apart.
    void loadMixedPlan() {
        loadPlan({
            {.id = 1, .stato = "S", .testo = "insert into T values (1);"},
            {.id = 2, .testo = "insert into T values (2);", .versione = "1.0.0.0"},
            {.id = 3,
             .stato = "s",
             .testo = "insert into T values (3);\r\ninsert into T values (4);\r\nleft over",
             .versione = "1.0.0.5 "},
            {.id = 4, .testo = "insert into T values (5);\r\n-- only a comment after it\r\n"},
            {.id = 5, .tipo = "I", .nomeTabella = "T", .nomeFile = path("rows.xml")},
            {.id = 6, .tipo = "I", .nomeTabella = "T", .nomeFile = path("missing.xml")},
            {.id = 7, .tipo = "I", .nomeTabella = "T"},
            {.id = 8, .tipo = "s"},
            {.id = 9, .tipo = ""},
        });
    }
};

TEST_F(DryRun, reportsEveryPhaseWithWhatItsRunWouldDo) {
    loadMixedPlan();
    const DryRunReport report = tarvolen::DryRun(m_dm);

    EXPECT_EQ(report.startVersion.AsText(), "1.0.0.0");
    ASSERT_EQ(report.phases.size(), 9u);
    const PhaseDecision expected[] = {PhaseDecision::AlreadyDone, PhaseDecision::SkippedForVersion,
                                      PhaseDecision::Script,      PhaseDecision::Script,
                                      PhaseDecision::Import,      PhaseDecision::Import,
                                      PhaseDecision::Import,      PhaseDecision::NoAction,
                                      PhaseDecision::NoAction};
    for (size_t i = 0; i < report.phases.size(); ++i) {
        EXPECT_EQ(report.phases[i].id, static_cast<int64_t>(i + 1));
        EXPECT_EQ(report.phases[i].decision, expected[i]) << "phase " << i + 1;
    }

    const auto& leftOver = report.phases[2].script;
    EXPECT_EQ(leftOver.statementCount, 2u);
    EXPECT_TRUE(leftOver.textAfterLastSeparator);
    const auto& commentOnly = report.phases[3].script;
    EXPECT_EQ(commentOnly.statementCount, 1u);
    EXPECT_FALSE(commentOnly.textAfterLastSeparator);

    const auto& rows = report.phases[4].import;
    EXPECT_EQ(rows.tableName, "T");
    EXPECT_EQ(rows.fileName, path("rows.xml"));
    EXPECT_EQ(rows.rowCount, 3);
    EXPECT_EQ(rows.loadError, "");
    const auto& missing = report.phases[5].import;
    EXPECT_FALSE(missing.rowCount.has_value());
    EXPECT_NE(missing.loadError.find("Cannot open file \"" + path("missing.xml") + "\""),
              std::string::npos)
        << missing.loadError;
    // No name at all is refused as the import refuses it, not read as some other file.
    EXPECT_EQ(report.phases[6].import.loadError, "Cannot open file \"\". No file name given");

    EXPECT_EQ(report.phases[7].tipo, "s");
    EXPECT_EQ(report.phases[8].tipo, "");
}

TEST(DryRunLogLines, sayEachPhaseAsTheRunToolPrintsIt) {
    DryRunReport report;
    report.startVersion.Parse("1.2.3.4");
    auto phase = [&](int64_t id, PhaseDecision decision) -> PhasePreview& {
        report.phases.push_back({.id = id, .decision = decision});
        return report.phases.back();
    };
    phase(1, PhaseDecision::AlreadyDone);
    phase(2, PhaseDecision::SkippedForVersion);
    phase(3, PhaseDecision::Script).script = {2, true};
    phase(4, PhaseDecision::Script).script = {0, false};
    phase(5, PhaseDecision::Import).import = {"T", "rows.xml", 3, ""};
    phase(6, PhaseDecision::Import).import = {"ANAG", "dati.cds", 0, ""};
    phase(7, PhaseDecision::Import).import = {"T", "", std::nullopt, "Cannot open file"};
    phase(8, PhaseDecision::NoAction).tipo = "s";
    phase(9, PhaseDecision::NoAction);
    phase(10, PhaseDecision::Script).script = {1, false, true, false, false};
    phase(11, PhaseDecision::Script).script = {1, false, false, true, true};
    phase(12, PhaseDecision::Import).import = {"T", "a.xml", 1, "", "CAMPI PER NOME"};
    phase(13, PhaseDecision::Import).import = {.tableName = "T",
                                               .fileName = "u.xml",
                                               .rowCount = 2,
                                               .mappingNote = "CAMPI PER NOME",
                                               .encoding = "UTF-8: CODIFICA DICHIARATA"};

    EXPECT_EQ(DryRunLogLines(report),
              (std::vector<std::string>{
                  "Versione del DB: 1.2.3.4",
                  "FASE 1 PROCEDURA GIA' ESEGUITA.",
                  "FASE 2 NON ESEGUITA PER VERSIONE DATABASE.",
                  "FASE 3 SCRIPT DA ESEGUIRE: 2 ISTRUZIONI (TESTO DOPO L'ULTIMO SEPARATORE NON "
                  "ESEGUITO)",
                  "FASE 4 SCRIPT DA ESEGUIRE: 0 ISTRUZIONI",
                  "FASE 5 IMPORT TABELLA T DAL FILE rows.xml DA ESEGUIRE: 3 RIGHE",
                  "FASE 6 IMPORT TABELLA ANAG DAL FILE dati.cds DA ESEGUIRE: 0 RIGHE",
                  "FASE 7 IMPORT TABELLA T DAL FILE  DA ESEGUIRE: FILE NON LEGGIBILE: Cannot open "
                  "file",
                  "FASE 8 NESSUNA AZIONE (TIPO 's').",
                  "FASE 9 NESSUNA AZIONE (TIPO '').",
                  "FASE 10 SCRIPT DA ESEGUIRE: 1 ISTRUZIONI (COMMENTO NON CHIUSO: TESTO NON "
                  "ESEGUITO)",
                  "FASE 11 SCRIPT DA ESEGUIRE: 1 ISTRUZIONI (STRINGA NON CHIUSA: TESTO NON "
                  "ESEGUITO) (TESTO DOPO UN CARATTERE NUL NON ESEGUITO)",
                  "FASE 12 IMPORT TABELLA T DAL FILE a.xml DA ESEGUIRE: 1 RIGHE (CAMPI PER NOME)",
                  "FASE 13 IMPORT TABELLA T DAL FILE u.xml DA ESEGUIRE: 2 RIGHE (TESTO LETTO COME "
                  "UTF-8: CODIFICA DICHIARATA) (CAMPI PER NOME)",
              }));
    EXPECT_EQ(DryRunLogLines(DryRunReport{}),
              (std::vector<std::string>{"Versione del DB: 0.0.0.0"}));
}

TEST_F(DryRun, changesNeitherThePlanNorTheDatabase) {
    loadMixedPlan();
    const std::string planBefore = readWholeFile(path("dbquery.xml"));
    tarvolen::DryRun(m_dm);

    EXPECT_EQ(m_dm.cdsQuery().ChangeCount(), 0);
    for (int id = 1; id <= 9; ++id) EXPECT_EQ(stato(id), id == 1 ? "S" : id == 3 ? "s" : "N");
    EXPECT_FALSE(m_dm.cds().Active()) << "the data module's import reader is left alone";
    EXPECT_TRUE(m_host.log.empty());
    EXPECT_TRUE(m_host.messages.empty());
    EXPECT_EQ(count("select count(*) from T"), 0);
    EXPECT_EQ(databaseVersion(), "1.0.0.0");
    EXPECT_EQ(count("select count(*) from SYSDBVER"), 1);
    EXPECT_FALSE(m_dm.dbsagg().inTransaction());

    m_dm.DataModuleDestroy();
    EXPECT_EQ(readWholeFile(path("dbquery.xml")), planBefore);
}

TEST_F(DryRun, decidesEveryPhaseAsTheBatchThenDoes) {
    loadMixedPlan();
    const DryRunReport report = tarvolen::DryRun(m_dm);
    m_dm.RunBatch();

    size_t statements = 0;
    for (const PhasePreview& phase : report.phases) {
        const std::string id = "FASE " + std::to_string(phase.id) + " ";
        const auto logged = [&](const std::string& line) {
            return std::find(m_host.log.begin(), m_host.log.end(), line) != m_host.log.end();
        };
        SCOPED_TRACE(id);
        switch (phase.decision) {
            case PhaseDecision::AlreadyDone:
                EXPECT_TRUE(logged(id + "PROCEDURA GIA' ESEGUITA."));
                break;
            case PhaseDecision::SkippedForVersion:
                EXPECT_TRUE(logged(id + "NON ESEGUITA PER VERSIONE DATABASE."));
                EXPECT_EQ(stato(static_cast<int>(phase.id)), "N");
                break;
            case PhaseDecision::Script:
                EXPECT_TRUE(logged(id + "SCRIPT IN ESECUZIONE."));
                statements += phase.script.statementCount;
                break;
            case PhaseDecision::Import:
                EXPECT_TRUE(logged(id + "IMPORT TABELLA T IN ESECUZIONE."));
                // A file that cannot be loaded keeps its phase due; the others are marked.
                EXPECT_EQ(stato(static_cast<int>(phase.id)), phase.import.rowCount ? "S" : "N");
                break;
            case PhaseDecision::NoAction:
                EXPECT_EQ(stato(static_cast<int>(phase.id)), "S");
                break;
        }
    }
    // Every statement counted ran and inserted one row; the import added its three.
    EXPECT_EQ(count("select count(*) from T"), static_cast<int64_t>(statements) + 3);
}

TEST_F(DryRun, aVersionThatCannotBeReadEndsTheDryRun) {
    loadMixedPlan();
    m_dm.dbsagg().execute("drop table SYSDBVER");
    EXPECT_THROW(tarvolen::DryRun(m_dm), database::DatabaseError);
    EXPECT_FALSE(m_dm.qryVersioneDB().isOpen());
}

TEST_F(DryRun, reportsWhatARunWouldSayOfTextAndFields) {
    m_dm.dbsagg().execute("create table PERS (ID integer, NOME varchar(10))");
    auto file = [&](const std::string& name, const std::string& first, const std::string& second) {
        writeFile(name, "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"" + first +
                            "\" fieldtype=\"i4\"/><FIELD attrname=\"" + second +
                            "\" fieldtype=\"i4\"/></FIELDS><PARAMS/></METADATA><ROWDATA/>"
                            "</DATAPACKET>");
    };
    file("byname.xml", "NOME", "ID");
    file("differs.xml", "ID", "COGNOME");
    file("same.xml", "ID", "NOME");
    loadPlan({
        {.id = 1,
         .testo = "insert into T values (1);\r\n/* never closed\r\ninsert into T values (2);"},
        {.id = 2, .testo = "insert into T values ('never closed);"},
        {.id = 3, .testo = std::string("insert into T values (1);\0insert into T values (2);", 51)},
        {.id = 4, .testo = "SET TERM ^ ;\r\nCOMMIT^\r\nSET NAMES WIN1252^\r\nselect 1 from T^"},
        {.id = 5, .tipo = "I", .nomeTabella = "PERS", .nomeFile = path("byname.xml")},
        {.id = 6, .tipo = "I", .nomeTabella = "PERS", .nomeFile = path("differs.xml")},
        {.id = 7, .tipo = "I", .nomeTabella = "PERS", .nomeFile = path("same.xml")},
    });
    const DryRunReport report = tarvolen::DryRun(m_dm);
    ASSERT_EQ(report.phases.size(), 7u);
    EXPECT_TRUE(report.phases[0].script.unclosedComment);
    EXPECT_FALSE(report.phases[0].script.textAfterLastSeparator);
    EXPECT_TRUE(report.phases[1].script.unclosedLiteral);
    EXPECT_EQ(report.phases[1].script.statementCount, 0u);
    EXPECT_TRUE(report.phases[2].script.textAfterNul);
    EXPECT_EQ(report.phases[2].script.statementCount, 1u);
    EXPECT_EQ(report.phases[3].script.statementCount, 1u) << "isql's own commands reach nothing";
    EXPECT_EQ(report.phases[4].import.mappingNote,
              "CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER NOME");
    EXPECT_EQ(report.phases[5].import.mappingNote,
              "ATTENZIONE: CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER POSIZIONE, MA LA COLONNA 2 "
              "(NOME) RICEVE IL CAMPO COGNOME");
    EXPECT_EQ(report.phases[6].import.mappingNote, "");
}

TEST_F(DryRun, aPlanRowThatBreaksTheFieldRulesEndsTheDryRun) {
    DataPacket packet = decodePacket(planXml({{.id = 1, .testo = "select 1 from T;"}}));
    setRowValue(packet, 0, 0, FieldValue{});  // no ID
    m_dm.cdsQuery().SetFileName("");
    m_dm.cdsQuery().Close();
    writeFile("dbquery.xml", encodeXmlPacket(packet));
    m_dm.cdsQuery().SetFileName(path("dbquery.xml"));
    m_dm.ReloadPlan();
    EXPECT_THROW(tarvolen::DryRun(m_dm), EDBClient);
}

}  // namespace
}  // namespace tarvolen::testing
