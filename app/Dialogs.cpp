#include "app/Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileInfo>

#include "app/AnsiText.h"

namespace tarvolen {

int execDialog(QDialog& dialog) {
    return dialog.exec();
}

QString applicationTitle(const QString& executablePath) {
    QString name = executablePath;
    // Both separators count, so a Windows path reads the same on every system.
    const auto slash = std::max(name.lastIndexOf(u'/'), name.lastIndexOf(u'\\'));
    name = name.mid(slash + 1);
    const auto dot = name.indexOf(u'.');
    if (dot >= 0) name.truncate(dot);
    return name.left(1) + name.mid(1).toLower();
}

QString withClosingPeriod(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.') return message + u'.';
    return message;
}

Dialogs::Dialogs(DialogRunner runner, QString applicationTitle)
    : m_runner(std::move(runner)), m_title(std::move(applicationTitle)) {}

namespace {

// The window a box belongs to: the active one, else the caller's.
QWidget* boxOwner(QWidget* fallbackOwner) {
    QWidget* owner = QApplication::activeModalWidget();
    if (owner == nullptr) owner = QApplication::activeWindow();
    if (owner == nullptr) owner = fallbackOwner;
    return owner;
}

}  // namespace

void Dialogs::message(QWidget* fallbackOwner, const QString& text, const QString& caption,
                      QMessageBox::Icon icon) const {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, boxOwner(fallbackOwner));
    m_runner(box);
}

int Dialogs::question(QWidget* fallbackOwner, const QString& text, const QString& caption,
                      QMessageBox::StandardButtons buttons,
                      QMessageBox::StandardButton defaultButton) const {
    QMessageBox box(QMessageBox::Question, caption, text, buttons, boxOwner(fallbackOwner));
    box.setDefaultButton(defaultButton);
    return m_runner(box);
}

void Dialogs::standardError(QWidget* fallbackOwner, const QString& message) const {
    this->message(fallbackOwner, withClosingPeriod(message), m_title, QMessageBox::Critical);
}

void Dialogs::standardError(QWidget* fallbackOwner, const std::exception& error) const {
    standardError(fallbackOwner, fromFileText(error.what()));
}

}  // namespace tarvolen
