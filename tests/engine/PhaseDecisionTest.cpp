// The per-phase decision the batch and the dry run share.

#include "engine/PhaseDecision.h"

#include <gtest/gtest.h>

#include <string>

#include "PhaseDecisionPrinter.h"

namespace tarvolen {
namespace {

struct DecisionCase {
    const char* what;
    std::string stato;
    std::string versione;
    std::string tipo;
    PhaseDecision expected;
};

TEST(PhaseDecision, followsStatoThenVersionThenTipoAgainstTheStartVersion) {
    using enum PhaseDecision;
    const TVersione start = *TVersione::CreateFromText("1.0.0.0");
    const DecisionCase cases[] = {
        // STATO: only an exact upper-case "S" means done, whatever else the row holds.
        {"done", "S", "", "S", AlreadyDone},
        {"done although its version is above the start", "S", "9.0.0.0", "I", AlreadyDone},
        {"done with no TIPO", "S", "", "", AlreadyDone},
        {"lower-case s is not done", "s", "", "S", Script},
        {"N is not done", "N", "", "S", Script},
        {"empty STATO is not done", "", "", "I", Import},
        {"STATO with a blank is not done", "S ", "", "S", Script},
        // VERSIONE, tested trimmed against the start version.
        {"blank version never skips", "N", "", "S", Script},
        {"version of only blanks never skips", "N", "   ", "S", Script},
        {"version equal to the start", "N", "1.0.0.0", "S", SkippedForVersion},
        {"version below the start", "N", "0.9.9.9", "I", SkippedForVersion},
        {"version above the start", "N", "1.0.0.1", "S", Script},
        {"version above the start, import", "N", "2.0.0.0", "I", Import},
        // Untrimmed, "1.0.0.5 " would read as 1.0.0.0 and be skipped.
        {"trailing blank is trimmed before the test", "N", "1.0.0.5 ", "S", Script},
        {"leading and trailing blanks", "N", " 1.0.0.0 ", "S", SkippedForVersion},
        {"skipped whatever its TIPO", "N", "1.0.0.0", "X", SkippedForVersion},
        // TIPO, exact and case-sensitive.
        {"TIPO S", "N", "", "S", Script},
        {"TIPO I", "N", "", "I", Import},
        {"TIPO lower-case s", "N", "", "s", NoAction},
        {"TIPO lower-case i", "N", "", "i", NoAction},
        {"TIPO empty", "N", "", "", NoAction},
        {"TIPO X", "N", "", "X", NoAction},
        {"TIPO S with a blank", "N", "", "S ", NoAction},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecidePhase(c.stato, c.versione, c.tipo, start), c.expected) << c.what;
    }
}

TEST(PhaseDecision, theVersionTestReadsTheStartVersionNotAReachedOne) {
    // The start stays what the database had when the run began; a higher start skips more.
    const TVersione low = *TVersione::CreateFromText("1.0.0.0");
    const TVersione high = *TVersione::CreateFromText("2.0.0.0");
    EXPECT_EQ(DecidePhase("N", "1.5.0.0", "S", low), PhaseDecision::Script);
    EXPECT_EQ(DecidePhase("N", "1.5.0.0", "S", high), PhaseDecision::SkippedForVersion);
}

TEST(PhaseDecision, onlyPassedOverPhasesHaveAPassedOverLine) {
    using enum PhaseDecision;
    EXPECT_EQ(PassedOverLogLine("2", AlreadyDone), "FASE 2 PROCEDURA GIA' ESEGUITA.");
    EXPECT_EQ(PassedOverLogLine("5", SkippedForVersion),
              "FASE 5 NON ESEGUITA PER VERSIONE DATABASE.");
    for (PhaseDecision ran : {Script, Import, NoAction}) {
        EXPECT_FALSE(PassesOver(ran)) << ::testing::PrintToString(ran);
        EXPECT_EQ(PassedOverLogLine("1", ran), "") << ::testing::PrintToString(ran);
    }
    EXPECT_TRUE(PassesOver(AlreadyDone));
    EXPECT_TRUE(PassesOver(SkippedForVersion));
}

}  // namespace
}  // namespace tarvolen
