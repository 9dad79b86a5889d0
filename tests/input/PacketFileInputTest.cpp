// Bad plan files and bad import data files, XML and binary, each read in a child process under
// limits (BoundedChild.h): each is refused with its decoding error, or read in full, within
// bounded memory and time, and the folder holding it is left exactly as it was. A plan file is
// read as the program reads it at start-up, and the plan table is closed again after the
// failure, which must not write anything over the bad file.

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "BoundedChild.h"
#include "engine/ImportFile.h"
#include "engine/dm_main.h"
#include "plan/ClientDataSet.h"
#include "plan/PacketCodec.h"
#include "tests/support/TempDatabase.h"

namespace tarvolen::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMismatch = "Mismatch in datapacket.";

// A data file with a field of each kind the bad cases bend: an integer, a text, a wide text and
// a text blob, with markers the cases find in the binary form.
std::string dataXml(const std::string& wide = "UNI") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><DATAPACKET "
           "Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"N\" fieldtype=\"i4\"/><FIELD "
           "attrname=\"S\" fieldtype=\"string\" WIDTH=\"20\"/><FIELD attrname=\"U\" "
           "fieldtype=\"string.uni\" WIDTH=\"40\"/><FIELD attrname=\"B\" fieldtype=\"bin.hex\" "
           "SUBTYPE=\"Text\"/></FIELDS><PARAMS/></METADATA><ROWDATA><ROW N=\"1\" S=\"STRMARK\" "
           "U=\"" +
           wide + "\" B=\"BLOBMARK\"/><ROW N=\"2\" S=\"b\"/></ROWDATA></DATAPACKET>";
}

std::string dataBinary() {
    return encodeBinaryPacket(decodeXmlPacket(dataXml()));
}

// The binary form with `bytes` written over it at `offset`.
std::string patched(std::string packet, size_t offset, const std::string& bytes) {
    packet.replace(offset, bytes.size(), bytes);
    return packet;
}
std::string le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
    return s;
}
// Offset of a marker's first byte in the binary form.
size_t at(const std::string& packet, const std::string& marker) {
    const size_t found = packet.find(marker);
    EXPECT_NE(found, std::string::npos) << marker;
    return found;
}

// An XML data file of `rows` one-integer rows.
std::string tinyRowsXml(size_t rows) {
    std::string xml =
        "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"N\" fieldtype=\"i2\"/>"
        "</FIELDS><PARAMS/></METADATA><ROWDATA>";
    xml.reserve(xml.size() + rows * 12 + 32);
    for (size_t i = 0; i < rows; ++i) xml += "<ROW N=\"7\"/>";
    return xml + "</ROWDATA></DATAPACKET>";
}

struct FileCase {
    const char* name;
    std::string bytes;
    // The start of what reading gives: "error: <message>", or "read: <rows> rows".
    std::string outcome;
    long maxRssMb = 128;  // peak resident memory allowed to the reading child
};

class PacketFileInput : public ::testing::Test {
  protected:
    void SetUp() override { m_folder = database::testing::makeTempFolder("tarvolen-input-"); }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(m_folder / name, std::ios::binary) << bytes;
        return (m_folder / name).string();
    }
    // Reads the file in a child under limits and checks the outcome, the memory and the folder.
    void expectRead(const FileCase& c, const std::function<std::string(const std::string&)>& read,
                    const std::string& fileName) const {
        SCOPED_TRACE(c.name);
        const std::string file = write(fileName, c.bytes);
        const FolderSnapshot before(m_folder);
        const ChildOutcome r = runInChild([&] { return read(file); });
        EXPECT_TRUE(r.endedNormally) << "signal " << r.signal << " after " << r.seconds << " s";
        EXPECT_EQ(r.text.substr(0, c.outcome.size()), c.outcome) << r.text;
        if (!TARVOLEN_TEST_SANITIZED) {
            EXPECT_LE(r.maxRssMb, c.maxRssMb);
        }
        EXPECT_EQ(FolderSnapshot(m_folder), before);
        fs::remove(file);
    }

    fs::path m_folder;
};

// What the import reader makes of the file: its rows, or the error.
std::string readAsImport(const std::string& file) {
    TClientDataSet reader("cds");
    LoadImportFile(reader, file);
    return "read: " + std::to_string(reader.RecordCount()) + " rows";
}

TEST_F(PacketFileInput, badDataFilesAreRefusedWithTheirErrorAndLeaveTheFolderAsItWas) {
    const std::string binary = dataBinary();
    const std::string xml = dataXml();
    const std::string error = std::string("error: ") + kMismatch;
    std::vector<FileCase> cases = {
        {"goodXml", xml, "read: 2 rows"},
        {"goodBinary", binary, "read: 2 rows"},
        {"emptyFile", "", "error: "},
        // Cut anywhere: in the header, the field descriptors, the rows.
        {"binaryCutInHeader", binary.substr(0, 10), error},
        {"binaryCutAfterHeader", binary.substr(0, 24), error},
        {"binaryCutInFields", binary.substr(0, 40), error},
        {"binaryCutInRows", binary.substr(0, binary.size() - 5), error},
        {"binaryOneByteShort", binary.substr(0, binary.size() - 1), error},
        {"binaryOneByteLong", binary + "x", error},
        {"xmlCutInMetadata", xml.substr(0, 200), error},
        {"xmlCutInRows", xml.substr(0, xml.size() - 40), error},
        {"xmlCutInAttribute", xml.substr(0, xml.find("STRMARK") + 3), error},
        // A magic number that is not ours makes the bytes text, which is no XML packet.
        {"wrongMagic", patched(binary, 0, le32(0xBDE01997u)), error},
        {"zipFile", std::string("PK\x03\x04\x14\x00\x00\x00", 8) + std::string(100, '\0'), error},
        // Counts and lengths far beyond the bytes that follow them.
        {"hugeRowCount", patched(binary, 14, le32(0xFFFFFFFFu)), error},
        {"hugeFieldCount", patched(binary, 12, std::string("\xFF\xFF", 2)), error},
        {"hugeHeaderSize", patched(binary, 8, le32(0xFFFFFFF0u)), error},
        {"hugeBlobLength", patched(binary, at(binary, "BLOBMARK") - 4, le32(0xFFFFFFF0u)), error},
        {"stringLongerThanItsWidth", patched(binary, at(binary, "STRMARK") - 1, "\x7F"), error},
        {"stringLengthPastTheEnd", patched(binary, at(binary, "STRMARK") - 1, "\xFF"), error},
        {"wideStringOfOddLength",
         patched(binary, at(binary, std::string("U\0N\0I\0", 6)) - 1, "\x05"), error},
        {"emptyFieldName", patched(binary, 24, std::string("\0", 1)),
         "error: Field name can't be null"},
        {"xmlHugeWidth",
         std::string(xml).replace(xml.find("WIDTH=\"20\""), 10, "WIDTH=\"4294967296\""),
         "error: Invalid parameter."},
        {"xmlNoMetadata", "<DATAPACKET><ROWDATA><ROW N=\"1\"/></ROWDATA></DATAPACKET>",
         "error: Datapacket contains no meta data."},
        // No character: the reference stays as text, longer than the field's width, which an
        // import refuses rather than cut.
        {"xmlHugeCharacterReference",
         std::string(xml).replace(xml.find("STRMARK"), 7, "&#99999999999999999999;"),
         "error: record 1, field S: \"&#99999999999999999999;\" is longer than the field's "
         "width 20"},
        // A file that says it is UTF-8 but is not: refused, naming the first byte that is not.
        {"xmlInvalidUtf8InWideString", dataXml("\xC3\x28\xFF\xFE"),
         "error: The data file declares UTF-8 but is not UTF-8 at byte offset " +
             std::to_string(dataXml().find("UNI"))},
        // NUL bytes between elements count as blanks; inside a tag they break it.
        {"xmlNulBytesBetweenElements",
         std::string(xml).insert(xml.find("<ROWDATA>"), std::string(64, '\0')), "read: 2 rows"},
        {"xmlNulByteInATag", std::string(xml).insert(xml.find("<ROWDATA>") + 4, 1, '\0'), error},
        // 16 MB of tiny values: read whole, in memory bounded by the row count (each row in
        // memory takes about a hundred bytes, whatever its size in the file).
        {"sixteenMegabytesOfTinyRows", tinyRowsXml((16u << 20) / 12), "read: 1398101 rows", 320},
    };
    for (const FileCase& c : cases) expectRead(c, readAsImport, "data.xml");
    // 16 MB of tiny values in the binary form: four bytes a row (status, field status, value).
    {
        const std::string one = encodeBinaryPacket(decodeXmlPacket(tinyRowsXml(1)));
        const std::string row = one.substr(one.size() - 4);
        const size_t rows = (16u << 20) / row.size();
        std::string big =
            patched(one.substr(0, one.size() - 4), 14, le32(static_cast<uint32_t>(rows)));
        big.reserve(big.size() + rows * row.size());
        for (size_t i = 0; i < rows; ++i) big += row;
        expectRead({"binaryTinyRows", big, "read: " + std::to_string(rows) + " rows", 640},
                   readAsImport, "data.cds");
    }
}

// The plan as the program opens it at start-up, then closes it, as the program does when the
// opening failed.
std::string openAndClosePlan(const std::string& file) {
    TdmMain dm;
    dm.cdsQuery().SetFileName(file);
    std::string outcome;
    try {
        dm.DataModuleCreate();
        outcome = "read: " + std::to_string(dm.cdsQuery().RecordCount()) + " rows";
    } catch (const std::exception& e) {
        outcome = std::string("error: ") + e.what();
    }
    dm.DataModuleDestroy();
    return outcome;
}

TEST_F(PacketFileInput, aBadPlanFileIsRefusedAndNotWrittenOverWhenThePlanCloses) {
    const std::string plan =
        "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA>"
        "<FIELDS><FIELD attrname=\"ID\" fieldtype=\"i4\" required=\"true\"/><FIELD "
        "attrname=\"STATO\" fieldtype=\"string\" WIDTH=\"1\"/><FIELD attrname=\"TESTO\" "
        "fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/></FIELDS><PARAMS/></METADATA><ROWDATA>"
        "<ROW ID=\"1\" STATO=\"N\"/></ROWDATA></DATAPACKET>";
    const std::string error = std::string("error: ") + kMismatch;
    const std::vector<FileCase> cases = {
        {"emptyPlan", "", "error: "},
        {"cutPlan", plan.substr(0, plan.size() / 2), error},
        {"binaryPlanCut", dataBinary().substr(0, 50), error},
        {"planOfOtherFields", dataXml(), "error: "},
        {"planWithTextId",
         std::string(plan).replace(plan.find("\"i4\""), 4, "\"string\" WIDTH=\"5\""), "error: "},
        {"planOfGarbage", std::string(4096, '\x9C'), error},
        {"planWithHugeRowCount", patched(dataBinary(), 14, le32(0x7FFFFFFFu)), error},
    };
    for (const FileCase& c : cases) expectRead(c, openAndClosePlan, "dbquery.xml");
}

TEST_F(PacketFileInput, aPlanOrDataFileThatIsNoRegularFileIsRefusedWithoutWaiting) {
    ASSERT_EQ(::mkfifo((m_folder / "fifo.xml").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", m_folder / "zero.xml");
    fs::create_directory(m_folder / "folder.xml");
    const FolderSnapshot before(m_folder);
    for (const char* name : {"fifo.xml", "zero.xml", "folder.xml"}) {
        SCOPED_TRACE(name);
        const std::string file = (m_folder / name).string();
        const ChildOutcome asData =
            runInChild([&] { return readAsImport(file); }, {.wallSeconds = 20});
        EXPECT_TRUE(asData.endedNormally)
            << "signal " << asData.signal << " after " << asData.seconds;
        EXPECT_EQ(asData.text.rfind("error: Cannot open file \"" + file + "\". ", 0), 0u)
            << asData.text;
        // The plan table takes a name that is no file for a plan not made yet, and so does
        // not open; it does not write one either.
        const ChildOutcome asPlan =
            runInChild([&] { return openAndClosePlan(file); }, {.wallSeconds = 20});
        EXPECT_TRUE(asPlan.endedNormally)
            << "signal " << asPlan.signal << " after " << asPlan.seconds;
        EXPECT_EQ(asPlan.text, "error: cdsQuery: Missing data provider or data packet");
    }
    EXPECT_EQ(FolderSnapshot(m_folder), before);
}

}  // namespace
}  // namespace tarvolen::testing
