#include "app/ActivityLog.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "app/AnsiText.h"

namespace tarvolen {
namespace {

// Between two flushes during a run; well under the 100 ms in which a window must repaint.
constexpr qint64 kFlushIntervalMs = 40;

}  // namespace

ActivityLog::ActivityLog(QPlainTextEdit& memo) : m_memo(memo) {
    m_sinceFlush.start();
}

void ActivityLog::append(std::string_view message) {
    QString text = fromAnsi(message);
    // CR LF, and a lone CR or LF, each end a line.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    m_pending += text;
    m_pending += u'\n';
}

void ActivityLog::flush() {
    m_sinceFlush.restart();
    if (m_pending.isEmpty()) return;
    QTextDocument* document = m_memo.document();
    QScrollBar* bar = m_memo.verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    // Text the operator typed without a final line break still ends its own line.
    if (!document->isEmpty() && !document->lastBlock().text().isEmpty()) m_pending.prepend(u'\n');
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(m_pending);
    m_pending.clear();
    if (following) bar->setValue(bar->maximum());
}

void ActivityLog::flushIfDue() {
    if (!m_pending.isEmpty() && m_sinceFlush.elapsed() >= kFlushIntervalMs) flush();
}

void ActivityLog::clear() {
    m_pending.clear();
    m_memo.clear();
}

QString ActivityLog::text() {
    flush();
    return m_memo.toPlainText();
}

}  // namespace tarvolen
