#pragma once
// The activity log over the main window's memo. Messages are gathered and reach the memo in
// batches, at the run's pump points, because one insertion per line would make a long run spend
// most of its time laying out the memo.

#include <QElapsedTimer>
#include <QString>
#include <string_view>

class QPlainTextEdit;

namespace tarvolen {

class ActivityLog {
  public:
    explicit ActivityLog(QPlainTextEdit& memo);

    // Adds a message (Windows-1252) and a line break at the end of the log. A message holding
    // line breaks takes several lines; the message always starts a line of its own.
    void append(std::string_view message);
    // Moves the gathered messages into the memo.
    void flush();
    // flush() when messages wait and the last flush is older than a screen refresh or two.
    void flushIfDue();
    // Empties the log, and what waits to be added.
    void clear();
    // The whole log, gathered messages included.
    QString text();

  private:
    QPlainTextEdit& m_memo;
    QString m_pending;
    QElapsedTimer m_sinceFlush;
};

}  // namespace tarvolen
