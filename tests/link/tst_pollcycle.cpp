#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "Bus.h"
#include "ControllerSession.h"
#include "Data.h"
#include "PollWatch.h"
#include "PortDevices.h"
#include "Pty.h"
#include "SerialPortControl.h"

#include <memory>

using tklink::Bus;
using tklink::Controller;
using tklink::SerialPortControl;

namespace {

// The poll request on the line: read registers 1 to 3 of slave 9.
const QByteArray pollFrame = QByteArray::fromHex("0903000100035543");

// Answers of the controller. CRC bytes computed with an independent bitwise
// CRC-16/MODBUS (Python).
const QByteArray answer2153 = QByteArray::fromHex("090306086907D0002DDB64");     // 215.3, 200, 45
const QByteArray answerNegative = QByteArray::fromHex("090306FFC9FF3800003F73"); // -5.5, -20, 0
const QByteArray answerZero = QByteArray::fromHex("09030600000000000046B5");
const QByteArray exception2 = QByteArray::fromHex("0983024133"); // illegal data address

// A lone address byte: it is held at the head, so rxCount 1 shows that every
// byte written before it has been taken.
const QByteArray marker = QByteArray::fromHex("09");

const QDateTime pollTime(QDate(2024, 5, 17), QTime(14, 3, 7));

} // namespace

class TestPollCycle : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void tickSendsPollRequest();
    void answerDecoded_data();
    void answerDecoded();
    void twelveBytesInOneEvent();
    void bytesBehindAnswerKeepItsStatus();
    void bytesBeforeFirstRequestNotReported();
    void badFrameKeepsValues_data();
    void badFrameKeepsValues();
    void truncatedAnswerDroppedAtNextPoll();
    void noiseBeforeAnswer_data();
    void noiseBeforeAnswer();
    void pollOutcome_data();
    void pollOutcome();
    void answersAfterTimeOutOrFirst_data();
    void answersAfterTimeOutOrFirst();
    void exceptionAnswer();
    void notConnectedKeepsInterval();
    void failedOpenAtStartUpIsNotRetried();
    void reconnectAfterHangUp();
    void operatorOpenEndsReconnecting();
    void lateExceptionsCountOncePerPoll();

private:
    void openConfiguredPort();
    // A tick of the session's poll timer.
    void tick();
    void poll();
    // Writes the bytes followed by the marker and waits until all are taken.
    void feedAndSettle(const QByteArray& bytes);
    QString lastStatus() const { return m_watch->statuses.last(); }
    int statusCount(const QString& prefix) const;

    PortDevices m_devices;
    std::unique_ptr<Pty> m_pty;
    // The session's, as the window has them: the lost-adapter reconnection is
    // the session's.
    std::unique_ptr<tklink::ControllerSession> m_session;
    SerialPortControl* m_port = nullptr;
    QTimer* m_timer = nullptr;
    // The bus of one that asks the controller at each tick.
    Bus* m_poll = nullptr;
    Controller* m_controller = nullptr;
    std::unique_ptr<PollWatch> m_watch;
    std::unique_ptr<QSignalSpy> m_ended;
    QDateTime m_clock;
};

void TestPollCycle::init() {
    QLocale::setDefault(QLocale::c());
    Data::resetAll();
    Data::measureRaw = Data::setpointRaw = Data::NO_DATA_RAW;
    Data::comPortNum = 3;
    Data::comPortSpeed = QStringLiteral("19200");
    m_clock = pollTime;

    m_pty = std::make_unique<Pty>();
    QVERIFY(m_pty->isValid());
    m_devices.clear();
    m_devices[3] = m_pty->path();
    m_session = std::make_unique<tklink::ControllerSession>(
        m_devices.resolver(), [this] { return m_clock; },
        tklink::ControllerSession::Reconnect::AfterLoss);
    m_port = &m_session->port();
    m_poll = &m_session->bus();
    m_controller = &m_session->shownController();
    m_timer = m_session->findChild<QTimer*>(QStringLiteral("timerGetFromControler"));
    m_watch = std::make_unique<PollWatch>(*m_controller, *m_port);
    m_ended = std::make_unique<QSignalSpy>(m_controller, &Controller::pollEnded);
    // Each test ends the wait for an answer itself.
    m_poll->findChild<QTimer*>(QStringLiteral("timerAnswerTimeout"))->setInterval(3600000);
}

void TestPollCycle::cleanup() {
    m_ended.reset();
    m_watch.reset();
    m_session.reset();
    m_pty.reset();
    QLocale::setDefault(QLocale::c());
}

// What start-up and the Parameters dialog do.
void TestPollCycle::openConfiguredPort() {
    Data::portConnected = false;
    m_session->openPort();
}

void TestPollCycle::tick() {
    QMetaObject::invokeMethod(m_timer, "timeout");
}

void TestPollCycle::poll() {
    tick();
    QCOMPARE(m_pty->read(int(pollFrame.size())), pollFrame);
}

void TestPollCycle::feedAndSettle(const QByteArray& bytes) {
    QVERIFY(m_pty->write(bytes + marker));
    QTRY_COMPARE(Data::rxCount, int16_t(1));
    QCOMPARE(Data::rxBuffer[0], uint8_t(0x09));
}

int TestPollCycle::statusCount(const QString& prefix) const {
    int count = 0;
    for (const QString& status : m_watch->statuses)
        count += status.startsWith(prefix) ? 1 : 0;
    return count;
}

void TestPollCycle::tickSendsPollRequest() {
    openConfiguredPort();
    QVERIFY(Data::portConnected);
    Data::rxCount = 4; // a partial answer to an earlier poll

    tick();
    QCOMPARE(m_timer->interval(), 2000);
    QCOMPARE(Data::rxCount, int16_t(0));
    QCOMPARE(m_watch->statuses.size(), 1);
    QCOMPARE(lastStatus(), QStringLiteral("Send request to controler 14:03:07"));
    QCOMPARE(m_pty->read(int(pollFrame.size())), pollFrame);
    QCOMPARE(m_pty->readAvailable(), QByteArray());
}

void TestPollCycle::answerDecoded_data() {
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("byteByByte");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<float>("measureRaw");
    QTest::addColumn<float>("setpointRaw");
    QTest::addColumn<float>("powerRaw");
    QTest::addColumn<QString>("measured");
    QTest::addColumn<QString>("setpoint");

    QTest::newRow("215.3 / 200, one event")
        << answer2153 << false << "C" << 2153.0f << 2000.0f << 45.0f << "215.3"
        << "200";
    QTest::newRow("215.3 / 200, byte by byte")
        << answer2153 << true << "C" << 2153.0f << 2000.0f << 45.0f << "215.3"
        << "200";
    QTest::newRow("negative temperature")
        << answerNegative << false << "C" << -55.0f << -200.0f << 0.0f << "-5.5"
        << "-20";
    QTest::newRow("zero registers") << answerZero << false << "C" << 0.0f << 0.0f << 0.0f << "0"
                                    << "0";
    QTest::newRow("decimal comma of a German desktop")
        << answer2153 << false << "de_DE" << 2153.0f << 2000.0f << 45.0f << "215,3"
        << "200";
}

void TestPollCycle::answerDecoded() {
    QFETCH(QByteArray, answer);
    QFETCH(bool, byteByByte);
    QFETCH(QString, locale);
    QLocale::setDefault(QLocale(locale));
    openConfiguredPort();
    poll();
    m_clock = pollTime.addSecs(1); // the answer's time, not the request's

    if (byteByByte) {
        for (int i = 0; i < answer.size() - 1; ++i) {
            QVERIFY(m_pty->write(answer.mid(i, 1)));
            QTRY_COMPARE(Data::rxCount, int16_t(i + 1));
        }
        QVERIFY(m_pty->write(answer.right(1)));
    } else {
        QVERIFY(m_pty->write(answer));
    }
    QTRY_COMPARE(m_watch->readouts.size(), 1);

    QTEST(Data::measureRaw, "measureRaw");
    QTEST(Data::setpointRaw, "setpointRaw");
    QTEST(Data::powerRaw, "powerRaw");
    QTEST(m_watch->readouts.at(0).at(0), "measured");
    QTEST(m_watch->readouts.at(0).at(1), "setpoint");
    QCOMPARE(Data::rxCount, int16_t(0));
    QCOMPARE(lastStatus(), QStringLiteral("Data received from controler 14:03:08"));
    QCOMPARE(statusCount(QStringLiteral("Bad answer")), 0);
}

void TestPollCycle::twelveBytesInOneEvent() {
    openConfiguredPort();
    poll();
    QVERIFY(m_pty->write(answer2153 + QByteArray::fromHex("09")));
    QTRY_COMPARE(Data::rxCount, int16_t(1));
    QCOMPARE(m_watch->readouts.size(), 1);
    QCOMPARE(Data::measureRaw, 2153.0f);
    QCOMPARE(Data::rxBuffer[0], uint8_t(0x09));
    QCOMPARE(lastStatus(), QStringLiteral("Data received from controler 14:03:07"));

    poll();
    QCOMPARE(Data::rxCount, int16_t(0));
}

void TestPollCycle::bytesBehindAnswerKeepItsStatus() {
    openConfiguredPort();
    poll();
    QVERIFY(m_pty->write(answer2153 + QByteArray::fromHex("00FF")));
    QTRY_COMPARE(m_watch->readouts.size(), 1);
    QTRY_COMPARE(Data::rxCount, int16_t(0));
    QCOMPARE(lastStatus(), QStringLiteral("Data received from controler 14:03:07"));
    QCOMPARE(statusCount(QStringLiteral("Bad answer")), 0);

    // The same bytes ahead of the next poll's answer are reported.
    poll();
    QVERIFY(m_pty->write(QByteArray::fromHex("00FF")));
    QTRY_COMPARE(statusCount(QStringLiteral("Bad answer")), 1);
}

void TestPollCycle::bytesBeforeFirstRequestNotReported() {
    openConfiguredPort();
    QVERIFY(m_pty->write(QByteArray::fromHex("00FF0903")));
    QTRY_COMPARE(Data::rxCount, int16_t(2)); // 09 03 may start a frame
    QCOMPARE(m_watch->statuses.size(), 0);
    QCOMPARE(m_watch->readouts.size(), 0);
    QCOMPARE(Data::measureRaw, Data::NO_DATA_RAW);
}

void TestPollCycle::badFrameKeepsValues_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("badReports");

    QTest::newRow("wrong CRC") << QByteArray::fromHex("090306086907D0002DDB65") << 1;
    QTest::newRow("CRC bytes swapped") << QByteArray::fromHex("090306086907D0002D64DB") << 1;
    QTest::newRow("wrong function") << QByteArray::fromHex("090406086907D0002D9A82") << 1;
    QTest::newRow("byte count 4") << QByteArray::fromHex("090304086907D0A223") << 1;
    QTest::newRow("exception with wrong CRC") << QByteArray::fromHex("0983024134") << 1;
    // After the first rejection, the 09 03 inside the registers are judged
    // again as frame starts; one bad frame is still one report.
    QTest::newRow("wrong CRC, registers that look like frame starts")
        << QByteArray::fromHex("09030609030903002D31AE") << 1;
    QTest::newRow("wrong address") << QByteArray::fromHex("0A0306086907D0002DCF94") << 1;
    QTest::newRow("line noise") << QByteArray::fromHex("00FF7E") << 1;
}

void TestPollCycle::badFrameKeepsValues() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, badReports);
    openConfiguredPort();
    poll();
    QVERIFY(m_pty->write(answerNegative));
    QTRY_COMPARE(m_watch->readouts.size(), 1);

    poll();
    m_watch->statuses.clear();
    feedAndSettle(bytes);
    QCOMPARE(m_watch->readouts.size(), 1);
    QCOMPARE(Data::measureRaw, -55.0f);
    QCOMPARE(Data::setpointRaw, -200.0f);
    QCOMPARE(Data::powerRaw, 0.0f);
    QCOMPARE(statusCount(QStringLiteral("Bad answer from controler 14:03:07")), badReports);
    QCOMPARE(m_watch->statuses.size(), badReports);

    // The next poll is answered normally.
    poll();
    QVERIFY(m_pty->write(answer2153));
    QTRY_COMPARE(m_watch->readouts.size(), 2);
    QCOMPARE(Data::measureRaw, 2153.0f);
}

void TestPollCycle::truncatedAnswerDroppedAtNextPoll() {
    openConfiguredPort();
    poll();
    QVERIFY(m_pty->write(answer2153.first(6)));
    QTRY_COMPARE(Data::rxCount, int16_t(6));
    QCOMPARE(lastStatus(), QStringLiteral("Send request to controler 14:03:07"));
    QCOMPARE(Data::measureRaw, Data::NO_DATA_RAW);

    m_clock = pollTime.addSecs(2);
    poll();
    QCOMPARE(Data::rxCount, int16_t(0));
    QVERIFY(m_pty->write(answerNegative));
    QTRY_COMPARE(m_watch->readouts.size(), 1);
    QCOMPARE(m_watch->readouts.at(0), (QStringList{QStringLiteral("-5.5"), QStringLiteral("-20")}));
    QCOMPARE(lastStatus(), QStringLiteral("Data received from controler 14:03:09"));
}

void TestPollCycle::noiseBeforeAnswer_data() {
    QTest::addColumn<QByteArray>("noise");
    QTest::addColumn<int>("badReports");

    QTest::newRow("stray zero byte") << QByteArray::fromHex("00") << 1;
    QTest::newRow("FF FF 09") << QByteArray::fromHex("FFFF09") << 1;
    QTest::newRow("address and function") << QByteArray::fromHex("0903") << 1;
    QTest::newRow("address, function, byte count") << QByteArray::fromHex("090306") << 1;
    QTest::newRow("start of an exception") << QByteArray::fromHex("098302") << 1;
    QTest::newRow("ten bytes of an earlier answer") << answer2153.first(10) << 1;
    QTest::newRow("answer with wrong CRC") << QByteArray::fromHex("090306086907D0002DDB65") << 1;
    QTest::newRow("a thousand bytes of frame starts")
        << QByteArray::fromHex("0903060983").repeated(200) << 1;
    QTest::newRow("echo of our request") << pollFrame << 0;
    QTest::newRow("echo cut short") << pollFrame.first(5) << 1;
}

void TestPollCycle::noiseBeforeAnswer() {
    QFETCH(QByteArray, noise);
    QFETCH(int, badReports);
    openConfiguredPort();
    poll();
    QVERIFY(m_pty->write(noise + answer2153));
    QTRY_COMPARE(m_watch->readouts.size(), 1);
    QCOMPARE(m_watch->readouts.at(0),
             (QStringList{QStringLiteral("215.3"), QStringLiteral("200")}));
    QCOMPARE(Data::powerRaw, 45.0f);
    QCOMPARE(Data::rxCount, int16_t(0));
    QCOMPARE(lastStatus(), QStringLiteral("Data received from controler 14:03:07"));
    QCOMPARE(statusCount(QStringLiteral("Bad answer")), badReports);
}

void TestPollCycle::pollOutcome_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("held");             // bytes held before the time-out
    QTest::addColumn<QStringList>("statuses"); // after "Send request", time-out included
    QTest::addColumn<tklink::PollResult>("result");

    const QString bad = QStringLiteral("Bad answer from controler 14:03:08");
    QTest::newRow("silence") << QByteArray() << 0
                             << QStringList{"No answer from controler 14:03:08"}
                             << tklink::PollResult::NoAnswer;
    QTest::newRow("half an answer, told at the time-out")
        << answer2153.first(6) << 6 << QStringList{bad} << tklink::PollResult::BadAnswer;
    QTest::newRow("noise, told once")
        << QByteArray::fromHex("00FF") << 0 << QStringList{bad} << tklink::PollResult::BadAnswer;
    QTest::newRow("exception, at once")
        << exception2 << 0 << QStringList{"Controler exception 2 14:03:08"}
        << tklink::PollResult::Exception;
    // On a serial line no gateway speaks: code 11 is the controller's too.
    QTest::newRow("exception 11 on a serial line")
        << QByteArray::fromHex("09830b8135") << 0 << QStringList{"Controler exception 11 14:03:08"}
        << tklink::PollResult::Exception;
    QTest::newRow("answer, at once")
        << answer2153 << 0 << QStringList{"Data received from controler 14:03:08"}
        << tklink::PollResult::Ok;
}

// One outcome per poll, known at the answer or at the time-out, and one
// status for it.
void TestPollCycle::pollOutcome() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, held);
    QFETCH(QStringList, statuses);
    QFETCH(tklink::PollResult, result);
    openConfiguredPort();
    poll();
    m_clock = pollTime.addSecs(1);
    const bool timesOut =
        result == tklink::PollResult::NoAnswer || result == tklink::PollResult::BadAnswer;
    QVERIFY(m_pty->write(bytes));
    QTRY_COMPARE(Data::rxCount, int16_t(held));
    QTRY_COMPARE(m_watch->statuses.size(), 1 + int(!bytes.isEmpty() && held == 0));
    auto* timeout = m_poll->findChild<QTimer*>(QStringLiteral("timerAnswerTimeout"));
    QCOMPARE(timeout->isActive(), timesOut);
    Q_EMIT timeout->timeout({});
    Q_EMIT timeout->timeout({}); // a second end changes nothing
    QCOMPARE(Data::rxCount, int16_t(0));

    QCOMPARE(m_watch->statuses, QStringList{"Send request to controler 14:03:07"} + statuses);
    QCOMPARE(m_ended->count(), 1);
    QCOMPARE(m_ended->at(0).at(0).value<tklink::PollResult>(), result);
}

void TestPollCycle::answersAfterTimeOutOrFirst_data() {
    QTest::addColumn<bool>("timeOutFirst");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<float>("measureRaw");
    QTest::addColumn<QString>("lastStatus");

    QTest::newRow("late answer, still taken")
        << true << answer2153 << 2153.0f << "Data received from controler 14:03:07";
    QTest::newRow("noise after the time-out, not told")
        << true << QByteArray::fromHex("00FF") << 8888.0f << "No answer from controler 14:03:07";
    QTest::newRow("second answer to one request, ignored")
        << false << answer2153 + answerNegative << 2153.0f
        << "Data received from controler 14:03:07";
    QTest::newRow("exception after the answer, ignored")
        << false << answer2153 + exception2 << 2153.0f << "Data received from controler 14:03:07";
}

void TestPollCycle::answersAfterTimeOutOrFirst() {
    QFETCH(bool, timeOutFirst);
    QFETCH(QByteArray, bytes);
    openConfiguredPort();
    QSignalSpy answered(m_controller, &Controller::answered);
    poll();
    if (timeOutFirst)
        m_poll->answerTimedOut();
    feedAndSettle(bytes);
    QTEST(Data::measureRaw, "measureRaw");
    QTEST(lastStatus(), "lastStatus");
    QCOMPARE(m_watch->readouts.size(), Data::measureRaw == 2153.0f ? 1 : 0);
    QCOMPARE(answered.count(), m_watch->readouts.size());
    QCOMPARE(m_ended->count(), 1);
}

void TestPollCycle::exceptionAnswer() {
    openConfiguredPort();
    poll();
    m_clock = pollTime.addSecs(1);
    QVERIFY(m_pty->write(exception2));
    QTRY_COMPARE(lastStatus(), QStringLiteral("Controler exception 2 14:03:08"));
    QCOMPARE(Data::rxCount, int16_t(0));
    QCOMPARE(m_watch->readouts.size(), 0);
    QCOMPARE(Data::measureRaw, Data::NO_DATA_RAW);
    QCOMPARE(Data::setpointRaw, Data::NO_DATA_RAW);
    QCOMPARE(Data::powerRaw, 0.0f);
}

void TestPollCycle::notConnectedKeepsInterval() {
    m_devices.clear();
    openConfiguredPort();
    QVERIFY(!Data::portConnected);
    for (int n = 0; n < 3; ++n) {
        tick();
        QCOMPARE(lastStatus(), QStringLiteral("Not connected"));
        QCOMPARE(m_timer->interval(), 5000);
    }
    QCOMPARE(m_watch->statuses.size(), 3);
    QVERIFY(!m_port->portOpen());
}

void TestPollCycle::failedOpenAtStartUpIsNotRetried() {
    m_devices[3] = QStringLiteral("/nonexistent/tk-test-device");
    openConfiguredPort();
    QVERIFY(!Data::portConnected);

    m_devices[3] = m_pty->path(); // the adapter is plugged in after start-up
    tick();
    tick();
    QCOMPARE(lastStatus(), QStringLiteral("Not connected"));
    QVERIFY(!Data::portConnected);
    QVERIFY(!m_port->portOpen());
    QCOMPARE(m_pty->readAvailable(), QByteArray());
}

void TestPollCycle::reconnectAfterHangUp() {
    // The adapter's name is a link that goes with it, as udev's under
    // /dev/serial/by-id. The pty's own name cannot stand in for it: once the
    // pty is gone the next one opened anywhere on the machine gets that name,
    // and the ticks below would open another program's terminal.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString adapter = dir.filePath(QStringLiteral("tk-adapter"));
    QVERIFY(QFile::link(m_pty->path(), adapter));
    m_devices[3] = adapter;
    openConfiguredPort();
    poll();
    QVERIFY(m_pty->write(answer2153));
    QTRY_COMPARE(m_watch->readouts.size(), 1);

    QSignalSpy lost(m_port, &SerialPortControl::deviceLost);
    m_pty->hangUp(); // the adapter is pulled
    QVERIFY(QFile::remove(adapter));
    QVERIFY(lost.wait(5000));
    QVERIFY(!Data::portConnected);
    QCOMPARE(m_watch->readouts.size(), 2); // back to "888.8"

    tick(); // still unplugged
    QCOMPARE(lastStatus(), QStringLiteral("Not connected"));
    QCOMPARE(m_timer->interval(), 2000);

    // Plugged back: the same name now leads to a new device.
    m_pty = std::make_unique<Pty>();
    QVERIFY(m_pty->isValid());
    QVERIFY(QFile::link(m_pty->path(), adapter));
    m_clock = pollTime.addSecs(4);
    const qsizetype before = m_watch->statuses.size();
    poll();
    QVERIFY(Data::portConnected);
    QCOMPARE(m_watch->statuses.size(), before + 1);
    QCOMPARE(lastStatus(), QStringLiteral("Send request to controler 14:03:11"));

    QVERIFY(m_pty->write(answerNegative));
    QTRY_COMPARE(m_watch->readouts.size(), 3);
    QCOMPARE(m_watch->readouts.at(2), (QStringList{QStringLiteral("-5.5"), QStringLiteral("-20")}));

    // Reopened once; the next tick just polls.
    poll();
    QCOMPARE(lastStatus(), QStringLiteral("Send request to controler 14:03:11"));
}

void TestPollCycle::operatorOpenEndsReconnecting() {
    openConfiguredPort();
    QSignalSpy lost(m_port, &SerialPortControl::deviceLost);
    m_pty->hangUp();
    QVERIFY(lost.wait(5000));

    // The operator picks another port in the Parameters dialog; it fails.
    Data::comPortNum = 9;
    openConfiguredPort();
    QVERIFY(!Data::portConnected);

    auto replugged = std::make_unique<Pty>();
    m_devices[3] = replugged->path();
    m_devices[9] = replugged->path();
    tick();
    QCOMPARE(lastStatus(), QStringLiteral("Not connected"));
    QVERIFY(!m_port->portOpen());
    QCOMPARE(replugged->readAvailable(), QByteArray());
}

// An exception that comes after the time-out belongs to a poll the time-out
// counted already: the values go stale at the third such poll, not the second.
void TestPollCycle::lateExceptionsCountOncePerPoll() {
    openConfiguredPort();
    poll();
    feedAndSettle(answer2153);
    for (int missed = 1; missed <= 3; ++missed) {
        poll();
        m_poll->answerTimedOut();
        feedAndSettle(exception2);
        QCOMPARE(Data::measureRaw, missed < 3 ? 2153.0f : Data::NO_DATA_RAW);
    }
}

QTEST_GUILESS_MAIN(TestPollCycle)
#include "tst_pollcycle.moc"
