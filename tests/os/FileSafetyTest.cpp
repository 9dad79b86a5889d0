// The crash-safety promises on this platform, with real processes: a writer killed while it
// replaces a file, a lock held by another process, a journal whose writer was killed, and the
// files a secret may be read from. The same cases run on Linux and, under Wine, on Windows.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestFolder.h"
#include "base/os/Files.h"
#include "base/os/Process.h"
#include "base/os/SharedLibrary.h"
#include "plan/MarksJournal.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "plan/PlanLock.h"

#ifdef _WIN32
#include <sddl.h>
#endif

namespace tarvolen::testing {
namespace {

namespace fs = std::filesystem;

class FileSafety : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return (m_folder.path() / name).string(); }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    std::set<std::string> names() const {
        std::set<std::string> all;
        for (const auto& entry : fs::directory_iterator(m_folder.path()))
            all.insert(entry.path().filename().string());
        return all;
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
    static ChildProcess child(const std::vector<std::string>& arguments) {
        return ChildProcess(TARVOLEN_OS_CHILD, arguments);
    }

    TempFolder m_folder;
};

TEST_F(FileSafety, aWriterKilledAtAnyMomentLeavesTheOldOrTheNewFileWhole) {
    // Large enough that a kill often lands inside a write.
    const std::string a(300000, 'a');
    const std::string b = std::string(200000, 'b') + "\r\nline ends kept\n";
    write("a", a);
    write("b", b);
    for (int delayMs : {0, 5, 30, 120}) {
        SCOPED_TRACE("killed after " + std::to_string(delayMs) + " ms");
        writeFileAtomically(path("plan.xml"), a);
        {
            ChildProcess writer(TARVOLEN_OS_CHILD, {"replace", path("plan.xml"), path("a"), path("b")});
            ASSERT_EQ(writer.readLine(), "writing");
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            writer.kill();
            writer.wait();
        }
        const std::string now = readWholeFile(path("plan.xml"));
        EXPECT_TRUE(now == a || now == b) << now.size() << " bytes";
        if (fileExists(path("plan.xml.bak"))) {
            const std::string kept = readWholeFile(path("plan.xml.bak"));
            EXPECT_TRUE(kept == a || kept == b) << kept.size() << " bytes";
        }
        // The next write clears whatever the killed writer left.
        writeFileAtomically(path("plan.xml"), "next", {.keepBackup = true});
        EXPECT_EQ(names(), (std::set<std::string>{"a", "b", "plan.xml", "plan.xml.bak"}));
        EXPECT_EQ(readWholeFile(path("plan.xml")), "next");
    }
}

TEST_F(FileSafety, theReplacedFileIsKeptAsABackupWhenAsked) {
    const std::string plan = path("dbquery.xml");
    const std::string backup = plan + ".bak";
    const WriteOptions keep{.keepBackup = true};
    writeFileAtomically(plan, "first", keep);
    EXPECT_FALSE(fileExists(backup)) << "nothing was replaced";
    const auto first = os::stampOf(plan);
    writeFileAtomically(plan, "second", keep);
    EXPECT_EQ(readWholeFile(backup), "first");
    ASSERT_TRUE(first && os::stampOf(backup));
    EXPECT_EQ(os::stampOf(backup)->index, first->index)
        << "the backup is the replaced file itself, not a copy";
    writeFileAtomically(plan, "second", keep);  // the same contents again
    EXPECT_EQ(readWholeFile(backup), "first");
    writeFileAtomically(plan, "third", keep);
    EXPECT_EQ(readWholeFile(backup), "second");
    writeFileAtomically(plan, "fourth");  // not asked: the backup stays as it was
    EXPECT_EQ(readWholeFile(backup), "second");
    EXPECT_EQ(readWholeFile(plan), "fourth");
    EXPECT_EQ(names(), (std::set<std::string>{"dbquery.xml", "dbquery.xml.bak"}));
}

TEST_F(FileSafety, temporariesOfWritersThatDiedAreRemovedAndOthersKept) {
    long dead = 0;
    {
        ChildProcess gone(TARVOLEN_OS_CHILD, {"exit"});
        dead = std::stol(gone.readLine());
        gone.wait();
    }
    const std::string self = std::to_string(os::currentProcessId());
    const std::string stale = ".dbquery.xml." + std::to_string(dead) + ".1.2";
    const std::string staleBackup = ".dbquery.xml.bak." + std::to_string(dead) + ".3.4";
    const std::string restarted = ".dbquery.xml." + self + "-1.5.6";  // our id, another start
    const std::set<std::string> kept = {".dbquery.xml." + self + ".1.2", ".dbquery.xml.notapid.1",
                                        ".other.xml." + std::to_string(dead) + ".1.2"};
    for (const auto& name : {stale, staleBackup, restarted}) write(name, "x");
    for (const auto& name : kept) write(name, "x");
    writeFileAtomically(path("dbquery.xml"), "new");
    std::set<std::string> expected = kept;
    expected.insert("dbquery.xml");
    EXPECT_EQ(names(), expected);
}

TEST_F(FileSafety, abandonedTemporariesOfOneKindOfFileAreRemovedFolderWide) {
    long dead = 0;
    {
        ChildProcess gone(TARVOLEN_OS_CHILD, {"exit"});
        dead = std::stol(gone.readLine());
        gone.wait();
    }
    const std::string gone = std::to_string(dead);
    const std::string self = std::to_string(os::currentProcessId());
    // A backup's and a scratch database's files being written by a process that died, for
    // targets of any name that ends so; kept: this process's own, another kind's, a finished
    // backup, names that only look like temporaries.
    const std::set<std::string> stale = {".anagrafe-1.0.0.0-20260502-140307.fbk." + gone + "-77.1.2",
                                         ".verifica.fbk." + gone + ".3.4",
                                         ".verifica.fbk.bak." + gone + ".5.6"};
    const std::set<std::string> kept = {".anagrafe-1.0.0.0-20260502-140307.fbk." + self + ".1.2",
                                        ".dbquery.xml." + gone + ".1.2",
                                        "anagrafe-1.0.0.0-20260502-140307.fbk",
                                        ".fbk." + gone, "x.fbk." + gone + ".1.2"};
    for (const auto& name : stale) write(name, "x");
    for (const auto& name : kept) write(name, "x");
    RemoveAbandonedTemporaries(m_folder.path().string(), ".fbk");
    EXPECT_EQ(names(), kept);

    // A name given to this process is one such temporary, kept while this process lives, and
    // removed by the next write beside it once its writer is gone.
    const std::string mine = TemporaryNameBeside(path("nuovo.fbk"));
    EXPECT_EQ(fs::path(mine).parent_path(), m_folder.path());
    write(fs::path(mine).filename().string(), "x");
    RemoveAbandonedTemporaries(m_folder.path().string(), ".fbk");
    EXPECT_TRUE(fs::exists(mine));
    const std::string named = fs::path(mine).filename().string();
    const std::string asIfDead = "." + std::string("nuovo.fbk.") + gone +
                                 named.substr(named.find('.', std::string(".nuovo.fbk.").size()));
    fs::rename(mine, path(asIfDead));
    writeFileAtomically(path("nuovo.fbk"), "whole");
    EXPECT_FALSE(fs::exists(path(asIfDead)));
}

TEST_F(FileSafety, aSecondNameNeverTakesAnotherFilesPlace) {
    write("backup.tmp", "whole");
    write("taken.fbk", "another");
    EXPECT_EQ(os::addName(path("backup.tmp"), path("taken.fbk")), std::errc::file_exists);
    EXPECT_EQ(os::renameToFreeName(path("backup.tmp"), path("taken.fbk")), std::errc::file_exists);
    EXPECT_EQ(readWholeFile(path("taken.fbk")), "another");
    EXPECT_FALSE(os::addName(path("backup.tmp"), path("free.fbk")));
    EXPECT_EQ(os::stampOf(path("free.fbk"))->index, os::stampOf(path("backup.tmp"))->index);
    EXPECT_FALSE(os::renameToFreeName(path("backup.tmp"), path("moved.fbk")));
    EXPECT_EQ(readWholeFile(path("moved.fbk")), "whole");
    // A rename takes the place of the file there, in one step.
    EXPECT_FALSE(os::renameFile(path("moved.fbk"), path("taken.fbk")));
    EXPECT_EQ(readWholeFile(path("taken.fbk")), "whole");
    EXPECT_EQ(names(), (std::set<std::string>{"free.fbk", "taken.fbk"}));

    // A new file is made only once; a folder is made once, and again is no error.
    std::error_code error;
    EXPECT_TRUE(os::File::createNew(path("run.log"), error).isOpen());
    EXPECT_FALSE(error);
    EXPECT_FALSE(os::File::createNew(path("run.log"), error).isOpen());
    EXPECT_EQ(error, std::errc::file_exists);
    EXPECT_FALSE(os::makeFolder(path("log")));
    EXPECT_FALSE(os::makeFolder(path("log")));
    EXPECT_EQ(os::kindOf(path("log")), os::FileKind::Directory);
    EXPECT_TRUE(os::makeFolder(path("none/log")));
    error = {};
    EXPECT_EQ(os::kindOf(path("none/log"), error), os::FileKind::Missing);
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
    error = {};
    const std::vector<std::string> entries = os::folderEntries(m_folder.path().string(), error);
    EXPECT_FALSE(error);
    EXPECT_EQ(std::set<std::string>(entries.begin(), entries.end()),
              (std::set<std::string>{"free.fbk", "log", "run.log", "taken.fbk"}));
    os::folderEntries(path("none"), error);
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
    EXPECT_FALSE(os::flushFile(path("taken.fbk")));
    EXPECT_GT(os::freeSpace(m_folder.path().string()), 0u);
}

TEST_F(FileSafety, onlyRegularFilesAreRead) {
    fs::create_directory(m_folder.path() / "folder");
#ifdef _WIN32
    const std::string device = "NUL";
#else
    const std::string device = "/dev/null";
#endif
    const std::string isDirectory = std::make_error_code(std::errc::is_a_directory).message();
    EXPECT_EQ(messageOf<EFOpenError>([&] { readWholeFile(path("folder")); }),
              "Cannot open file \"" + path("folder") + "\". " + isDirectory);
    EXPECT_NE(messageOf<EFOpenError>([&] { readWholeFile(device); }).find("Not a regular file"),
              std::string::npos);
    EXPECT_NE(messageOf<EFOpenError>([&] { readWholeFile(path("missing")); })
                  .find("Cannot open file \"" + fullPath(path("missing")) + "\". "),
              std::string::npos);
    EXPECT_EQ(messageOf<EFCreateError>([&] { checkReplaceable(path("folder"), 10); }),
              "Cannot create file \"" + path("folder") + "\". " + isDirectory);
    EXPECT_NE(messageOf<EFCreateError>([&] { writeFileAtomically(path("none/plan.xml"), "x"); })
                  .find("Cannot create file \"" + fullPath(path("none/plan.xml")) + "\". "),
              std::string::npos);
}

TEST_F(FileSafety, aPlanLockedByAnotherProcessIsRefusedUntilThatProcessIsKilled) {
    write("dbquery.xml", "plan");
    const std::string plan = path("dbquery.xml");
    ChildProcess holder(TARVOLEN_OS_CHILD, {"lock", plan});
    ASSERT_EQ(holder.readLine(), "locked " + std::to_string(holder.pid()));
    try {
        PlanLock lock(plan);
        ADD_FAILURE() << "a second holder took the lock";
    } catch (const PlanInUse& e) {
        EXPECT_EQ(e.pid(), holder.pid());
        EXPECT_EQ(std::string(e.what()), "Cannot use the plan \"" + plan +
                                             "\": plan in use by process " +
                                             std::to_string(holder.pid()));
    }
    holder.kill();
    holder.wait();
    EXPECT_TRUE(fileExists(plan + ".lock")) << "a killed holder cannot clean up";
    std::optional<PlanLock> mine;
    // The system lets go of a dead process's locks a moment after it is gone.
    for (int attempt = 0; attempt < 100 && !mine; ++attempt) {
        try {
            mine.emplace(plan);
        } catch (const PlanInUse&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ASSERT_TRUE(mine.has_value()) << "the lock outlived its process";
    mine.reset();
    EXPECT_FALSE(fileExists(plan + ".lock")) << "the lock file goes with the lock";
}

TEST_F(FileSafety, marksAppendedBeforeTheWriterWasKilledAreReadBack) {
    write("dbquery.xml", "<plan/>");
    ChildProcess run(TARVOLEN_OS_CHILD, {"journal", path("dbquery.xml"), "3"});
    ASSERT_EQ(run.readLine(), "appended");
    run.kill();
    run.wait();
    EXPECT_EQ(MarksJournal(path("dbquery.xml")).Read(), (std::vector<int64_t>{1, 2, 3}));
    // A plan written whole since makes them stale.
    writeFileAtomically(path("dbquery.xml"), "<plan version=\"2\"/>");
    EXPECT_EQ(MarksJournal(path("dbquery.xml")).Read(), std::vector<int64_t>{});
}

TEST_F(FileSafety, aLibraryThatIsNotThereIsNamedNotFatal) {
    std::string why;
    EXPECT_EQ(os::SharedLibrary::load(path("no-such-library.so"), why), nullptr);
    EXPECT_FALSE(why.empty());
}

#ifdef _WIN32
// The secret's file made with exactly these security settings (SDDL: OW owner, SY system,
// WD everyone, BU the users of the machine).
void makeFileWithSecurity(const std::string& file, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(handle, "password\n", 9, &written, nullptr);
    CloseHandle(handle);
    LocalFree(descriptor);
}

TEST_F(FileSafety, aPrivateFileMustBeClosedToOtherUsers) {
    const struct {
        const wchar_t* sddl;
        const char* refusedFor;  // nullptr: accepted
    } cases[] = {
        {L"D:P(A;;FA;;;SY)", nullptr},
        {L"D:P(A;;FA;;;SY)(A;;FR;;;WD)", "Everyone"},
        {L"D:P(A;;FA;;;SY)(A;;FA;;;WD)", "Everyone"},
    };
    int number = 0;
    for (const auto& c : cases) {
        // A file of its own each: one closed to everyone but the system cannot be removed.
        const std::string secret = path("secret" + std::to_string(++number));
        makeFileWithSecurity(secret, c.sddl);
        if (c.refusedFor == nullptr) {
            EXPECT_EQ(readPrivateFile(secret), "password\n");
        } else {
            EXPECT_EQ(messageOf<EFOpenError>([&] { readPrivateFile(secret); }),
                      "Cannot open file \"" + secret + "\". Its security settings let " +
                          c.refusedFor + " read it: allow only its owner");
        }
    }
}
#endif

}  // namespace
}  // namespace tarvolen::testing
