// What the recorder shares, byte for byte: the Modbus TCP share's answers and
// the MQTT messages.

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTimeZone>

#include "MetricsServer.h"
#include "ModbusShare.h"
#include "MqttMessages.h"
#include "ShareRequest.h"
#include "SharedValues.h"

using namespace tkrecord;

class TestSharing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void frames_data();
    void frames();
    void answers_data();
    void answers();
    void stateMessages_data();
    void stateMessages();
    void alarmEvents_data();
    void alarmEvents();
    void shareConnections_data();
    void shareConnections();
    void seventeenthPushesOutTheOldest();
    void eventStreamOutlastsIdleConnections();
};

void TestSharing::frames_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("size");

    const int incomplete = int(ShareFrame::Kind::Incomplete);
    const int bad = int(ShareFrame::Kind::Bad);
    const int request = int(ShareFrame::Kind::Request);
    QTest::newRow("header cut") << QByteArray::fromHex("00010000") << incomplete << 0;
    QTest::newRow("pdu cut") << QByteArray::fromHex("000100000006090300") << incomplete << 0;
    QTest::newRow("whole") << QByteArray::fromHex("000100000006090300010003") << request << 12;
    QTest::newRow("with the next")
        << QByteArray::fromHex("00010000000609030001000300020000") << request << 12;
    QTest::newRow("protocol 1") << QByteArray::fromHex("000100010006") << bad << 0;
    QTest::newRow("length 1") << QByteArray::fromHex("000100000001") << bad << 0;
    QTest::newRow("length 255") << QByteArray::fromHex("0001000000ff") << bad << 0;
    QTest::newRow("length 254 waits") << QByteArray::fromHex("0001000000fe09") << incomplete << 0;
    QTest::newRow("http") << QByteArray("GET / HTTP/1.0\r\n\r\n") << bad << 0;
}

void TestSharing::frames() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, kind);
    QFETCH(int, size);
    const ShareFrame frame = takeShareFrame(bytes);
    QCOMPARE(int(frame.kind), kind);
    QCOMPARE(frame.size, size);
}

void TestSharing::answers_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");

    // Unit 9 current with 215.3 °C, setpoint 200.0 °C, 45 %; unit 10 known
    // but not current; unit 12 with -12.5 °C. Answers as libmodbus's server
    // gives them for the same registers.
    QTest::newRow("registers 1-3") << QByteArray::fromHex("1234000000060903"
                                                          "000100"
                                                          "03")
                                   << QByteArray::fromHex("12340000000909030608690"
                                                          "7d0002d");
    QTest::newRow("input registers") << QByteArray::fromHex("000700000006090400010003")
                                     << QByteArray::fromHex("00070000000909040608690"
                                                            "7d0002d");
    QTest::newRow("register 2 alone") << QByteArray::fromHex("000100000006090300020001")
                                      << QByteArray::fromHex("00010000000509030207d0");
    QTest::newRow("negative") << QByteArray::fromHex("000100000006"
                                                     "0c0300010001")
                              << QByteArray::fromHex("0001000000050c0302ff83");
    QTest::newRow("not current") << QByteArray::fromHex("0001000000060a0300010003")
                                 << QByteArray::fromHex("0001000000030a830b");
    QTest::newRow("unknown unit") << QByteArray::fromHex("0001000000060b0300010003")
                                  << QByteArray::fromHex("0001000000030b830b");
    QTest::newRow("write single") << QByteArray::fromHex("000100000006090600020898")
                                  << QByteArray::fromHex("000100000003098601");
    QTest::newRow("write to an unknown unit") << QByteArray::fromHex("0001000000060b0600020898")
                                              << QByteArray::fromHex("0001000000030b8601");
    QTest::newRow("write multiple") << QByteArray::fromHex("00010000000909100002000102"
                                                           "0898")
                                    << QByteArray::fromHex("000100000003099001");
    QTest::newRow("coils") << QByteArray::fromHex("000100000006090100010003")
                           << QByteArray::fromHex("000100000003098101");
    QTest::newRow("register 0") << QByteArray::fromHex("000100000006090300000003")
                                << QByteArray::fromHex("000100000003098302");
    QTest::newRow("past register 3") << QByteArray::fromHex("000100000006090300020003")
                                     << QByteArray::fromHex("000100000003098302");
    QTest::newRow("count 0") << QByteArray::fromHex("000100000006090300010000")
                             << QByteArray::fromHex("000100000003098303");
    QTest::newRow("count 126") << QByteArray::fromHex("00010000000609030001007e")
                               << QByteArray::fromHex("000100000003098303");
    QTest::newRow("read cut short") << QByteArray::fromHex("0001000000040903000100")
                                    << QByteArray::fromHex("000100000003098303");
}

void TestSharing::answers() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    const RegisterLookup lookup = [](uint8_t unit) -> std::optional<ShareRegisters> {
        if (unit == 9)
            return ShareRegisters{2153, 2000, 45};
        if (unit == 12)
            return ShareRegisters{uint16_t(-125), 0, 0};
        return std::nullopt;
    };
    const ShareFrame frame = takeShareFrame(request);
    QCOMPARE(frame.kind, ShareFrame::Kind::Request);
    QCOMPARE(shareAnswer(frame, lookup).toHex(), answer.toHex());
}

void TestSharing::stateMessages_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("current");
    QTest::addColumn<QStringList>("alarms");
    QTest::addColumn<QByteArray>("topic");
    QTest::addColumn<QByteArray>("payload");

    QTest::newRow("current") << "oven1" << true << QStringList()
                             << QByteArray("tk/line/oven1/state")
                             << QByteArray(
                                    "{\"alarms\":[],\"link\":\"up\",\"power\":45,\"setpoint\":"
                                    "200,\"temperature\":-12.5,\"time\":"
                                    "\"2026-03-29T02:59:58.250+02:00\"}");
    QTest::newRow("stale, never 888.8")
        << "" << false << QStringList{"link", "measurement"}
        << QByteArray("tk/line/controller/state")
        << QByteArray("{\"alarms\":[\"link\",\"measurement\"],\"link\":\"down\",\"power\":null,"
                      "\"setpoint\":null,\"temperature\":null,\"time\":"
                      "\"2026-03-29T02:59:58.250+02:00\"}");
}

void TestSharing::stateMessages() {
    QFETCH(QString, name);
    QFETCH(bool, current);
    QFETCH(QStringList, alarms);
    QFETCH(QByteArray, topic);
    QFETCH(QByteArray, payload);
    SharedController c;
    c.name = name;
    c.address = 9;
    if (current)
        c.values = tklink::ControllerValues{-125, 2000, 45};
    c.linkUp = current;
    c.alarms = alarms;
    c.answeredAt = QDateTime(QDate(2026, 3, 29), QTime(2, 59, 58, 250), QTimeZone(7200));
    const MqttMessage message = stateMessage(QStringLiteral("tk/line"), c);
    QCOMPARE(message.topic, topic);
    QCOMPARE(message.payload, payload);
    QVERIFY(message.retain);
}

void TestSharing::alarmEvents_data() {
    using S = alarms::AlarmState;
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("word");
    QTest::newRow("raised") << int(S::Normal) << int(S::ActiveUnacknowledged) << "raised";
    QTest::newRow("raised again") << int(S::ClearedUnacknowledged) << int(S::ActiveUnacknowledged)
                                  << "raised";
    QTest::newRow("acknowledged") << int(S::ActiveUnacknowledged) << int(S::ActiveAcknowledged)
                                  << "acknowledged";
    QTest::newRow("cleared waiting")
        << int(S::ActiveUnacknowledged) << int(S::ClearedUnacknowledged) << "cleared";
    QTest::newRow("acknowledged then cleared")
        << int(S::ActiveAcknowledged) << int(S::Normal) << "cleared";
    QTest::newRow("cleared then acknowledged")
        << int(S::ClearedUnacknowledged) << int(S::Normal) << "acknowledged";
}

void TestSharing::alarmEvents() {
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QString, word);
    const alarms::AlarmChange change{alarms::Alarm::High, alarms::AlarmState(from),
                                     alarms::AlarmState(to)};
    QCOMPARE(alarmEventWord(change), word);
    SharedController c;
    c.name = QStringLiteral("oven2");
    const MqttMessage event =
        eventMessage(QStringLiteral("tk"), c,
                     {word, alarms::Alarm::High,
                      QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone::utc())});
    QCOMPARE(event.topic, QByteArray("tk/oven2/event"));
    QCOMPARE(event.payload, "{\"alarm\":\"high\",\"event\":\"" + word.toUtf8() +
                                "\",\"time\":\"2026-01-02T03:04:05.000Z\"}");
    QCOMPARE(event.qos, 1);
    QVERIFY(!event.retain);
}

// A client of the share sending bytes, on the real socket: what it reads
// back, and whether the share closed it.
void TestSharing::shareConnections_data() {
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("answered");
    QTest::addColumn<bool>("closed");

    QTest::newRow("two frames at once, cut in the next")
        << QByteArray::fromHex("00010000000609030002000100020000000609040003000100030000")
        << QByteArray::fromHex("00010000000509030207d0000200000005090402002d") << false;
    QTest::newRow("protocol id 1")
        << QByteArray::fromHex("000100010006090300010003") << QByteArray() << true;
    // Closed at once: the answer still unsent goes with the connection.
    QTest::newRow("a request, then length 1") << QByteArray::fromHex("000100000006090300020001"
                                                                     "000200000001")
                                              << QByteArray() << true;
    QTest::newRow("silent") << QByteArray() << QByteArray() << true;
}

void TestSharing::shareConnections() {
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, answered);
    QFETCH(bool, closed);
    // A short deadline, so that the silent client is closed soon; the rows
    // that are answered are answered long before it.
    BoundedConnections::Limits limits = ModbusShare::defaultLimits();
    limits.deadlineMs = closed ? 200 : 60000;
    ModbusShare share(
        [](uint8_t unit) -> std::optional<ShareRegisters> {
            return unit == 9 ? std::optional(ShareRegisters{2153, 2000, 45}) : std::nullopt;
        },
        limits);
    QVERIFY(share.listen(QHostAddress::LocalHost, 0));
    QTcpSocket client;
    QSignalSpy disconnected(&client, &QTcpSocket::disconnected);
    client.connectToHost(QHostAddress::LocalHost, share.port());
    QVERIFY(client.waitForConnected(30000));
    client.write(sent);
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += client.readAll()).size() >= answered.size() &&
                                 (!closed || disconnected.size() == 1),
                             30000);
    QCOMPARE(got.toHex(), answered.toHex());
    QCOMPARE(share.connectionCount(), closed ? 0 : 1);
}

void TestSharing::seventeenthPushesOutTheOldest() {
    ModbusShare share([](uint8_t) { return std::optional<ShareRegisters>(); });
    QVERIFY(share.listen(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i <= ModbusShare::defaultLimits().maxConnections; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, share.port());
        QVERIFY(clients.back()->waitForConnected(30000));
        QTRY_COMPARE_WITH_TIMEOUT(share.connectionCount(), std::min(i + 1, 16), 30000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(clients.front()->state(), QAbstractSocket::UnconnectedState, 30000);
    QCOMPARE(clients[1]->state(), QAbstractSocket::ConnectedState);
}

// The page's event stream has no deadline and is the last to be pushed out:
// sixteen idle connections after it push out one another, not the stream.
void TestSharing::eventStreamOutlastsIdleConnections() {
    // Idle connections kept for a minute: only a push closes them here.
    MetricsServer server([] { return QByteArray(); }, nullptr, 60000);
    server.servePage([](bool) { return QByteArray("{}"); });
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QTcpSocket stream;
    stream.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(stream.waitForConnected(30000));
    stream.write("GET /events HTTP/1.1\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(server.streamCount(), 1, 30000);
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < MetricsServer::maxConnections; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(idle.back()->waitForConnected(30000));
        QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), std::min(i + 2, 16), 30000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(idle.front()->state(), QAbstractSocket::UnconnectedState, 30000);
    QCOMPARE(server.streamCount(), 1);
    stream.readAll();
    QByteArray next;
    QTRY_VERIFY_WITH_TIMEOUT((next += stream.readAll()) == "data: {}\n\n", 30000);
    QCOMPARE(stream.state(), QAbstractSocket::ConnectedState);
}

QTEST_GUILESS_MAIN(TestSharing)
#include "tst_sharing.moc"
