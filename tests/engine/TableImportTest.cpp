#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "EngineTestSupport.h"
#include "db/Table.h"
#include "engine/BatchStopped.h"
#include "plan/PacketCodec.h"

namespace tarvolen::testing {
namespace {

using database::Value;
using database::testing::selectRows;

const std::string kDashes = "------------------------------------------------------";

std::string dataFile(const std::string& fields, const std::string& rows) {
    return "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>" + fields +
           "</FIELDS><PARAMS/></METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>";
}

// A binary data file whose one dateTime field holds `ms`, which no XML file can spell: the
// value's eight bytes end the packet.
std::string dateTimeFile(double ms) {
    const auto packet = decodePacket(
        dataFile("<FIELD attrname=\"T\" fieldtype=\"dateTime\"/>", "<ROW T=\"20240229\"/>"));
    std::string bytes = encodeBinaryPacket(packet);
    std::memcpy(bytes.data() + bytes.size() - sizeof ms, &ms, sizeof ms);
    return bytes;
}

const std::string kFields =
    "<FIELD attrname=\"N\" fieldtype=\"i4\"/>"
    "<FIELD attrname=\"S\" fieldtype=\"string\" WIDTH=\"20\"/>"
    "<FIELD attrname=\"D\" fieldtype=\"date\"/>"
    "<FIELD attrname=\"F\" fieldtype=\"fixed\" DECIMALS=\"2\" WIDTH=\"9\"/>"
    "<FIELD attrname=\"M\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>"
    "<FIELD attrname=\"T\" fieldtype=\"dateTime\"/>"
    "<FIELD attrname=\"EXTRA\" fieldtype=\"string\" WIDTH=\"5\"/>";

class TableImport : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        m_dm.dbsagg().execute(
            "create table IMP (ID integer, NOME varchar(10), NATO date, IMPORTO numeric(9,2), "
            "NOTE blob sub_type text, QUANDO timestamp)");
        m_dm.dbsagg().execute("insert into IMP (ID, NOME) values (99, 'before')");
    }
    std::vector<std::vector<Value>> rows() {
        return selectRows(m_dm.dbsagg(), "select * from IMP order by ID");
    }
    // Runs one import phase through the batch.
    void import(const std::string& file, const std::string& svuota,
                const std::string& table = "IMP") {
        loadPlan({{.id = 1,
                   .tipo = "I",
                   .nomeTabella = table,
                   .nomeFile = path(file),
                   .svuota = svuota}});
        m_dm.RunBatch();
    }
    // What the log says of a failed import; a row's failure names the row (1 = the first).
    std::string failedImport(const std::string& file, size_t record = 0,
                             const std::string& table = "IMP") {
        std::string text = "IMPORT TABELLA " + table + " DAL FILE " + path(file);
        if (record > 0) text += ", RECORD " + std::to_string(record);
        return text;
    }
    std::vector<std::string> errorBlock(const std::string& message, const std::string& file,
                                        size_t record = 0) {
        return {"ERRORE:", message, kDashes, failedImport(file, record), kDashes};
    }
    bool logged(const std::vector<std::string>& block) {
        return std::search(m_host.log.begin(), m_host.log.end(), block.begin(), block.end()) !=
               m_host.log.end();
    }
};

TEST_F(TableImport, copiesRowsByPositionWithConversionsAndNulls) {
    const std::string xml = dataFile(kFields,
                                     "<ROW N=\"1\" S=\"Citt\xE0 \x80\" D=\"19890405\" "
                                     "F=\"-1234.50\" M=\"riga1&#013;&#010;riga2\" "
                                     "T=\"20240229T13:45:30250\" EXTRA=\"zzz\"/><ROW N=\"2\"/>");
    writeFile("data.xml", xml);
    writeFile("data.cds", encodeBinaryPacket(decodePacket(xml)));
    for (const char* file : {"data.xml", "data.cds"}) {
        m_host.log.clear();
        import(file, "S");
        EXPECT_FALSE(m_dm.BatchHasErrors()) << ::testing::PrintToString(m_host.log);
        const auto r = rows();
        ASSERT_EQ(r.size(), 2u) << file;
        EXPECT_EQ(r[0], (std::vector<Value>{
                            int64_t{1}, std::string("Citt\xE0 \x80"), database::Date{1989, 4, 5},
                            -1234.5, std::string("riga1\r\nriga2"),
                            database::Timestamp{{2024, 2, 29}, {13, 45, 30, 2500}}}))
            << file;
        EXPECT_EQ(r[1], (std::vector<Value>{int64_t{2}, {}, {}, {}, {}, {}})) << file;
        EXPECT_EQ(stato(1), "S");
    }
}

TEST_F(TableImport, aFailedImportLeavesTheTableAsItWasAndStaysDue) {
    struct Case {
        const char* name;
        std::string file;
        std::string contents;  // empty: no file at all
        std::string message;
        size_t record = 0;  // the record the log names; 0: none
    };
    const std::string notUtf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" +
                                dataFile(kFields, "<ROW N=\"1\" S=\"Citt\xE0\"/>");
    const Case cases[] = {
        {"missing file", "missing.xml", "",
         "Cannot open file \"" + path("missing.xml") + "\". No such file or directory"},
        {"not a data packet", "bad.xml", "PK\x03\x04", "Mismatch in datapacket."},
        {"a value that does not convert", "text.xml",
         dataFile("<FIELD attrname=\"S\" fieldtype=\"string\" WIDTH=\"5\"/>", "<ROW S=\"abc\"/>"),
         "", 1},
        {"fewer fields than columns", "short.xml",
         dataFile("<FIELD attrname=\"N\" fieldtype=\"i4\"/>", "<ROW N=\"7\"/>"),
         "The data file has no field for column NOME (position 2)", 1},
        // Refused on reading: no date the XML form could write.
        {"a dateTime that is not a number", "nan.cds", dateTimeFile(std::nan("")),
         "Invalid parameter."},
        {"a dateTime past any integer", "huge.cds", dateTimeFile(1e300), "Invalid parameter."},
        {"a failure after some rows", "late.xml",
         dataFile(kFields, "<ROW N=\"1\" S=\"ok\"/><ROW N=\"2\" S=\"much too long for 10\"/>"), "",
         2},
        // Refused on reading: the file does not hold what an import would store.
        {"a value that does not read as written", "bool.xml",
         dataFile(kFields + "<FIELD attrname=\"B\" fieldtype=\"boolean\"/>",
                  "<ROW N=\"1\" B=\"TRUE\"/><ROW N=\"2\" B=\"yes\"/><ROW N=\"3\" B=\"1\"/>"),
         "record 2, field B: \"yes\" is not a value of type boolean: it would be imported as "
         "FALSE; 1 more value of the file does not read as written (tarvolen-cds check lists "
         "them)",
         2},
        {"a text cut to its width", "cut.xml",
         dataFile(kFields, "<ROW N=\"1\" S=\"twenty-one characters\"/>"),
         "record 1, field S: \"twenty-one characters\" is longer than the field's width 20: it "
         "would be imported cut to it",
         1},
        {"UTF-8 declared, and not UTF-8", "broken.xml", notUtf8,
         "The data file declares UTF-8 but is not UTF-8 at byte offset " +
             std::to_string(notUtf8.find('\xE0'))},
    };
    for (const auto& c : cases) {
        m_host.log.clear();
        if (!c.contents.empty()) writeFile(c.file, c.contents);
        import(c.file, "S");
        EXPECT_EQ(
            rows(),
            (std::vector<std::vector<Value>>{{int64_t{99}, std::string("before"), {}, {}, {}, {}}}))
            << c.name;
        EXPECT_TRUE(m_dm.ImportFailed()) << c.name;
        EXPECT_TRUE(m_dm.BatchHasErrors()) << c.name;
        EXPECT_EQ(stato(1), "N") << c.name;
        EXPECT_EQ(m_host.messages.back(), "Query batch: Batch eseguito con errori");
        if (!c.message.empty()) {
            EXPECT_TRUE(logged(errorBlock(c.message, c.file, c.record)))
                << c.name << ::testing::PrintToString(m_host.log);
        } else {
            // The names of these files differ from the columns': a warning line comes first.
            ASSERT_GE(m_host.log.size(), 8u);
            EXPECT_EQ(m_host.log[3], "ERRORE:") << c.name;
            EXPECT_EQ(m_host.log[6], failedImport(c.file, c.record)) << c.name;
        }
        EXPECT_FALSE(m_dm.dbsagg().inTransaction());
    }
}

// Record i of a file of kFields, as XML, and what it leaves in IMP. Every column is null in
// some records; every 97th memo is too long to travel as text, and goes alone.
struct Record {
    std::string xml;
    std::vector<Value> stored;
};
Record record(int i) {
    Record r{"<ROW N=\"" + std::to_string(i) + "\"", {int64_t{i}, {}, {}, {}, {}, {}}};
    if (i % 5 != 1) {
        r.xml += " S=\"Citt\xE0 " + std::to_string(i) + "\"";
        r.stored[1] = "Citt\xE0 " + std::to_string(i);
    }
    if (i % 7 != 2) {
        r.xml += " D=\"19" + std::to_string(10 + i % 90) + "0" + std::to_string(1 + i % 9) + "15\"";
        r.stored[2] = database::Date{1910 + i % 90, 1 + i % 9, 15};
    }
    if (i % 11 != 3) {
        r.xml += " F=\"-" + std::to_string(i) + ".25\"";
        r.stored[3] = -i - 0.25;
    }
    if (i % 13 != 4) {
        std::string memo(i % 97 == 5 ? 40000 : static_cast<size_t>(i % 300), 'm');
        memo += "riga " + std::to_string(i);
        r.xml += " M=\"" + memo + "&#013;&#010;\"";
        r.stored[4] = memo + "\r\n";
    }
    if (i % 17 != 6) {
        r.xml += " T=\"20240229T13:45:" + std::to_string(10 + i % 50) + "250\"";
        r.stored[5] = database::Timestamp{{2024, 2, 29}, {13, 45, 10 + i % 50, 2500}};
    }
    r.xml += "/>";
    return r;
}

TEST_F(TableImport, manyRecordsArriveWithTheirValues) {
    // Not a whole number of blocks, with nulls, long memos and texts outside ASCII.
    std::string xml;
    std::vector<std::vector<Value>> expected = {
        {int64_t{99}, std::string("before"), {}, {}, {}, {}}};
    for (int i = 100; i < 1000; ++i) {
        const Record r = record(i);
        xml += r.xml;
        expected.push_back(r.stored);
    }
    writeFile("many.xml", dataFile(kFields, xml));
    writeFile("many.cds", encodeBinaryPacket(decodePacket(dataFile(kFields, xml))));
    for (const char* file : {"many.xml", "many.cds"}) {
        SCOPED_TRACE(file);
        m_dm.dbsagg().execute("delete from IMP where ID <> 99");
        import(file, "N");
        EXPECT_FALSE(m_dm.BatchHasErrors()) << ::testing::PrintToString(m_host.log);
        EXPECT_EQ(rows(), expected);
        EXPECT_EQ(stato(1), "S");
    }
}

// Among 600 records, the first that fails is named, with its own error, and nothing stays.
TEST_F(TableImport, theFirstFailingRecordIsNamed) {
    m_dm.dbsagg().execute("alter table IMP add constraint NOT_400 check (ID <> 400)");
    database::Table probe(m_dm.dbsagg(), "probe");
    probe.setTableName("IMP");
    probe.open();
    probe.insert();
    probe.setValue(0, int64_t{400});
    std::string refusedText;
    try {
        probe.post();
    } catch (const database::DatabaseError& e) {
        refusedText = e.what();
    }
    probe.close();
    ASSERT_NE(refusedText.find("NOT_400"), std::string::npos) << refusedText;
    const std::string tooLongText =
        "Table: text of 20 bytes is too long for column \"NOME\" (VARCHAR(10))";

    const struct {
        const char* name;
        int refused;   // the record holding ID 400; 0: none
        int tooLong;   // the record whose NOME is too long; 0: none
        size_t named;  // the record the log names
        std::string message;
    } cases[] = {
        {"a record the database refuses", 400, 0, 400, refusedText},
        {"a record that does not convert", 0, 450, 450, tooLongText},
        {"a refused record before one that does not convert", 300, 450, 300, refusedText},
        {"a record that does not convert before a refused one", 300, 200, 200, tooLongText},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_host = RecordingHost{};
        std::string xml;
        for (int i = 1; i <= 600; ++i) {
            const int id = i == c.refused ? 400 : 1000 + i;
            const char* nome = i == c.tooLong ? "twenty characters!!!" : "ok";
            xml += "<ROW N=\"" + std::to_string(id) + "\" S=\"" + nome + "\" M=\"nota\"/>";
        }
        writeFile("late.xml", dataFile(kFields, xml));
        import("late.xml", "S");
        EXPECT_TRUE(logged(errorBlock(c.message, "late.xml", c.named)))
            << ::testing::PrintToString(m_host.log);
        EXPECT_EQ(rows(), (std::vector<std::vector<Value>>{
                              {int64_t{99}, std::string("before"), {}, {}, {}, {}}}));
        EXPECT_TRUE(m_dm.ImportFailed());
        EXPECT_EQ(stato(1), "N");
        EXPECT_FALSE(m_dm.dbsagg().inTransaction());
    }
}

// The rows go in as the file is read; a value further on that does not read as written still
// refuses the whole file, with its own message, whatever went in or failed before it.
TEST_F(TableImport, aValueThatDoesNotReadAsWrittenRefusesTheFileWhateverCameBefore) {
    m_dm.dbsagg().execute("alter table IMP add constraint NOT_400 check (ID <> 400)");
    const std::string fields = kFields + "<FIELD attrname=\"B\" fieldtype=\"boolean\"/>";
    const std::string kCutShort = "Mismatch in datapacket.";
    const std::string refusal =
        "record 590, field B: \"yes\" is not a value of type boolean: it would be imported as "
        "FALSE";
    const struct {
        const char* name;
        std::string table;
        int refused;  // the record holding ID 400; 0: none
        int tooLong;  // the record whose NOME is too long; 0: none
        bool cut = false;  // the file ends in the middle of a row, after record 590
    } cases[] = {
        {"after blocks of rows went in", "IMP", 0, 0},
        {"after the database refused a row", "IMP", 300, 0},
        {"after a value that does not convert", "IMP", 0, 200},
        {"when the table does not open", "NO_SUCH_TABLE", 0, 0},
        {"a file cut short after a value that does not convert", "IMP", 0, 200, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_host = RecordingHost{};
        std::string xml;
        for (int i = 1; i <= 600; ++i) {
            const int id = i == c.refused ? 400 : 1000 + i;
            const char* nome = i == c.tooLong ? "twenty characters!!!" : "ok";
            const char* b = i == 590 ? "yes" : "TRUE";
            xml += "<ROW N=\"" + std::to_string(id) + "\" S=\"" + nome + "\" B=\"" + b + "\"/>";
        }
        std::string file = dataFile(fields, xml);
        if (c.cut) file.resize(file.find("<ROW N=\"1591\"") + 10);
        writeFile("late.xml", file);
        import("late.xml", "S", c.table);
        // A file that cannot be read names no record, whatever the database said before.
        EXPECT_TRUE(logged({"ERRORE:", c.cut ? kCutShort : refusal, kDashes,
                            failedImport("late.xml", c.cut ? 0 : 590, c.table), kDashes}))
            << ::testing::PrintToString(m_host.log);
        EXPECT_EQ(rows(), (std::vector<std::vector<Value>>{
                              {int64_t{99}, std::string("before"), {}, {}, {}, {}}}));
        EXPECT_TRUE(m_dm.ImportFailed());
        EXPECT_EQ(stato(1), "N");
        EXPECT_FALSE(m_dm.dbsagg().inTransaction());
    }
}

// A stop asked for while the rows of a long file go in, with the file read ahead of them on a
// thread of its own, ends the import at once and leaves nothing of it.
TEST_F(TableImport, aStopAskedForDuringALongImportLeavesTheTableAsItWas) {
    std::string xml;
    for (int i = 1; i <= 20000; ++i) xml += "<ROW N=\"" + std::to_string(i) + "\" S=\"ok\"/>";
    writeFile("long.xml", dataFile(kFields, xml));
    size_t stoppedAt = 0;
    m_host.onProgress = [&](const RunProgress& p) {
        if (p.unit == RunProgress::Unit::Rows && p.done >= 3000 && !m_host.stop) {
            m_host.stop = true;
            stoppedAt = p.done;
        }
    };
    loadPlan({{.id = 1, .tipo = "I", .nomeTabella = "IMP", .nomeFile = path("long.xml"),
               .svuota = "S"}});
    std::string line;
    try {
        m_dm.RunBatch();
    } catch (const BatchStopped& e) {
        EXPECT_EQ(e.reason(), BatchStopped::Reason::StopRequested);
        line = e.what();
    }
    EXPECT_GE(stoppedAt, 3000u);
    EXPECT_EQ(line,
              "FASE 1 IMPORT TABELLA IMP INTERROTTO: INTERRUZIONE RICHIESTA. NESSUNA RIGA "
              "IMPORTATA; LA FASE RESTA DA ESEGUIRE.")
        << ::testing::PrintToString(m_host.log);
    EXPECT_EQ(rows(), (std::vector<std::vector<Value>>{
                          {int64_t{99}, std::string("before"), {}, {}, {}, {}}}));
    EXPECT_EQ(stato(1), "N");
    EXPECT_FALSE(m_dm.dbsagg().inTransaction());
}

TEST_F(TableImport, aTableThatDoesNotOpenIsReportedTheSameWay) {
    writeFile("data.xml", dataFile(kFields, ""));
    import("data.xml", "S", "NO_SUCH_TABLE");
    EXPECT_TRUE(m_dm.ImportFailed());
    ASSERT_GE(m_host.log.size(), 7u);
    EXPECT_EQ(m_host.log[2], "ERRORE:");
    EXPECT_EQ(m_host.log[5], "IMPORT TABELLA NO_SUCH_TABLE DAL FILE " + path("data.xml"));
    EXPECT_EQ(stato(1), "N");
}

TEST_F(TableImport, emptiesTheTableOnlyForAnUpperCaseS) {
    writeFile("one.xml", dataFile(kFields, "<ROW N=\"1\"/>"));
    import("one.xml", "s");
    EXPECT_EQ(rows().size(), 2u);  // appended to the row already there
    writeFile("none.xml", dataFile(kFields, ""));
    import("none.xml", "S");
    EXPECT_TRUE(rows().empty()) << ::testing::PrintToString(m_host.log);
    EXPECT_FALSE(m_dm.BatchHasErrors());
}

TEST_F(TableImport, emptiesTheVeryTableTheRowsGoInto) {
    m_dm.dbsagg().execute("create table \"imp_lower\" (N integer)");
    m_dm.dbsagg().execute("create table IMP_LOWER (N integer)");
    m_dm.dbsagg().execute("insert into \"imp_lower\" values (1)");
    m_dm.dbsagg().execute("insert into IMP_LOWER values (2)");
    writeFile("n.xml", dataFile("<FIELD attrname=\"N\" fieldtype=\"i4\"/>", "<ROW N=\"7\"/>"));
    import("n.xml", "S", "imp_lower");
    EXPECT_FALSE(m_dm.BatchHasErrors()) << ::testing::PrintToString(m_host.log);
    EXPECT_EQ(selectRows(m_dm.dbsagg(), "select N from \"imp_lower\""),
              (std::vector<std::vector<Value>>{{int64_t{7}}}));
    EXPECT_EQ(selectRows(m_dm.dbsagg(), "select N from IMP_LOWER"),
              (std::vector<std::vector<Value>>{{int64_t{2}}}));
}

TEST_F(TableImport, fieldsGoByNameWhenTheyAreTheColumnsInAnotherOrder) {
    m_dm.dbsagg().execute("create table PERS (ID integer, NOME varchar(10))");
    const std::string id = "<FIELD attrname=\"ID\" fieldtype=\"i4\"/>";
    auto text = [](const char* name) {
        return "<FIELD attrname=\"" + std::string(name) + "\" fieldtype=\"string\" WIDTH=\"10\"/>";
    };
    struct Case {
        const char* name;
        std::string fields;
        std::string row;
        std::string logLine;  // empty: no line about the fields
    };
    const Case cases[] = {
        {"same order", id + text("NOME"), "<ROW ID=\"1\" NOME=\"Rossi\"/>", ""},
        {"another order", text("NOME") + id, "<ROW NOME=\"Rossi\" ID=\"1\"/>",
         "FASE 1 IMPORT TABELLA PERS: CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER NOME."},
        {"a name that differs", id + text("COGNOME"), "<ROW ID=\"1\" COGNOME=\"Rossi\"/>",
         "FASE 1 IMPORT TABELLA PERS: ATTENZIONE: CAMPI DEL FILE ASSEGNATI ALLE COLONNE PER "
         "POSIZIONE, MA LA COLONNA 2 (NOME) RICEVE IL CAMPO COGNOME."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_host = RecordingHost{};
        writeFile("pers.xml", dataFile(c.fields, c.row));
        import("pers.xml", "S", "PERS");
        EXPECT_FALSE(m_dm.BatchHasErrors()) << ::testing::PrintToString(m_host.log);
        EXPECT_EQ(selectRows(m_dm.dbsagg(), "select ID, NOME from PERS"),
                  (std::vector<std::vector<Value>>{{int64_t{1}, std::string("Rossi")}}));
        std::vector<std::string> expected = {"Versione del DB PRIMA dell'aggiornamento: 0.0.0.0",
                                             "FASE 1 IMPORT TABELLA PERS IN ESECUZIONE."};
        if (!c.logLine.empty()) expected.push_back(c.logLine);
        expected.push_back("FASE 1 IMPORT TABELLA PERS TERMINATO.");
        expected.push_back("Versione del DB DOPO l'aggiornamento: 0.0.0.0");
        EXPECT_EQ(m_host.log, expected);
    }
}

TEST_F(TableImport, aDataFileThatIsNoRegularFileIsRefused) {
    ASSERT_EQ(::mkfifo(path("fifo.xml").c_str(), 0600), 0);  // no writer: must not wait for one
    std::filesystem::create_directory(path("folder.xml"));
    const struct {
        std::string file;
        std::string why;
    } cases[] = {
        {"/dev/zero", "Not a regular file"},
        {path("fifo.xml"), "Not a regular file"},
        {path("folder.xml"), "Is a directory"},
    };
    for (const auto& c : cases) {
        m_host = RecordingHost{};
        loadPlan({{.id = 1, .tipo = "I", .nomeTabella = "IMP", .nomeFile = c.file}});
        m_dm.RunBatch();
        EXPECT_TRUE(m_dm.ImportFailed()) << c.file;
        EXPECT_TRUE(logged({"ERRORE:", "Cannot open file \"" + c.file + "\". " + c.why, kDashes,
                            "IMPORT TABELLA IMP DAL FILE " + c.file, kDashes}))
            << ::testing::PrintToString(m_host.log);
        EXPECT_EQ(stato(1), "N");
    }
}

}  // namespace
}  // namespace tarvolen::testing
