#pragma once
// Every modal dialog a window shows goes through a DialogScript: the test queues the answers,
// and the script records what was shown. Qt only, so the maintenance window's tests use it
// without the engine.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/Dialogs.h"

// Readable failure messages for Qt's strings.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace tarvolen::testing {

// One dialog the program showed.
struct ShownDialog {
    QString kind;  // "message", "login" or the dialog's object name
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool mainWindowVisible = false;
    QString loginUserShown;  // the login dialog's boxes as it opened
    QString passwordShown;
};

class BasicDialogScript {
  public:
    using Answer = std::function<int(QDialog&)>;

    BasicDialogScript() = default;
    virtual ~BasicDialogScript() = default;
    BasicDialogScript(const BasicDialogScript&) = delete;
    BasicDialogScript& operator=(const BasicDialogScript&) = delete;

    // Closes a message box with OK.
    static Answer ok() { return press(QMessageBox::Ok); }
    // Closes a message box with one of its buttons.
    static Answer press(QMessageBox::StandardButton button) {
        return [button](QDialog& dialog) {
            auto* box = qobject_cast<QMessageBox*>(&dialog);
            EXPECT_NE(box, nullptr) << "expected a message box";
            if (box != nullptr) {
                EXPECT_TRUE(box->standardButtons().testFlag(button))
                    << "the box has no such button";
            }
            return int{button};
        };
    }

    void expect(Answer answer) { m_answers.push_back(std::move(answer)); }
    size_t pending() const { return m_answers.size(); }

    DialogRunner runner() {
        return [this](QDialog& dialog) { return answer(dialog); };
    }

    std::vector<ShownDialog> shown;

  protected:
    // Records what a dialog other than a message box showed.
    virtual void describe(QDialog& dialog, ShownDialog& record) {
        record.kind = dialog.objectName();
    }

  private:
    int answer(QDialog& dialog) {
        ShownDialog record;
        record.caption = dialog.windowTitle();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "fmMain") record.mainWindowVisible = w->isVisible();
        if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
            record.kind = "message";
            record.text = box->text();
            record.icon = box->icon();
            record.buttons = box->standardButtons();
        } else {
            describe(dialog, record);
        }
        shown.push_back(record);
        if (m_answers.empty()) {
            ADD_FAILURE() << "unexpected dialog: " << record.kind.toStdString() << " \""
                          << record.caption.toStdString() << "\" " << record.text.toStdString();
            return QDialog::Rejected;
        }
        Answer next = std::move(m_answers.front());
        m_answers.pop_front();
        const int result = next(dialog);
        dialog.hide();
        return result;
    }

    std::deque<Answer> m_answers;
};

}  // namespace tarvolen::testing
