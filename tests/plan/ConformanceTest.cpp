// Data packets written by other programs (the shared conformance folder): each must decode as its
// manifest says, or, for composite layouts, fail with one of the documented decoding errors.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "XmlWellFormed.h"
#include "plan/Errors.h"
#include "plan/FieldTypes.h"
#include "plan/PacketCodec.h"

namespace tarvolen {
namespace {

const std::filesystem::path kFolder = TARVOLEN_CONFORMANCE_DIR;

struct ManifestEntry {
    std::string file;
    std::string fieldTypes;  // comma-separated `fieldtype` texts, sorted
    size_t rowVersions = 0;
    size_t changeLogEntries = 0;
    bool mustDecode = false;
    std::string skipReason;  // set when the folder cannot be read
};

std::vector<std::string> split(const std::string& line, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(line);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

// Columns: file, form, bytes, field types, row versions, change-log entries, expected.
std::vector<ManifestEntry> readManifest() {
    std::ifstream in(kFolder / "MANIFEST.tsv");
    if (!in) {
        ManifestEntry missing;
        missing.skipReason = "no conformance manifest in " + kFolder.string();
        return {missing};
    }
    std::vector<ManifestEntry> entries;
    std::string line;
    std::getline(in, line);  // column titles
    while (std::getline(in, line)) {
        const std::vector<std::string> c = split(line, '\t');
        if (c.size() < 7) continue;
        ManifestEntry e;
        e.file = c[0];
        e.mustDecode = c[6] == "decodes";
        if (e.mustDecode) {
            e.fieldTypes = c[3];
            e.rowVersions = std::stoul(c[4]);
            e.changeLogEntries = std::stoul(c[5]);
        }
        entries.push_back(e);
    }
    return entries;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string fieldTypesOf(const DataPacket& packet) {
    std::set<std::string> names;
    for (const FieldDef& f : packet.fields) names.insert(xmlTypeName(f.type));
    std::string joined;
    for (const std::string& n : names) joined += (joined.empty() ? "" : ",") + n;
    return joined;
}

void PrintTo(const ManifestEntry& e, std::ostream* os) {
    *os << e.file;
}

class ConformanceFile : public testing::TestWithParam<ManifestEntry> {};

TEST_P(ConformanceFile, decodesAsTheManifestSays) {
    const ManifestEntry& entry = GetParam();
    if (!entry.skipReason.empty()) GTEST_SKIP() << entry.skipReason;
    const std::string bytes = readFile(kFolder / entry.file);
    ASSERT_FALSE(bytes.empty()) << "cannot read " << entry.file;

    if (entry.mustDecode) {
        const DataPacket packet = decodePacket(bytes);
        EXPECT_EQ(packet.rows.size(), entry.rowVersions);
        EXPECT_EQ(packet.changeLog.size(), entry.changeLogEntries);
        EXPECT_EQ(fieldTypesOf(packet), entry.fieldTypes);
        for (const RowVersion& row : packet.rows) {
            ASSERT_EQ(row.values.size(), packet.fields.size());
        }
        // What loads converts to well-formed XML, with no NUL in it, that reads back as itself.
        const std::string xml = encodeXmlPacket(packet);
        EXPECT_EQ(xml.find('\0'), std::string::npos);
        EXPECT_EQ(xmlcheck::xmlWellFormedError(xml), "");
        EXPECT_EQ(encodeXmlPacket(decodeXmlPacket(xml)), xml);
        return;
    }
    const std::set<std::string> documented = {
        "Mismatch in datapacket.", "Datapacket contains no meta data.", "Invalid field type.",
        "Invalid parameter.", "Field name can't be null, datapacket may be corrupted"};
    try {
        decodePacket(bytes);
    } catch (const EDBClient& e) {
        EXPECT_TRUE(documented.count(e.what()) == 1) << "undocumented message: " << e.what();
    }
}

std::string testName(const testing::TestParamInfo<ManifestEntry>& info) {
    if (info.param.file.empty()) return "FolderMissing";
    std::string name = info.param.file;
    std::replace_if(
        name.begin(), name.end(),
        [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(ConformanceManifest, ConformanceFile, testing::ValuesIn(readManifest()),
                         testName);

}  // namespace
}  // namespace tarvolen
