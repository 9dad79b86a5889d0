// Blobs of a modified version: one it keeps from the version it replaces is left out of the XML
// row and carried over on reading; one it sets to null is written so that it reads back as null.

#include <gtest/gtest.h>

#include "plan/PacketCodec.h"

namespace tarvolen {
namespace {

// ID and the text memo TESTO; version 1 holds "old", version 2 (an edit of it) `edited`.
DataPacket editedMemo(const FieldValue& edited) {
    DataPacket p = decodeXmlPacket(
        "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"ID\" fieldtype=\"i4\"/>"
        "<FIELD attrname=\"TESTO\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/></FIELDS><PARAMS/>"
        "</METADATA><ROWDATA></ROWDATA></DATAPACKET>");
    p.rows = {RowVersion{rowstate::kSuperseded, {int64_t{1}, makeBlob("old")}},
              RowVersion{rowstate::kModified, {int64_t{1}, edited}}};
    p.changeLog = {{2, 1, 8}};
    return p;
}

TEST(KeptBlob, aModifiedVersionReadsBackWithTheBlobItHeld) {
    struct Case {
        const char* name;
        FieldValue edited;
        std::string row;  // the second ROW as written
        FieldValue readBack;
    };
    const Case cases[] = {
        {"Kept", makeBlob("old"), "<ROW RowState=\"8\" ID=\"1\"/>", makeBlob("old")},
        {"Changed", makeBlob("new"), "<ROW RowState=\"8\" ID=\"1\" TESTO=\"new\"/>",
         makeBlob("new")},
        {"SetToNull", FieldValue{}, "<ROW RowState=\"8\" ID=\"1\" TESTO=\"\"/>", FieldValue{}},
        // The XML form cannot tell an empty blob from a null one in a modified version.
        {"Emptied", makeBlob(""), "<ROW RowState=\"8\" ID=\"1\" TESTO=\"\"/>", FieldValue{}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DataPacket p = editedMemo(c.edited);
        const std::string xml = encodeXmlPacket(p);
        EXPECT_NE(xml.find("<ROW RowState=\"1\" ID=\"1\" TESTO=\"old\"/>" + c.row),
                  std::string::npos)
            << xml;
        const DataPacket back = decodeXmlPacket(xml);
        EXPECT_TRUE(sameValue(back.rows.value(1, 1), c.readBack));
        EXPECT_EQ(encodeXmlPacket(back), xml);
        // The binary form holds either exactly.
        EXPECT_TRUE(
            sameValue(decodeBinaryPacket(encodeBinaryPacket(p)).rows.value(1, 1), c.edited));
    }
}

TEST(KeptBlob, anEmptyBlobOutsideAModifiedVersionIsNotNull) {
    DataPacket p = editedMemo(FieldValue{});
    p.rows = {RowVersion{rowstate::kInserted, {int64_t{1}, makeBlob("")}},
              RowVersion{rowstate::kModified, {int64_t{2}, makeBlob("")}}};
    p.changeLog = {{1, 0, 4}, {2, 0, 8}};  // the second replaces nothing
    const DataPacket back = decodeXmlPacket(encodeXmlPacket(p));
    EXPECT_TRUE(sameValue(back.rows.value(0, 1), FieldValue{makeBlob("")}));
    EXPECT_TRUE(sameValue(back.rows.value(1, 1), FieldValue{makeBlob("")}));
}

TEST(KeptBlob, anEmptyAndANullBlobAreTheSameContentInAModifiedVersion) {
    // Version 1 holds an empty blob, version 2 (an edit of it) a null one: no content either
    // way, so version 2 leaves it out and reads back version 1's.
    DataPacket p = editedMemo(FieldValue{});
    p.rows = {RowVersion{rowstate::kSuperseded, {int64_t{1}, makeBlob("")}},
              RowVersion{rowstate::kModified, {int64_t{1}, FieldValue{}}}};
    const std::string xml = encodeXmlPacket(p);
    EXPECT_NE(xml.find("<ROW RowState=\"8\" ID=\"1\"/>"), std::string::npos) << xml;
    const DataPacket back = decodeXmlPacket(xml);
    EXPECT_TRUE(sameValue(back.rows.value(1, 1), FieldValue{makeBlob("")}));
    EXPECT_EQ(encodeXmlPacket(back), xml);
}

}  // namespace
}  // namespace tarvolen
