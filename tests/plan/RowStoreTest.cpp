// The compact store of row versions: every value reads back as it went in, versions refer to
// the values they carry over instead of copying them, and a store of small rows stays small.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "plan/DataPacket.h"
#include "plan/RowStore.h"

namespace tarvolen {
namespace {

TEST(RowStore, everyKindOfValueReadsBackAsItWentIn) {
    const FieldValue cases[] = {
        FieldValue{},
        int64_t{0},
        int64_t{-1},
        int64_t{127},
        int64_t{-129},
        int64_t{40000},
        int64_t{-70000},
        int64_t{4294967295},
        int64_t{4294967296},
        std::numeric_limits<int64_t>::min(),
        std::numeric_limits<int64_t>::max(),
        0.0,
        -0.0,
        1.5e300,
        std::numeric_limits<double>::infinity(),
        true,
        false,
        std::string(),
        std::string("text"),
        std::string("-12.50"),
        std::string("0.000000000000000000000000000000000000000000000005"),
        std::string("-0.00"),
        std::string("123456789012345678901234567890"),
        std::string("0123"),  // not a decimal in the one form: kept as text
        std::string("12."),
        std::string("1e5"),
        std::string("ab\0\0\0\0\0\0\0\0", 10),
        std::string(10, '\0'),
        std::string(300, 'x'),
        std::u16string(),
        std::u16string(u"Citt\u00E0"),
        std::u16string(u"\u20AC \U0001F600"),
        makeBlob(""),
        makeBlob(std::string("a\0b", 3)),
        SqlTimeStamp{2024, 2, 29, 23, 59, 58, 999},
        IntArray{-1, 0, 1, std::numeric_limits<int64_t>::min()},
    };
    RowStore store;
    for (const FieldValue& v : cases) store.push_back({rowstate::kInserted, {FieldValue{}, v}});
    ASSERT_EQ(store.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const RowVersion row = store[i];
        EXPECT_EQ(row.status, rowstate::kInserted);
        ASSERT_EQ(row.values.size(), 2u);
        EXPECT_TRUE(isNull(row.values[0]));
        EXPECT_TRUE(sameValue(row.values[1], cases[i]));
        EXPECT_TRUE(sameValue(store.value(i, 1), cases[i]));
        EXPECT_TRUE(store.holds(i, 1, cases[i]));
    }
    // -0.0 and 0.0 are the same value, but their bits differ and are kept.
    EXPECT_TRUE(std::signbit(std::get<double>(store.value(12, 1))));
}

TEST(RowStore, findsEveryVersionAndChangesOnlyItsStatus) {
    RowStore store;
    for (int64_t i = 0; i < 100; ++i) {
        store.push_back({0, {i, std::string(static_cast<size_t>(i) * 3, 'a')}});
    }
    store.setStatus(37, rowstate::kDeleted);
    for (size_t i : {99u, 0u, 37u, 16u, 15u, 64u, 63u, 98u}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(store.status(i), i == 37 ? rowstate::kDeleted : 0);
        EXPECT_TRUE(sameValue(store.value(i, 0), FieldValue{static_cast<int64_t>(i)}));
        EXPECT_EQ(std::get<std::string>(store.value(i, 1)).size(), i * 3);
    }
    const RowStore copy = store;
    EXPECT_EQ(copy.status(37), rowstate::kDeleted);
    EXPECT_TRUE(sameValue(copy.value(99, 1), FieldValue{std::string(297, 'a')}));
}

TEST(RowStore, versionsReadWithAsManyValuesAsTheLayoutHas) {
    RowStore store;
    store.setFieldCount(4);
    store.push_back({0, {int64_t{1}}});
    store.push_back({0, {}});
    EXPECT_EQ(store[0].values.size(), 4u);
    EXPECT_EQ(store[1].values.size(), 4u);
    EXPECT_TRUE(isNull(store.value(0, 3)));
}

TEST(RowStore, anEditKeepsItsBlobsByReferenceAlongAChain) {
    const std::string script(100000, 's');
    RowStore store;
    store.push_back({rowstate::kInserted, {int64_t{1}, makeBlob(script), makeBlob("memo")}});
    const size_t oneVersion = store.bytesUsed();
    // Each edit changes the integer and keeps both blobs.
    for (int64_t i = 2; i <= 10; ++i) {
        store.append(rowstate::kModified, {i, makeBlob(script), makeBlob("memo")},
                     static_cast<size_t>(i - 2));
    }
    // An edit that replaces one blob stores only that one.
    store.append(rowstate::kModified, {int64_t{11}, makeBlob(script), makeBlob("new")}, 9);
    EXPECT_LT(store.bytesUsed(), oneVersion + 1000);
    EXPECT_TRUE(store.sameValueIn(10, 0, 1));
    EXPECT_FALSE(store.sameValueIn(10, 0, 2));
    const RowVersion last = store[10];
    EXPECT_TRUE(sameValue(last.values[0], FieldValue{int64_t{11}}));
    EXPECT_EQ(*std::get<BlobData>(last.values[1]), script);
    EXPECT_EQ(*std::get<BlobData>(last.values[2]), "new");
}

TEST(RowStore, aSourceMustComeEarlier) {
    RowStore store;
    RowStore::Builder row(store);
    row.begin(0, 5);  // no version 5 yet: carries nothing
    row.carried();
    row.end();
    EXPECT_TRUE(isNull(store.value(0, 0)));
}

TEST(RowStore, inheritedBlobsAreTakenOnlyForFieldsLeftOutAndOnlyWhenBlobs) {
    RowStore store;
    store.push_back({0, {int64_t{1}, makeBlob("a"), makeBlob("b"), makeBlob("c")}});
    RowStore::Builder row(store);
    // Replaces version 0: field 0 (no blob there) and field 3 left out, field 1 set, field 2
    // explicitly null.
    row.begin(rowstate::kModified, 0, true);
    row.nulls(1);
    row.blob("x");
    row.explicitNull();
    row.end();
    const RowVersion v = store[1];
    ASSERT_EQ(v.values.size(), 4u);
    EXPECT_TRUE(isNull(v.values[0]));
    EXPECT_EQ(*std::get<BlobData>(v.values[1]), "x");
    EXPECT_TRUE(isNull(v.values[2]));
    EXPECT_EQ(*std::get<BlobData>(v.values[3]), "c");
    EXPECT_TRUE(store.sameValueIn(1, 0, 3));
}

TEST(RowStore, aVersionBegunAndNotEndedLeavesNothing) {
    RowStore store;
    store.push_back({0, {int64_t{1}}});
    {
        RowStore::Builder row(store);
        row.begin(0);
        row.text(std::string(1000, 'x'));
    }
    EXPECT_EQ(store.size(), 1u);
    store.push_back({0, {int64_t{2}}});
    EXPECT_TRUE(sameValue(store.value(1, 0), FieldValue{int64_t{2}}));
}

// The arena moves from the heap to the system's pages past its first megabyte, and a version's
// length takes one to four bytes: versions of every such size, appended one by one as a table
// posts them (the arena growing while a version is half written), and blobs written in place
// shorter than the room they were given, all read back.
TEST(RowStore, versionsOfEverySizeReadBackWhileTheArenaGrows) {
    const size_t sizes[] = {0, 1, 125, 126, 127, 128, 200, 16380, 16383, 16384, 70000,
                            (size_t{1} << 21) + 5};
    RowStore store;
    std::vector<std::string> texts;
    for (int round = 0; round < 3; ++round) {
        for (const size_t size : sizes) {
            texts.push_back(std::string(size, static_cast<char>('a' + texts.size() % 26)));
            store.push_back({0, {int64_t(texts.size()), makeBlob(texts.back())}});
        }
    }
    for (const size_t size : sizes) {
        // Room for more than the blob holds: its length is written in the room kept.
        texts.push_back(std::string(size, 'z'));
        RowStore::Builder row(store);
        row.begin(rowstate::kInserted);
        row.integer(int64_t(texts.size()));
        char* out = row.beginBlob(size + 200);
        std::memcpy(out, texts.back().data(), size);
        row.endBlob(size);
        row.end();
    }
    ASSERT_EQ(store.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE(i);
        const RowVersion row = store[i];
        ASSERT_EQ(row.values.size(), 2u);
        EXPECT_TRUE(sameValue(row.values[0], FieldValue{int64_t(i + 1)}));
        EXPECT_EQ(*std::get<BlobData>(row.values[1]), texts[i]);
    }
    // A copy and a store shrunk to its versions read the same.
    RowStore copy = store;
    copy.shrinkToFit();
    for (size_t i = 0; i < texts.size(); ++i) EXPECT_TRUE(copy.sameValueIn(i, i, 1));
    EXPECT_EQ(*std::get<BlobData>(copy[texts.size() - 1].values[1]), texts.back());
}

TEST(RowStore, smallVersionsTakeAboutTheirEncodedSize) {
    RowStore store;
    for (int i = 0; i < 100000; ++i) store.push_back({0, {FieldValue{}}});
    store.shrinkToFit();
    // Two bytes each (length and status) and a sampled offset every 16 versions.
    EXPECT_LE(store.bytesUsed(), 100000u * 3);
}

}  // namespace
}  // namespace tarvolen
