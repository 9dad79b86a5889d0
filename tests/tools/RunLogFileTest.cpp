// The log file of a run: a timestamp on every line, appended, flushed as it goes.

#include "engine/RunLog.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "tests/support/TestFolder.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"

namespace tarvolen {
namespace {

using namespace std::chrono_literals;

class RunLogFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef _WIN32
        _putenv_s("TZ", "UTC");
        _tzset();
#else
        setenv("TZ", "UTC", 1);
        tzset();
#endif
    }
    std::string path(const char* name) const { return (m_folder.path() / name).string(); }

    tarvolen::testing::TempFolder m_folder;
    // 2024-05-02 14:03:07.250 UTC
    std::chrono::system_clock::time_point m_time =
        std::chrono::system_clock::from_time_t(1714658587) + 250ms;
};

TEST_F(RunLogFileTest, timestampsAreLocalTimeToTheMillisecond) {
    EXPECT_EQ(LogTimestamp(m_time), "2024-05-02 14:03:07.250");
    EXPECT_EQ(LogTimestamp(m_time + 749ms), "2024-05-02 14:03:07.999");
}

TEST_F(RunLogFileTest, durationsAreSecondsToTheMillisecond) {
    EXPECT_EQ(DurationText(0ms), "0.000 s");
    EXPECT_EQ(DurationText(1234567us), "1.234 s");
    EXPECT_EQ(DurationText(3723s + 5ms), "3723.005 s");
}

TEST_F(RunLogFileTest, everyLineIsStampedAndReachesTheFileAtOnce) {
    auto now = m_time;
    RunLogFile log(path("run.log"), LogEncoding::Utf8, [&] { return now; });
    log.write("FASE 1 SCRIPT IN ESECUZIONE.");
    // Written through before the next line comes: a killed run keeps its log to here.
    EXPECT_EQ(readWholeFile(path("run.log")),
              "2024-05-02 14:03:07.250 FASE 1 SCRIPT IN ESECUZIONE.\n");
    now += 1500ms;
    // A text of several lines (a statement in an error block) stamps each; Windows-1252 text
    // becomes UTF-8.
    log.write("insert into T\r\nvalues ('\xE8');");
    EXPECT_EQ(readWholeFile(path("run.log")),
              "2024-05-02 14:03:07.250 FASE 1 SCRIPT IN ESECUZIONE.\n"
              "2024-05-02 14:03:08.750 insert into T\n"
              "2024-05-02 14:03:08.750 values ('\xC3\xA8');\n");
}

TEST_F(RunLogFileTest, appendsToALogThatIsThere) {
    {
        RunLogFile first(path("run.log"), LogEncoding::Unchanged, [&] { return m_time; });
        first.write("one");
    }
    RunLogFile second(path("run.log"), LogEncoding::Unchanged, [&] { return m_time; });
    second.write("two");
    EXPECT_EQ(readWholeFile(path("run.log")),
              "2024-05-02 14:03:07.250 one\n2024-05-02 14:03:07.250 two\n");
}

TEST_F(RunLogFileTest, aFileThatCannotBeCreatedIsRefusedWithItsPath) {
    // Named with the platform's own separators, as the message names it.
    const std::string file = (m_folder.path() / "no-such-folder" / "run.log").string();
    try {
        RunLogFile log(file, LogEncoding::Unchanged);
        FAIL() << "opened";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file \"" + file + "\". No such file or directory");
    }
}

TEST_F(RunLogFileTest, eachRunKeepsALogOfItsOwnInTheLogFolderBesideThePlan) {
    const std::string plan = path("dbquery.xml");
    const std::string folder = (m_folder.path() / "log").string();
    EXPECT_EQ(RunLogFolder(plan), folder);
    const std::string first = CreateKeptRunLog(plan, "anagrafe", m_time);
    EXPECT_EQ(first, (m_folder.path() / "log" / "20240502-140307-anagrafe.log").string());
    // A second run in the same second, and one whose alias holds what a file name should not.
    EXPECT_EQ(CreateKeptRunLog(plan, "anagrafe", m_time),
              (m_folder.path() / "log" / "20240502-140307-anagrafe-2.log").string());
    EXPECT_EQ(CreateKeptRunLog(plan, "comune/Mondov\xEC 2", m_time + 1s),
              (m_folder.path() / "log" / "20240502-140308-comune_Mondov__2.log").string());
    EXPECT_EQ(readWholeFile(first), "");

    // A "log" that is a file: the refusal names the path below it, as the window and
    // tarvolen-run report it.
    const std::string other = (m_folder.path() / "altro" / "dbquery.xml").string();
    std::filesystem::create_directory(m_folder.path() / "altro");
    std::ofstream((m_folder.path() / "altro" / "log").string()) << "x";
    try {
        CreateKeptRunLog(other, "anagrafe", m_time);
        FAIL() << "created";
    } catch (const EFCreateError& e) {
        const std::string opening =
            "Cannot create file \"" + (m_folder.path() / "altro" / "log").string();
        EXPECT_EQ(std::string(e.what()).substr(0, opening.size()), opening) << e.what();
    }
}

}  // namespace
}  // namespace tarvolen
