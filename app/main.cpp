#include <QApplication>
#include <QDialog>
#include <QIcon>
#include <QMessageBox>

#include "AppInfo.h"
#include "Form1.h"
#include "QuitSignals.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // Wayland finds the menu entry, and so the icon, by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(TK_APP_ID));
    // Also for the windows without an icon of their own: the start-up message box.
    QApplication::setWindowIcon(QIcon(QLatin1String(windowIconFile)));
    // The menu launcher found no folder to run in: its reason is shown here,
    // where the operator sees it, and the program goes no further.
    const QStringList arguments = QApplication::arguments();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--launcher-error")); at > 0) {
        QMessageBox::critical(nullptr, QLatin1String(appTitle), arguments.value(at + 1));
        return 1;
    }
    // Before the window: a signal during start-up is kept for the check below,
    // and ends the start-up message box, whose event loop is the first to run.
    app::QuitSignals quitSignals;
    QObject::connect(&quitSignals, &app::QuitSignals::quitRequested, &application, [] {
        if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            box->reject();
    });
    app::Form1 form;
    // Ends as "Exit" does: the port and its lock file are released.
    QObject::connect(&quitSignals, &app::QuitSignals::quitRequested, &form, &QWidget::close);
    if (quitSignals.received() != 0) {
        form.close();
        return 0;
    }
    form.show();
    return QApplication::exec();
}
