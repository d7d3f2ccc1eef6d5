#include <QApplication>
#include <QDialog>
#include <QIcon>
#include <QMessageBox>

#include "AppInfo.h"
#include "Form1.h"
#include "QuitSignals.h"

namespace {

// After a quit signal, every start-up box still to come (conf.ini, then the
// port) is closed as soon as it shows, as the one showing then is.
class BoxCloser : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (auto* box = qobject_cast<QDialog*>(watched); box && event->type() == QEvent::Show)
            QMetaObject::invokeMethod(box, &QDialog::reject, Qt::QueuedConnection);
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // Wayland finds the menu entry, and so the icon, by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(TK_APP_ID));
    // Also for the windows without an icon of their own: the start-up message box.
    QApplication::setWindowIcon(QIcon(QLatin1String(windowIconFile)));
    // Before the window: a signal during start-up is kept for the check below,
    // and ends the start-up message boxes, whose event loops are the first to run.
    app::QuitSignals quitSignals;
    BoxCloser boxCloser;
    QObject::connect(&quitSignals, &app::QuitSignals::quitRequested, &application,
                     [&application, &boxCloser] {
                         if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                             box->reject();
                         application.installEventFilter(&boxCloser);
                     });
    // The menu launcher found no folder to run in: its reason is shown here,
    // where the operator sees it, and the program goes no further.
    const QStringList arguments = QApplication::arguments();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--launcher-error")); at > 0) {
        QMessageBox::critical(nullptr, QLatin1String(appTitle), arguments.value(at + 1));
        return 1;
    }
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
