// The plan table as the engine and the windows use it: loading and writing back, navigation,
// editing with its field rules, the history of row versions. A little over 500 lines, kept
// together because the cases share the plan fixture and read as one account of the table.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "plan/ClientDataSet.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "plan/PacketCodec.h"
#include "plan/PlanLayout.h"
#include "tests/support/TestFolder.h"

namespace tarvolen {
namespace {

namespace fs = std::filesystem;

std::string planFields(const std::string& idType = "i4", const std::string& nomeTabellaWidth = "40",
                       bool withOrdine = true) {
    return "<FIELD attrname=\"ID\" fieldtype=\"" + idType + "\" required=\"true\"" +
           (idType == "string" ? " WIDTH=\"5\"" : "") + "/>" +
           "<FIELD attrname=\"STATO\" fieldtype=\"string\" WIDTH=\"1\"/>"
           "<FIELD attrname=\"TIPO\" fieldtype=\"string\" WIDTH=\"1\"/>"
           "<FIELD attrname=\"SEPARATORE\" fieldtype=\"string\" WIDTH=\"5\"/>"
           "<FIELD attrname=\"TESTO\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>" +
           (withOrdine ? "<FIELD attrname=\"ORDINE\" fieldtype=\"i4\"/>" : "") +
           "<FIELD attrname=\"NOME_TABELLA\" fieldtype=\"string\" WIDTH=\"" + nomeTabellaWidth +
           "\"/>"
           "<FIELD attrname=\"NOME_FILE\" fieldtype=\"string\" WIDTH=\"255\"/>"
           "<FIELD attrname=\"SVUOTA_TABELLA\" fieldtype=\"string\" WIDTH=\"1\"/>"
           "<FIELD attrname=\"VERSIONE\" fieldtype=\"string\" WIDTH=\"20\"/>";
}

std::string plan(const std::string& rows, const std::string& fields = planFields(),
                 const std::string& params = "<PARAMS/>") {
    return "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET "
           "Version=\"2.0\"><METADATA><FIELDS>" +
           fields + "</FIELDS>" + params + "</METADATA><ROWDATA>" + rows +
           "</ROWDATA></DATAPACKET>";
}

const std::string kRow1 =
    "<ROW ID=\"1\" STATO=\"N\" TIPO=\"S\" SEPARATORE=\";\" TESTO=\"select B.NOME_COMUNE from "
    "AFDATGEN A;\" "
    "ORDINE=\"1\" SVUOTA_TABELLA=\"N\" VERSIONE=\"1.0.4.0\"/>";

class PlanTable : public ::testing::Test {
  protected:
    void SetUp() override {
        m_oldCwd = fs::current_path();
        fs::current_path(m_dir);  // the plan file is relative to the current directory
    }
    void TearDown() override { fs::current_path(m_oldCwd); }
    static void write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string read(const std::string& path) { return readWholeFile(path); }
    static std::unique_ptr<TClientDataSet> planTable() {
        auto t = std::make_unique<TClientDataSet>("cdsQuery");
        configurePlanTable(*t);
        return t;
    }
    template <typename E>
    static std::string messageOf(const std::function<void()>& f) {
        try {
            f();
        } catch (const E& e) {
            return e.what();
        }
        return "(no error)";
    }

    testing::TempFolder m_folder;
    const fs::path m_dir = m_folder.path();
    fs::path m_oldCwd;
};

TEST_F(PlanTable, opensOnTheFirstRowInIdOrderAndReadsFieldsByName) {
    write("dbquery.xml",
          plan("<ROW ID=\"3\" TIPO=\"S\"/><ROW ID=\"1\" TIPO=\"I\" NOME_TABELLA=\"T\"/>"
               "<ROW ID=\"2\" TIPO=\"S\" TESTO=\"a&#013;&#010;b\"/>"));
    auto t = planTable();
    t->Open();
    std::vector<int64_t> ids;
    for (t->First(); !t->Eof(); t->Next()) ids.push_back(t->FieldByName("ID").AsInteger());
    EXPECT_EQ(ids, (std::vector<int64_t>{1, 2, 3}));
    t->First();
    EXPECT_EQ(t->FieldByName("NOME_TABELLA").AsString(), "T");
    EXPECT_EQ(t->FieldByName("NOME_FILE").AsString(), "");  // null reads as empty text
    EXPECT_TRUE(t->FieldByName("NOME_FILE").IsNull());
    t->Next();
    EXPECT_EQ(t->FieldByName("TESTO").AsString(), "a\r\nb");
}

TEST_F(PlanTable, startUpWithoutAPlanFailsAndTheFirstReloadCreatesNothing) {
    for (bool emptyFile : {false, true}) {
        if (emptyFile) write("dbquery.xml", "");
        auto t = planTable();
        EXPECT_EQ(messageOf<EDatabaseError>([&] { t->Open(); }),
                  "cdsQuery: Missing data provider or data packet");
        EXPECT_FALSE(t->Active());
    }
    fs::remove("dbquery.xml");
    auto t = planTable();
    EXPECT_EQ(
        messageOf<EFOpenError>([&] { t->LoadFile("./dbquery.xml"); }),
        "Cannot open file \"" + (m_dir / "dbquery.xml").string() + "\". No such file or directory");
    EXPECT_FALSE(fs::exists("dbquery.xml"));
    write("empty.xml", "");
    EXPECT_EQ(messageOf<EDatabaseError>([&] { t->LoadFile("empty.xml"); }),
              "cdsQuery: Missing data provider or data packet");
}

TEST_F(PlanTable, doneMarksReachThePlanFileWhenTheTableCloses) {
    write("dbquery.xml", plan(kRow1));
    {
        auto t = planTable();
        t->Open();
        t->Edit();
        t->FieldByName("STATO").SetAsString("S");
        t->Post();
        EXPECT_NE(t->ChangeCount(), 0);
    }  // the table closes with its owner
    EXPECT_EQ(
        read("dbquery.xml"),
        plan(
            "<ROW RowState=\"1\"" + kRow1.substr(4) +
                "<ROW RowState=\"8\" ID=\"1\" STATO=\"S\" TIPO=\"S\" SEPARATORE=\";\" ORDINE=\"1\" "
                "SVUOTA_TABELLA=\"N\" VERSIONE=\"1.0.4.0\"/>",
            planFields(), "<PARAMS CHANGE_LOG=\"2 1 8\"/>"));
    auto t = planTable();
    t->Open();
    EXPECT_EQ(t->RecordCount(), 1);
    EXPECT_EQ(t->FieldByName("STATO").AsString(), "S");
    EXPECT_EQ(t->FieldByName("TESTO").AsString(), "select B.NOME_COMUNE from AFDATGEN A;");
    EXPECT_EQ(t->ChangeCount(), 0);
}

TEST_F(PlanTable, aScriptClearedByAnEditStaysClearedAfterAReload) {
    write("dbquery.xml", plan(kRow1));
    {
        auto t = planTable();
        t->Open();
        t->Edit();
        t->FieldByName("TESTO").Clear();
        t->Post();
    }
    auto t = planTable();
    t->Open();
    EXPECT_TRUE(t->FieldByName("TESTO").IsNull());
}

TEST_F(PlanTable, reloadWritesOnlyWhenChangedOrMissing) {
    write("dbquery.xml", plan(kRow1));
    auto t = planTable();
    t->Open();
    // Unchanged: the reload reads what another program wrote meanwhile.
    write("dbquery.xml", plan("<ROW ID=\"7\"/>"));
    t->LoadFile("./dbquery.xml");
    EXPECT_EQ(t->FieldByName("ID").AsInteger(), 7);
    // Missing: the table in memory is written anew, then read back unchanged.
    fs::remove("dbquery.xml");
    t->LoadFile("./dbquery.xml");
    EXPECT_EQ(t->FieldByName("ID").AsInteger(), 7);
    EXPECT_EQ(read("dbquery.xml"), plan("<ROW ID=\"7\"/>"));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(fs::status("dbquery.xml").permissions(), static_cast<fs::perms>(0666 & ~mask));
    // A save of the plan's own file leaves the table unchanged: the file holds it now, and a
    // close writes again only a file that went missing meanwhile.
    t->Edit();
    t->FieldByName("STATO").SetAsString("S");
    t->SaveFile("./dbquery.xml");
    const std::string saved = read("dbquery.xml");
    EXPECT_EQ(t->ChangeCount(), 0);
    fs::remove("dbquery.xml");
    t->Close();
    EXPECT_EQ(read("dbquery.xml"), saved);
}

TEST_F(PlanTable, emptiedTableIsWrittenWithItsLayoutOnly) {
    write("dbquery.xml", plan(kRow1));
    auto t = planTable();
    t->Open();
    t->EmptyTable();
    EXPECT_EQ(t->RecordCount(), 0);
    EXPECT_TRUE(t->Eof());
    t->LoadFile("./dbquery.xml");
    EXPECT_EQ(read("dbquery.xml"), plan(""));
    EXPECT_EQ(t->RecordCount(), 0);
}

TEST_F(PlanTable, bindingErrorsNameTheFieldAndLeaveTheTableClosed) {
    struct Case {
        std::string fields;
        std::string message;
    };
    const Case cases[] = {
        {planFields("i4", "40", false), "cdsQuery: Field 'ORDINE' not found"},
        {planFields("string"),
         "cdsQuery: Type mismatch for field 'ID', expecting: Integer actual: String"},
        {planFields("i8"),
         "cdsQuery: Type mismatch for field 'ID', expecting: Integer actual: LargeInt"},
        {planFields("i1"), "cdsQuery: Field 'ID' not found"},
        {planFields("r8"),
         "cdsQuery: Type mismatch for field 'ID', expecting: Integer actual: Float"},
    };
    for (const auto& c : cases) {
        write("dbquery.xml", plan("", c.fields));
        auto t = planTable();
        EXPECT_EQ(messageOf<EDatabaseError>([&] { t->Open(); }), c.message);
        EXPECT_FALSE(t->Active());
    }
    write("dbquery.xml", plan("", planFields("ui2")));  // every integer type of the file binds
    auto t = planTable();
    EXPECT_NO_THROW(t->Open());
}

TEST_F(PlanTable, anUnknownIndexFieldChangesNothing) {
    write("dbquery.xml", plan("<ROW ID=\"2\"/><ROW ID=\"1\"/>"));
    auto t = planTable();
    t->SetIndexFieldNames("ID;NOPE");
    EXPECT_EQ(messageOf<EDatabaseError>([&] { t->Open(); }), "cdsQuery: Field 'NOPE' not found");
    EXPECT_FALSE(t->Active());
    t->SetIndexFieldNames("ID");
    t->Open();
    EXPECT_EQ(messageOf<EDatabaseError>([&] { t->SetIndexFieldNames("NOPE"); }),
              "cdsQuery: Field 'NOPE' not found");
    t->Insert();
    t->FieldByName("ID").SetAsInteger(0);
    t->Post();  // still placed by ID
    EXPECT_EQ(t->RecordIndex(), 0);
}

TEST_F(PlanTable, fieldObjectsRefuseWhatTheirFieldCannotHold) {
    write("dbquery.xml", plan(kRow1));
    auto t = planTable();
    t->Open();
    TField& extra = t->AddField("EXTRA", FieldKind::String, 5);  // bound to nothing
    t->Edit();
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { extra.SetAsString("x"); }, "cdsQuery: Field 'EXTRA' not found"},
        {[&] { extra.SetAsInteger(1); }, "cdsQuery: Field 'EXTRA' not found"},
        {[&] { t->FieldByName("ID").SetAsInteger(1LL << 32); },
         "'4294967296' is not a valid value for field 'ID'"},
        {[&] { t->FieldByName("ID").SetAsString("-2147483649"); },
         "'-2147483649' is not a valid value for field 'ID'"},
    };
    for (const auto& [set, message] : cases) EXPECT_EQ(messageOf<EDatabaseError>(set), message);
    EXPECT_EQ(t->FieldByName("ID").AsInteger(), 1);
}

TEST_F(PlanTable, integerTextIsASingleOptionalSignThenDigits) {
    write("dbquery.xml", plan(kRow1));
    auto t = planTable();
    t->Open();
    struct Case {
        const char* text;
        int64_t value;  // ignored where `error` is set
        const char* error;
    };
    const Case cases[] = {
        {"7", 7, nullptr},
        {"+7", 7, nullptr},
        {"-7", -7, nullptr},
        {"+-5", 0, "'+-5' is not a valid integer value"},
        {"-+5", 0, "'-+5' is not a valid integer value"},
        {"--5", 0, "'--5' is not a valid integer value"},
        {"- 5", 0, "'- 5' is not a valid integer value"},
        {" 5", 0, "' 5' is not a valid integer value"},
        {"5x", 0, "'5x' is not a valid integer value"},
        {"+", 0, "'+' is not a valid integer value"},
    };
    for (const Case& c : cases) {
        t->Edit();
        t->FieldByName("ID").SetAsInteger(1);
        if (c.error != nullptr) {
            EXPECT_EQ(messageOf<EDatabaseError>([&] { t->FieldByName("ID").SetAsString(c.text); }),
                      c.error);
            EXPECT_EQ(t->FieldByName("ID").AsInteger(), 1) << c.text;
        } else {
            t->FieldByName("ID").SetAsString(c.text);
            EXPECT_EQ(t->FieldByName("ID").AsInteger(), c.value) << c.text;
        }
        // Text in a string field reads as an integer by the same rule.
        t->FieldByName("SEPARATORE").SetAsString(c.text);
        if (c.error != nullptr) {
            EXPECT_EQ(messageOf<EDatabaseError>([&] { t->FieldByName("SEPARATORE").AsInteger(); }),
                      c.error);
        } else {
            EXPECT_EQ(t->FieldByName("SEPARATORE").AsInteger(), c.value) << c.text;
        }
        t->Cancel();
    }
}

TEST_F(PlanTable, aFailingWriteBackDoesNotEndTheProgramWhenTheOwnerGoes) {
    write("dbquery.xml", plan(kRow1));
    auto t = planTable();
    t->SetFileName("./no-such-folder/dbquery.cds");
    t->LoadFile("dbquery.xml");
    t->Edit();
    t->FieldByName("ORDINE").SetAsInteger(2);
    t->Post();
    EXPECT_THROW(t->Close(), EFCreateError);
    EXPECT_TRUE(t->Active());
    t.reset();  // the write-back fails again, inside the destructor
    EXPECT_FALSE(fs::exists("no-such-folder"));
}

TEST_F(PlanTable, aValueNoFileCouldHoldIsRefusedWhereItIsSet) {
    write("dbquery.xml", plan(kRow1));
    auto t = planTable();
    t->Open();
    t->Edit();
    const std::pair<const char*, FieldValue> cases[] = {
        {"ORDINE", std::string("x")},     // text in an integer field
        {"ORDINE", int64_t{1} << 40},     // out of its range
        {"STATO", int64_t{1}},            // an integer in a string field
        {"TESTO", std::u16string(u"w")},  // wide text in a memo
    };
    for (const auto& [field, value] : cases) {
        EXPECT_EQ(messageOf<EDatabaseError>(
                      [&, f = field, &v = value] { t->FieldByName(f).SetValue(v); }),
                  std::string("Invalid value for field '") + field + "'");
    }
    // What is refused leaves the row as it was, and the table can still be written.
    EXPECT_EQ(t->FieldByName("ORDINE").AsInteger(), 1);
    t->FieldByName("STATO").SetValue(std::string("SSS"));  // cut to the field's length
    EXPECT_EQ(t->FieldByName("STATO").AsString(), "S");
    t->Post();
    EXPECT_NO_THROW(t->Close());
}

TEST_F(PlanTable, stringObjectsTakeTheNarrowerOfTheirLengthAndTheFileWidth) {
    for (const auto& [width, expected] : {std::pair{"30", 30}, std::pair{"50", 40}}) {
        write("dbquery.xml",
              plan("<ROW ID=\"1\" VERSIONE=\"10.20.30.40.5678\"/>", planFields("i4", width)));
        auto t = planTable();
        t->Open();
        EXPECT_EQ(t->FieldByName("NOME_TABELLA").Size(), expected);
        EXPECT_EQ(t->FieldByName("VERSIONE").AsString(), "10.20.30.40.5678");  // read whole
        t->Edit();
        t->FieldByName("NOME_TABELLA").SetAsString(std::string(60, 'x'));
        t->FieldByName("VERSIONE").SetAsString("10.20.30.40.5678");
        t->Post();
        EXPECT_EQ(t->FieldByName("NOME_TABELLA").AsString(),
                  std::string(static_cast<size_t>(expected), 'x'));
        EXPECT_EQ(t->FieldByName("VERSIONE").AsString(), "10.20.30.40.567");
        t->Cancel();
    }
}

TEST_F(PlanTable, postingRecordsVersionsAndTheChangeLog) {
    write("dbquery.xml", plan(kRow1));
    auto t = planTable();
    t->Open();
    t->Edit();
    t->FieldByName("STATO").SetAsString("N");  // same value: no version
    t->Post();
    EXPECT_EQ(t->ChangeCount(), 0);
    EXPECT_EQ(t->Packet().rows.size(), 1u);

    t->Insert();
    t->FieldByName("TIPO").SetAsString("S");
    EXPECT_EQ(messageOf<EDBClient>([&] { t->Post(); }), "Field value required.");
    EXPECT_EQ(t->GetState(), TClientDataSet::State::Insert);
    EXPECT_EQ(t->FieldByName("TIPO").AsString(), "S");  // still pending with its values
    t->FieldByName("ID").SetAsInteger(0);
    t->Post();  // version 2, inserted; sorts before ID 1
    EXPECT_EQ(t->RecordIndex(), 0);
    t->Edit();
    t->FieldByName("ID").SetAsInteger(5);
    t->Post();  // version 3 replaces the inserted version 2: status 12; moves after ID 1
    EXPECT_EQ(t->RecordIndex(), 1);
    t->First();
    t->Delete();  // version 1
    const auto& p = t->Packet();
    ASSERT_EQ(p.rows.size(), 3u);
    EXPECT_EQ(p.rows[0].status, rowstate::kDeleted);
    EXPECT_EQ(p.rows[1].status, rowstate::kInserted | rowstate::kSuperseded);
    EXPECT_EQ(p.rows[2].status, rowstate::kInserted | rowstate::kModified);
    EXPECT_EQ(p.changeLog, (std::vector<ChangeLogEntry>{{2, 0, 4}, {3, 2, 8}, {1, 0, 2}}));
    EXPECT_EQ(t->RecordCount(), 1);
    EXPECT_EQ(t->FieldByName("ID").AsInteger(), 5);
    // The history survives a reload.
    t->LoadFile("");
    EXPECT_EQ(t->Packet().changeLog.size(), 3u);
    EXPECT_EQ(t->RecordCount(), 1);
}

TEST_F(PlanTable, rowsWithEqualIdAreAllKept) {
    write("dbquery.xml",
          plan("<ROW ID=\"2\" TIPO=\"A\"/><ROW ID=\"1\"/><ROW ID=\"2\" TIPO=\"B\"/>"));
    auto t = planTable();
    t->Open();
    std::string tipi;
    for (t->First(); !t->Eof(); t->Next()) tipi += t->FieldByName("TIPO").AsString();
    EXPECT_EQ(tipi, "AB");
}

TEST_F(PlanTable, anyRowReadsItsStoredValuesWhileAnotherIsPending) {
    write("dbquery.xml", plan("<ROW ID=\"2\" TIPO=\"A\"/><ROW ID=\"1\" TIPO=\"B\"/>"));
    auto t = planTable();
    t->Open();
    const auto tipo = static_cast<size_t>(t->FieldByName("TIPO").LayoutIndex());
    EXPECT_FALSE(t->Modified());
    t->Next();
    t->Edit();
    EXPECT_FALSE(t->Modified());  // editing alone changes nothing
    t->FieldByName("TIPO").SetAsString("C");
    EXPECT_TRUE(t->Modified());
    // Rows in ID order, as stored: the pending "C" is seen only through the current row.
    EXPECT_EQ(std::get<std::string>(t->RowValue(0, tipo)), "B");
    EXPECT_EQ(std::get<std::string>(t->RowValue(1, tipo)), "A");
    EXPECT_EQ(std::get<std::string>(t->CurrentValue(tipo)), "C");
    EXPECT_TRUE(isNull(t->RowValue(2, tipo)));
    EXPECT_TRUE(isNull(t->RowValue(-1, tipo)));
    t->Post();
    EXPECT_FALSE(t->Modified());
    EXPECT_EQ(std::get<std::string>(t->RowValue(1, tipo)), "C");
    t->Insert();
    EXPECT_FALSE(t->Modified());
    t->Cancel();
    EXPECT_EQ(t->RecordCount(), 2);
}

// Without an index order the rows are seen as stored, and every one of them reads its own
// values, by one field and whole: as loaded, and after a deletion leaves a gap in the store.
TEST_F(PlanTable, aTableWithoutAnIndexOrderReadsEveryRowInFileOrder) {
    write("data.xml", plan("<ROW ID=\"3\" TIPO=\"C\"/><ROW ID=\"1\" TIPO=\"A\"/>"
                           "<ROW ID=\"2\" TIPO=\"B\"/>"));
    TClientDataSet cds("cds");
    cds.LoadFile("data.xml");
    const auto tipo = static_cast<size_t>(cds.FieldByName("TIPO").LayoutIndex());
    auto tipi = [&] {
        std::string byField;
        std::string byRow;
        std::vector<FieldValue> row;
        for (int i = 0; i < cds.RecordCount(); ++i) {
            const FieldValue value = cds.RowValue(i, tipo);
            byField += isNull(value) ? "-" : std::get<std::string>(value);
            cds.RowValues(i, row);
            byRow += isNull(row.at(tipo)) ? "-" : std::get<std::string>(row.at(tipo));
        }
        EXPECT_EQ(byField, byRow);
        return byField;
    };
    ASSERT_EQ(cds.RecordCount(), 3);
    EXPECT_EQ(tipi(), "CAB");
    EXPECT_TRUE(isNull(cds.RowValue(3, tipo)));
    cds.Next();
    cds.Delete();
    ASSERT_EQ(cds.RecordCount(), 2);
    EXPECT_EQ(tipi(), "CB");
    EXPECT_TRUE(isNull(cds.RowValue(2, tipo)));
}

TEST_F(PlanTable, failedWriteBackKeepsTheTableOpenWithItsChanges) {
    write("source.xml", plan(kRow1));
    auto t = planTable();
    t->SetFileName("./missing-folder/dbquery.xml");
    t->LoadFile("source.xml");
    t->Edit();
    t->FieldByName("STATO").SetAsString("S");
    t->Post();
    const std::string expected = "Cannot create file \"" +
                                 (m_dir / "missing-folder/dbquery.xml").string() +
                                 "\". No such file or directory";
    EXPECT_EQ(messageOf<EFCreateError>([&] { t->LoadFile("source.xml"); }), expected);
    EXPECT_TRUE(t->Active());
    EXPECT_EQ(t->FieldByName("STATO").AsString(), "S");
    fs::create_directory("missing-folder");
    t->Close();
    auto back = planTable();
    back->LoadFile("./missing-folder/dbquery.xml");
    EXPECT_EQ(back->FieldByName("STATO").AsString(), "S");
}

TEST_F(PlanTable, aWriteThatRunsOutOfSpaceLeavesTheOldFileWhole) {
    write("dbquery.xml", plan(kRow1));
    const std::string before = read("dbquery.xml");
    auto t = planTable();
    t->Open();
    t->Edit();
    t->FieldByName("TESTO").SetAsString(std::string(200000, 'x'));
    t->Post();
    // A file size limit makes the write fail part-way, as a full disk would.
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const std::string message = messageOf<EFCreateError>([&] { t->SaveFile("./dbquery.xml"); });
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(message.rfind("Cannot create file \"" + (m_dir / "dbquery.xml").string() + "\". ", 0),
              0u)
        << message;
    EXPECT_EQ(read("dbquery.xml"), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator{}), 1)
        << "no temporary file is left behind";
    t->SaveFile("./dbquery.xml");
    EXPECT_GT(read("dbquery.xml").size(), 200000u);
}

TEST_F(PlanTable, saveChoosesXmlByExtensionAndDoesNothingWhenClosed) {
    write("dbquery.xml", plan(kRow1));
    auto t = planTable();
    t->SaveFile("closed.xml");
    EXPECT_FALSE(fs::exists("closed.xml"));
    t->Open();
    t->SaveFile("copy.XML");
    EXPECT_EQ(read("copy.XML"), read("dbquery.xml"));
    t->SaveFile("copy.cds");
    EXPECT_TRUE(isBinaryPacket(read("copy.cds")));
    t->SaveFile("forced.cds", TClientDataSet::Format::Xml);
    EXPECT_EQ(read("forced.cds"), read("dbquery.xml"));
    auto c = std::make_unique<TClientDataSet>("cds");
    c->LoadFile("copy.cds");
    EXPECT_EQ(c->FieldByName("TESTO").AsString(), "select B.NOME_COMUNE from AFDATGEN A;");
}

TEST_F(PlanTable, aTableWithoutFixedFieldsTakesTheFileLayoutAndNeverWrites) {
    write("data.xml", plan("<ROW ID=\"9\" NOME_FILE=\"x\"/>", planFields("i4", "40", false)));
    TClientDataSet cds("cds");
    cds.LoadFile("data.xml");
    ASSERT_EQ(cds.Fields().size(), 9u);
    EXPECT_EQ(cds.Fields()[0]->FieldName(), "ID");
    EXPECT_EQ(cds.FieldByName("NOME_FILE").AsString(), "x");
    cds.Edit();
    cds.FieldByName("NOME_FILE").SetAsString("y");
    cds.Post();
    fs::remove("data.xml");
    cds.Close();
    EXPECT_FALSE(fs::exists("data.xml"));
}

}  // namespace
}  // namespace tarvolen
