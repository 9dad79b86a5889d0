// The shell's small rules: the application title, the error display's closing period and the
// progress bar's figures.

#include <gtest/gtest.h>

#include <ostream>

#include "app/Dialogs.h"
#include "app/RunProgressView.h"

namespace tarvolen {
namespace {

struct TitleCase {
    const char* path;
    const char* title;
};

void PrintTo(const TitleCase& c, std::ostream* os) {
    *os << c.path;
}

class ApplicationTitleTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(ApplicationTitleTest, isTheFileNameCutAtItsFirstDotWithLowerCaseAfterTheFirstLetter) {
    EXPECT_EQ(applicationTitle(QString::fromUtf8(GetParam().path)),
              QString::fromUtf8(GetParam().title));
}

INSTANTIATE_TEST_SUITE_P(Cases, ApplicationTitleTest,
                         ::testing::Values(TitleCase{"/usr/bin/tarvolen", "tarvolen"},
                                           TitleCase{"C:\\Programmi\\TARVOLEN.EXE", "Tarvolen"},
                                           TitleCase{"/opt/Tar.Volen.bin", "Tar"},
                                           TitleCase{"/a.b/Aggiorna", "Aggiorna"},
                                           TitleCase{"/x/ÀGGIORNA", "Àggiorna"},
                                           TitleCase{"tarvolen", "tarvolen"}));

struct PeriodCase {
    const char* message;
    const char* shown;
};

void PrintTo(const PeriodCase& c, std::ostream* os) {
    *os << '"' << c.message << '"';
}

class ClosingPeriodTest : public ::testing::TestWithParam<PeriodCase> {};

TEST_P(ClosingPeriodTest, isAddedWhenTheLastCharacterSortsAfterThePeriod) {
    EXPECT_EQ(withClosingPeriod(QString::fromUtf8(GetParam().message)),
              QString::fromUtf8(GetParam().shown));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClosingPeriodTest,
    ::testing::Values(PeriodCase{"Errore", "Errore."}, PeriodCase{"Errore.", "Errore."},
                      PeriodCase{"Errore!", "Errore!"}, PeriodCase{"'AliasName'", "'AliasName'"},
                      PeriodCase{"(123)", "(123)"}, PeriodCase{"riga 7", "riga 7."},
                      PeriodCase{"a capo\n", "a capo\n"}, PeriodCase{"perché", "perché."},
                      PeriodCase{"", ""}));

struct ProgressCase {
    const char* name;
    RunProgress progress;
    int permille;
    const char* caption;
};

// Shown by test runners in place of the raw bytes of the case.
void PrintTo(const ProgressCase& c, std::ostream* os) {
    *os << c.name;
}

class RunProgressTest : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(RunProgressTest, showsPhasesAndTheWorkWithinThePhase) {
    EXPECT_EQ(RunProgressView::permille(GetParam().progress), GetParam().permille);
    EXPECT_EQ(RunProgressView::caption(GetParam().progress), QString(GetParam().caption));
}

using Unit = RunProgress::Unit;

INSTANTIATE_TEST_SUITE_P(
    Cases, RunProgressTest,
    ::testing::Values(
        ProgressCase{"beforeTheWalk", {}, 0, ""},
        ProgressCase{"emptyPlan", {.phase = 0, .phaseCount = 0}, 0, ""},
        ProgressCase{"firstOfFour", {.phase = 1, .phaseCount = 4}, 0, "Fase 1 di 4"},
        ProgressCase{"halfThroughSecondScript",
                     {.phase = 2, .phaseCount = 4, .unit = Unit::Lines, .done = 50, .total = 100},
                     375,
                     "Fase 2 di 4, riga 50 di 100"},
        ProgressCase{"importRows",
                     {.phase = 4, .phaseCount = 4, .unit = Unit::Rows, .done = 500, .total = 2000},
                     812,
                     "Fase 4 di 4, record 500 di 2000"},
        ProgressCase{"lastLineOfLastPhase",
                     {.phase = 3, .phaseCount = 3, .unit = Unit::Lines, .done = 7, .total = 7},
                     1000,
                     "Fase 3 di 3, riga 7 di 7"},
        ProgressCase{"unknownTotal",
                     {.phase = 2, .phaseCount = 2, .unit = Unit::Rows, .done = 10, .total = 0},
                     500,
                     "Fase 2 di 2"},
        // Before the walk: the backup and its check, by tables.
        ProgressCase{"backupThirdOfTwelveTables",
                     {.stage = RunProgress::Stage::Backup,
                      .unit = Unit::Tables,
                      .done = 3,
                      .total = 12,
                      .bytes = uint64_t{5} << 20},
                     250,
                     "Backup del database: tabella 3 di 12, 5.0 MB"},
        ProgressCase{"backupStarting",
                     {.stage = RunProgress::Stage::Backup, .unit = Unit::Tables},
                     0,
                     "Backup del database: tabella 0"},
        ProgressCase{"backupCheckDone",
                     {.stage = RunProgress::Stage::BackupCheck,
                      .unit = Unit::Tables,
                      .done = 12,
                      .total = 12},
                     1000,
                     "Verifica del backup: tabella 12 di 12"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarvolen
