#pragma once
// The progress bar of a run: phases walked out of the plan's phases and, within a phase, script
// lines or rows out of the phase's; before the walk, the backup's tables out of the database's.
// Reports arrive at every pump point; the bar is redrawn only a few times a second, since each
// redraw is synchronous.

#include <QElapsedTimer>

#include "engine/EngineHost.h"

class QProgressBar;

namespace tarvolen {

class RunProgressView {
  public:
    explicit RunProgressView(QProgressBar& bar);

    // Shows the bar, empty.
    void start();
    void report(const RunProgress& progress);
    // Hides the bar.
    void finish();

    // Fraction of the run done, in thousandths, and the bar's text, for a report.
    static int permille(const RunProgress& progress);
    static QString caption(const RunProgress& progress);

  private:
    void show(const RunProgress& progress);

    QProgressBar& m_bar;
    QElapsedTimer m_sinceShown;
    int m_shownPhase = -1;
    RunProgress::Stage m_shownStage = RunProgress::Stage::Walk;
};

}  // namespace tarvolen
