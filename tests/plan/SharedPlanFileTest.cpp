// Two programs on one plan file, as the window and the command line meet on it: each write
// starts from the file as it is now, with its journal of done-marks, and replays the writer's
// own changes onto it. Real files in a temporary folder; no database.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "PlanFileSupport.h"
#include "plan/ClientDataSet.h"
#include "plan/Errors.h"
#include "plan/FileIO.h"
#include "plan/MarksJournal.h"
#include "plan/PacketCodec.h"
#include "plan/PlanLayout.h"
#include "plan/PlanLock.h"
#include "plan/PlanRecovery.h"
#include "plan/SharedPlanFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestFolder.h"
#include "tests/support/WindowsSecurity.h"

namespace tarvolen {
namespace {

namespace fs = std::filesystem;
using testing::Phase;
using testing::planXml;
using Change = std::function<void(TClientDataSet&)>;

// ---- changes a program makes to its copy of the plan ---------------------------------------

int rowOf(TClientDataSet& plan, int id, int occurrence = 0) {
    int seen = 0;
    for (int row = 0; row < plan.RecordCount(); ++row) {
        const FieldValue value = plan.RowValue(row, 0);
        if (std::get_if<int64_t>(&value) != nullptr && std::get<int64_t>(value) == id &&
            seen++ == occurrence)
            return row;
    }
    ADD_FAILURE() << "no phase " << id;
    return 0;
}

Change set(int id, const char* field, std::string value, int occurrence = 0) {
    return [=](TClientDataSet& plan) {
        plan.MoveTo(rowOf(plan, id, occurrence));
        plan.Edit();
        plan.FieldByName(field).SetAsString(value);
        plan.Post();
    };
}
Change mark(int id, std::string stato = "S") {
    return set(id, "STATO", std::move(stato));
}
Change retext(int id, std::string testo, int occurrence = 0) {
    return set(id, "TESTO", std::move(testo), occurrence);
}
Change add(int id, std::string testo, std::string stato = "N") {
    return [=](TClientDataSet& plan) {
        plan.Insert();
        plan.FieldByName("ID").SetAsInteger(id);
        plan.FieldByName("STATO").SetAsString(stato);
        plan.FieldByName("TIPO").SetAsString("S");
        plan.FieldByName("SEPARATORE").SetAsString(";");
        plan.FieldByName("TESTO").SetAsString(testo);
        plan.Post();
    };
}
Change remove(int id) {
    return [=](TClientDataSet& plan) {
        plan.MoveTo(rowOf(plan, id));
        plan.Delete();
    };
}
Change emptyTable() {
    return [](TClientDataSet& plan) { plan.EmptyTable(); };
}
Change both(Change first, Change second) {
    return [=](TClientDataSet& plan) {
        first(plan);
        second(plan);
    };
}
Change nothing() {
    return [](TClientDataSet&) {};
}

// "10 N a, 20 S b": ID, STATO and TESTO of every visible row, in ID order.
std::string rowsOf(TClientDataSet& plan) {
    std::string rows;
    for (plan.First(); !plan.Eof(); plan.Next()) {
        if (!rows.empty()) rows += ", ";
        rows += plan.FieldByName("ID").AsString() + " " + plan.FieldByName("STATO").AsString() +
                " " + plan.FieldByName("TESTO").AsString();
    }
    plan.First();
    return rows;
}

// The plan a file holds, read as data, with nothing applied to it.
std::string rowsInFile(const fs::path& file) {
    TClientDataSet plan("plan");
    configurePlanFields(plan);
    plan.LoadFile(file.string());
    return rowsOf(plan);
}

class SharedPlan : public ::testing::Test {
  protected:
    fs::path planFile() const { return m_folder.path() / "dbquery.xml"; }
    std::string plan() const { return planFile().string(); }
    void writePlan(const std::vector<Phase>& phases) const {
        std::ofstream(planFile(), std::ios::binary) << planXml(phases);
    }
    // A program's copy of the plan, read from the file as the window reads it.
    void open(TClientDataSet& table) {
        configurePlanTable(table);
        table.SetFileName(plan());
        SharedPlanOf(table).SetRecoveryFolder(m_folder.path() / "fallback");
        SharedPlanOf(table).SetConflictReporter(
            [this](const PlanConflict& conflict) { m_conflicts.push_back(conflict); });
        table.Open();
    }
    // Another program's change, written whole, as tarvolen-plan writes one.
    void changeOnDisk(const Change& change) {
        TClientDataSet other("other");
        open(other);
        change(other);
        other.SaveFile();
    }
    std::vector<fs::path> recoveryFiles() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(m_folder.path()))
            if (entry.path().filename().string().rfind("dbquery-recupero-", 0) == 0)
                found.push_back(entry.path());
        return found;
    }

    testing::TempFolder m_folder;
    std::vector<PlanConflict> m_conflicts;
};

// ---- the cases of a write -------------------------------------------------------------------

struct MergeCase {
    const char* name;
    std::vector<Phase> plan;
    Change onDisk;  // another program, after this one read the plan; none: no other program
    Change here;    // this program, on its copy
    std::string expected;
    std::vector<std::optional<int64_t>> conflicts;
    // This program's own copy, as the recovery file keeps it when there are conflicts.
    std::string recovered;
};

void PrintTo(const MergeCase& c, std::ostream* out) {
    *out << c.name;
}

const std::vector<Phase> kTwo = {{.id = 10, .testo = "a"}, {.id = 20, .testo = "b"}};
const std::vector<Phase> kTwoDone = {{.id = 10, .stato = "S", .testo = "a"},
                                     {.id = 20, .testo = "b"}};
const std::vector<Phase> kShared = {
    {.id = 10, .testo = "a"}, {.id = 20, .testo = "b"}, {.id = 20, .testo = "c"}};

class MergeCases : public SharedPlan, public ::testing::WithParamInterface<MergeCase> {};

TEST_P(MergeCases, theWriteKeepsBothProgramsWorkAndTheFileWinsWhereBothChangedARow) {
    const MergeCase& c = GetParam();
    writePlan(c.plan);
    TClientDataSet mine("cdsQuery");
    open(mine);
    if (c.onDisk) changeOnDisk(c.onDisk);
    c.here(mine);
    mine.SaveFile();

    EXPECT_EQ(rowsInFile(planFile()), c.expected);
    EXPECT_EQ(rowsOf(mine), c.expected) << "the table holds what the file holds";
    EXPECT_EQ(mine.ChangeCount(), 0);
    if (c.conflicts.empty()) {
        EXPECT_TRUE(m_conflicts.empty());
        EXPECT_TRUE(recoveryFiles().empty());
        return;
    }
    ASSERT_EQ(m_conflicts.size(), 1u);
    EXPECT_EQ(m_conflicts[0].ids, c.conflicts);
    EXPECT_EQ(m_conflicts[0].planFile, plan());
    const auto saved = recoveryFiles();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(m_conflicts[0].recoveryFile, saved[0]);
    EXPECT_EQ(rowsInFile(saved[0]), c.recovered);
}

INSTANTIATE_TEST_SUITE_P(
    OnePlanTwoWriters, MergeCases,
    ::testing::Values(
        MergeCase{"onlyHereChanged", kTwo, {}, retext(10, "x"), "10 N x, 20 N b"},
        MergeCase{"onlyTheFileChanged", kTwo, mark(10), retext(20, "y"), "10 S a, 20 N y"},
        MergeCase{"aStaleCopyNeverUnmarksAPhase", kTwo, mark(10), nothing(), "10 S a, 20 N b"},
        MergeCase{
            "anExplicitEditOfTheMarkHereUnmarks", kTwoDone, {}, mark(10, "N"), "10 N a, 20 N b"},
        MergeCase{"bothChangedAlike", kTwo, mark(10), mark(10), "10 S a, 20 N b"},
        MergeCase{"bothChangedDifferently",
                  kTwo,
                  mark(10),
                  retext(10, "x"),
                  "10 S a, 20 N b",
                  {10},
                  "10 N x, 20 N b"},
        MergeCase{"conflictsLeaveTheOtherChangesHere",
                  kTwo,
                  mark(10),
                  both(retext(10, "x"), retext(20, "y")),
                  "10 S a, 20 N y",
                  {10},
                  "10 N x, 20 N y"},
        MergeCase{"insertedHere", kTwo, {}, add(30, "z"), "10 N a, 20 N b, 30 N z"},
        MergeCase{"insertedHereAndThereAlike", kTwo, add(30, "z"), add(30, "z"),
                  "10 N a, 20 N b, 30 N z"},
        MergeCase{"insertedHereWhereTheFileHasTheIdWithOtherContent",
                  kTwo,
                  add(30, "w"),
                  add(30, "z"),
                  "10 N a, 20 N b, 30 N w",
                  {30},
                  "10 N a, 20 N b, 30 N z"},
        MergeCase{"rowsOthersAddedStay", kTwo, add(40, "o"), retext(10, "x"),
                  "10 N x, 20 N b, 40 N o"},
        MergeCase{"deletedHere", kTwo, {}, remove(20), "10 N a"},
        MergeCase{"deletedHereAndThere", kTwo, remove(20), remove(20), "10 N a"},
        MergeCase{"deletedHereButChangedThere",
                  kTwo,
                  mark(20),
                  remove(20),
                  "10 N a, 20 S b",
                  {20},
                  "10 N a"},
        MergeCase{"deletedThereButChangedHere",
                  kTwo,
                  remove(20),
                  retext(20, "y"),
                  "10 N a",
                  {20},
                  "10 N a, 20 N y"},
        MergeCase{"emptiedHere", kTwo, {}, emptyTable(), ""},
        MergeCase{"emptiedHereThenARowAdded", kTwo, nothing(), both(emptyTable(), add(50, "n")),
                  "50 N n"},
        MergeCase{"emptiedHereKeepsRowsOthersAdded", kTwo, add(40, "o"), emptyTable(), "40 N o"},
        MergeCase{
            "emptiedHereKeepsRowsOthersChanged", kTwo, mark(20), emptyTable(), "20 S b", {20}, ""},
        MergeCase{
            "sharedIdsChangedHereOnly", kShared, {}, retext(20, "x", 1), "10 N a, 20 N b, 20 N x"},
        MergeCase{"sharedIdsOneDeletedHere", kShared, mark(10),
                  [](TClientDataSet& plan) {
                      plan.MoveTo(rowOf(plan, 20, 0));
                      plan.Delete();
                  },
                  "10 S a, 20 N c"},
        MergeCase{"sharedIdsChangedOnBothSidesAreOneConflict",
                  kShared,
                  retext(20, "y", 0),
                  retext(20, "x", 1),
                  "10 N a, 20 N c, 20 N y",
                  {20},
                  "10 N a, 20 N b, 20 N x"}),
    [](const ::testing::TestParamInfo<MergeCase>& info) { return std::string(info.param.name); });

// ---- the file's history, the journal, a file that disappeared -------------------------------

TEST_F(SharedPlan, theMergedFileKeepsEveryRowVersionAndItsChangeLog) {
    writePlan(kTwo);
    TClientDataSet mine("cdsQuery");
    open(mine);
    changeOnDisk(mark(10));
    retext(20, "y")(mine);
    mine.SaveFile();
    const DataPacket packet = decodePacket(readWholeFile(plan()));
    // Two rows as written, each superseded by one edit: the other program's and this one's.
    EXPECT_EQ(packet.rows.size(), 4u);
    EXPECT_EQ(packet.changeLog.size(), 2u);
}

TEST_F(SharedPlan, anEmptiedPlanReachesTheFileWithoutHistoryAsBefore) {
    writePlan(kTwo);
    TClientDataSet mine("cdsQuery");
    open(mine);
    changeOnDisk(nothing());  // a write of the same plan: the file is another file now
    mine.EmptyTable();
    mine.SaveFile();
    const DataPacket packet = decodePacket(readWholeFile(plan()));
    EXPECT_EQ(packet.rows.size(), 0u);
    EXPECT_EQ(packet.changeLog.size(), 0u);
}

TEST_F(SharedPlan, theMarksOfAKilledRunsJournalAreTheFilesAndReachItWithTheNextWrite) {
    writePlan(kTwo);
    TClientDataSet mine("cdsQuery");
    open(mine);
    // A run marked phase 10 in its journal and was killed before it wrote the plan.
    MarksJournal(plan()).Append(10);
    retext(20, "y")(mine);
    mine.SaveFile();
    EXPECT_EQ(rowsInFile(planFile()), "10 S a, 20 N y");
    EXPECT_FALSE(fileExists(plan() + ".marks")) << "the plan holds its marks now";
    EXPECT_TRUE(m_conflicts.empty());
}

TEST_F(SharedPlan, aJournalMarkOfARowChangedHereIsAConflictTheFileWins) {
    writePlan(kTwo);
    TClientDataSet mine("cdsQuery");
    open(mine);
    MarksJournal(plan()).Append(10);
    retext(10, "x")(mine);
    mine.SaveFile();
    EXPECT_EQ(rowsInFile(planFile()), "10 S a, 20 N b");
    ASSERT_EQ(m_conflicts.size(), 1u);
    EXPECT_EQ(m_conflicts[0].ids, (std::vector<std::optional<int64_t>>{10}));
}

TEST_F(SharedPlan, aPlanReadWithAJournalShowsItsMarksAndAWindowWithoutChangesWritesNothing) {
    writePlan(kTwo);
    MarksJournal(plan()).Append(20);
    TClientDataSet mine("cdsQuery");
    open(mine);
    EXPECT_EQ(rowsOf(mine), "10 N a, 20 S b");
    EXPECT_EQ(mine.ChangeCount(), 0) << "the journal's marks are the file's, not changes";
    const std::string before = readWholeFile(plan());
    mine.Close();
    EXPECT_EQ(readWholeFile(plan()), before);
    EXPECT_EQ(MarksJournal(plan()).Read(), std::vector<int64_t>{20}) << "the journal still counts";
}

TEST_F(SharedPlan, aFileThatDisappearedIsWrittenAnewFromTheTable) {
    writePlan(kTwo);
    TClientDataSet mine("cdsQuery");
    open(mine);
    retext(10, "x")(mine);
    fs::remove(planFile());
    mine.SaveFile();
    EXPECT_EQ(rowsInFile(planFile()), "10 N x, 20 N b");
    EXPECT_TRUE(m_conflicts.empty());
}

TEST_F(SharedPlan, aSaveLeavesTheTableUnchangedSoTheCloseDoesNotWriteAStaleCopyAgain) {
    writePlan(kTwo);
    TClientDataSet mine("cdsQuery");
    open(mine);
    mark(10)(mine);
    mine.SaveFile();
    EXPECT_EQ(mine.ChangeCount(), 0);
    // Another program adds a phase after the save; closing must not write it away.
    changeOnDisk(add(30, "z"));
    mine.Close();
    EXPECT_EQ(rowsInFile(planFile()), "10 S a, 20 N b, 30 N z");
}

TEST_F(SharedPlan, aCloseAfterAChangeMergesAsASaveDoes) {
    writePlan(kTwo);
    TClientDataSet mine("cdsQuery");
    open(mine);
    changeOnDisk(mark(20));
    retext(10, "x")(mine);
    mine.Close();
    EXPECT_EQ(rowsInFile(planFile()), "10 N x, 20 S b");
}

TEST_F(SharedPlan, bringingUpToDateReadsTheFileOrWritesTheChangesHeldHere) {
    writePlan(kTwo);
    TClientDataSet mine("cdsQuery");
    open(mine);
    changeOnDisk(mark(10));
    SharedPlanOf(mine).BringUpToDate();
    EXPECT_EQ(rowsOf(mine), "10 S a, 20 N b");
    changeOnDisk(mark(20));
    retext(10, "x")(mine);
    SharedPlanOf(mine).BringUpToDate();
    EXPECT_EQ(rowsOf(mine), "10 S x, 20 S b");
    EXPECT_EQ(rowsInFile(planFile()), "10 S x, 20 S b");
}

// ---- the lock -------------------------------------------------------------------------------

TEST_F(SharedPlan, holdsNestWithinTheProcessAndTheLastOneLetsThePlanGo) {
    writePlan(kTwo);
    TClientDataSet mine("cdsQuery");
    open(mine);
    {
        const SharedPlanFile::Hold outer = SharedPlanOf(mine).hold();
        {
            const SharedPlanFile::Hold inner = SharedPlanOf(mine).hold();
            retext(10, "x")(mine);
            mine.SaveFile();  // a third hold, for the write
        }
        EXPECT_TRUE(fileExists(plan() + ".lock")) << "the outer hold keeps the plan";
        TClientDataSet other("other");
        open(other);
        mark(20)(other);
        EXPECT_THROW(other.SaveFile(), PlanInUse);
        EXPECT_EQ(other.ChangeCount(), 1) << "a refused write keeps its changes";
        other.SetFileName("");
    }
    EXPECT_FALSE(fileExists(plan() + ".lock"));
    EXPECT_EQ(rowsInFile(planFile()), "10 N x, 20 N b");
}

TEST_F(SharedPlan, aWriteWhileAnotherProcessHoldsThePlanIsRefusedNamingItAndChangesNothing) {
    writePlan(kTwo);
    TClientDataSet mine("cdsQuery");
    open(mine);
    testing::ChildProcess child(TARVOLEN_OS_CHILD, {"lock", plan()});
    const long holder = child.pid();
    ASSERT_EQ(child.readLine(), "locked " + std::to_string(holder));
    const std::string before = readWholeFile(plan());
    mark(10)(mine);
    std::string refusal;
    try {
        mine.SaveFile();
    } catch (const PlanInUse& e) {
        refusal = e.what();
        EXPECT_EQ(e.pid(), holder);
        EXPECT_EQ(e.planFile(), plan());
    }
    child.kill();
    child.wait();
    EXPECT_EQ(refusal, "Cannot use the plan \"" + plan() + "\": plan in use by process " +
                           std::to_string(holder));
    EXPECT_EQ(readWholeFile(plan()), before);
    EXPECT_EQ(rowsOf(mine), "10 S a, 20 N b") << "the change stays in the table";
    EXPECT_EQ(mine.ChangeCount(), 1);
    mine.SaveFile();  // the holder is gone
    EXPECT_EQ(rowsInFile(planFile()), "10 S a, 20 N b");
}

// ---- a plan reachable by another name --------------------------------------------------------

TEST_F(SharedPlan, aPlanWithAnotherHardLinkIsRefusedNamingTheCount) {
    writePlan(kTwo);
    fs::create_directory(m_folder.path() / "altrove");
    fs::create_hard_link(planFile(), m_folder.path() / "altrove" / "h.xml");
    try {
        const PlanLock lock(plan());
        ADD_FAILURE() << "a plan with two names was locked";
    } catch (const PlanHardLinked& e) {
        EXPECT_EQ(e.links(), 2u);
        EXPECT_NE(std::string(e.what()).find("the file has 2 hard links"), std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(fileExists(plan() + ".lock")) << "a refusal leaves no lock behind";
    fs::remove(m_folder.path() / "altrove" / "h.xml");
    EXPECT_NO_THROW(PlanLock{plan()});
}

TEST_F(SharedPlan, theNamesAWriteOfThePlanLinksItToAreNoOtherName) {
    // A write cut short after it put the backup in place leaves "<plan>.bak" as a second name
    // of the plan itself, and one cut short before that a temporary name.
    for (const char* companion : {"dbquery.xml.bak", ".dbquery.xml.bak.999999-1.2.3"}) {
        SCOPED_TRACE(companion);
        writePlan(kTwo);
        fs::create_hard_link(planFile(), m_folder.path() / companion);
        EXPECT_NO_THROW(PlanLock{plan()});
        TClientDataSet mine("cdsQuery");
        open(mine);
        retext(10, "x")(mine);
        EXPECT_NO_THROW(mine.SaveFile());
        fs::remove(m_folder.path() / companion);
    }
}

// ---- the recovery file ------------------------------------------------------------------------

#ifndef _WIN32
TEST_F(SharedPlan, aRecoveryFileHasThePlansPermissions) {
    writePlan(kTwo);
    for (const fs::perms mode :
         {fs::perms::owner_read | fs::perms::owner_write,
          fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read}) {
        fs::permissions(planFile(), mode);
        TClientDataSet mine("cdsQuery");
        open(mine);
        const fs::path saved = savePlanRecovery(mine, planFile(), m_folder.path() / "fallback",
                                                std::chrono::system_clock::now());
        EXPECT_EQ(saved.parent_path(), m_folder.path());
        EXPECT_EQ(fs::status(saved).permissions(), mode) << saved;
        fs::remove(saved);
    }
}

TEST_F(SharedPlan, aConflictsRecoveryFileHasThePlansPermissions) {
    writePlan(kTwo);
    fs::permissions(planFile(), fs::perms::owner_read | fs::perms::owner_write);
    TClientDataSet mine("cdsQuery");
    open(mine);
    changeOnDisk(mark(10));
    retext(10, "x")(mine);
    mine.SaveFile();
    ASSERT_EQ(m_conflicts.size(), 1u);
    EXPECT_EQ(fs::status(m_conflicts[0].recoveryFile).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
}
#else
// Whom a file's security settings let read it besides its owner, as a password file is judged:
// empty when nobody else.
std::string readableByOthers(const fs::path& file) {
    try {
        readPrivateFile(file.string());
        return {};
    } catch (const EFOpenError& e) {
        return e.what();
    }
}

TEST_F(SharedPlan, aRecoveryFileHasThePlansSecuritySettings) {
    writePlan(kTwo);
    const std::wstring me = L"(A;;FA;;;" + testing::currentUserSid() + L")";
    const struct {
        std::wstring sddl;
        bool othersRead;
    } cases[] = {{L"D:P" + me, false}, {L"D:P" + me + L"(A;;FR;;;WD)", true}};
    for (const auto& c : cases) {
        ASSERT_TRUE(testing::setFileSecurity(plan(), c.sddl));
        ASSERT_EQ(readableByOthers(planFile()).empty(), !c.othersRead) << "the plan as made";
        TClientDataSet mine("cdsQuery");
        open(mine);
        const fs::path saved = savePlanRecovery(mine, planFile(), m_folder.path() / "fallback",
                                                std::chrono::system_clock::now());
        EXPECT_EQ(saved.parent_path(), m_folder.path());
        const std::string others = readableByOthers(saved);
        if (c.othersRead) {
            EXPECT_NE(others.find("Everyone"), std::string::npos) << others;
        } else {
            EXPECT_EQ(others, "");
        }
        fs::remove(saved);
    }
}

TEST_F(SharedPlan, aConflictsRecoveryFileHasThePlansSecuritySettings) {
    writePlan(kTwo);
    ASSERT_TRUE(
        testing::setFileSecurity(plan(), L"D:P(A;;FA;;;" + testing::currentUserSid() + L")"));
    TClientDataSet mine("cdsQuery");
    open(mine);
    changeOnDisk(mark(10));
    retext(10, "x")(mine);
    mine.SaveFile();
    ASSERT_EQ(m_conflicts.size(), 1u);
    EXPECT_EQ(readableByOthers(m_conflicts[0].recoveryFile), "");
    EXPECT_EQ(readableByOthers(planFile()), "") << "the merged plan keeps its settings";
}
#endif

TEST_F(SharedPlan, recoveryFilesOfOneSecondDoNotOverwriteEachOther) {
    writePlan(kTwo);
    TClientDataSet mine("cdsQuery");
    open(mine);
    const auto now = std::chrono::system_clock::now();
    const fs::path first = savePlanRecovery(mine, planFile(), {}, now);
    retext(10, "x")(mine);
    const fs::path second = savePlanRecovery(mine, planFile(), {}, now);
    EXPECT_NE(first, second);
    EXPECT_EQ(rowsInFile(first), "10 N a, 20 N b");
    EXPECT_EQ(rowsInFile(second), "10 N x, 20 N b");
    mine.SetFileName("");
}

}  // namespace
}  // namespace tarvolen
