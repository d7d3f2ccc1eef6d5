#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "Data.h"
#include "PortAccess.h"
#include "PortDevices.h"
#include "Pty.h"
#include "SerialPortControl.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using tklink::SerialPortControl;

// Port numbers name the test's own pseudo-terminals, never a machine's ports.
class TestSerialPort : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void settingsText_data();
    void settingsText();
    void openPortOnPseudoTerminal();
    void openPortTwiceReopens();
    void failedOpenAfterSuccessClosesPort();
    void openPortRefusesBadSpeed();
    void lineSettingsApplied_data();
    void lineSettingsApplied();
    void portHeldByAnotherProgram();
    void portHeldUnderAnotherName_data();
    void portHeldUnderAnotherName();
    void scanMarksPresentPorts();
    void bytesBothWays();
    void discardsUnreadInput();
    void hangUpReportedOnceAndPortClosed();
    void failureReason_data();
    void failureReason();
    void permissionDeniedForUnprivilegedUser();
    void defaultNumbering_data();
    void defaultNumbering();

private:
    PortDevices m_devices;
    SerialPortControl::DeviceResolver resolver() const { return m_devices.resolver(); }
};

void TestSerialPort::init() {
    Data::resetAll();
    m_devices.clear();
}

void TestSerialPort::settingsText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("19200,n,8,1") << "19200,n,8,1" << true;
    QTest::newRow("9600,N,8,1") << "9600,N,8,1" << true;
    QTest::newRow("even parity, 2 stop bits") << "115200,e,7,2" << true;
    QTest::newRow("speed not a number") << "fast,n,8,1" << false;
    QTest::newRow("empty speed") << ",n,8,1" << false;
    QTest::newRow("zero speed") << "0,n,8,1" << false;
    QTest::newRow("unknown parity") << "9600,x,8,1" << false;
    QTest::newRow("nine data bits") << "9600,n,9,1" << false;
    QTest::newRow("missing field") << "9600,n,8" << false;
}

void TestSerialPort::settingsText() {
    QFETCH(QString, text);
    SerialPortControl port(resolver());
    QTEST(port.setSettings(text), "accepted");
}

void TestSerialPort::openPortOnPseudoTerminal() {
    Pty pty;
    QVERIFY(pty.isValid());
    m_devices[7] = pty.path();
    SerialPortControl port(resolver());
    openConfigured(port, 7, QStringLiteral("19200"));
    QVERIFY(Data::portConnected);
    QVERIFY(port.portOpen());

    Data::comPortNum = 8; // names no device
    tklink::open_port(port);
    QVERIFY(!Data::portConnected);
    QVERIFY(!port.portOpen());
}

void TestSerialPort::openPortTwiceReopens() {
    Pty pty;
    m_devices[1] = pty.path();
    SerialPortControl port(resolver());
    openConfigured(port, 1, QStringLiteral("9600"));
    QVERIFY(Data::portConnected);
    Data::portConnected = false;
    tklink::open_port(port);
    QVERIFY(Data::portConnected);
    QVERIFY(port.portOpen());
}

void TestSerialPort::failedOpenAfterSuccessClosesPort() {
    Pty pty;
    m_devices[1] = pty.path();
    SerialPortControl port(resolver());
    openConfigured(port, 1, QStringLiteral("19200"));
    QVERIFY(port.portOpen());
    m_devices[1] = QStringLiteral("/nonexistent/tk-test-device");
    tklink::open_port(port);
    QVERIFY(!Data::portConnected);
    QVERIFY(!port.portOpen());
}

void TestSerialPort::openPortRefusesBadSpeed() {
    Pty pty;
    m_devices[1] = pty.path();
    SerialPortControl port(resolver());
    openConfigured(port, 1, QStringLiteral("fast"));
    QVERIFY(!Data::portConnected);
    QVERIFY(!port.portOpen());
}

void TestSerialPort::lineSettingsApplied_data() {
    QTest::addColumn<QString>("speed");
    QTest::addColumn<int>("baudConstant");
    QTest::newRow("19200") << "19200" << int(B19200);
    QTest::newRow("9600") << "9600" << int(B9600);
    QTest::newRow("115200") << "115200" << int(B115200);
}

void TestSerialPort::lineSettingsApplied() {
    QFETCH(QString, speed);
    QFETCH(int, baudConstant);
    Pty pty;
    m_devices[1] = pty.path();
    SerialPortControl port(resolver());
    openConfigured(port, 1, speed);
    QVERIFY(Data::portConnected);
    const termios line = pty.attributes();
    QCOMPARE(int(cfgetospeed(&line)), baudConstant);
    QCOMPARE(int(cfgetispeed(&line)), baudConstant);
    QCOMPARE(int(line.c_cflag & CSIZE), int(CS8));
    QCOMPARE(int(line.c_cflag & PARENB), 0);
    QCOMPARE(int(line.c_cflag & CSTOPB), 0);
    QCOMPARE(int(line.c_cflag & CRTSCTS), 0); // no flow control
}

void TestSerialPort::portHeldByAnotherProgram() {
    Pty pty;
    QSerialPort other(pty.path());
    QVERIFY(other.open(QIODevice::ReadWrite));
    m_devices[6] = pty.path();
    SerialPortControl port(resolver());
    tklink::scanSerialPorts(port);
    QVERIFY(!Data::portAvailable[6]);
    openConfigured(port, 6, QStringLiteral("19200"));
    QVERIFY(!Data::portConnected);
    QVERIFY(!port.portOpen());
    QVERIFY(other.isOpen()); // the other program keeps its port

    other.close();
    tklink::open_port(port);
    QVERIFY(Data::portConnected);
}

void TestSerialPort::portHeldUnderAnotherName_data() {
    QTest::addColumn<bool>("firstUsesLink");
    QTest::newRow("first by the link, second by the device") << true;
    QTest::newRow("first by the device, second by the link") << false;
}

void TestSerialPort::portHeldUnderAnotherName() {
    // Adapters are often named by a stable link (/dev/serial/by-id/...): two
    // instances of the program that reach one device by two names must not
    // share it.
    QFETCH(bool, firstUsesLink);
    Pty pty;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("by-id-adapter"));
    QVERIFY(QFile::link(pty.path(), link));

    SerialPortControl first([&](int) { return firstUsesLink ? link : pty.path(); });
    SerialPortControl second([&](int) { return firstUsesLink ? pty.path() : link; });
    for (SerialPortControl* port : {&first, &second}) {
        QVERIFY(port->setCommPort(1));
        QVERIFY(port->setSettings(QStringLiteral("19200,n,8,1")));
    }
    QVERIFY(first.setPortOpen(true));
    QVERIFY(!second.setPortOpen(true));
    QVERIFY(first.portOpen());
    // The name the operator gave stays what the port shows.
    QCOMPARE(first.deviceName(), firstUsesLink ? link : pty.path());

    QVERIFY(first.setPortOpen(false));
    QVERIFY(second.setPortOpen(true));
}

void TestSerialPort::scanMarksPresentPorts() {
    Pty first;
    Pty second;
    m_devices[3] = first.path();
    m_devices[42] = second.path();
    m_devices[5] = QStringLiteral("/nonexistent/tk-test-device");
    SerialPortControl port(resolver());
    tklink::scanSerialPorts(port);
    QCOMPARE(int(Data::portAvailable.size()), 51);
    for (int n = 0; n <= 50; ++n)
        QCOMPARE(bool(Data::portAvailable[n]), n == 3 || n == 42);
    QVERIFY(!port.portOpen());
    QCOMPARE(port.commPort(), int16_t(50));
}

void TestSerialPort::bytesBothWays() {
    Pty pty;
    m_devices[1] = pty.path();
    SerialPortControl port(resolver());
    openConfigured(port, 1, QStringLiteral("19200"));
    QVERIFY(port.portOpen());

    QVERIFY(port.output(QByteArray::fromHex("090300010003")));
    QCOMPARE(pty.read(6), QByteArray::fromHex("090300010003"));

    QSignalSpy comm(&port, &SerialPortControl::comm);
    QVERIFY(pty.write(QByteArray::fromHex("0903")));
    QVERIFY(comm.wait(5000));
    QCOMPARE(port.commEvent(), SerialPortControl::comEvReceive);
    QTRY_COMPARE(port.inBufferCount(), 2);
    QCOMPARE(port.input(), QByteArray::fromHex("09")); // input length 1: one byte a read
    QCOMPARE(port.inBufferCount(), 1);
    QCOMPARE(port.input(), QByteArray::fromHex("03"));
    QCOMPARE(port.inBufferCount(), 0);
}

void TestSerialPort::discardsUnreadInput() {
    Pty pty;
    m_devices[1] = pty.path();
    SerialPortControl port(resolver());
    openConfigured(port, 1, QStringLiteral("19200"));
    QVERIFY(pty.write(QByteArray::fromHex("0102030405")));
    QTRY_COMPARE(port.inBufferCount(), 5);
    QVERIFY(port.clearInBuffer());
    QVERIFY(port.clearOutBuffer());
    QCOMPARE(port.inBufferCount(), 0);
    QVERIFY(port.input().isEmpty());

    port.setPortOpen(false);
    QVERIFY(!port.clearInBuffer());
    QVERIFY(!port.output(QByteArray("x")));
}

void TestSerialPort::hangUpReportedOnceAndPortClosed() {
    auto pty = std::make_unique<Pty>();
    m_devices[1] = pty->path();
    SerialPortControl port(resolver());
    openConfigured(port, 1, QStringLiteral("19200"));
    QVERIFY(port.portOpen());

    QSignalSpy lost(&port, &SerialPortControl::deviceLost);
    QSignalSpy comm(&port, &SerialPortControl::comm);
    pty->hangUp(); // the adapter is pulled
    QVERIFY(lost.wait(5000));
    QVERIFY(!port.portOpen());
    // A port left open on a hung-up terminal would report again at every
    // turn of the event loop.
    for (int turn = 0; turn < 1000; ++turn)
        QCoreApplication::processEvents();
    QCOMPARE(lost.count(), 1);
    QCOMPARE(comm.count(), 0);
    QVERIFY(!port.output(QByteArray::fromHex("09")));
    QCOMPARE(lost.count(), 1);
}

void TestSerialPort::failureReason_data() {
    QTest::addColumn<QString>("device"); // "pty" for a pseudo-terminal
    QTest::addColumn<QString>("speed");
    QTest::addColumn<bool>("heldByOther");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("systemText");
    using Kind = tklink::OpenFailure::Kind;
    QTest::newRow("number names no device") << ""
                                            << "19200" << false << int(Kind::NoDevice) << "";
    QTest::newRow("device not there")
        << "/nonexistent/ttyUSB0"
        << "19200" << false << int(Kind::NotFound) << "No such file or directory";
    QTest::newRow("speed not a number") << "pty"
                                        << "fast" << false << int(Kind::SettingsRefused) << "fast";
    QTest::newRow("held by another program")
        << "pty"
        << "19200" << true << int(Kind::Busy) << "Permission error while locking the device";
    QTest::newRow("opened: no failure") << "pty"
                                        << "19200" << false << int(Kind::None) << "";
}

void TestSerialPort::failureReason() {
    QFETCH(QString, device);
    QFETCH(QString, speed);
    QFETCH(bool, heldByOther);
    Pty pty;
    m_devices[4] = device == QLatin1String("pty") ? pty.path() : device;
    QSerialPort other(pty.path());
    if (heldByOther)
        QVERIFY(other.open(QIODevice::ReadWrite));
    SerialPortControl port(resolver());
    openConfigured(port, 4, speed);
    const tklink::OpenFailure& failure = port.lastFailure();
    QTEST(int(failure.kind), "kind");
    QTEST(failure.systemText, "systemText");
    // Who holds it, from the port's lock file: this process.
    QCOMPARE(failure.holderPid, heldByOther ? QCoreApplication::applicationPid() : 0);
    QCOMPARE(failure.portNumber, failure.kind == tklink::OpenFailure::Kind::None ? 0 : 4);
    QCOMPARE(failure.device,
             failure.kind == tklink::OpenFailure::Kind::None ? QString() : m_devices[4]);
}

void TestSerialPort::permissionDeniedForUnprivilegedUser() {
    // The most common failure on Linux: a user outside the dialout group. The
    // open runs in a child process that has given up root, on a terminal only
    // root may use.
    if (geteuid() != 0)
        QSKIP("needs root to become an unprivileged user");
    Pty pty;
    QCOMPARE(chmod(QFile::encodeName(pty.path()).constData(), 0600), 0);
    m_devices[2] = pty.path();
    const pid_t child = fork();
    if (child == 0) {
        const uid_t nobody = 65534;
        if (setgid(nobody) != 0 || setuid(nobody) != 0)
            _exit(90);
        SerialPortControl port(resolver());
        openConfigured(port, 2, QStringLiteral("19200"));
        const tklink::OpenFailure& failure = port.lastFailure();
        const bool told = failure.systemText == QLatin1String("Permission denied") &&
                          failure.device == m_devices[2];
        _exit(Data::portConnected ? 91 : told ? int(failure.kind) : 92);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), int(tklink::OpenFailure::Kind::PermissionDenied));
}

void TestSerialPort::defaultNumbering_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("device");
#ifdef Q_OS_WIN
    QTest::newRow("1") << 1 << "COM1";
    QTest::newRow("12") << 12 << "COM12";
#else
    QTest::newRow("1 first USB adapter") << 1 << "/dev/ttyUSB0";
    QTest::newRow("20 last USB adapter") << 20 << "/dev/ttyUSB19";
    QTest::newRow("21 first ACM") << 21 << "/dev/ttyACM0";
    QTest::newRow("30 last ACM") << 30 << "/dev/ttyACM9";
    QTest::newRow("31 first ttyS") << 31 << "/dev/ttyS0";
    QTest::newRow("50 last ttyS") << 50 << "/dev/ttyS19";
    QTest::newRow("51 nothing") << 51 << "";
#endif
    QTest::newRow("0 nothing") << 0 << "";
}

void TestSerialPort::defaultNumbering() {
    QFETCH(int, number);
    QTEST(tklink::defaultDeviceName(number), "device");
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
