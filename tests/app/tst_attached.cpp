#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <optional>

#include <grp.h>
#include <unistd.h>

#include "AlarmBand.h"
#include "AttachedMode.h"
#include "AuditTrail.h"
#include "Data.h"
#include "Form1.h"
#include "Parameters_dialog.h"
#include "ProgramState.h"
#include "ProtocolClient.h"
#include "RecorderShown.h"
#include "Setpoint_dialog.h"
#include "TksimProcess.h"

using Points = QList<QList<double>>;

class TestAttached : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void ringsFromHistory_data();
    void ringsFromHistory();
    void windowOnTheRecorder();

private:
    std::optional<ProgramState> m_state;
};

void TestAttached::init() {
    m_state.emplace();
    QVERIFY(m_state->isValid());
}

void TestAttached::cleanup() {
    m_state.reset();
}

void TestAttached::ringsFromHistory_data() {
    QTest::addColumn<Points>("points");
    QTest::addColumn<qint64>("now");
    // The setpoints of the newest slots, newest last; 0 for no data.
    QTest::addColumn<QList<float>>("newest");
    // The setpoints the window traced itself, newest last; 0 for no data.
    QTest::addColumn<QList<float>>("traced");
    const double nan = std::nan("");
    QTest::newRow("a poll every 2 s, each slot its last poll")
        << Points{{0, 20, 100, 0}, {2000, 21, 101, 0}, {4000, 22, 102, 0}, {6000, 23, 103, 0}}
        << qint64(6000) << QList<float>{0, 100, 101, 103} << QList<float>{};
    QTest::newRow("values not current are no data")
        << Points{{0, 20, 100, 0}, {2500, nan, nan, nan}, {5000, 22, 102, 0}} << qint64(5000)
        << QList<float>{100, 0, 102} << QList<float>{90, 90, 90};
    QTest::newRow("a poll older than 10 s is no data")
        << Points{{0, 20, 100, 0}} << qint64(12500) << QList<float>{100, 100, 100, 0}
        << QList<float>{};
    QTest::newRow("nothing kept") << Points{} << qint64(5000) << QList<float>{0, 0}
                                  << QList<float>{};
    QTest::newRow("a recorder back without its past: the window's own where it has none")
        << Points{{10000, 20, 120, 0}} << qint64(10000) << QList<float>{0, 100, 100, 120}
        << QList<float>{100, 100, 0};
}

// The last hour the recorder sends fills the graph's rings as the trace
// would have, one sample a tick.
void TestAttached::ringsFromHistory() {
    QFETCH(Points, points);
    QFETCH(qint64, now);
    QFETCH(QList<float>, newest);
    QFETCH(QList<float>, traced);
    display::HistoryRings own;
    for (const float setpoint : traced)
        display::storeSample(own, 200, setpoint == 0 ? Data::NO_DATA_RAW : setpoint * 10, "t");
    const display::HistoryRings rings =
        app::tracedBefore(app::ringsFromHistory(points, now), own, points, now);
    QList<float> got;
    for (qsizetype i = newest.size(); i > 0; --i) {
        const float setpoint = rings.setpoint[std::size_t(rings.index - i)];
        got << (setpoint == Data::NO_DATA ? 0 : setpoint);
    }
    QCOMPARE(got, newest);
    QCOMPARE(rings.time[std::size_t(rings.index - 1)],
             display::traceTimeText(QDateTime::fromMSecsSinceEpoch(now).time()));
}

// The window attached to a real tkrecord polling tksim: the values and the
// last hour at once, the strip of both controllers, oven2's alarm on the band
// and the title, acknowledged from the window into the recorder's trail, and
// a setpoint written through the recorder with the window's own dialog.
void TestAttached::windowOnTheRecorder() {
    // oven2 heads for 320 degrees, over the high limit, within a second.
    TksimProcess sim(QStringLiteral(TKSIM_PATH),
                     {"--address", "9,10", "--setpoint", "100,320", "--speed", "300"});
    QVERIFY(sim.start(simWaitMs));
    QTemporaryDir recorderDir;
    const QString folder = recorderDir.path();
    const group* own = ::getgrgid(::getgid());
    QVERIFY(own);
    QString confText = QStringLiteral("[Ports]\n1=%1\n[TK840 TK960 PC control]\nComPortNum=1\n"
                                      "[Controllers]\noven1=9\noven2=10\n[Alarms]\nHighLimit=300\n"
                                      "[Control]\nSetpointWrite=1\nSetpointMin=0\nSetpointMax=400\n"
                                      "Writers=%2\n")
                           .arg(sim.link(), QString::fromLocal8Bit(own->gr_name));
    QFile conf(recorderDir.filePath(QStringLiteral("conf.ini")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(confText.toUtf8());
    conf.close();
    QProcess tkrecord;
    // Its key and state in a folder of the test's, not the user's own.
    const QTemporaryDir dataHome;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome.path());
    tkrecord.setProcessEnvironment(environment);
    tkrecord.start(QStringLiteral(TKRECORD_PATH), {"--dir", folder});
    const auto stop = qScopeGuard([&] {
        tkrecord.terminate();
        tkrecord.waitForFinished(simWaitMs);
    });
    // A few polls kept before the window comes.
    const QString socket = recorderDir.filePath(QStringLiteral(".tkrecord.sock"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), simWaitMs);
    ProtocolClient watcher;
    QVERIFY(watcher.connectTo(socket, simWaitMs));
    watcher.send("{\"request\":\"hello\",\"protocol\":1}\n{\"request\":\"watch\"}\n");
    QTRY_VERIFY_WITH_TIMEOUT(watcher.messages("event", "values").size() >= 8, simWaitMs);

    QFile windowConf(QStringLiteral("conf.ini"));
    QVERIFY(windowConf.open(QIODevice::WriteOnly));
    windowConf.write("[Recorder]\nFolder=" + folder.toUtf8() + "\n");
    windowConf.close();
    app::Form1Seams seams;
    seams.showError = [](const QString&, const QString& text, const QString&) {
        QFAIL(qPrintable(text));
    };
    seams.screenRoom = [] { return QSize(1912, 1040); };
    app::Form1 form(seams);
    form.show();
    auto* status = form.findChild<QLineEdit*>("status_field");
    const QString attached = QStringLiteral("Attached to the recorder in ") + folder;
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), attached, simWaitMs);
    // The graph holds the recorder's past at once, before any tick of its own.
    QTRY_VERIFY_WITH_TIMEOUT(
        std::count(Data::setpointHistory.begin(), Data::setpointHistory.end(), 100.0f) >= 2,
        simWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(form.findChild<QLineEdit*>("setp_box")->text(), QStringLiteral("100"),
                              simWaitMs);
    auto* strip = form.findChild<QTableWidget*>("controllerStrip");
    QVERIFY(strip);
    QTRY_COMPARE_WITH_TIMEOUT(strip->item(1, 3)->text(), QStringLiteral("320.0 °C"), simWaitMs);

    auto* band = form.findChild<app::AlarmBand*>("alarmBand");
    auto* bandText = band->findChild<QLabel*>("alarmText");
    QTRY_VERIFY_WITH_TIMEOUT(bandText->text().startsWith("oven2: High temperature"), simWaitMs);
    QCOMPARE(band->colour(), alarms::BandColour::FlashingRed);
    QCOMPARE(form.windowTitle(), QStringLiteral("ALARM oven2 – oven1 – TK840 TK960 PC control"));
    QTest::mouseClick(band->findChild<QPushButton*>("acknowledgeButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(band->colour(), alarms::BandColour::Red, simWaitMs);
    QCOMPARE(form.windowTitle(), QStringLiteral("oven1 – TK840 TK960 PC control"));
    QFile audit(recorderDir.filePath(QStringLiteral("audit.log")));
    QVERIFY(audit.open(QIODevice::ReadOnly));
    QVERIFY(audit.readAll().contains(QStringLiteral(";oven2: acknowledged: all alarms; by \"%1\"")
                                         .arg(sealing::systemUserName())
                                         .toUtf8()));

    auto* mode = form.findChild<app::AttachedMode*>();
    QVERIFY(mode->setpointButton());
    QTest::mouseClick(mode->setpointButton(), Qt::LeftButton);
    settings::Setpoint_dialog* dialog = mode->setpointDialog();
    QCOMPARE(dialog->findChild<QLabel*>("controllerValue")->text(),
             QStringLiteral("oven1 (address 9)"));
    dialog->findChild<QLineEdit*>("newValueBox")->setText("120");
    QTest::mouseClick(dialog->findChild<QPushButton*>("writeButton"), Qt::LeftButton);
    QTest::mouseClick(dialog->findChild<QPushButton*>("confirmButton"), Qt::LeftButton);
    const QString written =
        QStringLiteral("oven1 (address 9): setpoint 100.0 → 120.0 °C: written and read back");
    QTRY_COMPARE_WITH_TIMEOUT(dialog->findChild<QLabel*>("messageLabel")->text(), written,
                              simWaitMs);

    // The line is the recorder's: shown, not changed here.
    form.showParameters();
    auto* port = form.parametersDialog()->findChild<QComboBox*>("Combo1");
    QCOMPARE(port->currentText(), sim.link());
    QVERIFY(!port->isEnabled());
    QVERIFY(form.parametersDialog()
                ->findChild<QLabel*>("portReasonLabel")
                ->toolTip()
                .startsWith(attached + QStringLiteral(": the port")));
    form.parametersDialog()->close();

    // The recorder gone: nothing it told is shown, nor traced, as current.
    tkrecord.terminate();
    QVERIFY(tkrecord.waitForFinished(simWaitMs));
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("Not connected"), simWaitMs);
    QCOMPARE(strip->item(1, 3)->text(), QStringLiteral("–"));
    QCOMPARE(strip->item(1, 4)->text(), QStringLiteral("Not connected"));
    QCOMPARE(form.findChild<QLineEdit*>("recording_field")->text(),
             QStringLiteral("Not connected to the recorder in ") + folder);
    QCOMPARE(form.findChild<QLineEdit*>("setp_box")->text(), QStringLiteral("888.8"));
    mode->storeSamples(QStringLiteral("12:00:00"));
    mode->show(1);
    QCOMPARE(Data::setpointHistory[std::size_t(Data::historyIndex - 1)], Data::NO_DATA);

    // Back with another controller in oven2's place: the strip follows.
    QVERIFY(conf.open(QIODevice::WriteOnly | QIODevice::Truncate));
    conf.write(confText.replace(QStringLiteral("oven2="), QStringLiteral("kiln=")).toUtf8());
    conf.close();
    tkrecord.start(QStringLiteral(TKRECORD_PATH), {"--dir", folder});
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), attached, simWaitMs);
    strip = form.findChild<QTableWidget*>("controllerStrip");
    QCOMPARE(strip->item(1, 0)->text(), QStringLiteral("kiln"));
    QTRY_COMPARE_WITH_TIMEOUT(strip->item(1, 3)->text(), QStringLiteral("320.0 °C"), simWaitMs);
    form.close();
}

QTEST_MAIN(TestAttached)
#include "tst_attached.moc"
