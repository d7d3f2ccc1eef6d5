// The simulator on its own: the real tksim process on a link in a temporary
// folder, talked to through QSerialPort, with frames and CRCs computed here.

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTest>

#include "TksimProcess.h"

#include <array>
#include <csignal>
#include <memory>

namespace {

// CRC-16/MODBUS from a lookup table, a different construction from the
// simulator's bit loop. Check value over "123456789": 0x4B37.
quint16 crc16(const QByteArray& data) {
    static const auto table = [] {
        std::array<quint16, 256> t{};
        for (int i = 0; i < 256; ++i) {
            auto v = quint16(i);
            for (int b = 0; b < 8; ++b)
                v = (v & 1) ? quint16((v >> 1) ^ 0xA001) : quint16(v >> 1);
            t[i] = v;
        }
        return t;
    }();
    quint16 crc = 0xFFFF;
    for (char c : data)
        crc = quint16((crc >> 8) ^ table[(crc ^ quint8(c)) & 0xFF]);
    return crc;
}

QByteArray withCrc(const QByteArray& body) {
    const quint16 crc = crc16(body);
    return body + char(crc & 0xFF) + char(crc >> 8);
}

QByteArray bytes(const char* hexText) {
    return QByteArray::fromHex(hexText);
}

// The poll, as the protocol's own example writes it.
const QByteArray pollRequest = bytes("0903000100035543");

QByteArray pollAnswer(qint16 measured, qint16 setpoint, qint16 power) {
    QByteArray body = bytes("090306");
    for (qint16 v : {measured, setpoint, power})
        body += char(quint16(v) >> 8) + QByteArray(1, char(quint16(v) & 0xFF));
    return withCrc(body);
}

const QString tksim = QStringLiteral(TKSIM_PATH);

// Waits for the first log line that matches pattern; the number its capture
// holds, or -1 when none came.
int waitForLogNumber(TksimProcess& sim, const QString& pattern) {
    const QRegularExpression re(pattern);
    int number = -1;
    const bool found = QTest::qWaitFor(
        [&] {
            for (const QString& line : sim.logLines()) {
                const auto m = re.match(line);
                if (m.hasMatch()) {
                    number = m.captured(1).toInt();
                    return true;
                }
            }
            return false;
        },
        5000);
    return found ? number : -1;
}

// The master's end: a QSerialPort on the link, collecting what arrives.
class Master {
public:
    explicit Master(const QString& path) {
        port.setPortName(path);
        QObject::connect(&port, &QSerialPort::readyRead, &port, [this] {
            received += port.readAll();
            ++readyReads;
        });
        // A hang-up shows as a read or resource error depending on the Qt
        // version, and may repeat at every turn of the event loop until the
        // port is closed.
        QObject::connect(&port, &QSerialPort::errorOccurred, &port,
                         [this](QSerialPort::SerialPortError error) {
                             if (error == QSerialPort::NoError ||
                                 error == QSerialPort::TimeoutError || !port.isOpen())
                                 return;
                             lost = true;
                             port.close();
                         });
    }
    bool open() {
        return port.open(QIODevice::ReadWrite) && port.setBaudRate(19200) &&
               port.setDataBits(QSerialPort::Data8) && port.setParity(QSerialPort::NoParity) &&
               port.setStopBits(QSerialPort::OneStop);
    }
    void send(const QByteArray& frame) {
        port.write(frame);
        port.flush();
    }
    // Sends frame and waits until count bytes in all have come; everything
    // received, so that bytes nobody asked for still show.
    QByteArray sendAndReceive(const QByteArray& frame, int count) {
        send(frame);
        // Too few bytes show in the caller's comparison of what came.
        static_cast<void>(QTest::qWaitFor([&] { return received.size() >= count; }, simWaitMs));
        return received;
    }
    // Sends the poll and waits for a whole answer; the three values, or
    // nothing when no valid answer came.
    std::optional<std::array<qint16, 3>> poll() {
        received.clear();
        send(pollRequest);
        if (!QTest::qWaitFor([this] { return received.size() >= 11; }, simWaitMs) ||
            received.size() != 11 || withCrc(received.left(9)) != received)
            return std::nullopt;
        std::array<qint16, 3> values{};
        for (int i = 0; i < 3; ++i)
            values[i] = qint16(quint8(received[3 + 2 * i]) << 8 | quint8(received[4 + 2 * i]));
        return values;
    }

    QSerialPort port;
    QByteArray received;
    int readyReads = 0;
    bool lost = false;
};

const QStringList fixedExample{QStringLiteral("--fixed"), QStringLiteral("2153,2000,45")};
const QByteArray exampleAnswer = bytes("090306086907D0002DDB64"); // the protocol's own example

} // namespace

class TestTksim : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void independentCrcMatchesProtocolExamples();
    void answersPoll_data();
    void answersPoll();
    void unansweredRequests_data();
    void unansweredRequests();
    void writeChangesSetpoint();
    void writeToReadOnlyRegisterRefused_data();
    void writeToReadOnlyRegisterRefused();
    void badCrcAnswer();
    void badAddressAnswer();
    void exceptionAnswer_data();
    void exceptionAnswer();
    void dropThenAnswer();
    void truncatedThenAnswer();
    void noiseBeforeAnswer();
    void extraAfterAnswer();
    void slowAnswer();
    void sameSeedSameFaults();
    void unplugAndReplug_data();
    void unplugAndReplug();
    void signalRemovesLink_data();
    void signalRemovesLink();
    void staleLinkReplaced();
    void refusesToReplaceAFile();
    void ovenFollowsSetpoint();
    void badArguments_data();
    void badArguments();
    void helpListsOptions();
};

void TestTksim::independentCrcMatchesProtocolExamples() {
    QCOMPARE(crc16("123456789"), quint16(0x4B37));
    QCOMPARE(withCrc(bytes("090300010003")), pollRequest);
    QCOMPARE(pollAnswer(2153, 2000, 45), exampleAnswer);
}

void TestTksim::answersPoll_data() {
    QTest::addColumn<QString>("fixed");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("protocol example 215.3 200.0 45")
        << "2153,2000,45" << exampleAnswer << "answer 2153 2000 45";
    QTest::newRow("all zero") << "0,0,0" << pollAnswer(0, 0, 0) << "answer 0 0 0";
    QTest::newRow("below zero and full scale")
        << "-50,32767,100" << pollAnswer(-50, 32767, 100) << "answer -50 32767 100";
}

void TestTksim::answersPoll() {
    QFETCH(QString, fixed);
    QFETCH(QByteArray, answer);
    QFETCH(QString, logLine);

    TksimProcess sim(tksim, {QStringLiteral("--fixed"), fixed});
    QVERIFY(sim.start());
    Master master(sim.link());
    QVERIFY(master.open());
    QCOMPARE(master.sendAndReceive(pollRequest, 11).toHex(' '), answer.toHex(' '));
    QTRY_COMPARE_WITH_TIMEOUT(sim.logLines(), QStringList{logLine}, simWaitMs);
}

void TestTksim::unansweredRequests_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("logLine");
    // The poll written with the request, as a bus master sends it when the
    // slave's thread runs late: it must not pass for the other slave's answer.
    QTest::addColumn<bool>("together");

    QTest::newRow("bad crc") << bytes("0903000100035542") << "refused crc read 1..3" << false;
    QTest::newRow("other slave") << withCrc(bytes("080300010003")) << "ignored address 8" << false;
    QTest::newRow("other slave, the poll right behind")
        << withCrc(bytes("080300010003")) << "ignored address 8" << true;
}

// Answers come in request order, so if the first request had been answered,
// its answer would arrive before the poll's.
void TestTksim::unansweredRequests() {
    QFETCH(QByteArray, request);
    QFETCH(QString, logLine);
    QFETCH(bool, together);

    TksimProcess sim(tksim, fixedExample);
    QVERIFY(sim.start());
    Master master(sim.link());
    QVERIFY(master.open());
    if (together) {
        QCOMPARE(master.sendAndReceive(request + pollRequest, 11).toHex(' '),
                 exampleAnswer.toHex(' '));
    } else {
        master.send(request);
        QTRY_COMPARE_WITH_TIMEOUT(sim.logLines(), QStringList{logLine}, simWaitMs);
        QCOMPARE(master.sendAndReceive(pollRequest, 11).toHex(' '), exampleAnswer.toHex(' '));
    }
    QTRY_COMPARE_WITH_TIMEOUT(
        sim.logLines(), (QStringList{logLine, QStringLiteral("answer 2153 2000 45")}), simWaitMs);
}

void TestTksim::writeChangesSetpoint() {
    TksimProcess sim(tksim, fixedExample);
    QVERIFY(sim.start());
    Master master(sim.link());
    QVERIFY(master.open());
    const QByteArray write = withCrc(bytes("0906000205DC")); // register 2 = 1500
    // A write is answered by its echo.
    QCOMPARE(master.sendAndReceive(write, write.size()).toHex(' '), write.toHex(' '));
    const auto values = master.poll();
    QVERIFY(values);
    QCOMPARE(*values, (std::array<qint16, 3>{2153, 1500, 45}));
    QTRY_COMPARE_WITH_TIMEOUT(sim.logLines(), (QStringList{"write 2=1500", "answer 2153 1500 45"}),
                              simWaitMs);
}

void TestTksim::writeToReadOnlyRegisterRefused_data() {
    QTest::addColumn<QByteArray>("write");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("measured temperature")
        << withCrc(bytes("0906000105DC")) << "exception 2 write 1=1500";
    QTest::newRow("power") << withCrc(bytes("090600030064")) << "exception 2 write 3=100";
}

void TestTksim::writeToReadOnlyRegisterRefused() {
    QFETCH(QByteArray, write);
    QFETCH(QString, logLine);

    TksimProcess sim(tksim, fixedExample);
    QVERIFY(sim.start());
    Master master(sim.link());
    QVERIFY(master.open());
    const QByteArray illegalAddress = withCrc(bytes("098602"));
    QCOMPARE(master.sendAndReceive(write, illegalAddress.size()).toHex(' '),
             illegalAddress.toHex(' '));
    const auto values = master.poll();
    QVERIFY(values);
    QCOMPARE(*values, (std::array<qint16, 3>{2153, 2000, 45}));
    QTRY_COMPARE_WITH_TIMEOUT(sim.logLines(), (QStringList{logLine, "answer 2153 2000 45"}),
                              simWaitMs);
}

void TestTksim::badCrcAnswer() {
    TksimProcess sim(tksim, fixedExample + QStringList{"--bad-crc", "1"});
    QVERIFY(sim.start());
    Master master(sim.link());
    QVERIFY(master.open());
    // Both CRC bytes inverted: DB 64 becomes 24 9B.
    QCOMPARE(master.sendAndReceive(pollRequest, 11).toHex(' '),
             bytes("090306086907D0002D249B").toHex(' '));
    QTRY_COMPARE_WITH_TIMEOUT(sim.logLines(), QStringList{"fault crc answer 2153 2000 45"},
                              simWaitMs);
}

void TestTksim::badAddressAnswer() {
    TksimProcess sim(tksim, fixedExample + QStringList{"--bad-address", "1"});
    QVERIFY(sim.start());
    Master master(sim.link());
    QVERIFY(master.open());
    const QByteArray answer = master.sendAndReceive(pollRequest, 11);
    QCOMPARE(answer.size(), 11);
    const int address = quint8(answer[0]);
    QVERIFY2(address >= 1 && address <= 247 && address != 9, qPrintable(QString::number(address)));
    QCOMPARE(answer.mid(1, 8), exampleAnswer.mid(1, 8));
    // A well-formed frame from another slave, so only the address gives it away.
    QCOMPARE(answer, withCrc(answer.left(9)));
    QTRY_COMPARE_WITH_TIMEOUT(
        sim.logLines(),
        QStringList{QStringLiteral("fault address %1 answer 2153 2000 45").arg(address)},
        simWaitMs);
}

void TestTksim::exceptionAnswer_data() {
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("default code 4, slave failure")
        << QStringList{} << withCrc(bytes("098304")) << "fault exception 4 read 1..3";
    QTest::newRow("code 6, busy") << QStringList{"--exception-code", "6"}
                                  << withCrc(bytes("098306")) << "fault exception 6 read 1..3";
}

void TestTksim::exceptionAnswer() {
    QFETCH(QStringList, extra);
    QFETCH(QByteArray, answer);
    QFETCH(QString, logLine);

    TksimProcess sim(tksim, fixedExample + QStringList{"--exception", "1"} + extra);
    QVERIFY(sim.start());
    Master master(sim.link());
    QVERIFY(master.open());
    QCOMPARE(master.sendAndReceive(pollRequest, 5).toHex(' '), answer.toHex(' '));
    QTRY_COMPARE_WITH_TIMEOUT(sim.logLines(), QStringList{logLine}, simWaitMs);
}

void TestTksim::dropThenAnswer() {
    TksimProcess sim(tksim, fixedExample + QStringList{"--drop", "1", "--max-faults", "1"});
    QVERIFY(sim.start());
    Master master(sim.link());
    QVERIFY(master.open());
    master.send(pollRequest);
    QTRY_COMPARE_WITH_TIMEOUT(sim.logLines(), QStringList{"fault drop read 1..3"}, simWaitMs);
    QCOMPARE(master.sendAndReceive(pollRequest, 11).toHex(' '), exampleAnswer.toHex(' '));
    QTRY_COMPARE_WITH_TIMEOUT(
        sim.logLines(), (QStringList{"fault drop read 1..3", "answer 2153 2000 45"}), simWaitMs);
}

void TestTksim::truncatedThenAnswer() {
    TksimProcess sim(tksim, fixedExample +
                                QStringList{"--truncate", "1", "--max-faults", "1", "--seed", "3"});
    QVERIFY(sim.start());
    Master master(sim.link());
    QVERIFY(master.open());
    master.send(pollRequest);
    const int kept =
        waitForLogNumber(sim, QStringLiteral("^fault truncated (\\d+)/11 answer 2153 2000 45$"));
    QVERIFY2(kept > 0 && kept < 11, qPrintable(QString::number(kept)));
    QCOMPARE(master.sendAndReceive(pollRequest, kept + 11).toHex(' '),
             (exampleAnswer.left(kept) + exampleAnswer).toHex(' '));
}

void TestTksim::noiseBeforeAnswer() {
    TksimProcess sim(tksim, fixedExample + QStringList{"--noise", "1"});
    QVERIFY(sim.start());
    Master master(sim.link());
    QVERIFY(master.open());
    master.send(pollRequest);
    const int noise = waitForLogNumber(sim, QStringLiteral("^answer 2153 2000 45 noise=(\\d+)$"));
    QVERIFY2(noise > 0 && noise <= 8, qPrintable(QString::number(noise)));
    QTRY_VERIFY_WITH_TIMEOUT(master.received.size() >= noise + 11, simWaitMs);
    QCOMPARE(master.received.size(), noise + 11);
    QCOMPARE(master.received.mid(noise).toHex(' '), exampleAnswer.toHex(' '));
}

void TestTksim::extraAfterAnswer() {
    TksimProcess sim(tksim, fixedExample + QStringList{"--extra", "1"});
    QVERIFY(sim.start());
    Master master(sim.link());
    QVERIFY(master.open());
    master.send(pollRequest);
    const int extra = waitForLogNumber(sim, QStringLiteral("^answer 2153 2000 45 extra=(\\d+)$"));
    QVERIFY2(extra > 0 && extra <= 8, qPrintable(QString::number(extra)));
    QTRY_VERIFY_WITH_TIMEOUT(master.received.size() >= 11 + extra, simWaitMs);
    QCOMPARE(master.received.size(), 11 + extra);
    QCOMPARE(master.received.left(11).toHex(' '), exampleAnswer.toHex(' '));
}

void TestTksim::slowAnswer() {
    TksimProcess sim(tksim, fixedExample + QStringList{"--slow", "1", "--byte-delay", "15"});
    QVERIFY(sim.start());
    Master master(sim.link());
    QVERIFY(master.open());
    QElapsedTimer clock;
    clock.start();
    const QByteArray answer = master.sendAndReceive(pollRequest, 11);
    // Ten gaps of at least 15 ms between the eleven bytes.
    QVERIFY2(clock.elapsed() >= 150, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(master.readyReads >= 2, qPrintable(QString::number(master.readyReads)));
    QCOMPARE(answer.toHex(' '), exampleAnswer.toHex(' '));
    QTRY_COMPARE_WITH_TIMEOUT(sim.logLines(), QStringList{"answer 2153 2000 45 slow"}, simWaitMs);
}

void TestTksim::sameSeedSameFaults() {
    const QStringList faults = fixedExample + QStringList{"--seed",  "7",   "--noise",   "0.5",
                                                          "--extra", "0.5", "--bad-crc", "0.3"};
    QList<QStringList> logs;
    QList<QByteArray> lines;
    for (int run = 0; run < 2; ++run) {
        TksimProcess sim(tksim, faults);
        QVERIFY(sim.start());
        Master master(sim.link());
        QVERIFY(master.open());
        for (int i = 1; i <= 6; ++i) {
            master.send(pollRequest);
            QTRY_COMPARE_WITH_TIMEOUT(sim.logLines().size(), i, simWaitMs);
        }
        logs.append(sim.logLines());
        // Eleven bytes per answer, plus the noise and extra bytes the log counts.
        int total = 0;
        const QRegularExpression padding(QStringLiteral("(?:noise|extra)=(\\d+)"));
        for (const QString& line : logs.last()) {
            total += 11;
            for (const auto& m : padding.globalMatch(line))
                total += m.captured(1).toInt();
        }
        QTRY_COMPARE_WITH_TIMEOUT(master.received.size(), total, simWaitMs);
        lines.append(master.received);
    }
    QCOMPARE(logs[1], logs[0]);
    QCOMPARE(lines[1].toHex(' '), lines[0].toHex(' '));
    // Seed 7 gives a mix of clean and faulty answers, so both are compared.
    QVERIFY(logs[0].contains("answer 2153 2000 45"));
    QVERIFY(logs[0] != QStringList(6, "answer 2153 2000 45"));
}

void TestTksim::unplugAndReplug_data() {
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<bool>("pollFirst");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("on a request") << QStringList{"--unplug", "1", "--max-faults", "1"} << true
                                  << "fault unplug read 1..3";
    QTest::newRow("after a time") << QStringList{"--unplug-after", "0.2"} << false
                                  << "fault unplug timed";
}

void TestTksim::unplugAndReplug() {
    QFETCH(QStringList, extra);
    QFETCH(bool, pollFirst);
    QFETCH(QString, logLine);

    TksimProcess sim(tksim, fixedExample + QStringList{"--replug-after", "600"} + extra);
    QVERIFY(sim.start());
    Master master(sim.link());
    QVERIFY(master.open());
    if (pollFirst)
        master.send(pollRequest);
    QTRY_VERIFY_WITH_TIMEOUT(master.lost, simWaitMs);
    // The link goes before the line is cut, and stays away until the replug.
    QVERIFY(!QFileInfo(sim.link()).isSymLink());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(sim.link()).isSymLink(), simWaitMs);
    QCOMPARE(sim.logLines(), (QStringList{logLine, "replug " + sim.link()}));

    Master again(sim.link());
    QVERIFY(again.open());
    const auto values = again.poll();
    QVERIFY(values);
    QCOMPARE(*values, (std::array<qint16, 3>{2153, 2000, 45}));
}

void TestTksim::signalRemovesLink_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestTksim::signalRemovesLink() {
    QFETCH(int, signal);

    TksimProcess sim(tksim, fixedExample);
    QVERIFY(sim.start());
    Master master(sim.link());
    QVERIFY(master.open());
    QVERIFY(master.poll());
    QVERIFY(QFileInfo(sim.link()).isSymLink());
    ::kill(pid_t(sim.process().processId()), signal);
    QTRY_COMPARE_WITH_TIMEOUT(sim.process().state(), QProcess::NotRunning, simWaitMs);
    QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process().exitCode(), 0);
    QVERIFY(!QFileInfo(sim.link()).isSymLink());
    QVERIFY(!QFileInfo::exists(sim.link()));
}

void TestTksim::staleLinkReplaced() {
    TksimProcess sim(tksim, fixedExample);
    QVERIFY(QFile::link(sim.pathInFolder("gone"), sim.link())); // left by a crashed run
    QVERIFY(sim.start());
    Master master(sim.link());
    QVERIFY(master.open());
    QVERIFY(master.poll());
}

void TestTksim::refusesToReplaceAFile() {
    TksimProcess sim(tksim, fixedExample);
    QFile file(sim.link());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    QVERIFY(!sim.start());
    QTRY_COMPARE_WITH_TIMEOUT(sim.process().state(), QProcess::NotRunning, simWaitMs);
    QCOMPARE(sim.process().exitCode(), 1);
    QVERIFY(sim.process().readAllStandardError().contains("is not a symbolic link"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
}

// The oven, run 300 times faster than real time: it heats from the room
// towards the setpoint at full power, and a setpoint written below the
// temperature switches the heating off.
void TestTksim::ovenFollowsSetpoint() {
    TksimProcess sim(tksim, {"--speed", "300", "--room", "20", "--setpoint", "200"});
    QVERIFY(sim.start());
    Master master(sim.link());
    QVERIFY(master.open());
    auto values = master.poll();
    QVERIFY(values);
    QCOMPARE((*values)[1], qint16(2000));
    QVERIFY2((*values)[0] >= 190 && (*values)[0] < 1500, qPrintable(QString::number((*values)[0])));
    QTRY_VERIFY_WITH_TIMEOUT((values = master.poll()) && (*values)[0] > 1500, 10000);
    QVERIFY((*values)[2] > 0 && (*values)[2] <= 100);

    master.received.clear();
    const QByteArray write = withCrc(bytes("090600020032")); // 5.0 degrees, below the room
    QCOMPARE(master.sendAndReceive(write, write.size()), write);
    QTRY_VERIFY_WITH_TIMEOUT((values = master.poll()) && (*values)[2] == 0, 10000);
    QCOMPARE((*values)[1], qint16(50));
}

void TestTksim::badArguments_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");

    QTest::newRow("no line") << QStringList{} << "give either --link PATH or --device DEVICE";
    QTest::newRow("link and device") << QStringList{"--link", "x", "--device", "/dev/null"}
                                     << "give either --link PATH or --device DEVICE";
    QTest::newRow("rate above one")
        << QStringList{"--link", "x", "--drop", "1.5"} << "--drop needs a rate from 0 to 1";
    QTest::newRow("rate not a number")
        << QStringList{"--link", "x", "--noise=often"} << "--noise needs a rate from 0 to 1";
    QTest::newRow("two registers")
        << QStringList{"--link", "x", "--fixed", "2153,2000"} << "--fixed needs three values";
    QTest::newRow("register out of range")
        << QStringList{"--link", "x", "--fixed", "2153,40000,45"} << "--fixed needs three values";
    QTest::newRow("speed check neither on nor off")
        << QStringList{"--link", "x", "--check-baud", "yes"} << "--check-baud needs 0 or 1";
    QTest::newRow("unknown option")
        << QStringList{"--link", "x", "--colour", "red"} << "unknown option --colour";
    QTest::newRow("write refusal at address 248")
        << QStringList{"--link", "x", "--refuse-writes", "3@248"}
        << "--refuse-writes needs an exception code from 1 to 255, or CODE@ADDRESS";
    QTest::newRow("missing value") << QStringList{"--link"} << "--link needs a value";
}

void TestTksim::badArguments() {
    QFETCH(QStringList, args);
    QFETCH(QString, message);

    QProcess process;
    process.start(QStringLiteral(TKSIM_PATH), args);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 2);
    const QString error = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(error.startsWith("tksim: " + message), qPrintable(error));
}

void TestTksim::helpListsOptions() {
    QProcess process;
    process.start(QStringLiteral(TKSIM_PATH), {"--help"});
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 0);
    const QString help = QString::fromLocal8Bit(process.readAllStandardOutput());
    for (const char* option : {"--link PATH",
                               "--device DEVICE",
                               "--baud N",
                               "--check-baud 1",
                               "--address N",
                               "--fixed T,S,P",
                               "--room",
                               "--setpoint",
                               "--speed",
                               "--log FILE",
                               "--seed N",
                               "--drop RATE",
                               "--exception RATE",
                               "--exception-code N",
                               "--refuse-writes N",
                               "--truncate RATE",
                               "--bad-crc RATE",
                               "--bad-address RATE",
                               "--noise RATE",
                               "--extra RATE",
                               "--slow RATE",
                               "--byte-delay MS",
                               "--unplug RATE",
                               "--unplug-after SECONDS",
                               "--replug-after MS",
                               "--max-faults N",
                               "--help"})
        QVERIFY2(help.contains(QLatin1String(option)), option);
}

QTEST_GUILESS_MAIN(TestTksim)
#include "tst_tksim.moc"
