// The whole program started on an arbitrary conf.ini.
//
// Input: the file's bytes. Every port number from 1 to 50 names one
// pseudo-terminal that answers like the controller.
//
// Judged: the main window is built; the start-up message comes exactly when
// the port did not open; the trace draws; and the first poll either sends the
// request and shows the answer's values (port open) or says "Not connected".

#include "FuzzTarget.h"

#include "Data.h"
#include "Form1.h"
#include "GraphBox.h"
#include "Pty.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

namespace {

const QByteArray pollRequest = QByteArray::fromHex("0903000100035543");
const QByteArray exampleAnswer = QByteArray::fromHex("090306086907D0002DDB64");

// One application, folder and terminal for the whole run.
struct Environment {
    Environment() {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz_startup";
        static char* argv[] = {name, nullptr};
        application = new QApplication(argc, argv);
        FUZZ_CHECK(folder.isValid() && pty.isValid());
        FUZZ_CHECK(QDir::setCurrent(folder.path()));
    }
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;
    QApplication* application;
    QTemporaryDir folder;
    Pty pty;
};

bool waitFor(const std::function<bool()>& done) {
    const QDeadlineTimer deadline(5000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static Environment environment;

    QFile conf(QStringLiteral("conf.ini"));
    FUZZ_CHECK(conf.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(conf.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    conf.close();

    Data::resetAll();
    int messages = 0;
    app::Form1Seams seams;
    seams.deviceForPort = [](int n) {
        return n >= 1 && n <= 50 ? environment.pty.path() : QString();
    };
    seams.showError = [&messages](const QString&, const QString&, const QString&) { ++messages; };
    seams.now = [] { return QDateTime(QDate(2024, 6, 1), QTime(12, 0, 0)); };
    {
        app::Form1 form(seams);
        FUZZ_CHECK(messages == (Data::portConnected ? 0 : 1));

        auto* trace = form.findChild<QTimer*>(QStringLiteral("timerTraceCurves"));
        QMetaObject::invokeMethod(trace, "timeout");
        QMetaObject::invokeMethod(trace, "timeout");
        FUZZ_CHECK(
            !form.findChild<display::GraphBox*>(QStringLiteral("Graph"))->picture().isNull());

        Pty& pty = environment.pty;
        pty.readAvailable(); // nothing of an earlier run is taken for this one's request
        auto* status = form.findChild<QLineEdit*>(QStringLiteral("status_field"));
        QMetaObject::invokeMethod(form.findChild<QTimer*>(QStringLiteral("timerGetFromControler")),
                                  "timeout");
        if (Data::portConnected) {
            FUZZ_CHECK(pty.read(int(pollRequest.size()), 5000) == pollRequest);
            FUZZ_CHECK(pty.write(exampleAnswer));
            auto* measured = form.findChild<QLineEdit*>(QStringLiteral("meas_box"));
            FUZZ_CHECK(waitFor([measured] { return measured->text() == QLatin1String("215.3"); }));
            QMetaObject::invokeMethod(trace, "timeout");
        } else {
            FUZZ_CHECK(status->text() == QLatin1String("Not connected"));
        }
        form.close();
    }
    return 0;
}
