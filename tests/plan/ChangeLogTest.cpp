// The change log: entries read back as they went in whatever their numbers' size, and the
// version a version replaces is the one its last entry naming one says.

#include <gtest/gtest.h>

#include "plan/ChangeLog.h"

namespace tarvolen {
namespace {

TEST(ChangeLog, entriesReadBackWhenLargerNumbersWidenTheLog) {
    ChangeLog log = {{1, 0, 4}, {2, 1, 8}};
    log.push_back({300, 2, 8});
    log.push_back({70000, 300, 8});
    log.push_back({4294967295u, 0, 2});
    const std::vector<ChangeLogEntry> expected = {
        {1, 0, 4}, {2, 1, 8}, {300, 2, 8}, {70000, 300, 8}, {4294967295u, 0, 2}};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(log.back(), (ChangeLogEntry{4294967295u, 0, 2}));
    log.pop_back();
    EXPECT_EQ(log.size(), 4u);
    std::vector<ChangeLogEntry> walked(log.begin(), log.end());
    EXPECT_EQ(walked, (std::vector<ChangeLogEntry>(expected.begin(), expected.end() - 1)));
    log.clear();
    EXPECT_TRUE(log.empty());
}

TEST(ChangeLog, theLastEntryNamingAReplacedVersionWins) {
    struct Case {
        const char* name;
        ChangeLog log;
        std::vector<uint32_t> replacedOf;  // for versions 1, 2, ...
    };
    const Case cases[] = {
        {"InOrder", {{1, 0, 4}, {2, 1, 8}, {3, 2, 8}}, {0, 1, 2, 0}},
        {"WithADelete", {{2, 0, 4}, {3, 2, 8}, {1, 0, 2}}, {0, 0, 2, 0}},
        {"TwoEntriesForOneVersion", {{2, 1, 8}, {2, 0, 2}, {2, 3, 8}, {1, 0, 4}}, {0, 3, 0}},
        {"EqualVersionsInOrder", {{2, 1, 8}, {2, 0, 2}, {3, 0, 4}}, {0, 1, 0}},
        {"Empty", {}, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReplacedVersions replaced(c.log);
        for (size_t v = 0; v < c.replacedOf.size(); ++v) {
            EXPECT_EQ(replaced.of(static_cast<uint32_t>(v + 1)), c.replacedOf[v]) << v + 1;
        }
    }
}

}  // namespace
}  // namespace tarvolen
