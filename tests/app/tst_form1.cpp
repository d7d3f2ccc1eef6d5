#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <QTimer>
#include <optional>

#include "AlarmBand.h"
#include "AuditTrail.h"
#include "ControllerSession.h"
#include "Data.h"
#include "Form1.h"
#include "GraphBox.h"
#include "LineOwner.h"
#include "PanelArt.h"
#include "Parameters_dialog.h"
#include "PollWatch.h"
#include "PortAccess.h"
#include "PortDevices.h"
#include "PortFailureText.h"
#include "ProgramSeals.h"
#include "ProgramState.h"
#include "Pty.h"
#include "SealKey.h"
#include "SetpointAction.h"
#include "Setpoint_dialog.h"
#include "TksimProcess.h"
#include "TrustedKeys.h"
#include "ViewerReport.h"

#include <QFontMetrics>

using app::Form1;

class TestForm1 : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void startUpStateWithoutSettings();
    void startUpMessageForPortThatCannotOpen();
    void portFailureDetail_data();
    void portFailureDetail();
    void startUpSaysWhatConfIniCannotGive();
    void startUpOpensConfiguredPort();
    void portsMappedInConfIni();
    void controlsAtTheirPlaces_data();
    void controlsAtTheirPlaces();
    void exitClosesOpenPort();
    void exitWithPortClosed();
    void parametersShownOnceAndClosedWithWindow();
    void parametersShowTheGateway();
    void recordingKeyAndTimer();
    void runAndMarkInTheTrail_data();
    void runAndMarkInTheTrail();
    void runReportedByTheViewer();
    void alarmLimitChangeInTheTrail();
    void alarmAcrossTheHighLimit();
    void pollShowsAnswerOnReadouts();
    void readoutsShowValuesWhole_data();
    void readoutsShowValuesWhole();
    void traceTickAndGraphClick();
    void busOfThree();
    void busOfFourOnA1024By768Screen();
    void plainConfIniAndOneClickStart_data();
    void plainConfIniAndOneClickStart();
    void setpointDialogAndOutcomes();

private:
    app::Form1Seams seams();
    void writeConf(const QByteArray& text);

    std::optional<ProgramState> m_state;
    PortDevices m_devices;
    QStringList m_messages;
    QStringList m_details;
};

app::Form1Seams TestForm1::seams() {
    app::Form1Seams s;
    s.deviceForPort = m_devices.resolver();
    s.showError = [this](const QString& caption, const QString& text, const QString& detail) {
        m_details << detail;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->isVisible())
                m_messages << QStringLiteral("shown while a window is visible");
            // The box runs an event loop: no tick may act on a half-started program.
            for (const char* name : {"timerTraceCurves", "timerRecording"}) {
                const auto* timer = window->findChild<QTimer*>(QLatin1String(name));
                if (timer && timer->isActive())
                    m_messages << QLatin1String(name) + QStringLiteral(" running");
            }
        }
        m_messages << caption + QLatin1Char('|') + text;
    };
    // The run's dialog would wait for a click.
    s.runAsks.identity = [](const sealing::RunIdentity& last) { return std::optional(last); };
    // Room for the panel as designed, whatever screen the platform plays.
    s.screenRoom = [] { return QSize(1912, 1040); };
    return s;
}

void TestForm1::writeConf(const QByteArray& text) {
    QFile file(QStringLiteral("conf.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

void TestForm1::init() {
    m_state.emplace();
    QVERIFY(m_state->isValid());
    m_devices.clear();
    m_messages.clear();
    m_details.clear();
}

void TestForm1::cleanup() {
    m_state.reset();
}

void TestForm1::startUpStateWithoutSettings() {
    Form1 form(seams());
    QCOMPARE(form.windowTitle(), QStringLiteral("TK840 TK960 PC control"));
    // The built-in icon, not a platform default: it comes at its drawn size.
    QCOMPARE(form.windowIcon().availableSizes(), QList<QSize>{QSize(256, 256)});
    QCOMPARE(form.findChild<QLabel*>("versionLabel")->text(), QStringLiteral("Version 1.02"));
    QCOMPARE(form.findChild<QLineEdit*>("meas_box")->text(), QStringLiteral("888.8"));
    QCOMPARE(form.findChild<QLineEdit*>("setp_box")->text(), QStringLiteral("888.8"));
    QCOMPARE(form.findChild<QLineEdit*>("status_field")->text(), QString());
    QCOMPARE(form.findChild<QLineEdit*>("recording_field")->text(),
             QStringLiteral("Not recording"));
    QCOMPARE(Data::measureRaw, 8888.0f);
    QCOMPARE(Data::setpointRaw, 8888.0f);
    QCOMPARE(Data::powerRaw, 0.0f);
    QCOMPARE(Data::recordTimerMs, 20000);
    QCOMPARE(Data::recordingActive, uint8_t(0));
    QCOMPARE(Data::historyIndex, int16_t(0));
    QCOMPARE(int(Data::measureHistory.size()), 5001);
    QCOMPARE(int(Data::setpointHistory.size()), 5001);
    QCOMPARE(int(Data::timeHistory.size()), 5001);
    for (int i = 0; i < 5001; ++i) {
        QCOMPARE(Data::measureHistory[i], Data::NO_DATA);
        QCOMPARE(Data::setpointHistory[i], Data::NO_DATA);
        QVERIFY(Data::timeHistory[i].isEmpty());
    }
    QCOMPARE(int(Data::portAvailable.size()), 51);
    QVERIFY(!Data::portAvailable[0]);
    QVERIFY(!QFile::exists(QStringLiteral("conf.ini")));

    auto* poll = form.findChild<QTimer*>("timerGetFromControler");
    QCOMPARE(poll->interval(), 5000);
    QVERIFY(poll->isActive());
    QCOMPARE(form.findChild<QTimer*>("timerTraceCurves")->interval(), 2500);
    QVERIFY(form.findChild<QTimer*>("timerTraceCurves")->isActive());
    QCOMPARE(form.findChild<QTimer*>("timerRecording")->interval(), 20000);
    QVERIFY(form.findChild<QTimer*>("timerRecording")->isActive());
    // To the millisecond: a coarse timer may fire 5 % off.
    for (const char* name : {"timerGetFromControler", "timerTraceCurves", "timerRecording"})
        QCOMPARE(form.findChild<QTimer*>(name)->timerType(), Qt::PreciseTimer);
}

void TestForm1::startUpMessageForPortThatCannotOpen() {
    writeConf("[TK840 TK960 PC control]\nComPortNum=7\ninterv_record=240\n");
    Form1 form(seams());
    QCOMPARE(m_messages, QStringList{QStringLiteral(
                             "TK840 TK960 PC control|Erreur pendant l'ouverture du port 7")});
    // The box's detail, as portFailureDetail words it, with the devices there are.
    const QString present = tklink::presentSerialDevices().isEmpty()
                                ? QStringLiteral("No serial device is present.")
                                : QStringLiteral("Serial devices present: /dev/");
    QCOMPARE(m_details.size(), 1);
    QVERIFY2(m_details[0].startsWith(
                 "Port 7 names no device: name one in conf.ini, [Ports] 7=...\n" + present),
             qPrintable(m_details[0]));
    QVERIFY(!Data::portConnected);
    QCOMPARE(Data::recordTimerMs, 240000);
    QCOMPARE(form.findChild<QLineEdit*>("meas_box")->text(), QStringLiteral("888.8"));
}

void TestForm1::portFailureDetail_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("portNumber");
    QTest::addColumn<QString>("systemText");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("detail");
    using Kind = tklink::OpenFailure::Kind;
    QTest::newRow("permission: the group, and how to join it")
        << int(Kind::PermissionDenied) << 1 << "Permission denied" << QStringList()
        << "/dev/ttyUSB0: Permission denied. Join the dialout group, then log in again.\n"
           "In a terminal: sudo usermod -aG dialout $USER";
    QTest::newRow("not there: the devices there are")
        << int(Kind::NotFound) << 1 << "No such file or directory"
        << QStringList{"/dev/ttyS0 (port 31)", "/dev/ttyUSB1 (port 2)"}
        << "/dev/ttyUSB0: No such file or directory. The adapter is not plugged in.\n"
           "Serial devices present: /dev/ttyS0 (port 31), /dev/ttyUSB1 (port 2).\n"
           "Parameters, \"Find controller\": tries every serial port at every usual speed.";
    QTest::newRow("no device: none present")
        << int(Kind::NoDevice) << 1 << "" << QStringList()
        << "Port 1 names no device: name one in conf.ini, [Ports] 1=...\n"
           "No serial device is present.\n"
           "Parameters, \"Find controller\": tries every serial port at every usual speed.";
    QTest::newRow("busy: another program")
        << int(Kind::Busy) << 1 << "Device or resource busy" << QStringList{"/dev/ttyS0"}
        << "/dev/ttyUSB0: held by another program. Close that program, or choose another port.\n"
           "Parameters, \"Find controller\": tries every serial port at every usual speed.";
    QTest::newRow("number below 1: no [Ports] line can help")
        << int(Kind::NoDevice) << 0 << "" << QStringList()
        << "0 is not a port number: ComPortNum must be 1 or more.\n"
           "No serial device is present.\n"
           "Parameters, \"Find controller\": tries every serial port at every usual speed.";
}

void TestForm1::portFailureDetail() {
    QFETCH(int, kind);
    QFETCH(int, portNumber);
    QFETCH(QString, systemText);
    QFETCH(QStringList, present);
    const tklink::OpenFailure failure{tklink::OpenFailure::Kind(kind), portNumber,
                                      QStringLiteral("/dev/ttyUSB0"), systemText};
    QTEST(app::portFailureDetail(failure, present), "detail");
    // The box wraps its lines: the command must stay whole on one.
    if (kind == int(tklink::OpenFailure::Kind::PermissionDenied))
        QVERIFY(app::detailMarkup(app::portFailureDetail(failure, present))
                    .endsWith("<p style=\"margin:0; white-space:pre\">"
                              "In a terminal: sudo usermod -aG dialout $USER</p>"));
}

// What conf.ini cannot give is said, before the window shows: a file that is
// there but cannot be read, and a record period out of range.
void TestForm1::startUpSaysWhatConfIniCannotGive() {
    QVERIFY(QDir().mkdir(QStringLiteral("conf.ini")));
    { Form1 form(seams()); }
    QCOMPARE(m_messages.value(0), QStringLiteral("TK840 TK960 PC control|conf.ini cannot be read: "
                                                 "the default settings are used."));
    QCOMPARE(m_details.value(0), QDir::current().filePath("conf.ini") + ": a folder, not a file");
    QVERIFY(QDir().rmdir(QStringLiteral("conf.ini")));
    writeConf("[TK840 TK960 PC control]\ninterv_record=0\n");
    Form1 form(seams());
    QCOMPARE(form.findChild<QLineEdit*>("recording_field")->text(),
             QStringLiteral("Not recording: interv_record \"0\" out of range, 1 to 32767 s; "
                            "a record every 20 s"));
}

void TestForm1::startUpOpensConfiguredPort() {
    Pty pty;
    m_devices[4] = pty.path();
    writeConf("[TK840 TK960 PC control]\nComPortNum=4\nComPortSpeed=9600\n[Records]\nSeal=1\n");
    Form1 form(seams());
    QVERIFY(m_messages.isEmpty());
    QVERIFY(Data::portConnected);
    QVERIFY(form.serialPort().portOpen());
    QVERIFY(Data::portAvailable[4]);
    QCOMPARE(Data::comPortSpeed, QStringLiteral("9600"));

    // The trail opens after the first paint, the port's event held till then.
    QVERIFY(!QFile::exists(QStringLiteral("audit.log")));
    form.show();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("audit.log")), simWaitMs);
    QFile audit(QStringLiteral("audit.log"));
    QVERIFY(audit.open(QIODevice::ReadOnly));
    const QStringList trail = QString::fromUtf8(audit.readAll()).split(QStringLiteral("\r\n"));
    QCOMPARE(trail.size(), 3); // the last one empty
    QVERIFY(trail[0].section(QLatin1Char(';'), 5).startsWith(QStringLiteral("started, ")));
    QCOMPARE(trail[1].section(QLatin1Char(';'), 5), QStringLiteral("port opened: ") + pty.path());
}

void TestForm1::portsMappedInConfIni() {
    // Without a test resolver the program asks conf.ini's [Ports] section.
    // Every number the scan tries is mapped, so no machine port is touched.
    Pty pty;
    QByteArray ports = "[Ports]\n";
    for (int n = 1; n <= 50; ++n)
        ports += QByteArray::number(n) + "=" +
                 (n == 2 ? pty.path().toLocal8Bit() : QByteArray("/nonexistent/tk-port")) + "\n";
    writeConf(ports + "[TK840 TK960 PC control]\nComPortNum=2\n");
    app::Form1Seams s = seams();
    s.deviceForPort = nullptr;
    Form1 form(s);
    QVERIFY(Data::portConnected);
    for (int n = 0; n <= 50; ++n)
        QCOMPARE(bool(Data::portAvailable[n]), n == 2);
    QCOMPARE(form.serialPort().deviceName(), pty.path());
}

void TestForm1::controlsAtTheirPlaces_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<QString>("text");

    QTest::newRow("Graph") << "Graph" << QRect(104, 104, 873, 409) << "";
    QTest::newRow("meas_box") << "meas_box" << QRect(432, 32, 153, 65) << "888.8";
    QTest::newRow("setp_box") << "setp_box" << QRect(600, 32, 153, 65) << "888.8";
    QTest::newRow("status_field") << "status_field" << QRect(104, 528, 873, 25) << "";
    QTest::newRow("recording_field")
        << "recording_field" << QRect(104, 560, 873, 25) << "Not recording";
    QTest::newRow("parametersButton")
        << "parametersButton" << QRect(0, 184, 89, 25) << "Parameters";
    QTest::newRow("Start_stop_recording")
        << "Start_stop_recording" << QRect(0, 240, 89, 41) << "Start recording";
    QTest::newRow("exitButton") << "exitButton" << QRect(0, 312, 89, 25) << "Exit";
    QTest::newRow("markEventButton") << "markEventButton" << QRect(0, 368, 89, 41) << "Mark event…";
    QTest::newRow("runButton") << "runButton" << QRect(0, 420, 89, 25) << "Run…";
    QTest::newRow("versionLabel") << "versionLabel" << QRect(8, 584, 81, 17) << "Version 1.02";
}

void TestForm1::controlsAtTheirPlaces() {
    QFETCH(QString, name);
    QFETCH(QRect, place);
    QFETCH(QString, text);
    Form1 form(seams());
    QCOMPARE(form.size(), QSize(1090, 653));
    auto* control = form.findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), place);
    if (auto* box = qobject_cast<QLineEdit*>(control))
        QCOMPARE(box->text(), text);
    else if (auto* button = qobject_cast<QAbstractButton*>(control))
        QCOMPARE(button->text(), text);
    else if (auto* label = qobject_cast<QLabel*>(control))
        QCOMPARE(label->text(), text);
}

void TestForm1::exitClosesOpenPort() {
    Pty pty;
    m_devices[1] = pty.path();
    Form1 form(seams());
    form.show();
    QVERIFY(form.serialPort().portOpen());
    QTest::mouseClick(form.findChild<app::PanelButton*>("exitButton"), Qt::LeftButton);
    QVERIFY(!form.isVisible());
    QVERIFY(!form.serialPort().portOpen());
    QVERIFY(Data::portConnected); // shutdown leaves the flag alone
}

void TestForm1::exitWithPortClosed() {
    Form1 form(seams());
    form.show();
    QVERIFY(!form.serialPort().portOpen());
    QVERIFY(form.close());
    QVERIFY(!form.serialPort().portOpen());
}

void TestForm1::parametersShownOnceAndClosedWithWindow() {
    Pty pty;
    m_devices[3] = pty.path();
    Form1 form(seams());
    form.show();
    QTest::mouseClick(form.findChild<app::PanelButton*>("parametersButton"), Qt::LeftButton);
    QPointer<settings::Parameters_dialog> dialog = form.parametersDialog();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->windowIcon().availableSizes(), QList<QSize>{QSize(256, 256)});
    auto* ports = dialog->findChild<QComboBox*>("Combo1");
    QCOMPARE(ports->count(), 1);
    form.showParameters(); // a second opening brings the same dialog forward
    QCOMPARE(form.parametersDialog(), dialog.data());
    QCOMPARE(ports->count(), 1);

    // The dialog's serial "Apply" reopens the main window's port.
    ports->setEditText(QStringLiteral("3"));
    QTest::mouseClick(dialog->findChild<QPushButton*>("applySerialPortButton"), Qt::LeftButton);
    QVERIFY(Data::portConnected);
    QVERIFY(form.serialPort().portOpen());

    QVERIFY(form.close());
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), simWaitMs);
    QVERIFY(!QFile::exists(QStringLiteral("conf.ini"))); // nothing saved
}

// A port that names a gateway is shown by its address, and the dialog
// follows its connection's states.
void TestForm1::parametersShowTheGateway() {
    // Nothing at the window's address 9 behind it.
    TksimProcess sim(QStringLiteral(TKSIM_PATH), {"--fixed", "2153,2000,45", "--address", "10,12"},
                     TksimProcess::Line::Tcp);
    QVERIFY(sim.start(simWaitMs));
    m_devices[5] = sim.link();
    writeConf("[TK840 TK960 PC control]\nComPortNum=5\n");
    Form1 form(seams());
    form.show();
    QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
    QTRY_VERIFY_WITH_TIMEOUT(Data::portConnected, simWaitMs);
    form.showParameters();
    settings::Parameters_dialog* dialog = form.parametersDialog();
    auto* info = dialog->findChild<QLabel*>("portInfoLabel");
    // Whole in the tool tip; a long address is shortened in its middle on the label.
    QCOMPARE(info->toolTip(), "Port 5 is the gateway " + sim.link() + ": connected");
    QCOMPARE(dialog->findChild<QComboBox*>("Combo1")->toolTip(), sim.link());
    auto* status = form.findChild<QLineEdit*>("status_field");
    QTRY_VERIFY2_WITH_TIMEOUT(
        status->text().startsWith("Target failed to respond (gateway exception 11) "),
        qPrintable(status->text()), simWaitMs);

    // Only the addresses behind it are searched, on a connection of the
    // search's own; the poll's comes back after.
    QTest::mouseClick(dialog->findChild<QPushButton*>("findButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialog->findChild<QPushButton*>("findButton")->text(),
                              "Find controller", simWaitMs);
    QCOMPARE(info->text(), "2 of 32 addresses answer behind the gateway");
    QCOMPARE(dialog->findChild<QLabel*>("triesLabel")->text().split('\n'),
             QStringList({"Port 5 is the gateway " + sim.link() +
                              ": no serial port or speed to search; asking 32 addresses there",
                          QStringLiteral("no controller at 30 of 32 addresses: 30 target "
                                         "failed to respond (exception 11)"),
                          "addresses answering from 1 to 32 behind the gateway " + sim.link() +
                              ": 10, 12; conf.ini lines:",
                          "[Controllers]", "controller-10=10", "controller-12=12"}));
    // The poll's connection, closed for the search's own, then made again.
    QTRY_VERIFY_WITH_TIMEOUT(Data::portConnected, simWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(sim.logLines().filter("connected").size(), 5, simWaitMs);
    QCOMPARE(sim.logLines().filter(QRegularExpression("^connected$")).size(), 3);

    QTest::mouseClick(dialog->findChild<QPushButton*>("applySerialPortButton"), Qt::LeftButton);
    QCOMPARE(info->toolTip(), "Connected to gateway " + sim.link() + " (port 5)");
    sim.process().kill();
    QTRY_COMPARE_WITH_TIMEOUT(info->toolTip(),
                              "Not connected to gateway " + sim.link() + " (port 5): trying again",
                              simWaitMs);
    QVERIFY(!dialog->findChild<QLabel*>("portReasonLabel")->toolTip().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(
        form.findChild<QLineEdit*>("status_field")->text().startsWith("Not connected"), simWaitMs);
}

void TestForm1::recordingKeyAndTimer() {
    writeConf("[Records]\nSeal=1\n");
    app::Form1Seams s = seams();
    s.now = [] { return QDateTime(QDate(2022, 3, 14), QTime(14, 5, 9)); };
    Form1 form(s);
    auto* key = form.findChild<app::PanelButton*>("Start_stop_recording");
    auto* status = form.findChild<QLineEdit*>("recording_field");
    QTest::mouseClick(key, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(key->text(), QStringLiteral("Stop recording"), simWaitMs);
    QCOMPARE(status->text(), QStringLiteral("Recording in REC_2022-03-14_14-05-09.csv started."));

    QMetaObject::invokeMethod(form.findChild<QTimer*>("timerRecording"), "timeout");
    QTRY_COMPARE_WITH_TIMEOUT(
        status->text(),
        QStringLiteral("Recording in progress in file REC_2022-03-14_14-05-09.csv 14:05:09"),
        simWaitMs);
    QFile file(QStringLiteral("REC_2022-03-14_14-05-09.csv"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QByteArray("Time;Setpoint;Temperature;Power;\r"));
    QVERIFY2(lines[1].endsWith("\";8888;8888;0;\r"), lines[1].constData());

    QTest::mouseClick(key, Qt::LeftButton);
    QCOMPARE(key->text(), QStringLiteral("Start recording"));
    QCOMPARE(status->text(), QStringLiteral("Recording stopped."));

    // Exit during a recording ends it as the key does: in the trail with the
    // file as closed, and the file read-only.
    QTest::mouseClick(key, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(key->text(), QStringLiteral("Stop recording"), simWaitMs);
    QVERIFY(form.close());
    QTRY_COMPARE_WITH_TIMEOUT(file.permissions() & QFileDevice::WriteOwner,
                              QFileDevice::Permissions(), simWaitMs);
    file.close();
    QVERIFY(file.open(QIODevice::ReadOnly));
    QFile audit(QStringLiteral("audit.log"));
    QVERIFY(audit.open(QIODevice::ReadOnly));
    const QList<QByteArray> trail = audit.readAll().trimmed().split('\n');
    QCOMPARE(QString::fromUtf8(trail.last().trimmed()).section(QLatin1Char(';'), 5),
             sealing::recordingStoppedEvent(file.fileName(), file.readAll()));
}

void TestForm1::runAndMarkInTheTrail_data() {
    QTest::addColumn<QByteArray>("conf");
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<QString>("markLine");
    QTest::addColumn<QString>("file"); // the first recording started

    const QString name = QStringLiteral("REC_2022-03-14_14-05-09.csv");
    const QByteArray asked("[Records]\nSeal=1\n[Recording]\nAskForRun=1\n");
    QTest::newRow("one oven, the shop's list") << asked + "[Events]\nCharge in\nDoor open\n"
                                               << QStringList() << "event: Charge in" << name;
    QTest::newRow("bus: the controller shown")
        << asked + "[Controllers]\nfurnace-1=10\nfurnace-2=11\n[Bus]\nAnswerTimeout=1000\n"
        << QStringList{"--address", "10,11"} << "furnace-1: event: Load in"
        << "furnace-1/" + name;
}

// Cancel starts nothing; the batch typed goes into the trail right after the
// start's entry, and is offered again at the next start.
void TestForm1::runAndMarkInTheTrail() {
    QFETCH(QByteArray, conf);
    QFETCH(QStringList, simOptions);
    QFETCH(QString, markLine);
    QFETCH(QString, file);
    TksimProcess sim(QStringLiteral(TKSIM_PATH), simOptions);
    QVERIFY(sim.start(20000));
    m_devices[1] = sim.link();
    writeConf(conf);
    app::Form1Seams s = seams();
    s.now = [] { return QDateTime(QDate(2022, 3, 14), QTime(14, 5, 9)); };
    QList<sealing::RunIdentity> offered;
    bool cancel = true;
    s.runAsks.identity =
        [&](const sealing::RunIdentity& last) -> std::optional<sealing::RunIdentity> {
        offered << last;
        if (std::exchange(cancel, false))
            return std::nullopt;
        return sealing::RunIdentity{"L-4711", "gear 12", "ACME", last.operatorName, "first load"};
    };
    s.runAsks.mark = [](const QStringList& events, const QString&) { return events.first(); };
    Form1 form(s);
    auto* key = form.findChild<app::PanelButton*>("Start_stop_recording");
    QTest::mouseClick(key, Qt::LeftButton);
    QCOMPARE(key->text(), QStringLiteral("Start recording"));
    QVERIFY(!QFile::exists(file));
    QTest::mouseClick(key, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(key->text(), QStringLiteral("Stop recording"), simWaitMs);
    QTest::mouseClick(form.findChild<app::PanelButton*>("markEventButton"), Qt::LeftButton);
    QTest::mouseClick(key, Qt::LeftButton);
    QTest::mouseClick(key, Qt::LeftButton);
    QCOMPARE(offered.size(), 3);
    QCOMPARE(offered[0], sealing::RunIdentity({{}, {}, {}, sealing::systemUserName(), {}}));
    QCOMPARE(offered[2], sealing::RunIdentity({"L-4711", "gear 12", "ACME",
                                               sealing::systemUserName(), "first load"}));

    QFile audit(QStringLiteral("audit.log"));
    QVERIFY(audit.open(QIODevice::ReadOnly));
    QStringList events;
    for (const QByteArray& line : audit.readAll().trimmed().split('\n'))
        events << QString::fromUtf8(line.trimmed()).section(QLatin1Char(';'), 5);
    const qsizetype start = events.indexOf(QStringLiteral("recording started: ") + file);
    QVERIFY2(start >= 0, qPrintable(events.join(QLatin1Char('\n'))));
    QCOMPARE(events.value(start + 1), QStringLiteral("run: %1; batch \"L-4711\"; part \"gear 12\"; "
                                                     "customer \"ACME\"; operator \"%2\"; note "
                                                     "\"first load\"")
                                          .arg(file, sealing::systemUserName()));
    // On a bus every controller's start comes first, then the mark.
    const qsizetype mark = events.indexOf(markLine, start + 2);
    QVERIFY2(mark > start, qPrintable(events.join(QLatin1Char('\n'))));
    QVERIFY(events.value(mark + 1).startsWith(QStringLiteral("recording stopped: ") + file));
}

// The whole way: a run recorded by the window against tksim, with its batch,
// an event and an alarm, and tkview's report of it. The records' clock is a
// day before and after the trail's, so that the run holds what it marks in
// any time zone (the report is made in UTC).
void TestForm1::runReportedByTheViewer() {
    TksimProcess sim(QStringLiteral(TKSIM_PATH), {"--script", "0:3124,3000,45"});
    QVERIFY(sim.start(20000));
    m_devices[1] = sim.link();
    writeConf("[Events]\nCharge in\n[Alarms]\nHighLimit=300\n[Records]\nSeal=1\n"
              "[Recording]\nAskForRun=1\n");
    app::Form1Seams s = seams();
    QDateTime now = QDateTime::currentDateTime().addDays(-1);
    s.now = [&now] { return now; };
    s.runAsks.identity = [](const sealing::RunIdentity& last) {
        return std::optional(
            sealing::RunIdentity{"L-4711", "gear 12", "ACME", last.operatorName, {}});
    };
    s.runAsks.mark = [](const QStringList& events, const QString&) { return events.first(); };
    Form1 form(s);
    auto* key = form.findChild<app::PanelButton*>("Start_stop_recording");
    auto* record = form.findChild<QTimer*>("timerRecording");
    QTest::mouseClick(key, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(key->text(), QStringLiteral("Stop recording"), simWaitMs);
    QMetaObject::invokeMethod(record, "timeout");
    QTest::mouseClick(form.findChild<app::PanelButton*>("markEventButton"), Qt::LeftButton);
    QMetaObject::invokeMethod(form.findChild<QTimer*>("timerGetFromControler"), "timeout");
    QTRY_VERIFY_WITH_TIMEOUT(form.findChild<app::AlarmBand*>("alarmBand")->isVisibleTo(&form),
                             20000);
    now = now.addDays(2);
    QMetaObject::invokeMethod(record, "timeout");
    QTest::mouseClick(key, Qt::LeftButton);
    QCOMPARE(key->text(), QStringLiteral("Start recording"));

    // The viewer shows a trail's batch and events only under a key it trusts.
    QFile trusted(QStringLiteral("trusted-keys"));
    QVERIFY(trusted.open(QIODevice::WriteOnly));
    const auto operatorKey = sealing::loadOrCreateKey(sealing::userKeyPath());
    QVERIFY(operatorKey);
    trusted.write(
        sealing::TrustedKeys::lineFor(operatorKey->publicKey, QStringLiteral("operator")).toUtf8() +
        '\n');
    trusted.close();
    const QByteArray trustedBefore = qgetenv("TKCONTROL_TRUSTED_KEYS");
    qputenv("TKCONTROL_TRUSTED_KEYS", QFile::encodeName(QFileInfo(trusted).absoluteFilePath()));
    const auto restore = qScopeGuard([&] { qputenv("TKCONTROL_TRUSTED_KEYS", trustedBefore); });
    const QString text =
        viewerReportText(QStringLiteral(TKVIEW_PATH), QStringLiteral(PDFTOTEXT_PATH),
                         QStringLiteral("report.pdf"), {QDir::currentPath()});
    for (const QString& words : {QStringLiteral("Batch L-4711"), QStringLiteral("event: Charge in"),
                                 QStringLiteral("alarm raised: ")})
        QVERIFY2(text.contains(words), qPrintable(words + QStringLiteral(" not in:\n") + text));
}

// The line states what the file holds: a minimum typed but not applied is
// taken by "Close" without being saved.
void TestForm1::alarmLimitChangeInTheTrail() {
    writeConf("[Alarms]\nHighLimit=300\n[Records]\nSeal=1\n");
    Form1 form(seams());
    form.showParameters();
    Data::alarms.highLimit = 150.0f; // as the alarms dialog leaves it
    form.parametersDialog()->findChild<QLineEdit*>("min_box")->setText("250");
    QTest::mouseClick(form.parametersDialog()->findChild<QPushButton*>("OKButton"), Qt::LeftButton);
    QCOMPARE(Data::yValueMin, 250.0f);
    QFile conf(QStringLiteral("conf.ini"));
    QVERIFY(conf.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(conf.readAll())
                .contains(QRegularExpression(QStringLiteral("^Yvaluemin=0\r?$"),
                                             QRegularExpression::MultilineOption)));
    QFile audit(QStringLiteral("audit.log"));
    QVERIFY(audit.open(QIODevice::ReadOnly));
    const QList<QByteArray> trail = audit.readAll().trimmed().split('\n');
    QCOMPARE(QString::fromUtf8(trail.last().trimmed()).section(QLatin1Char(';'), 5),
             QStringLiteral("settings saved: HighLimit 300 \u2192 150"));
}

void TestForm1::alarmAcrossTheHighLimit() {
    // 290.0 degrees, then 312.4 from the second second on.
    TksimProcess sim(QStringLiteral(TKSIM_PATH), {"--script", "0:2900,3000,45;2:3124,3000,45"});
    QVERIFY(sim.start(20000));
    m_devices[1] = sim.link();
    writeConf("[Alarms]\nHighLimit=300\n");
    Form1 form(seams());
    QMetaObject::invokeMethod(form.findChild<QTimer*>("timerGetFromControler"), "timeout");
    auto* band = form.findChild<app::AlarmBand*>("alarmBand");
    QTRY_VERIFY_WITH_TIMEOUT(band->isVisibleTo(&form), 20000);
    QCOMPARE(form.findChild<QLineEdit*>("meas_box")->text(), QStringLiteral("312.4"));
    QCOMPARE(band->colour(), alarms::BandColour::FlashingRed);
    QCOMPARE(form.windowTitle(), QStringLiteral("ALARM – TK840 TK960 PC control"));
    const QString text = band->findChild<QLabel*>("alarmText")->text();
    QVERIFY2(
        QRegularExpression(QStringLiteral("^High temperature 312.4 °C since \\d\\d:\\d\\d:\\d\\d$"))
            .match(text)
            .hasMatch(),
        qPrintable(text));

    QTest::mouseClick(band->findChild<QPushButton*>("acknowledgeButton"), Qt::LeftButton);
    QCOMPARE(band->colour(), alarms::BandColour::Red);
    QCOMPARE(form.windowTitle(), QStringLiteral("TK840 TK960 PC control"));
}

void TestForm1::pollShowsAnswerOnReadouts() {
    Pty pty;
    m_devices[1] = pty.path();
    app::Form1Seams s = seams();
    s.now = [] { return QDateTime(QDate(2022, 3, 14), QTime(9, 7, 5)); };
    Form1 form(s);
    auto* poll = form.findChild<QTimer*>("timerGetFromControler");
    QMetaObject::invokeMethod(poll, "timeout");
    QCOMPARE(form.findChild<QLineEdit*>("status_field")->text(),
             QStringLiteral("Send request to controler 09:07:05"));
    QCOMPARE(poll->interval(), 2000);
    QCOMPARE(pty.read(8), QByteArray::fromHex("0903000100035543"));
    // Answer from the protocol's own example: 215.3 degrees, setpoint 200.
    QVERIFY(pty.write(QByteArray::fromHex("090306086907D0002DDB64")));
    QTRY_COMPARE_WITH_TIMEOUT(form.findChild<QLineEdit*>("meas_box")->text(),
                              QStringLiteral("215.3"), simWaitMs);
    QCOMPARE(form.findChild<QLineEdit*>("setp_box")->text(), QStringLiteral("200"));
    QCOMPARE(form.findChild<QLineEdit*>("status_field")->text(),
             QStringLiteral("Data received from controler 09:07:05"));
}

void TestForm1::readoutsShowValuesWhole_data() {
    QTest::addColumn<float>("raw"); // the no-data value: gone stale
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    // The widest texts there are; narrower ones fit where these do.
    QTest::newRow("no data") << Data::NO_DATA_RAW << "C"
                             << "888.8";
    QTest::newRow("lowest register value") << -32768.0f << "C"
                                           << "-3276.8";
    QTest::newRow("lowest, decimal comma") << -32768.0f << "de_DE"
                                           << "-3276,8";
}

// Drawn whole: the lit columns of each box span the text's own width, clear
// of the box's edges, so neither the sign nor a digit is scrolled away.
void TestForm1::readoutsShowValuesWhole() {
    QFETCH(float, raw);
    QFETCH(QString, locale);
    QFETCH(QString, text);
    Form1 form(seams());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QLocale::setDefault(QLocale(locale));
    tklink::Controller& shown = form.findChild<tklink::ControllerSession*>()->shownController();
    if (raw == Data::NO_DATA_RAW) {
        Q_EMIT shown.valuesCurrentChanged(false);
    } else {
        shown.takeAnswer({raw, raw, 0}, QDateTime::currentDateTime());
        shown.confirmAnswer();
    }
    for (const char* name : {"meas_box", "setp_box"}) {
        auto* box = form.findChild<QLineEdit*>(QLatin1String(name));
        QCOMPARE(box->text(), text);
        QCOMPARE(box->geometry().size(), QSize(153, 65));
        const QImage image = box->grab().toImage();
        int first = image.width();
        int last = -1;
        for (int x = 0; x < image.width(); ++x)
            for (int y = 0; y < image.height(); ++y)
                if (qMax(qRed(image.pixel(x, y)), qGreen(image.pixel(x, y))) > 96) {
                    first = std::min(first, x);
                    last = x;
                    break;
                }
        const int whole = QFontMetrics(box->font()).tightBoundingRect(text).width();
        QVERIFY2(first > 0 && last < image.width() - 1, name);
        QVERIFY2(std::abs(last - first + 1 - whole) <= 2, name);
    }
}

void TestForm1::traceTickAndGraphClick() {
    app::Form1Seams s = seams();
    s.now = [] { return QDateTime(QDate(2022, 3, 14), QTime(9, 7, 5)); };
    Form1 form(s);
    form.show();
    Data::measureRaw = 2153;
    Data::setpointRaw = 2000;
    QMetaObject::invokeMethod(form.findChild<QTimer*>("timerTraceCurves"), "timeout");
    QCOMPARE(Data::historyIndex, int16_t(1));
    QCOMPARE(Data::measureHistory[0], 215.3f);
    QCOMPARE(Data::setpointHistory[0], 200.0f);
    QVERIFY(Data::timeHistory[0].startsWith(QStringLiteral("09:07:05")));

    auto* graph = form.findChild<display::GraphBox*>("Graph");
    // The tick drew into the graph's picture: the grid at least.
    const QImage picture = graph->picture();
    int lit = 0;
    for (int y = 0; y < picture.height(); y += 2)
        for (int x = 0; x < picture.width(); ++x)
            lit += picture.pixel(x, y) != qRgb(0, 0, 0);
    QVERIFY2(lit > 1000, qPrintable(QString::number(lit)));
    QVERIFY(!form.parametersDialog());
    QTest::mouseClick(graph, Qt::LeftButton, {}, QPoint(400, 200));
    QVERIFY(form.parametersDialog());
    QVERIFY(form.parametersDialog()->isVisible());
    form.close();
}

void TestForm1::busOfThree() {
    writeConf("[Controllers]\noven1=9\n");
    {
        // One controller, if named, keeps the window as it is.
        Form1 one(seams());
        QCOMPARE(one.size(), QSize(1090, 653));
        QVERIFY(!one.findChild<QTableWidget*>("controllerStrip"));
        QCOMPARE(one.windowTitle(), QStringLiteral("TK840 TK960 PC control"));
    }
    // oven3 heads for 320 degrees, over the high limit, within a second.
    TksimProcess sim(QStringLiteral(TKSIM_PATH),
                     {"--address", "9,10,11", "--setpoint", "100,150,320", "--speed", "300"});
    QVERIFY(sim.start(20000));
    m_devices[1] = sim.link();
    writeConf("[Alarms]\nHighLimit=300\n[Controllers]\noven1=9\noven2=10\noven3=11\n"
              "[Bus]\nAnswerTimeout=1000\n[Control]\nSetpointWrite=1\nSetpointMin=0\n"
              "SetpointMax=400\n[Records]\nSeal=1\n");
    Form1 form(seams());
    QCOMPARE(form.findChild<QWidget*>("Graph")->geometry(), QRect(104, 104, 873, 409));
    QCOMPARE(form.windowTitle(), QStringLiteral("oven1 – TK840 TK960 PC control"));
    QMetaObject::invokeMethod(form.findChild<QTimer*>("timerGetFromControler"), "timeout");
    auto* setpoint = form.findChild<QLineEdit*>("setp_box");
    QTRY_COMPARE_WITH_TIMEOUT(setpoint->text(), QStringLiteral("100"), 20000);
    auto* strip = form.findChild<QTableWidget*>("controllerStrip");
    QTRY_COMPARE_WITH_TIMEOUT(strip->item(1, 3)->text(), QStringLiteral("150.0 °C"), 20000);
    // oven2's past is kept while oven1 is shown, and shown at the switch.
    auto* trace = form.findChild<QTimer*>("timerTraceCurves");
    QMetaObject::invokeMethod(trace, "timeout");
    QCOMPARE(Data::setpointHistory[Data::historyIndex - 1], 100.0f);
    // A write confirmed for oven1 is withdrawn when oven2 is shown.
    auto* action = form.findChild<app::SetpointAction*>();
    action->open();
    action->dialog()->findChild<QLineEdit*>("newValueBox")->setText("120");
    QTest::mouseClick(action->dialog()->findChild<QPushButton*>("writeButton"), Qt::LeftButton);
    auto* confirm = action->dialog()->findChild<QPushButton*>("confirmButton");
    QVERIFY(confirm->isVisibleTo(action->dialog()));
    QTest::mouseClick(strip->viewport(), Qt::LeftButton, {},
                      strip->visualItemRect(strip->item(1, 0)).center());
    QCOMPARE(setpoint->text(), QStringLiteral("150"));
    QCOMPARE(Data::setpointHistory[Data::historyIndex - 1], 150.0f);
    QCOMPARE(action->dialog()->findChild<QLabel*>("controllerValue")->text(),
             QStringLiteral("oven2 (address 10)"));
    QVERIFY(!confirm->isVisibleTo(action->dialog()));
    QVERIFY(form.windowTitle().endsWith(QStringLiteral("oven2 – TK840 TK960 PC control")));
    QCOMPARE(form.findChild<QLabel*>("shownName")->text(), QStringLiteral("oven2"));

    auto* band = form.findChild<app::AlarmBand*>("alarmBand");
    auto* bandText = band->findChild<QLabel*>("alarmText");
    QTRY_VERIFY_WITH_TIMEOUT(bandText->text().startsWith("oven3: High temperature"), 20000);
    QCOMPARE(form.windowTitle(), QStringLiteral("ALARM oven3 – oven2 – TK840 TK960 PC control"));
    QFile audit(QStringLiteral("audit.log"));
    QVERIFY(audit.open(QIODevice::ReadOnly));
    QVERIFY(audit.readAll().contains(";oven3: alarm raised: High temperature "));
    // The band's key acknowledges oven3's alarm, not the shown oven2's; the
    // strip tells an acknowledged row from one that waits.
    const QColor waiting = strip->item(2, 0)->background().color();
    QTest::mouseClick(band->findChild<QPushButton*>("acknowledgeButton"), Qt::LeftButton);
    QCOMPARE(band->colour(), alarms::BandColour::Red);
    QVERIFY(strip->item(2, 0)->background().color() != waiting);
    // The band is off the plot: no curve goes under it.
    QVERIFY(!band->geometry().intersects(form.findChild<QWidget*>("Graph")->geometry()));

    auto* key = form.findChild<app::PanelButton*>("Start_stop_recording");
    QTest::mouseClick(key, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(
        form.findChild<QLineEdit*>("recording_field")->text(),
        QStringLiteral("Recording 3 controllers in %1 started.").arg(QDir::currentPath()),
        simWaitMs);
    QTest::mouseClick(key, Qt::LeftButton);
    for (const QString folder : {"oven1", "oven2", "oven3"})
        QCOMPARE(QDir(folder).entryList({"REC_*.csv"}).size(), 1);
}

// Four ovens on a 1024 × 768 screen: the window fits, every row in sight,
// each control where it was.
void TestForm1::busOfFourOnA1024By768Screen() {
    writeConf("[Controllers]\noven-1=9\noven-2=10\noven-3=11\noven-4=12\n");
    app::Form1Seams s = seams();
    s.screenRoom = [] { return QSize(1024 - 8, 768 - 40); };
    Form1 form(s);
    form.show();
    QVERIFY(form.width() <= 1016 && form.height() <= 728);
    QCOMPARE(form.findChild<QWidget*>("Graph")->geometry(), QRect(104, 104, 873, 409));
    auto* strip = form.findChild<QTableWidget*>("controllerStrip");
    QVERIFY(form.rect().contains(strip->geometry()));
    QVERIFY(strip->viewport()->rect().contains(strip->visualItemRect(strip->item(3, 0))));
    QVERIFY(!strip->geometry().intersects(form.findChild<QWidget*>("recording_field")->geometry()));
    QCOMPARE(form.findChild<QLabel*>("shownName")->text(), QStringLiteral("oven-1"));
}

void TestForm1::plainConfIniAndOneClickStart_data() {
    QTest::addColumn<QByteArray>("conf");
    QTest::addColumn<bool>("sealed");
    QTest::newRow("plain: no band, no trail, no seal, no key")
        << QByteArray("[TK840 TK960 PC control]\nComPortNum=1\n") << false;
    QTest::newRow("sealed: the run's batch given while it records")
        << QByteArray("[TK840 TK960 PC control]\nComPortNum=1\n[Records]\nSeal=1\n") << true;
}

// "Start recording" starts at once; a controller silent for a minute is told
// in the status line only, unless the shop turned alarms on.
void TestForm1::plainConfIniAndOneClickStart() {
    QFETCH(QByteArray, conf);
    QFETCH(bool, sealed);
    Pty pty; // a controller that never answers
    m_devices[1] = pty.path();
    writeConf(conf);
    QTemporaryDir home;
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    const auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", dataHome); });
    app::Form1Seams s = seams();
    QDateTime now(QDate(2022, 3, 14), QTime(14, 5, 9));
    s.now = [&now] { return now; };
    int asked = 0;
    s.runAsks.identity = [&](const sealing::RunIdentity& last) {
        ++asked;
        return std::optional(sealing::RunIdentity{"B-7", "gear 12", "ACME", last.operatorName, {}});
    };
    auto form = std::make_unique<Form1>(s);
    form->show();
    auto* key = form->findChild<app::PanelButton*>("Start_stop_recording");
    auto* run = form->findChild<app::PanelButton*>("runButton");
    QVERIFY(!run->isEnabled());
    QTest::mouseClick(key, Qt::LeftButton);
    QTRY_COMPARE(key->text(), QStringLiteral("Stop recording"));
    QCOMPARE(asked, 0);
    QTRY_VERIFY(run->isEnabled());
    QTest::mouseClick(run, Qt::LeftButton);
    QCOMPARE(asked, 1);
    auto* poll = form->findChild<QTimer*>("timerGetFromControler");
    poll->stop(); // each poll is the test's
    for (int tick = 0; tick < 6; ++tick) {
        now = now.addSecs(20);
        QMetaObject::invokeMethod(poll, "timeout");
        QCOMPARE(pty.read(8), QByteArray::fromHex("0903000100035543"));
    }
    QMetaObject::invokeMethod(form->findChild<QTimer*>("timerRecording"), "timeout");
    QTest::mouseClick(key, Qt::LeftButton);
    QCOMPARE(key->text(), QStringLiteral("Start recording"));
    QVERIFY(!run->isEnabled());
    QVERIFY(!form->findChild<app::AlarmBand*>("alarmBand")->isVisibleTo(form.get()));
    QCOMPARE(form->windowTitle(), QStringLiteral("TK840 TK960 PC control"));
    QTRY_VERIFY(form->findChild<QLineEdit*>("status_field")->text().startsWith("No answer"));
    form.reset();

    const QString file = QStringLiteral("REC_2022-03-14_14-05-09.csv");
    QTRY_COMPARE(QFile(file).permissions().testFlag(QFileDevice::WriteOwner), !sealed);
    QCOMPARE(QFile::exists(file + ".seal"), sealed);
    QCOMPARE(QFile::exists(QStringLiteral("audit.log")), sealed);
    QCOMPARE(QFile::exists(home.filePath("tkcontrol/seal.key")), sealed);
    if (!sealed)
        return;
    QFile audit(QStringLiteral("audit.log"));
    QVERIFY(audit.open(QIODevice::ReadOnly));
    QStringList runs;
    for (const QByteArray& line : audit.readAll().trimmed().split('\n'))
        if (line.contains(";run: "))
            runs << QString::fromUtf8(line.trimmed()).section(QLatin1Char(';'), 5);
    const QString user = sealing::systemUserName();
    QCOMPARE(runs, (QStringList{QStringLiteral("run: %1; operator \"%2\"").arg(file, user),
                                QStringLiteral("run: %1; batch \"B-7\"; part \"gear 12\"; customer "
                                               "\"ACME\"; operator \"%2\"")
                                    .arg(file, user)}));
}

// The dialog's confirmation holds only while nothing changed; the read-back
// decides the outcome whatever the answer was; every attempt is in the trail.
void TestForm1::setpointDialogAndOutcomes() {
    Pty pty;
    m_devices[1] = pty.path();
    writeConf("[Records]\nSeal=1\n[Control]\nSetpointWrite=1\nSetpointMin=0\nSetpointMax=400\n");
    Form1 form(seams());
    auto* poll = form.findChild<QTimer*>("timerGetFromControler");
    poll->stop(); // each poll is the test's
    PollWatch watch(form.findChild<tklink::ControllerSession*>()->shownController(),
                    form.serialPort());
    auto* setpoint = form.findChild<QLineEdit*>("setp_box");
    // One poll, answered with the setpoint the frame holds (CRCs from an
    // independent CRC-16/MODBUS in Python).
    const auto answerPoll = [&](const char* answer) {
        QMetaObject::invokeMethod(poll, "timeout");
        QCOMPARE(pty.read(8), QByteArray::fromHex("0903000100035543"));
        QVERIFY(pty.write(QByteArray::fromHex(answer)));
    };
    TRY(answerPoll("090306086907D0002DDB64")); // 200.0
    QTRY_COMPARE(setpoint->text(), QStringLiteral("200"));
    auto* action = form.findChild<app::SetpointAction*>();
    action->open();
    settings::Setpoint_dialog* dialog = action->dialog();
    auto* value = dialog->findChild<QLineEdit*>("newValueBox");
    auto* write = dialog->findChild<QPushButton*>("writeButton");
    auto* confirm = dialog->findChild<QPushButton*>("confirmButton");
    auto* message = dialog->findChild<QLabel*>("messageLabel");
    const auto ask = [&](const QString& degrees) {
        value->setText(degrees);
        QTest::mouseClick(write, Qt::LeftButton);
    };

    // A confirmation left behind by Close is not offered again.
    ask(QStringLiteral("190"));
    QVERIFY(confirm->isVisibleTo(dialog));
    dialog->close();
    action->open();
    QVERIFY(!confirm->isVisibleTo(dialog));
    QCOMPARE(value->text(), QString());
    QCOMPARE(message->text(), QString());
    ask(QStringLiteral("500"));
    QCOMPARE(message->text(),
             QStringLiteral("500.0 °C is outside the limits, 0.0 to 400.0 °C: nothing written."));

    // Its answer comes late, the controller took it: read back at the next poll.
    // The line is free, so the write goes out at once.
    auto* line = form.findChild<tklink::LineOwner*>();
    ask(QStringLiteral("190"));
    QTest::mouseClick(confirm, Qt::LeftButton);
    QCOMPARE(pty.read(8), QByteArray::fromHex("09060002076C2B5F"));
    line->expire(line->onLine()); // its answer time-out
    QVERIFY(pty.write(QByteArray::fromHex("09060002076C2B5F")));
    TRY(answerPoll("0903060869076C002D1A80")); // 190.0
    QTRY_COMPARE(message->text(), QStringLiteral("address 9: setpoint 200.0 → 190.0 °C: taken "
                                                 "(its answer was lost)"));

    // Answered, but the controller set its own limit instead.
    ask(QStringLiteral("195"));
    QTest::mouseClick(confirm, Qt::LeftButton);
    QCOMPARE(pty.read(8), QByteArray::fromHex("09060002079EAADA"));
    QVERIFY(pty.write(QByteArray::fromHex("09060002079EAADA")));
    QTRY_VERIFY(message->text().endsWith(QStringLiteral("waiting for the read-back")));
    TRY(answerPoll("0903060869073A002DFA90")); // 185.0
    QTRY_COMPARE(message->text(), QStringLiteral("address 9: setpoint 190.0 → 195.0 °C: the "
                                                 "controller set 185.0 °C, not 195.0"));
    form.close();

    QFile audit(QStringLiteral("audit.log"));
    QVERIFY(audit.open(QIODevice::ReadOnly));
    QStringList writes;
    for (const QByteArray& entry : audit.readAll().trimmed().split('\n'))
        if (entry.contains(";setpoint write: "))
            writes << QString::fromUtf8(entry.trimmed()).section(QLatin1Char(';'), 5);
    QCOMPARE(writes, (QStringList{QStringLiteral("setpoint write: 200.0 → 500.0 °C: not written: "
                                                 "500.0 °C is outside the limits, 0.0 to 400.0 °C"),
                                  QStringLiteral("setpoint write: 200.0 → 190.0 °C: taken (its "
                                                 "answer was lost)"),
                                  QStringLiteral("setpoint write: 190.0 → 195.0 °C: the "
                                                 "controller set 185.0 °C, not 195.0")}));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
