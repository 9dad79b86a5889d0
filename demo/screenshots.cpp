// demo_screenshots OUTDIR: run in a demo folder made by demo/create-demo (with its environment,
// see scripts/screenshots), saves OUTDIR/login.png, the login dialog as the operator fills it,
// OUTDIR/main-window.png, the main window after the demo plan has run, and
// OUTDIR/maintenance.png, the maintenance window then opened on the plan with a script phase
// selected.

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <cstdio>

#include "app/Dialogs.h"
#include "app/LoginDlg.h"
#include "app/Program.h"
#include "app/maintenance/PlanGrid.h"
#include "app/maintenance/PlanGridModel.h"
#include "app/maintenance/fm_manutenzione.h"
#include "app/settings/DefaultAlias.h"
#include "app/settings/RegistryFile.h"

namespace {

using namespace tarvolen;

// Lets the window system draw what is pending before a picture is taken.
void settle() {
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool save(QWidget& widget, const QString& file) {
    settle();
    const bool saved = widget.grab().save(file);
    std::fprintf(stderr, "demo_screenshots: %s %s\n", saved ? "saved" : "could not save",
                 file.toLocal8Bit().constData());
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fputs("usage: demo_screenshots OUTDIR\n", stderr);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    bool ok = true;

    // Answers the program's dialogs as an operator would, picturing the login on the way.
    const DialogRunner runner = [&](QDialog& dialog) {
        if (auto* login = qobject_cast<TfdLogin*>(&dialog)) {
            login->show();
            login->EDLogin->setText("SYSDBA");
            login->EDPasswd->setText("demo");
            ok = save(*login, out + "/login.png") && ok;
            login->BitBtn1->click();
            return login->result();
        }
        if (auto* maintenance = qobject_cast<TfmManutenzione*>(&dialog)) {
            maintenance->show();
            // The phase whose script is a stored procedure between SET TERM lines.
            PlanGridModel& model = maintenance->model();
            for (int row = 0; row < model.rowCount(); ++row) {
                if (model.index(row, PlanGridModel::ColId).data().toString() == "40")
                    maintenance->DBGrid1->setCurrentIndex(
                        model.index(row, PlanGridModel::ColStato));
            }
            ok = save(*maintenance, out + "/maintenance.png") && ok;
            maintenance->close();
            return maintenance->result();
        }
        if (auto* box = qobject_cast<QMessageBox*>(&dialog))
            std::fprintf(stderr, "demo_screenshots: box \"%s\": %s\n",
                         box->windowTitle().toLocal8Bit().constData(),
                         box->text().toLocal8Bit().constData());
        return int{QMessageBox::Ok};
    };
    const Dialogs dialogs(runner, applicationTitle(QCoreApplication::applicationFilePath()));

    ShellSettings shell;
    shell.executableFolder = "bin";
    shell.openRegistry = [] { return settings::systemRegistry({}); };
    Program program(dialogs, std::move(shell), {});
    program.show();
    QTimer::singleShot(0, [&] {
        settle();
        program.fmMain().SpeedButton1->click();
        ok = save(program.fmMain(), out + "/main-window.png") && ok;
        program.fmMain().Manutenzione1->trigger();
        QCoreApplication::quit();
    });
    QApplication::exec();
    program.finish();
    return ok ? 0 : 1;
}
