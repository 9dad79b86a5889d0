// An import's data file streamed a piece at a time must read exactly as decodeImportData reads
// it whole: the same layout, encoding note and versions, in order, and the same refusal with the
// same message, whatever the size of the pieces; a refused version and those after it are never
// handed over; a file is read as it stood when opened, with readWholeFile's errors.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "BinaryPacketSupport.h"
#include "base/Cp1252.h"
#include "plan/DataFileReading.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "plan/PacketCodec.h"
#include "plan/PacketStream.h"
#include "tests/support/TestFolder.h"

namespace tarvolen {
namespace {

namespace fs = std::filesystem;
using binarytest::Bytes;

// Everything a stream handed over, as a table: the layout with the versions appended in the
// order they came.
class Recorder : public PacketRowConsumer {
  public:
    void layout(const DataPacket& packet, const std::optional<TextEncodingNote>& encoding) override {
        ++layouts;
        table.fields = packet.fields;
        table.attributes = packet.attributes;
        table.changeLog = packet.changeLog;
        table.rows.setFieldCount(packet.fields.size());
        this->encoding = encoding;
        EXPECT_EQ(packet.rows.size(), 0u) << "the layout comes without rows";
    }
    void row(const StreamedRow& row) override {
        EXPECT_EQ(layouts, 1) << "a version before the layout";
        versions.push_back(row.version);
        visible.push_back(row.visible);
        table.rows.push_back({row.status, *row.values});
    }
    int layouts = 0;
    DataPacket table;
    std::optional<TextEncodingNote> encoding;
    std::vector<size_t> versions;
    std::vector<bool> visible;
};

// How a read ended: "" when it did not throw, else the kind of error and its message.
struct Outcome {
    std::string error;
    size_t record = 0;  // of an EDataFileRefused
};

Outcome outcomeOf(const std::function<void()>& read) {
    Outcome o;
    try {
        read();
    } catch (const EDataFileRefused& e) {
        o.error = std::string("refused: ") + e.what();
        o.record = e.record();
    } catch (const EDBClient& e) {
        o.error = std::string("decoding: ") + e.what();
    } catch (const EFOpenError& e) {
        o.error = std::string("open: ") + e.what();
    }
    return o;
}

void expectSameEncoding(const std::optional<TextEncodingNote>& actual,
                        const std::optional<TextEncodingNote>& expected) {
    ASSERT_EQ(actual.has_value(), expected.has_value());
    if (!expected) return;
    EXPECT_EQ(actual->encoding, expected->encoding);
    EXPECT_EQ(actual->reason, expected->reason);
    EXPECT_EQ(actual->declared, expected->declared);
    EXPECT_EQ(actual->beyondAscii, expected->beyondAscii);
}

// Streams `bytes` in pieces of each size and checks every result against decodeImportData.
void expectStreamsAsDecoded(const std::string& bytes, const std::vector<size_t>& pieces) {
    std::optional<TextEncodingNote> encoding;
    DataPacket decoded;
    const Outcome whole = outcomeOf([&] { decoded = decodeImportData(bytes, &encoding); });
    for (const size_t piece : pieces) {
        SCOPED_TRACE("pieces of " + std::to_string(piece) + " bytes");
        Recorder recorder;
        PacketBytesSource source(bytes);
        const Outcome streamed = outcomeOf([&] { streamImportData(source, recorder, piece); });
        EXPECT_EQ(streamed.error, whole.error);
        EXPECT_EQ(streamed.record, whole.record);
        // Versions come in storage order, with no gap.
        for (size_t i = 0; i < recorder.versions.size(); ++i) {
            ASSERT_EQ(recorder.versions[i], i + 1);
            const uint8_t status = recorder.table.rows.status(i);
            EXPECT_EQ(recorder.visible[i],
                      (status & (rowstate::kSuperseded | rowstate::kDeleted)) == 0);
        }
        if (whole.error.empty()) {
            ASSERT_EQ(recorder.layouts, 1);
            expectSameEncoding(recorder.encoding, encoding);
            binarytest::expectSamePacket(recorder.table, decoded);
        } else if (whole.record > 0) {
            // Refused for a value: the versions before it came, and none from it on.
            EXPECT_EQ(recorder.versions.size(), whole.record - 1);
        } else if (whole.error.rfind("refused: The data file", 0) == 0) {
            // Refused for its text: before anything was handed over.
            EXPECT_EQ(recorder.layouts, 0);
            EXPECT_TRUE(recorder.versions.empty());
        }
    }
}

const std::vector<size_t> kSmallPieces = {1, 2, 3, 7, 64, 1000, kStreamPieceBytes};
const std::vector<size_t> kLargePieces = {64, 4096, 65536, kStreamPieceBytes};

// The import layout: an integer, a string of WIDTH 40, a date, a decimal and a text memo.
DataPacket importTable() {
    return decodeXmlPacket(
        "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"ID\" fieldtype=\"i4\"/>"
        "<FIELD attrname=\"NOME\" fieldtype=\"string\" WIDTH=\"40\"/>"
        "<FIELD attrname=\"NATO\" fieldtype=\"date\"/>"
        "<FIELD attrname=\"IMPORTO\" fieldtype=\"fixed\" DECIMALS=\"2\" WIDTH=\"12\"/>"
        "<FIELD attrname=\"NOTE\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/></FIELDS>"
        "<PARAMS/></METADATA><ROWDATA></ROWDATA></DATAPACKET>");
}

DataPacket importRows(int rows, const std::string& name = "Cognome Nome ") {
    DataPacket p = importTable();
    for (int i = 0; i < rows; ++i) {
        p.rows.push_back({0,
                          {int64_t{i}, name + std::to_string(i), int64_t{730000 + i},
                           std::to_string(i) + "." + std::to_string(10 + i % 90),
                           makeBlob("nota <" + std::to_string(i) + ">\r\n\"riga\" & 'altra'")}});
    }
    return p;
}

// Rows edited and deleted as a table posts them: each edit keeps the memo of the version it
// replaces, so both forms leave the memo out and take it from there.
DataPacket editedRows() {
    DataPacket p = importRows(40);
    for (size_t i = 0; i < 40; i += 3) {
        RowVersion edited = p.rows[i];
        edited.values[1] = std::string("Modificato ") + std::to_string(i);
        p.rows.append(rowstate::kModified, edited.values, i);
        p.rows.setStatus(i, rowstate::kSuperseded);
        p.changeLog.push_back(
            {static_cast<uint32_t>(p.rows.size()), static_cast<uint32_t>(i + 1), 8});
    }
    for (size_t i = 1; i < 40; i += 7) {
        p.rows.setStatus(i, rowstate::kDeleted);
        p.changeLog.push_back({static_cast<uint32_t>(i + 1), 0, 2});
    }
    return p;
}

TEST(PacketStream, readsEveryFormAndTextAsTheWholeFileReads) {
    const std::string memo = std::string(100000, 'm') + "&<>\"'";
    DataPacket long_ = importRows(3);
    long_.rows.push_back({0, {int64_t{9}, std::string("lungo"), FieldValue{}, FieldValue{},
                              makeBlob(memo)}});
    const std::string accented = encodeXmlPacket(importRows(200, "Citt\xE0 N\xB0 "));
    const std::string utf8 = cp1252::toUtf8(accented);
    const std::string declaredUtf8 =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + utf8.substr(utf8.find("<DATAPACKET"));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"XML as the tool writes it", encodeXmlPacket(importRows(300))},
        {"binary", encodeBinaryPacket(importRows(300))},
        {"XML with edits, deletions and kept memos", encodeXmlPacket(editedRows())},
        {"binary with edits, deletions and kept memos", encodeBinaryPacket(editedRows())},
        {"XML with a memo of 100 KB", encodeXmlPacket(long_)},
        {"binary with a memo of 100 KB", encodeBinaryPacket(long_)},
        {"Windows-1252 text beyond ASCII", accented},
        {"UTF-8 without a declaration", utf8},
        {"UTF-8 after a byte-order mark", "\xEF\xBB\xBF" + utf8},
        {"UTF-8 declared", declaredUtf8},
        {"UTF-8 text declared as Windows-1252",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?>" +
             utf8.substr(utf8.find("<DATAPACKET"))},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        expectStreamsAsDecoded(bytes, kLargePieces);
    }
}

TEST(PacketStream, smallPacketsReadAlikeInPiecesOfAnySize) {
    const std::string layout =
        "<FIELDS><FIELD attrname=\"ID\" fieldtype=\"i4\"/>"
        "<FIELD attrname=\"NOME\" fieldtype=\"string\" WIDTH=\"5\"/>"
        "<FIELD attrname=\"M\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/></FIELDS>";
    auto xml = [&](const std::string& rows) {
        return "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA>" +
               layout + "<PARAMS/></METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>";
    };
    std::string accentedRows;
    for (int i = 0; i < 30; ++i) {
        accentedRows += "<ROW ID=\"" + std::to_string(i) + "\" M=\"caf\xC3\xA9 \xE2\x82\xAC" +
                        std::string(static_cast<size_t>(i), 'x') + "\xC2\xB0\"/>";
    }
    Bytes trailing;
    trailing.raw(encodeBinaryPacket(importRows(2))).u8(0);
    const std::string binary = encodeBinaryPacket(importRows(5));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"rows in any attribute order, comments between them",
         xml("<ROW NOME=\"b\" ID=\"2\"/><!-- <ROW ID=\"3\"/> --><?pi ?>\r\n<ROW ID=\"4\" "
             "M=\"&#233;&#x20AC;&amp;\" ID=\"5\"/>")},
        {"no DATAPACKET element",
         "<METADATA>" + layout + "<PARAMS/></METADATA><ROWDATA><ROW ID=\"1\"/></ROWDATA>"},
        {"no rows", xml("")},
        {"rows closed at once", "<DATAPACKET><METADATA>" + layout +
                                    "<PARAMS/></METADATA><ROWDATA/></DATAPACKET>"},
        {"a value that reads as null, and another one after it",
         xml("<ROW ID=\"1\"/><ROW ID=\"2\"/><ROW ID=\"12,50\"/><ROW ID=\"4\"/><ROW ID=\"x\"/>")},
        {"a string longer than its width", xml("<ROW ID=\"1\"/><ROW NOME=\"abcdefg\"/>")},
        {"a character Windows-1252 lacks, by reference", xml("<ROW ID=\"1\" M=\"&#337;\"/>")},
        {"a row left open", xml("<ROW ID=\"1\"/><ROW ID=\"2\">")},
        {"cut short", xml("<ROW ID=\"1\"/><ROW ID=\"2\"/>").substr(0, 150)},
        {"the element form of a row", xml("<ROW ID=\"1\"></ROW>")},
        {"no layout", "<DATAPACKET><ROWDATA/></DATAPACKET>"},
        {"a nested table", "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"i4\">"
                           "<FIELDS/></FIELD></FIELDS></METADATA></DATAPACKET>"},
        {"nothing at all", ""},
        {"blanks only", " \r\n\t "},
        {"a prolog only", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"},
        {"UTF-8 declared, a character Windows-1252 lacks in a value",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" +
             xml("<ROW ID=\"1\"/><ROW M=\"Erd\xC5\x91s\"/>").substr(40)},
        {"UTF-8 declared, accented letters in every row",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + xml(accentedRows).substr(40)},
        {"UTF-8 declared, a byte that is not UTF-8 far on",
         "<?xml version=\"1.0\" encoding=\"utf-8\"?>" +
             xml("<ROW ID=\"1\"/><ROW M=\"caf\xE9\"/>").substr(40)},
        {"a byte-order mark and then no UTF-8", "\xEF\xBB\xBF" + xml("<ROW M=\"\xE8\"/>")},
        {"binary", binary},
        {"binary cut short", binary.substr(0, binary.size() - 3)},
        {"binary with a byte after its last row", trailing.str()},
        {"binary with more rows than bytes", binarytest::header(1, 1000000).str()},
        {"binary without its layout", binarytest::header(0, 0, 0).str()},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        expectStreamsAsDecoded(bytes, kSmallPieces);
    }
}

// Every packet of the fuzz targets' seed corpus and of the shared conformance folder (files
// other programs wrote), as data files.
TEST(PacketStream, seedAndConformanceFilesReadAsTheWholeFileReads) {
    std::vector<fs::path> files;
    for (const char* folder : {"xml", "binary"}) {
        const fs::path corpus = fs::path(TARVOLEN_TEST_DATA_DIR) / "../../fuzz/corpus" / folder;
        for (const auto& entry : fs::directory_iterator(corpus)) files.push_back(entry.path());
    }
    const fs::path conformance = TARVOLEN_CONFORMANCE_DIR;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(conformance, ec)) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".xml" || extension == ".cds") files.push_back(entry.path());
    }
    ASSERT_GE(files.size(), 17u);
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        const std::string bytes = readWholeFile(file.string());
        expectStreamsAsDecoded(bytes, bytes.size() <= 70000 ? kSmallPieces : kLargePieces);
    }
    if (ec) GTEST_SKIP() << "no conformance folder at " << conformance.string();
}

// A source that remembers how far it was read when the first version came.
class WatchedSource : public PacketSource {
  public:
    explicit WatchedSource(std::string_view bytes) : m_bytes(bytes) {}
    uint64_t size() const override { return m_bytes.size(); }
    void read(uint64_t offset, char* to, size_t count) override {
        m_bytes.read(offset, to, count);
        lastEnd = offset + count;
    }
    uint64_t lastEnd = 0;

  private:
    PacketBytesSource m_bytes;
};

class FirstRowWatch : public PacketRowConsumer {
  public:
    explicit FirstRowWatch(const WatchedSource& source) : m_source(source) {}
    void layout(const DataPacket&, const std::optional<TextEncodingNote>&) override {}
    void row(const StreamedRow& row) override {
        if (row.version == 1) readWhenFirstCame = m_source.lastEnd;
        ++rows;
    }
    uint64_t readWhenFirstCame = 0;
    size_t rows = 0;

  private:
    const WatchedSource& m_source;
};

TEST(PacketStream, versionsComeBeforeTheFileIsReadToItsEnd) {
    for (const std::string& bytes :
         {encodeXmlPacket(importRows(20000)), encodeBinaryPacket(importRows(20000))}) {
        WatchedSource source(bytes);
        FirstRowWatch watch(source);
        streamImportData(source, watch, 65536);
        EXPECT_EQ(watch.rows, 20000u);
        // The XML file was looked at whole before its first value, then read again.
        EXPECT_LE(watch.readWhenFirstCame, 2 * 65536u);
    }
}

TEST(PacketStream, aFileIsReadAsItStoodWithTheErrorsOfAWholeRead) {
    testing::TempFolder folder;
    const std::string path = (folder.path() / "dati.xml").string();
    const std::string bytes = encodeXmlPacket(importRows(2000));
    std::ofstream(path, std::ios::binary) << bytes;

    Recorder recorder;
    PacketFileSource file(path);
    streamImportData(file, recorder, 4096);
    binarytest::expectSamePacket(recorder.table, decodeImportData(bytes));

    // The file made shorter after it was opened, before it was read.
    PacketFileSource shortened(path);
    fs::resize_file(path, bytes.size() / 2);
    Recorder cut;
    EXPECT_EQ(outcomeOf([&] { streamImportData(shortened, cut, 4096); }).error,
              "open: Cannot open file \"" + fullPath(path) +
                  "\". The file changed while it was read");

    for (const std::string& missing : {(folder.path() / "assente.xml").string(),
                                      folder.path().string()}) {
        SCOPED_TRACE(missing);
        EXPECT_EQ(outcomeOf([&] { PacketFileSource source(missing); }).error,
                  outcomeOf([&] { readWholeFile(missing); }).error);
        EXPECT_NE(outcomeOf([&] { readWholeFile(missing); }).error, "");
    }
}

}  // namespace
}  // namespace tarvolen
