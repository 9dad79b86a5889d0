#include "app/RunProgressView.h"

#include <QProgressBar>

#include "engine/BackupFiles.h"

namespace tarvolen {
namespace {

constexpr qint64 kRedrawIntervalMs = 50;
constexpr int kScale = 1000;

}  // namespace

RunProgressView::RunProgressView(QProgressBar& bar) : m_bar(bar) {
    m_bar.setRange(0, kScale);
    m_bar.setTextVisible(true);
    m_bar.setVisible(false);
}

void RunProgressView::start() {
    m_shownPhase = -1;
    m_bar.setValue(0);
    m_bar.setFormat(QString());
    m_bar.setVisible(true);
    m_sinceShown.start();
}

void RunProgressView::report(const RunProgress& progress) {
    // A new phase (or stage) shows at once; progress within one at the redraw pace.
    if (progress.phase != m_shownPhase || progress.stage != m_shownStage ||
        m_sinceShown.elapsed() >= kRedrawIntervalMs)
        show(progress);
}

void RunProgressView::finish() {
    m_bar.setVisible(false);
}

void RunProgressView::show(const RunProgress& progress) {
    m_shownPhase = progress.phase;
    m_shownStage = progress.stage;
    m_sinceShown.restart();
    m_bar.setFormat(caption(progress));
    m_bar.setValue(permille(progress));
}

int RunProgressView::permille(const RunProgress& progress) {
    if (progress.stage != RunProgress::Stage::Walk) {
        if (progress.total == 0) return 0;
        return static_cast<int>(std::min(progress.done, progress.total) * kScale / progress.total);
    }
    if (progress.phaseCount <= 0 || progress.phase <= 0) return 0;
    double phasesDone = progress.phase - 1;
    if (progress.total > 0)
        phasesDone += static_cast<double>(std::min(progress.done, progress.total)) /
                      static_cast<double>(progress.total);
    const double fraction = std::min(1.0, phasesDone / progress.phaseCount);
    return static_cast<int>(fraction * kScale);
}

QString RunProgressView::caption(const RunProgress& progress) {
    if (progress.stage != RunProgress::Stage::Walk) {
        QString text = progress.stage == RunProgress::Stage::Backup
                           ? QStringLiteral("Backup del database")
                       : progress.stage == RunProgress::Stage::BackupCheck
                           ? QStringLiteral("Verifica del backup")
                           : QStringLiteral("Ripristino del backup");
        text += QStringLiteral(": tabella %1").arg(progress.done);
        if (progress.total > 0) text += QStringLiteral(" di %1").arg(progress.total);
        if (progress.bytes > 0)
            text += QStringLiteral(", ") + QString::fromStdString(SizeText(progress.bytes));
        return text;
    }
    if (progress.phaseCount <= 0 || progress.phase <= 0) return QString();
    QString text = QStringLiteral("Fase %1 di %2").arg(progress.phase).arg(progress.phaseCount);
    if (progress.total > 0) {
        const char* unit = progress.unit == RunProgress::Unit::Rows ? "record" : "riga";
        text += QStringLiteral(", %1 %2 di %3")
                    .arg(QLatin1String(unit))
                    .arg(progress.done)
                    .arg(progress.total);
    }
    return text;
}

}  // namespace tarvolen
