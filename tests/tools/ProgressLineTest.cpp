// The status line of tarvolen-run: its text, its fitting to the terminal, the throttle on
// redraws and what reaches the terminal, all with times the test chooses.

#include "tools/cli/ProgressLine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tarvolen::cli {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

RunProgress progress(int phase, int count, int id, RunProgress::Unit unit, size_t done,
                     size_t total) {
    RunProgress p;
    p.phase = phase;
    p.phaseCount = count;
    p.phaseId = id;
    p.unit = unit;
    p.done = done;
    p.total = total;
    return p;
}

// Before the walk: the backup, its check, or a restore, by tables.
RunProgress stage(RunProgress::Stage stage, size_t done, size_t total, uint64_t bytes) {
    RunProgress p = progress(0, 4, 0, RunProgress::Unit::Tables, done, total);
    p.stage = stage;
    p.bytes = bytes;
    return p;
}

TEST(ProgressText, namesPhaseIdUnitAndElapsedTime) {
    struct Case {
        RunProgress progress;
        Clock::duration elapsed;
        std::string text;
    };
    const Case cases[] = {
        {progress(3, 7, 30, RunProgress::Unit::Lines, 120, 4000), 12s,
         "phase 3/7 (ID 30): line 120 of 4000, 0:12 elapsed"},
        {progress(5, 7, 50, RunProgress::Unit::Rows, 500, 10000), 75s,
         "phase 5/7 (ID 50): row 500 of 10000, 1:15 elapsed"},
        {progress(1, 1, -4, RunProgress::Unit::Rows, 0, 0), 999ms,
         "phase 1/1 (ID -4): row 0, 0:00 elapsed"},
        {progress(2, 9, 20, RunProgress::Unit::None, 0, 0), 3h + 2min + 5s,
         "phase 2/9 (ID 20): 3:02:05 elapsed"},
        {progress(2, 9, 20, RunProgress::Unit::None, 0, 0), 59min + 59s,
         "phase 2/9 (ID 20): 59:59 elapsed"},
        {stage(RunProgress::Stage::Backup, 3, 12, uint64_t{5} << 20), 12s,
         "backup: table 3 of 12, 5.0 MB, 0:12 elapsed"},
        {stage(RunProgress::Stage::Backup, 0, 0, 0), 0s, "backup: table 0, 0:00 elapsed"},
        {stage(RunProgress::Stage::BackupCheck, 12, 12, 0), 20s,
         "backup check: table 12 of 12, 0:20 elapsed"},
        {stage(RunProgress::Stage::Restore, 4, 0, 0), 61s, "restore: table 4, 1:01 elapsed"},
    };
    for (const Case& c : cases) EXPECT_EQ(ProgressText(c.progress, c.elapsed), c.text);
}

TEST(ProgressText, fitsTheTerminalWithOneColumnToSpare) {
    EXPECT_EQ(FitToColumns("phase 1/2", 80), "phase 1/2");
    EXPECT_EQ(FitToColumns("phase 1/2", 10), "phase 1/2");
    EXPECT_EQ(FitToColumns("phase 1/2", 9), "phase 1/");
    EXPECT_EQ(FitToColumns("phase 1/2", 2), "p");
    EXPECT_EQ(FitToColumns("phase 1/2", 1), "");
    EXPECT_EQ(FitToColumns("phase 1/2", 0), "");
}

TEST(RedrawThrottle, letsARedrawThroughAtMostOncePerInterval) {
    RedrawThrottle throttle(250ms);
    const Clock::time_point t0{};
    EXPECT_TRUE(throttle.due(t0 + 10s));  // the first one always
    EXPECT_FALSE(throttle.due(t0 + 10s + 1ms));
    EXPECT_FALSE(throttle.due(t0 + 10s + 249ms));
    EXPECT_TRUE(throttle.due(t0 + 10s + 250ms));
    EXPECT_FALSE(throttle.due(t0 + 10s + 499ms));  // counted from the last redraw let through
    EXPECT_TRUE(throttle.due(t0 + 11s));
}

// What the line writes, read back from a temporary file.
class ProgressLineOutput : public testing::Test {
  protected:
    void SetUp() override { m_stream = std::tmpfile(); }
    void TearDown() override { std::fclose(m_stream); }
    std::string written() {
        std::fflush(m_stream);
        const long end = std::ftell(m_stream);
        std::string bytes(static_cast<size_t>(end), '\0');
        std::rewind(m_stream);
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), m_stream));
        // A stream read from must be positioned before it is written again: the line goes on
        // at the end.
        std::fseek(m_stream, 0, SEEK_END);
        return bytes;
    }
    std::FILE* m_stream = nullptr;
};

TEST_F(ProgressLineOutput, redrawsInPlaceAndClearsBeforeOtherOutput) {
    const Clock::time_point start{};
    ProgressLine line(m_stream, 40, start);
    line.update(progress(1, 2, 10, RunProgress::Unit::Lines, 1, 3), start + 1s);
    // Within the interval: not drawn.
    line.update(progress(1, 2, 10, RunProgress::Unit::Lines, 2, 3), start + 1s + 100ms);
    line.update(progress(2, 2, 20, RunProgress::Unit::Rows, 4, 0), start + 2s);
    EXPECT_EQ(written(),
              "\rphase 1/2 (ID 10): line 1 of 3, 0:01 el\x1b[K"
              "\rphase 2/2 (ID 20): row 4, 0:02 elapsed\x1b[K");

    const size_t before = written().size();
    line.clear();
    line.clear();  // nothing shown: nothing to clear
    // Held back by the throttle while other output is printed; the line comes back with it.
    line.update(progress(2, 2, 20, RunProgress::Unit::Rows, 5, 0), start + 2s + 200ms);
    line.restore(start + 3s);
    line.finish();
    line.restore(start + 4s);  // finished: nothing comes back
    EXPECT_EQ(written().substr(before),
              "\r\x1b[K"
              "\rphase 2/2 (ID 20): row 5, 0:03 elapsed\x1b[K"
              "\r\x1b[K");
}

}  // namespace
}  // namespace tarvolen::cli
