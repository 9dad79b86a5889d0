#include "tools/cli/ProgressLine.h"

#include "engine/BackupFiles.h"

namespace tarvolen::cli {
namespace {

constexpr const char* kEraseToEnd = "\x1b[K";

std::string elapsedText(std::chrono::steady_clock::duration elapsed) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
    const auto s = seconds < 0 ? 0 : seconds;
    char buffer[48];
    if (s >= 3600) {
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                      static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
    } else {
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld", static_cast<long long>(s / 60),
                      static_cast<long long>(s % 60));
    }
    return buffer;
}

}  // namespace

std::string ProgressText(const RunProgress& progress, std::chrono::steady_clock::duration elapsed) {
    if (progress.stage != RunProgress::Stage::Walk) {
        std::string text = progress.stage == RunProgress::Stage::Backup ? "backup: table "
                           : progress.stage == RunProgress::Stage::BackupCheck
                               ? "backup check: table "
                               : "restore: table ";
        text += std::to_string(progress.done);
        if (progress.total > 0) text += " of " + std::to_string(progress.total);
        if (progress.bytes > 0) text += ", " + SizeText(progress.bytes);
        return text + ", " + elapsedText(elapsed) + " elapsed";
    }
    std::string text = "phase " + std::to_string(progress.phase) + "/" +
                       std::to_string(progress.phaseCount) + " (ID " +
                       std::to_string(progress.phaseId) + "): ";
    if (progress.unit != RunProgress::Unit::None) {
        text += progress.unit == RunProgress::Unit::Lines ? "line " : "row ";
        text += std::to_string(progress.done);
        if (progress.total > 0) text += " of " + std::to_string(progress.total);
        text += ", ";
    }
    return text + elapsedText(elapsed) + " elapsed";
}

std::string FitToColumns(const std::string& text, int columns) {
    if (columns < 2) return {};
    const auto room = static_cast<size_t>(columns - 1);
    return text.size() <= room ? text : text.substr(0, room);
}

bool RedrawThrottle::due(std::chrono::steady_clock::time_point now) {
    if (m_drawn && now - m_last < m_interval) return false;
    m_drawn = true;
    m_last = now;
    return true;
}

ProgressLine::ProgressLine(std::FILE* stream, int columns,
                           std::chrono::steady_clock::time_point start)
    : m_stream(stream), m_columns(columns > 0 ? columns : 80), m_start(start) {}

void ProgressLine::update(const RunProgress& progress, std::chrono::steady_clock::time_point now) {
    m_latest = progress;
    if (!m_throttle.due(now)) return;
    m_text = FitToColumns(ProgressText(progress, now - m_start), m_columns);
    draw();
}

void ProgressLine::draw() {
    std::fprintf(m_stream, "\r%s%s", m_text.c_str(), kEraseToEnd);
    std::fflush(m_stream);
    m_shown = true;
}

void ProgressLine::clear() {
    if (!m_shown) return;
    std::fprintf(m_stream, "\r%s", kEraseToEnd);
    std::fflush(m_stream);
    m_shown = false;
}

void ProgressLine::finish() {
    clear();
    m_latest.reset();
    m_text.clear();
}

void ProgressLine::restore(std::chrono::steady_clock::time_point now) {
    if (m_shown || !m_latest) return;
    m_text = FitToColumns(ProgressText(*m_latest, now - m_start), m_columns);
    draw();
}

}  // namespace tarvolen::cli
