#pragma once
// Every modal dialog of the program (message boxes, the login dialog, the maintenance window)
// is shown through one DialogRunner, so tests can answer them instead of a person. Qt only: the
// maintenance window uses this without the engine.

#include <QMessageBox>
#include <QString>
#include <exception>
#include <functional>

class QDialog;
class QWidget;

namespace tarvolen {

// Shows `dialog` modally and returns its result once it is closed.
using DialogRunner = std::function<int(QDialog& dialog)>;

// The program's runner: QDialog::exec().
int execDialog(QDialog& dialog);

// The application title: the executable's file name without its folder, cut at its first ".",
// with every letter after the first in lower case ("C:\\Prog\\TARVOLEN.EXE" -> "Tarvolen").
QString applicationTitle(const QString& executablePath);

// An error message as the standard error display shows it: with a "." appended when its last
// character sorts after "." in the character code.
QString withClosingPeriod(const QString& message);

class Dialogs {
  public:
    Dialogs(DialogRunner runner, QString applicationTitle);

    int run(QDialog& dialog) const { return m_runner(dialog); }

    // A message box with one OK button, owned by the active window (or `fallbackOwner`).
    void message(QWidget* fallbackOwner, const QString& text, const QString& caption,
                 QMessageBox::Icon icon) const;

    // A message box with the given buttons, owned as message() owns it; returns the button
    // pressed (QMessageBox::StandardButton).
    int question(QWidget* fallbackOwner, const QString& text, const QString& caption,
                 QMessageBox::StandardButtons buttons,
                 QMessageBox::StandardButton defaultButton) const;

    // The standard error display: captioned with the application title, a stop icon, one OK
    // button, the error's message with its closing period.
    void standardError(QWidget* fallbackOwner, const QString& message) const;
    // The same for an exception, whose text is UTF-8 when valid, else Windows-1252.
    void standardError(QWidget* fallbackOwner, const std::exception& error) const;

    const QString& title() const { return m_title; }

  private:
    DialogRunner m_runner;
    QString m_title;
};

}  // namespace tarvolen
