// The plan lock between objects and processes, on real files in a temporary folder.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "plan/Errors.h"
#include "plan/PlanLock.h"
#include "tests/support/TestFolder.h"

namespace tarvolen {
namespace {

namespace fs = std::filesystem;

class PlanLockTest : public ::testing::Test {
  protected:
    void SetUp() override { std::ofstream(m_dir / "dbquery.xml") << "plan"; }
    std::string plan() const { return (m_dir / "dbquery.xml").string(); }
    // The message of the refusal, or "(taken)" when the lock was free.
    static std::string refusal(const std::string& path, long expectedPid) {
        try {
            PlanLock lock(path);
            return "(taken)";
        } catch (const PlanInUse& e) {
            EXPECT_EQ(e.pid(), expectedPid);
            return e.what();
        }
    }

    testing::TempFolder m_folder;
    const fs::path m_dir = m_folder.path();
};

TEST_F(PlanLockTest, aSecondHolderIsRefusedWithTheFirstOnesProcess) {
    std::optional<PlanLock> first(plan());
    EXPECT_EQ(first->lockPath(), plan() + ".lock");
    const std::string expected = "Cannot use the plan \"" + plan() + "\": plan in use by process " +
                                 std::to_string(::getpid());
    EXPECT_EQ(refusal(plan(), ::getpid()), expected);

    // Through a link to the plan, the same lock.
    fs::create_symlink("dbquery.xml", m_dir / "link.xml");
    EXPECT_NE(refusal((m_dir / "link.xml").string(), ::getpid()).find("plan in use by process"),
              std::string::npos);

    first.reset();
    EXPECT_FALSE(fs::exists(plan() + ".lock")) << "the lock file goes with the lock";
    EXPECT_EQ(refusal(plan(), 0), "(taken)");
}

TEST_F(PlanLockTest, aLockDiesWithItsProcess) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        PlanLock lock(plan());
        const char byte = 1;
        (void)!::write(ready[1], &byte, 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_NE(refusal(plan(), child).find("plan in use by process " + std::to_string(child)),
              std::string::npos);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(fs::exists(plan() + ".lock")) << "a killed holder cannot clean up";
    EXPECT_EQ(refusal(plan(), 0), "(taken)");
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST_F(PlanLockTest, aFolderThatTakesNoLockFileIsAnError) {
    const std::string plan = (m_dir / "missing" / "dbquery.xml").string();
    try {
        PlanLock lock(plan);
        ADD_FAILURE() << "locked a plan in a missing folder";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file \"" + plan + ".lock\". No such file or directory");
    }
}

}  // namespace
}  // namespace tarvolen
