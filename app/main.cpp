// tarvolen: the desktop program. The command line is ignored.

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>

#include "app/Dialogs.h"
#include "app/Program.h"
#include "app/settings/DefaultAlias.h"
#include "plan/PlanRecovery.h"

namespace {

using namespace tarvolen;

// An error that a handler let out reaches the event loop here and goes to the standard error
// display; the program goes on with the next event.
class Application : public QApplication {
  public:
    Application(int& argc, char** argv) : QApplication(argc, argv) {}
    void setDialogs(const Dialogs* dialogs) { m_dialogs = dialogs; }

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            if (m_dialogs != nullptr) m_dialogs->standardError(nullptr, e);
            return false;
        }
    }

  private:
    const Dialogs* m_dialogs = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    Application application(argc, argv);
    // The installed desktop entry and its icon, where the program is installed.
    QGuiApplication::setDesktopFileName(QStringLiteral("tarvolen"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tarvolen")));
    const Dialogs dialogs(execDialog, applicationTitle(QCoreApplication::applicationFilePath()));
    application.setDialogs(&dialogs);

    ShellSettings shell;
    shell.executableFolder = QCoreApplication::applicationDirPath().toStdString();
    shell.openRegistry = [] {
        return settings::systemRegistry([](const std::string& problem) {
            // A registry file that cannot be read never stops start-up; it only goes unused.
            std::fprintf(stderr, "tarvolen: registry file ignored: %s\n", problem.c_str());
        });
    };

    Program program(dialogs, std::move(shell), defaultRecoveryFolder());
    program.show();
    const int result = QApplication::exec();
    program.finish();
    application.setDialogs(nullptr);
    return result;
}
