// Data files and scripts as administrators write them, run through the real tools on an embedded
// database: tarvolen-run (and its dry run), tarvolen-plan validate and tarvolen-cds on one plan,
// then the table's contents, byte for byte.

#include "RunToolSupport.h"

namespace tarvolen::testing {
namespace {

std::string packet(const std::string& fields, const std::string& rows) {
    return "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>" + fields +
           "</FIELDS><PARAMS/></METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>";
}

std::string field(const std::string& name, const std::string& type, const std::string& extra = "") {
    return "<FIELD attrname=\"" + name + "\" fieldtype=\"" + type + "\"" +
           (extra.empty() ? "" : " " + extra) + "/>";
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class DataFileTrial : public RunTool {
  protected:
    // Runs another of the tools as run() runs tarvolen-run.
    Result tool(const std::string& executable, const std::string& arguments) const {
        return runShellCommand("cd '" + m_db.folder().string() + "' && TARVOLEN_ALIASES='" +
                                   path("aliases.ini") + "' exec timeout -s KILL 120 '" +
                                   executable + "' " + arguments,
                               path("tool-err.txt"));
    }
    Result validate() const { return tool(TARVOLEN_PLAN_TOOL, "validate --alias registry"); }
    Result cds(const std::string& arguments) const { return tool(TARVOLEN_CDS_TOOL, arguments); }
    Result dryRun() const { return run("--alias registry --dry-run"); }
    Result apply() const { return run("--alias registry --no-statistics"); }
    // A plan of one import phase, due.
    void importPlan(const std::string& table, const std::string& file) const {
        writeFile("dbquery.xml",
                  planXml({{.id = 1, .tipo = "I", .nomeTabella = table, .nomeFile = file}}));
    }
    // The bytes a column holds, whatever its character set.
    std::string octets(const std::string& column, const std::string& table,
                       const std::string& where) const {
        return text("select cast(" + column + " as varchar(200) character set octets) from " +
                    table + " where " + where);
    }
};

// Values the import cannot read as written: every tool refuses the file, naming the record, the
// field and the text, and the table stays as it was.
TEST_F(DataFileTrial, aValueThatDoesNotReadAsWrittenRefusesTheFileEverywhere) {
    auto c = m_db.connect();
    c->execute(
        "create table V (ID integer, IMPORTO numeric(9,2), NATO date, QUANDO timestamp, "
        "NOME varchar(20), ATTIVO boolean)");
    c->execute("insert into V (ID, NOME) values (99, 'prima')");
    c.reset();
    const std::string fields = field("ID", "i4") +
                               field("IMPORTO", "fixed", "DECIMALS=\"2\" WIDTH=\"9\"") +
                               field("NATO", "date") + field("QUANDO", "SQLdateTime") +
                               field("NOME", "string", "WIDTH=\"10\"") + field("ATTIVO", "boolean");
    const std::string good =
        "<ROW ID=\"1\" IMPORTO=\"12.50\" NATO=\"20240229\" QUANDO=\"20240229T13:45:30250\" "
        "NOME=\"Rossi\" ATTIVO=\"true\"/>";
    struct Case {
        std::string field;
        std::string text;     // as the file holds it
        std::string outcome;  // what the message says an import would have made of it
    };
    const Case cases[] = {
        {"IMPORTO", "12,50", "would be imported as null"},
        {"IMPORTO", "abc", "would be imported as null"},
        {"IMPORTO", "1e3", "would be imported as null"},
        {"IMPORTO", "12345678901.25", "would be imported as null"},
        {"NATO", "2024-12-31", "would be imported as null"},
        {"NATO", "20240230", "would be imported as null"},
        {"QUANDO", "20241231T25:00:00000", "would be imported as null"},
        {"NOME", "Bartolomeo Colleoni", "is longer than the field's width 10"},
        {"ATTIVO", "yes", "would be imported as FALSE"},
        {"ATTIVO", "1", "would be imported as FALSE"},
        {"ATTIVO", "S", "would be imported as FALSE"},
        {"ID", "12,5", "would be imported as 12"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.field + "=" + k.text);
        writeFile("valori.xml",
                  packet(fields, good + "<ROW ID=\"2\" " + k.field + "=\"" + k.text + "\"/>"));
        importPlan("V", "valori.xml");
        const std::string named = "record 2, field " + k.field + ": \"" + k.text + "\"";

        const Result checked = cds("check valori.xml");
        EXPECT_EQ(checked.exitCode, 1) << checked.out << checked.err;
        EXPECT_TRUE(contains(checked.out, "row 2, field " + k.field + ": ")) << checked.out;
        EXPECT_TRUE(contains(checked.out, "\"" + k.text + "\"") || k.field == "NOME")
            << checked.out;

        const Result validated = validate();
        EXPECT_EQ(validated.exitCode, 1) << validated.out << validated.err;
        EXPECT_TRUE(contains(validated.out, named)) << validated.out;
        EXPECT_TRUE(contains(validated.out, k.outcome)) << validated.out;

        const Result dry = dryRun();
        EXPECT_EQ(dry.exitCode, 1) << dry.out << dry.err;
        EXPECT_TRUE(contains(dry.out, "FILE NON LEGGIBILE: " + named)) << dry.out;

        const Result applied = apply();
        EXPECT_EQ(applied.exitCode, 1) << applied.out << applied.err;
        EXPECT_TRUE(contains(applied.out, "ERRORE:\n" + named)) << applied.out;
        EXPECT_TRUE(contains(applied.out, k.outcome)) << applied.out;
        EXPECT_TRUE(contains(applied.out, "IMPORT TABELLA V DAL FILE valori.xml, RECORD 2\n"))
            << applied.out;
        EXPECT_EQ(count("select count(*) from V"), 1);
        EXPECT_EQ(text("select NOME from V"), "prima");
        EXPECT_EQ(statiOnDisk(), "N");
    }
}

// The binary form holds typed values, so only a text longer than its field's width can load
// other than as written; a binary file made by tarvolen-cds convert with a width another program
// changed shows it.
TEST_F(DataFileTrial, aBinaryFileWithATextLongerThanItsWidthIsRefused) {
    auto c = m_db.connect();
    c->execute("create table B (ID integer, NOME varchar(30))");
    c.reset();
    writeFile("largo.xml", packet(field("ID", "i4") + field("NOME", "string", "WIDTH=\"20\""),
                                  "<ROW ID=\"1\" NOME=\"Rossi\"/>"
                                  "<ROW ID=\"2\" NOME=\"Bartolomeo Colleoni\"/>"));
    ASSERT_EQ(cds("convert largo.xml stretto.cds").exitCode, 0);
    // NOME's WIDTH attribute: its name, its 4-byte type word, then the 2-byte value 20.
    std::string bytes = readWholeFile(path("stretto.cds"));
    const size_t width = bytes.find("WIDTH", bytes.find("NOME"));
    ASSERT_NE(width, std::string::npos);
    ASSERT_EQ(bytes[width + 9], '\x14');
    bytes[width + 9] = '\x0A';
    writeFile("stretto.cds", bytes);
    importPlan("B", "stretto.cds");

    const std::string named =
        "record 2, field NOME: \"Bartolomeo Colleoni\" is longer than the field's width 10";
    EXPECT_EQ(cds("check stretto.cds").exitCode, 1);
    const Result validated = validate();
    EXPECT_EQ(validated.exitCode, 1);
    EXPECT_TRUE(contains(validated.out, named)) << validated.out;
    const Result dry = dryRun();
    EXPECT_EQ(dry.exitCode, 1);
    EXPECT_TRUE(contains(dry.out, "FILE NON LEGGIBILE: " + named)) << dry.out;
    const Result applied = apply();
    EXPECT_EQ(applied.exitCode, 1) << applied.out;
    EXPECT_TRUE(contains(applied.out, "ERRORE:\n" + named)) << applied.out;
    EXPECT_EQ(count("select count(*) from B"), 0);
    EXPECT_EQ(statiOnDisk(), "N");
}

// Accented text in UTF-8, with and without a declaration, in XML and in a binary file made from
// it, lands as the same characters in a Windows-1252 column and in a UTF-8 one; a file that
// declares UTF-8 and is not, or holds a value with a character Windows-1252 lacks, is refused.
TEST_F(DataFileTrial, utf8DataFilesAreReadAsUtf8AndBrokenOnesAreRefused) {
    auto c = m_db.connect();
    c->execute(
        "create table U (ID integer, NOME varchar(30), NOME8 varchar(30) character set UTF8)");
    c.reset();
    const std::string fields = field("ID", "i4") + field("NOME", "string", "WIDTH=\"30\"") +
                               field("NOME8", "string", "WIDTH=\"30\"");
    const std::string utf8Text = "Citt\xC3\xA0 \xC3\xA8 Per\xC3\xB9 \xE2\x82\xAC";
    const std::string cp1252Text = "Citt\xE0 \xE8 Per\xF9 \x80";
    auto rows = [&](const std::string& t) {
        return "<ROW ID=\"1\" NOME=\"" + t + "\" NOME8=\"" + t + "\"/>";
    };
    const std::string prolog = "<?xml version=\"1.0\" standalone=\"yes\"?>  ";
    const std::string declared = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    writeFile("senza.xml", prolog + packet(fields, rows(utf8Text)));
    writeFile("dichiarato.xml", declared + packet(fields, rows(utf8Text)));
    writeFile("bom.xml", "\xEF\xBB\xBF" + packet(fields, rows(utf8Text)));
    writeFile("windows.xml", prolog + packet(fields, rows(cp1252Text)));
    const Result converted = cds("convert senza.xml binario.cds");
    ASSERT_EQ(converted.exitCode, 0) << converted.err;
    EXPECT_EQ(converted.err,
              "tarvolen-cds: senza.xml read as UTF-8 (no encoding declared, the text is valid "
              "UTF-8)\n");
    EXPECT_EQ(cds("convert windows.xml windows.cds").err, "");

    const struct {
        const char* file;
        bool detected;  // read as UTF-8 although nothing says so
    } read[] = {
        {"senza.xml", true},    {"dichiarato.xml", false}, {"bom.xml", false},
        {"binario.cds", false}, {"windows.xml", false},
    };
    for (const auto& k : read) {
        SCOPED_TRACE(k.file);
        c = m_db.connect();
        c->execute("delete from U");
        c.reset();
        importPlan("U", k.file);
        const Result applied = apply();
        EXPECT_EQ(applied.exitCode, 0) << applied.out << applied.err;
        EXPECT_EQ(contains(applied.out,
                           "FASE 1 IMPORT TABELLA U: FILE DI DATI LETTO COME UTF-8 "
                           "(NESSUNA CODIFICA DICHIARATA, TESTO UTF-8 VALIDO).\n"),
                  k.detected)
            << applied.out;
        EXPECT_EQ(count("select count(*) from U"), 1);
        EXPECT_EQ(octets("NOME", "U", "ID = 1"), cp1252Text);
        EXPECT_EQ(octets("NOME8", "U", "ID = 1"), utf8Text);
    }

    // What the checks say of the file that declares nothing.
    importPlan("U", "senza.xml");
    const Result dry = dryRun();
    EXPECT_EQ(dry.exitCode, 0) << dry.out;
    EXPECT_TRUE(contains(dry.out,
                         "1 RIGHE (TESTO LETTO COME UTF-8: NESSUNA CODIFICA DICHIARATA, "
                         "TESTO UTF-8 VALIDO)\n"))
        << dry.out;
    const Result validated = validate();
    EXPECT_EQ(validated.exitCode, 0) << validated.out;
    EXPECT_TRUE(contains(validated.out,
                         "note: row 1 (ID 1), field NOME_FILE: the data file's text is read as "
                         "UTF-8 (no encoding declared, the text is valid UTF-8)\n"))
        << validated.out;
    const Result checked = cds("check senza.xml");
    EXPECT_EQ(checked.exitCode, 0) << checked.out << checked.err;
    EXPECT_EQ(checked.out, "text read as UTF-8 (no encoding declared, the text is valid UTF-8)\n");
    importPlan("U", "windows.xml");
    EXPECT_TRUE(contains(dryRun().out, "1 RIGHE (TESTO LETTO COME WINDOWS-1252)\n"));
    EXPECT_EQ(cds("check windows.xml").out, "text read as Windows-1252\n");

    // Broken ones: nothing changes, and the byte is named.
    c = m_db.connect();
    c->execute("delete from U");
    c->execute("insert into U (ID, NOME) values (99, 'prima')");
    c.reset();
    const std::string layout = packet(fields, rows("@"));
    const size_t at = layout.find('@');
    const struct {
        const char* file;
        std::string bytes;
        std::string message;  // how it starts
        size_t record;        // the record named; 0: the file as a whole
    } refused[] = {
        {"errato.xml",
         declared + layout.substr(0, at) + "Citt\xC3\xA0 Citt\xE0" + layout.substr(at + 1),
         "The data file declares UTF-8 but is not UTF-8 at byte offset " +
             std::to_string(declared.size() + at + 11),
         0},
        {"mancante.xml",
         prolog + layout.substr(0, at) + "Citt\xC3\xA0 \xC5\x91" + layout.substr(at + 1),
         "record 1, field NOME: the file's character U+0151 at byte offset " +
             std::to_string(prolog.size() + at + 7) + " has no Windows-1252 form",
         1},
        {"mancante-bom.xml",
         "\xEF\xBB\xBF" + layout.substr(0, at) + "\xC5\x91" + layout.substr(at + 1),
         "record 1, field NOME: the file's character U+0151 at byte offset " +
             std::to_string(3 + at) + " has no Windows-1252 form",
         1},
    };
    for (const auto& k : refused) {
        SCOPED_TRACE(k.file);
        writeFile(k.file, k.bytes);
        importPlan("U", k.file);
        const Result checked = cds(std::string("check ") + k.file);
        EXPECT_EQ(checked.exitCode, 1);
        const std::string checkMessage =
            k.record == 0 ? k.message
                          : "row 1, field NOME: " + k.message.substr(k.message.find(": ") + 2);
        EXPECT_TRUE(contains(k.record == 0 ? checked.err : checked.out, checkMessage))
            << checked.out << checked.err;
        EXPECT_TRUE(contains(validate().out, k.message));
        EXPECT_TRUE(contains(dryRun().out, "FILE NON LEGGIBILE: " + k.message));
        const Result applied = apply();
        EXPECT_EQ(applied.exitCode, 1) << applied.out;
        EXPECT_TRUE(contains(applied.out, "ERRORE:\n" + k.message)) << applied.out;
        EXPECT_TRUE(contains(applied.out, std::string("IMPORT TABELLA U DAL FILE ") + k.file +
                                              (k.record == 0 ? "\n" : ", RECORD 1\n")))
            << applied.out;
        EXPECT_EQ(text("select list(ID || ':' || NOME) from U"), "99:prima");
        EXPECT_EQ(statiOnDisk(), "N");
    }
}

// A plan is never read other than as the tool writes it: a script whose Windows-1252 bytes
// happen to form UTF-8 runs as those bytes.
TEST_F(DataFileTrial, aPlanIsReadAsWindows1252WhateverItsBytesLookLike) {
    writeFile("dbquery.xml",
              planXml({{.id = 1, .testo = "insert into T values (1, '\xC3\xA8');\r\n"}}));
    const Result applied = apply();
    EXPECT_EQ(applied.exitCode, 0) << applied.out;
    EXPECT_EQ(octets("S", "T", "N = 1"), "\xC3\xA8");
}

// File fields id, cognome, nome into columns ID, NOME, COGNOME: by name, as the database
// compares unquoted names; a quoted mixed-case column takes only its exact name.
TEST_F(DataFileTrial, fieldsMeetColumnsByNameAsTheDatabaseComparesNames) {
    auto c = m_db.connect();
    c->execute("create table P (ID integer, NOME varchar(20), COGNOME varchar(20))");
    c->execute("create table Q (ID integer, \"Nome\" varchar(20), COGNOME varchar(20))");
    c.reset();
    const struct {
        const char* table;
        std::string fields;
        std::string row;
        std::string stored;  // NOME and COGNOME
        std::string note;    // the run's line on fields and columns
    } cases[] = {
        {"P",
         field("id", "i4") + field("cognome", "string", "WIDTH=\"20\"") +
             field("nome", "string", "WIDTH=\"20\""),
         "<ROW id=\"1\" cognome=\"Rossi\" nome=\"Mario\"/>", "Mario Rossi",
         "FASE 1 IMPORT TABELLA P: CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER NOME.\n"},
        {"Q",
         field("Id", "i4") + field("Cognome", "string", "WIDTH=\"20\"") +
             field("Nome", "string", "WIDTH=\"20\""),
         "<ROW Id=\"1\" Cognome=\"Rossi\" Nome=\"Mario\"/>", "Mario Rossi",
         "FASE 1 IMPORT TABELLA Q: CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER NOME.\n"},
        {"Q",
         field("id", "i4") + field("cognome", "string", "WIDTH=\"20\"") +
             field("nome", "string", "WIDTH=\"20\""),
         "<ROW id=\"1\" cognome=\"Rossi\" nome=\"Mario\"/>", "Rossi Mario",
         "FASE 1 IMPORT TABELLA Q: ATTENZIONE: CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER "
         "POSIZIONE, MA LA COLONNA 2 (Nome) RICEVE IL CAMPO cognome.\n"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.table + (" " + k.fields));
        writeFile("persone.xml", packet(k.fields, k.row));
        importPlan(k.table, "persone.xml");
        const bool byName = contains(k.note, "PER NOME");
        const Result validated = validate();
        EXPECT_EQ(validated.exitCode, byName ? 0 : 1) << validated.out;
        EXPECT_EQ(contains(validated.out, "receives the field cognome"), !byName) << validated.out;
        const std::string noteText = k.note.substr(k.note.find(": ") + 2);
        EXPECT_TRUE(
            contains(dryRun().out, "1 RIGHE (" + noteText.substr(0, noteText.size() - 2) + ")\n"));
        const Result applied = apply();
        EXPECT_EQ(applied.exitCode, 0) << applied.out;
        EXPECT_TRUE(contains(applied.out, k.note)) << applied.out;
        const std::string nome = k.table == std::string("Q") ? "\"Nome\"" : "NOME";
        EXPECT_EQ(text("select " + nome + " || ' ' || COGNOME from " + k.table), k.stored);
        c = m_db.connect();
        c->execute(std::string("delete from ") + k.table);
        c.reset();
    }
}

// A script whose text starts with a byte-order mark, as another program may write it: the mark
// is nothing, for the run, the dry run, validate and the listing alike.
TEST_F(DataFileTrial, aByteOrderMarkBeforeAScriptIsNothing) {
    writeFile("dbquery.xml", planXml({{.id = 1,
                                       .testo = "\xEF\xBB\xBFSET TERM ^ ;\r\n"
                                                "CREATE PROCEDURE P_BOM AS BEGIN\r\n"
                                                "  INSERT INTO T VALUES (7, 'bom');\r\n"
                                                "END^\r\n"
                                                "SET TERM ; ^\r\n"
                                                "EXECUTE PROCEDURE P_BOM;\r\n",
                                       .versione = "1.1.0.0"}}));
    EXPECT_EQ(validate().exitCode, 0);
    const Result listed = tool(TARVOLEN_PLAN_TOOL, "list");
    EXPECT_TRUE(contains(listed.out, "  SET TERM ^ ;\n")) << listed.out;
    const Result dry = dryRun();
    EXPECT_EQ(dry.exitCode, 0);
    EXPECT_TRUE(contains(dry.out, "FASE 1 SCRIPT DA ESEGUIRE: 2 ISTRUZIONI\n")) << dry.out;
    const Result applied = apply();
    EXPECT_EQ(applied.exitCode, 0) << applied.out;
    EXPECT_FALSE(contains(applied.out, "ERRORE")) << applied.out;
    EXPECT_EQ(text("select N || ':' || S from T"), "7:bom");
    EXPECT_EQ(databaseVersion(), "1.1.0.0");
}

}  // namespace
}  // namespace tarvolen::testing
