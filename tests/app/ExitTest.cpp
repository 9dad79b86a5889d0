// The end of the program: the plan's write-back, and keeping the marks when it fails.

#include <sys/resource.h>

#include <QCheckBox>
#include <QToolButton>
#include <csignal>
#include <filesystem>

#include "GuiTestSupport.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "plan/PlanRecovery.h"

namespace tarvolen::testing {
namespace {

namespace fs = std::filesystem;

class ExitTest : public GuiTest {
  protected:
    void runPlan() {
        // The plan of the current folder, which is not always the test's folder.
        writeFile("dbquery.xml", planXml({{.id = 10, .testo = "create table T1 (A integer);"},
                                          {.id = 20, .testo = "insert into T1 values (1);"}}));
        startConnected();
        window().chkStatistics->setChecked(false);
        m_script.expect(DialogScript::ok());
        clickEsegui();
    }

  public:
    // Recovery files in a folder.
    static std::vector<fs::path> recoveryFiles(const fs::path& folder) {
        std::vector<fs::path> found;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec))
            if (entry.path().filename().string().rfind("dbquery-recupero-", 0) == 0)
                found.push_back(entry.path());
        return found;
    }
};

TEST_F(ExitTest, marksOfARunReachThePlanFileAtExit) {
    runPlan();
    m_program->finish();
    EXPECT_EQ(m_script.shown.size(), 2u) << "no message at exit";
    EXPECT_EQ(planMarks(folder() / "dbquery.xml"), "10=S 20=S");
    EXPECT_TRUE(recoveryFiles(folder()).empty());
}

TEST_F(ExitTest, failedWriteBackKeepsTheMarksInARecoveryFileBesideThePlan) {
    runPlan();
    // The plan's name now belongs to a folder: the write-back cannot replace it.
    fs::remove(folder() / "dbquery.xml");
    fs::create_directory(folder() / "dbquery.xml");
    m_script.expect(DialogScript::ok());
    m_program->finish();

    ASSERT_EQ(m_script.shown.size(), 3u);
    const ShownDialog& box = m_script.shown[2];
    EXPECT_EQ(box.caption, title());
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    const auto saved = recoveryFiles(folder());
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_TRUE(box.text.startsWith("Cannot create file")) << box.text.toStdString();
    EXPECT_TRUE(box.text.contains(QString::fromStdString(saved[0].string())))
        << box.text.toStdString();
    EXPECT_TRUE(box.text.contains(QString::fromStdString((folder() / "dbquery.xml").string())));
    EXPECT_EQ(planMarks(saved[0]), "10=S 20=S");
}

TEST_F(ExitTest, aRecoveryFileHasThePlansPermissions) {
    runPlan();
    // A plan only its owner may read (its scripts may hold a password).
    fs::permissions(folder() / "dbquery.xml", fs::perms::owner_read | fs::perms::owner_write);
    TClientDataSet& plan = dm().cdsQuery();
    plan.First();
    plan.Edit();
    plan.FieldByName("VERSIONE").SetAsString("1.2.0.0");
    plan.Post();
    // A folder in the backup's place: the write-back cannot keep the plan it would replace.
    fs::remove(folder() / "dbquery.xml.bak");
    fs::create_directory(folder() / "dbquery.xml.bak");
    m_script.expect(DialogScript::ok());
    m_program->finish();

    const auto saved = recoveryFiles(folder());
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(fs::status(saved[0]).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(folder() / "dbquery.xml").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(ExitTest, recoveryGoesToTheSettingsFolderWhenThePlansFolderIsGone) {
    const fs::path work = folder() / "lavoro";
    fs::create_directory(work);
    fs::current_path(work);
    runPlan();
    // The current folder disappears under the program: nothing can be written beside the plan.
    fs::remove_all(work);
    m_script.expect(DialogScript::ok());
    m_program->finish();
    fs::current_path(folder());

    ASSERT_EQ(m_script.shown.size(), 3u);
    const auto saved = recoveryFiles(folder() / "recovery-fallback");
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_TRUE(m_script.shown[2].text.contains(QString::fromStdString(saved[0].string())))
        << m_script.shown[2].text.toStdString();
    EXPECT_EQ(planMarks(saved[0]), "10=S 20=S");
}

TEST(PlanRecovery, aFullDiskLeavesNoPartOfTheRecoveryFileAndTheMarksInTheTable) {
    const fs::path folder = database::testing::makeTempFolder("tarvolen-recovery-");
    const fs::path planFile = folder / "dbquery.xml";
    std::ofstream(planFile, std::ios::binary)
        << planXml({{.id = 10, .testo = std::string(200000, 'x')}, {.id = 20, .testo = "y"}});
    const std::string planBefore = readWholeFile(planFile.string());
    TClientDataSet plan("cdsQuery");
    configurePlanTable(plan);
    plan.SetFileName(planFile.string());
    plan.Open();
    plan.Edit();
    plan.FieldByName("STATO").SetAsString("S");
    plan.Post();

    // Both the plan's folder and the fallback are on the full disk: a file-size limit makes
    // every write fail part-way, as a full disk does.
    const auto now = std::chrono::system_clock::now();
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    std::string message = "(saved)";
    try {
        savePlanRecovery(plan, planFile, folder / "fallback", now);
    } catch (const EFCreateError& e) {
        message = e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    const fs::path fallback = folder / "fallback" / recoveryFileName(now);
    EXPECT_EQ(message, "Cannot create file \"" + fallback.string() + "\". File too large");
    EXPECT_EQ(ExitTest::recoveryFiles(folder), std::vector<fs::path>{});
    EXPECT_EQ(ExitTest::recoveryFiles(folder / "fallback"), std::vector<fs::path>{});
    EXPECT_EQ(readWholeFile(planFile.string()), planBefore) << "the plan is whole";
    // The marks are still in the table: once there is room they are saved.
    const fs::path saved = savePlanRecovery(plan, planFile, folder / "fallback", now);
    EXPECT_EQ(saved, folder / recoveryFileName(now));
    TClientDataSet back("back");
    configurePlanTable(back);
    back.LoadFile(saved.string());
    EXPECT_EQ(back.FieldByName("STATO").AsString(), "S");
    EXPECT_EQ(back.FieldByName("TESTO").AsString().size(), 200000u);
    plan.SetFileName("");
    plan.Close();
    fs::remove_all(folder);
}

TEST(PlanRecovery, fileNameCarriesTheLocalDateAndTime) {
    std::tm when{};
    when.tm_year = 2024 - 1900;
    when.tm_mon = 0;
    when.tm_mday = 31;
    when.tm_hour = 15;
    when.tm_min = 30;
    when.tm_sec = 45;
    when.tm_isdst = -1;
    const auto now = std::chrono::system_clock::from_time_t(std::mktime(&when));
    EXPECT_EQ(recoveryFileName(now), "dbquery-recupero-20240131-153045.xml");
}

}  // namespace
}  // namespace tarvolen::testing
