// Whole-file reads and atomic writes on real files in a temporary folder.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "tests/support/TestFolder.h"

namespace tarvolen {
namespace {

namespace fs = std::filesystem;

class FileIO : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return (m_dir / name).string(); }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    std::set<std::string> names() const {
        std::set<std::string> all;
        for (const auto& entry : fs::directory_iterator(m_dir))
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
    // The id of a process that has ended.
    static pid_t deadProcess() {
        const pid_t child = ::fork();
        if (child == 0) ::_exit(0);
        ::waitpid(child, nullptr, 0);
        return child;
    }

    testing::TempFolder m_folder;
    const fs::path m_dir = m_folder.path();
};

TEST_F(FileIO, aWriteLeavesOnlyTheFileAndRemovesTemporariesOfDeadWriters) {
    const std::string dead = std::to_string(deadProcess());
    const std::string alive = std::to_string(::getppid());
    const std::string self = std::to_string(::getpid());
    // Left by writers that died (one whose id another process has now), by one still running,
    // and files that only look similar.
    const std::vector<std::string> stale = {
        ".dbquery.xml." + dead + ".1.2", ".dbquery.xml.bak." + dead + ".3.4",
        ".dbquery.xml." + dead + "-12345.5.6", ".dbquery.xml." + self + "-1.7.8"};
    const std::vector<std::string> kept = {".dbquery.xml." + alive + ".1.2",
                                           ".dbquery.xml.notapid.1", ".other.xml." + dead + ".1.2",
                                           ".dbquery.xml." + dead, ".dbquery.xml." + dead + "-.1"};
    for (const auto& name : stale) write(name, "x");
    for (const auto& name : kept) write(name, "x");
    writeFileAtomically(path("dbquery.xml"), "new");
    std::set<std::string> expected(kept.begin(), kept.end());
    expected.insert("dbquery.xml");
    EXPECT_EQ(names(), expected);
    EXPECT_EQ(readWholeFile(path("dbquery.xml")), "new");
}

TEST_F(FileIO, abandonedTemporariesOfOneKindOfFileAreRemovedFolderWide) {
    const std::string dead = std::to_string(deadProcess());
    const std::string alive = std::to_string(::getppid());
    // A backup's and a database's files being written by processes that died, for targets of
    // any name that ends so; others are kept: a live writer's, another kind's, no temporary.
    const std::vector<std::string> stale = {
        ".anagrafe-1.0.0.0-20260502-140307.fbk." + dead + "-77.1.2",
        ".verifica.fbk." + dead + ".3.4"};
    const std::vector<std::string> kept = {
        ".anagrafe-1.0.0.0-20260502-140307.fbk." + alive + ".1.2", ".dbquery.xml." + dead + ".1.2",
        "anagrafe-1.0.0.0-20260502-140307.fbk", ".fbk." + dead, "x.fbk." + dead + ".1.2"};
    for (const auto& name : stale) write(name, "x");
    for (const auto& name : kept) write(name, "x");
    RemoveAbandonedTemporaries(m_dir.string(), ".fbk");
    EXPECT_EQ(names(), std::set<std::string>(kept.begin(), kept.end()));

    // A name of this process's own is one such temporary, kept while this process lives.
    const std::string mine = TemporaryNameBeside(path("nuovo.fbk"));
    EXPECT_EQ(fs::path(mine).parent_path(), m_dir);
    write(fs::path(mine).filename().string(), "x");
    RemoveAbandonedTemporaries(m_dir.string(), ".fbk");
    EXPECT_TRUE(fs::exists(mine));
}

TEST_F(FileIO, aSymbolicLinkIsWrittenThroughToItsTarget) {
    fs::create_directory(m_dir / "real");
    write("real/plan.xml", "old");
    fs::create_symlink("real/plan.xml", m_dir / "relative.xml");
    fs::create_symlink(m_dir / "relative.xml", m_dir / "chained.xml");
    fs::create_symlink("real/new.xml", m_dir / "dangling.xml");
    ::chmod(path("real/plan.xml").c_str(), 0640);

    writeFileAtomically(path("chained.xml"), "through two links");
    EXPECT_TRUE(fs::is_symlink(m_dir / "chained.xml"));
    EXPECT_TRUE(fs::is_symlink(m_dir / "relative.xml"));
    EXPECT_EQ(readWholeFile(path("real/plan.xml")), "through two links");
    EXPECT_EQ(fs::status(m_dir / "real/plan.xml").permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    writeFileAtomically(path("dangling.xml"), "created");
    EXPECT_TRUE(fs::is_symlink(m_dir / "dangling.xml"));
    EXPECT_EQ(readWholeFile(path("real/new.xml")), "created");

    fs::create_symlink("loop-b", m_dir / "loop-a");
    fs::create_symlink("loop-a", m_dir / "loop-b");
    EXPECT_EQ(messageOf<EFCreateError>([&] { writeFileAtomically(path("loop-a"), "x"); }),
              "Cannot create file \"" + path("loop-a") + "\". " + std::strerror(ELOOP));
}

TEST_F(FileIO, theReplacedFileIsKeptAsABackupWhenAsked) {
    const std::string plan = path("dbquery.xml");
    const std::string backup = plan + ".bak";
    const WriteOptions keep{.keepBackup = true};
    writeFileAtomically(plan, "first", keep);
    EXPECT_FALSE(fs::exists(backup)) << "nothing was replaced";

    struct stat before {};
    ::stat(plan.c_str(), &before);
    writeFileAtomically(plan, "second", keep);
    EXPECT_EQ(readWholeFile(backup), "first");
    struct stat kept {};
    ::stat(backup.c_str(), &kept);
    EXPECT_EQ(kept.st_ino, before.st_ino) << "the backup is the replaced file itself, not a copy";

    writeFileAtomically(plan, "second", keep);  // the same contents again
    EXPECT_EQ(readWholeFile(backup), "first");
    writeFileAtomically(plan, "third", keep);
    EXPECT_EQ(readWholeFile(backup), "second");
    writeFileAtomically(plan, "fourth");  // not asked: the backup stays as it was
    EXPECT_EQ(readWholeFile(backup), "second");
    EXPECT_EQ(names(), (std::set<std::string>{"dbquery.xml", "dbquery.xml.bak"}));

    // A write killed between putting the backup in place and renaming the new file leaves the
    // backup as a second name of the plan; the next write keeps it and leaves nothing else.
    fs::remove(backup);
    fs::create_hard_link(plan, backup);
    writeFileAtomically(plan, "fifth", keep);
    EXPECT_EQ(readWholeFile(backup), "fourth");
    EXPECT_EQ(names(), (std::set<std::string>{"dbquery.xml", "dbquery.xml.bak"}));
}

TEST_F(FileIO, onlyRegularFilesAreRead) {
    write("plain.txt", "text");
    fs::create_directory(m_dir / "folder");
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = path("socket");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    fs::create_symlink("plain.txt", m_dir / "link.txt");

    EXPECT_EQ(readWholeFile(path("plain.txt")), "text");
    EXPECT_EQ(readWholeFile(path("link.txt")), "text");
    const struct {
        std::string file;
        std::string why;
    } refused[] = {
        {path("folder"), std::strerror(EISDIR)},
        {path("fifo"), "Not a regular file"},  // no writer: it must not wait for one
        {path("socket"), std::strerror(ENXIO)},
        {"/dev/zero", "Not a regular file"},
        {path("missing"), std::strerror(ENOENT)},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(messageOf<EFOpenError>([&] { readWholeFile(c.file); }),
                  "Cannot open file \"" + c.file + "\". " + c.why);
    }
    ::close(sock);
}

TEST_F(FileIO, aPrivateFileMustBeClosedToOtherUsers) {
    write("secret", "password\n");
    const struct {
        mode_t mode;
        bool accepted;
    } cases[] = {{0600, true}, {0400, true}, {0640, false}, {0604, false}, {0620, false}};
    for (const auto& c : cases) {
        ::chmod(path("secret").c_str(), c.mode);
        char octal[8];
        std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(c.mode));
        if (c.accepted) {
            EXPECT_EQ(readPrivateFile(path("secret")), "password\n") << octal;
        } else {
            EXPECT_EQ(messageOf<EFOpenError>([&] { readPrivateFile(path("secret")); }),
                      "Cannot open file \"" + path("secret") + "\". Permissions " + octal +
                          " are too open: other users may read it (chmod 600)");
        }
    }
    EXPECT_EQ(messageOf<EFOpenError>([&] { readPrivateFile("/dev/null"); }),
              "Cannot open file \"/dev/null\". Not a regular file");
}

TEST_F(FileIO, replaceabilityIsCheckedWithoutLeavingAnything) {
    write("dbquery.xml", "plan");
    write(".dbquery.xml." + std::to_string(deadProcess()) + ".1.2", "left by a killed write");
    EXPECT_NO_THROW(checkReplaceable(path("dbquery.xml"), 1 << 20));
    EXPECT_NO_THROW(checkReplaceable(path("new.xml"), 1 << 20));
    EXPECT_EQ(names(), (std::set<std::string>{"dbquery.xml"}));

    fs::create_directory(m_dir / "folder.xml");
    EXPECT_EQ(messageOf<EFCreateError>([&] { checkReplaceable(path("folder.xml"), 10); }),
              "Cannot create file \"" + path("folder.xml") + "\". " + std::strerror(EISDIR));
    EXPECT_EQ(messageOf<EFCreateError>([&] { checkReplaceable(path("none/dbquery.xml"), 10); }),
              "Cannot create file \"" + path("none/dbquery.xml") + "\". " + std::strerror(ENOENT));

    // A limit on file size stands for a full disk.
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 65536;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const std::string tooBig =
        messageOf<EFCreateError>([&] { checkReplaceable(path("dbquery.xml"), 1 << 20); });
    const bool fits = messageOf<EFCreateError>(
                          [&] { checkReplaceable(path("dbquery.xml"), 4096); }) == "(no error)";
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(tooBig,
              "Cannot create file \"" + path("dbquery.xml") + "\". " + std::strerror(EFBIG));
    EXPECT_TRUE(fits);
    EXPECT_EQ(names(), (std::set<std::string>{"dbquery.xml", "folder.xml"}));
}

}  // namespace
}  // namespace tarvolen
