// The journal of done-marks: what it reads back after a run was killed at any byte of it.

#include "plan/MarksJournal.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif
#include <filesystem>
#include <fstream>

#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "tests/support/TestFolder.h"

namespace tarvolen::testing {
namespace {

class MarksJournalTest : public ::testing::Test {
  protected:
    std::string plan() const { return (m_folder.path() / "dbquery.xml").string(); }
    std::string journalPath() const { return plan() + ".marks"; }
    TempFolder m_folder;
};

TEST_F(MarksJournalTest, readsBackWhatWasAppendedUntilRemoved) {
    std::ofstream(plan(), std::ios::binary) << "<plan/>";
    MarksJournal journal(plan());
    EXPECT_EQ(journal.Read(), std::vector<int64_t>{});
    EXPECT_FALSE(journal.pending());
    journal.Append(10);
    journal.Append(-3);
    journal.Append(9223372036854775807);
    EXPECT_TRUE(journal.pending());
    EXPECT_EQ(MarksJournal(plan()).Read(), (std::vector<int64_t>{10, -3, 9223372036854775807}));
    journal.Remove();
    EXPECT_FALSE(journal.pending());
    EXPECT_FALSE(fileExists(journalPath()));
    EXPECT_EQ(journal.Read(), std::vector<int64_t>{});
}

TEST_F(MarksJournalTest, aKillAtAnyByteLosesAtMostTheLineBeingWritten) {
    std::ofstream(plan(), std::ios::binary) << "<plan/>";
    {
        MarksJournal journal(plan());
        journal.Append(12);
        journal.Append(345);
    }
    const std::string whole = readWholeFile(journalPath());
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes");
        std::ofstream(journalPath(), std::ios::binary | std::ios::trunc) << whole.substr(0, cut);
        const std::vector<int64_t> read = MarksJournal(plan()).Read();
        // Never an ID that was not appended, such as the 3 of a cut 345.
        EXPECT_TRUE(read == std::vector<int64_t>{} || read == std::vector<int64_t>{12} ||
                    read == (std::vector<int64_t>{12, 345}))
            << ::testing::PrintToString(read);
        if (cut == whole.size()) {
            EXPECT_EQ(read, (std::vector<int64_t>{12, 345}));
        }
    }
}

TEST_F(MarksJournalTest, aReservedMarkReadsAsNoneUntilItIsAppended) {
    std::ofstream(plan(), std::ios::binary) << "<plan/>";
    MarksJournal journal(plan());
    journal.Append(1);
    journal.Reserve(20);
    EXPECT_EQ(MarksJournal(plan()).Read(), std::vector<int64_t>{1});
    journal.Append(20);
    EXPECT_EQ(MarksJournal(plan()).Read(), (std::vector<int64_t>{1, 20}));
    // A reservation whose work was undone stays nothing; later marks go after it.
    journal.Reserve(30);
    journal.Append(40);
    EXPECT_EQ(MarksJournal(plan()).Read(), (std::vector<int64_t>{1, 20, 40}));
    // A journal that starts with a reservation has its header all the same.
    journal.Remove();
    MarksJournal fresh(plan());
    fresh.Reserve(50);
    fresh.Append(50);
    EXPECT_EQ(MarksJournal(plan()).Read(), std::vector<int64_t>{50});

    // Killed at any byte, the journal never reads the reserved phase as done before its mark.
    const std::string whole = readWholeFile(journalPath());
    const std::string reserved = whole.substr(0, whole.size() - 2) + "?\n";
    for (size_t cut = 0; cut <= reserved.size(); ++cut) {
        SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes");
        std::ofstream(journalPath(), std::ios::binary | std::ios::trunc) << reserved.substr(0, cut);
        EXPECT_EQ(MarksJournal(plan()).Read(), std::vector<int64_t>{});
    }
}

#ifndef _WIN32
// The file-size limit stands for a disk that takes no byte more.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);  // the write fails instead
        const rlimit limit{bytes, m_old.rlim_max};
        m_set = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool set() const { return m_set; }

  private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = SIG_DFL;
    bool m_set = false;
};

#endif

TEST_F(MarksJournalTest, aReservedMarkTakesNoRoomThatAFullDiskCouldRefuse) {
    std::ofstream(plan(), std::ios::binary) << "<plan/>";
    MarksJournal journal(plan());
    journal.Append(1);
    journal.Reserve(20);
    const auto reserved = std::filesystem::file_size(journalPath());
#ifdef _WIN32
    // No limit on file size stands for a full disk here: the mark must take no byte more.
    EXPECT_NO_THROW(journal.Append(20));
#else
    {
        const FileSizeLimit full(reserved);
        ASSERT_TRUE(full.set());
        EXPECT_THROW(journal.Append(30), EFCreateError);  // unreserved, it needs room
        EXPECT_NO_THROW(journal.Append(20));
    }
#endif
    EXPECT_EQ(std::filesystem::file_size(journalPath()), reserved);
    EXPECT_EQ(MarksJournal(plan()).Read(), (std::vector<int64_t>{1, 20}));
    EXPECT_TRUE(journal.pending());
}

TEST_F(MarksJournalTest, marksOfAnotherPlanFileAreStale) {
    std::ofstream(plan(), std::ios::binary) << "<plan/>";
    MarksJournal(plan()).Append(5);
    EXPECT_EQ(MarksJournal(plan()).Read(), std::vector<int64_t>{5});
    // The plan written whole since, as the walk's end does it, or a new plan in its place.
    writeFileAtomically(plan(), "<plan version=\"2\"/>");
    EXPECT_EQ(MarksJournal(plan()).Read(), std::vector<int64_t>{});
    // A walk that appends starts a journal of its own for the plan as it is now.
    MarksJournal next(plan());
    next.Append(6);
    EXPECT_EQ(next.Read(), std::vector<int64_t>{6});
}

TEST_F(MarksJournalTest, aFileThatIsNoJournalIsRefusedNotTakenForOne) {
    std::ofstream(journalPath(), std::ios::binary) << "1.\n2.\n";
    EXPECT_THROW(MarksJournal(plan()).Read(), EFCreateError);
}

TEST_F(MarksJournalTest, aJournalThatCannotBeWrittenSaysWhere) {
    std::filesystem::create_directory(journalPath());  // a folder where the journal goes
    MarksJournal journal(plan());
    try {
        journal.Append(1);
        ADD_FAILURE() << "appended";
    } catch (const EFCreateError& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot create file \"" + journalPath() + "\""),
                  std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(journal.pending());
}

}  // namespace
}  // namespace tarvolen::testing
