// The gateway transport under the line owner: Modbus TCP framing both ways,
// the retry delays, and a scripted gateway that misbehaves on demand. No
// real gateway sends these bytes when asked, so the peer is a QTcpServer.

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <sys/socket.h>

#include "GatewayLine.h"
#include "LineOwner.h"
#include "MbapFrame.h"

using tklink::ExchangeEnd;
using tklink::GatewayLine;

namespace {

// The poll of address 9 and its answer, as the serial line carries them:
// measured 2153, setpoint 2000, power 45, CRC DB 64.
const QByteArray pollRequest = QByteArray::fromHex("090300010003 5543");
const QByteArray pollAnswer = QByteArray::fromHex("0903060869 07d0002d db64");

enum class Peer {
    Answer,
    GatewayException11,
    Length65535,
    ProtocolId1,
    OtherTransaction,
    DripOneBytePerSecond,
    ResetMidFrame,
    NeverAnswer,
    RtuAnswer,
};

// A Modbus TCP peer that answers every request its way.
class ScriptedGateway : public QObject {
public:
    explicit ScriptedGateway(Peer peer) : m_peer(peer) {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            m_socket = m_server.nextPendingConnection();
            connect(m_socket, &QTcpSocket::readyRead, this, &ScriptedGateway::onRequest);
        });
        connect(&m_drip, &QTimer::timeout, this, [this] {
            if (!m_socket || m_dripping.isEmpty())
                return m_drip.stop();
            m_socket->write(m_dripping.left(1));
            m_dripping.remove(0, 1);
        });
        m_server.listen(QHostAddress::LocalHost);
    }
    quint16 port() const { return m_server.serverPort(); }
    QList<QByteArray> requests;

private:
    void onRequest() {
        m_in += m_socket->readAll();
        const int whole = m_peer == Peer::RtuAnswer ? 8 : 12;
        while (m_in.size() >= whole) {
            const QByteArray request = m_in.left(whole);
            m_in.remove(0, whole);
            requests << request;
            answer(request.left(2));
        }
    }
    void answer(const QByteArray& tid) {
        const QByteArray pdu = pollAnswer.mid(1, 8);
        const QByteArray good = tid + QByteArray::fromHex("0000 0009 09") + pdu;
        switch (m_peer) {
        case Peer::Answer:
            m_socket->write(good);
            break;
        case Peer::GatewayException11:
            m_socket->write(tid + QByteArray::fromHex("0000 0003 09 83 0b"));
            break;
        case Peer::Length65535:
            m_socket->write(tid + QByteArray::fromHex("0000 ffff 09") + pdu);
            break;
        case Peer::ProtocolId1:
            m_socket->write(tid + QByteArray::fromHex("0001 0009 09") + pdu);
            break;
        case Peer::OtherTransaction:
            m_socket->write(QByteArray::fromHex("7777 0000 0009 09") + pdu);
            break;
        case Peer::DripOneBytePerSecond:
            m_dripping = good;
            m_drip.start(1000);
            break;
        case Peer::ResetMidFrame: {
            m_socket->write(good.left(5));
            m_socket->flush();
            // Linger 0: the close is a reset, not an orderly end.
            const linger reset{1, 0};
            ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset,
                         sizeof reset);
            m_socket->abort();
            break;
        }
        case Peer::NeverAnswer:
            break;
        case Peer::RtuAnswer:
            m_socket->write(pollAnswer);
            break;
        }
    }

    Peer m_peer;
    QTcpServer m_server;
    QPointer<QTcpSocket> m_socket;
    QByteArray m_in;
    QTimer m_drip;
    QByteArray m_dripping;
};

} // namespace

class TestGateway : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void framing();
    void retryDelays_data();
    void retryDelays();
    void hostilePeer_data();
    void hostilePeer();
};

// The request of transaction 1 and the RTU frame rebuilt from an answer; the
// CRC of the rebuilt frame is the one of the serial line's own answer.
void TestGateway::framing() {
    QCOMPARE(tklink::mbapFromRtu(tklink::byteSpan(pollRequest), 1).toHex(' '),
             QByteArray("00 01 00 00 00 06 09 03 00 01 00 03"));
    const QByteArray pdu = pollAnswer.mid(1, 8);
    QCOMPARE(tklink::rtuFromMbap(9, tklink::byteSpan(pdu)).toHex(' '), pollAnswer.toHex(' '));
    QCOMPARE(tklink::gatewayExceptionText(10), QStringLiteral("gateway path unavailable"));
    QCOMPARE(tklink::gatewayExceptionText(11), QStringLiteral("target failed to respond"));
    QCOMPARE(tklink::gatewayExceptionText(4), QString());
    QCOMPARE(tklink::exceptionWords(10, true),
             QStringLiteral("gateway path unavailable (exception 10)"));
    QCOMPARE(tklink::exceptionWords(11, false), QStringLiteral("exception 11"));
    QCOMPARE(tklink::exceptionWords(4, true), QStringLiteral("exception 4"));
}

void TestGateway::retryDelays_data() {
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("delayMs");
    QTest::newRow("first") << 1 << 1000;
    QTest::newRow("second") << 2 << 2000;
    QTest::newRow("third") << 3 << 4000;
    QTest::newRow("fifth") << 5 << 16000;
    QTest::newRow("sixth, at the ceiling") << 6 << 30000;
    QTest::newRow("hundredth") << 100 << 30000;
}

void TestGateway::retryDelays() {
    QFETCH(int, failures);
    QTEST(GatewayLine::retryDelayMs(failures), "delayMs");
}

// Each peer ends the exchange in time, as an answer, an exception, no answer
// or a lost connection with its reason; a connection kept serves the next
// exchange too, and a lost one comes back by itself.
void TestGateway::hostilePeer_data() {
    QTest::addColumn<Peer>("peer");
    QTest::addColumn<int>("end");
    // Empty: the connection is kept.
    QTest::addColumn<QString>("lostReason");

    using K = ExchangeEnd::Kind;
    QTest::newRow("answer") << Peer::Answer << int(K::Answer) << "";
    QTest::newRow("gateway exception 11") << Peer::GatewayException11 << int(K::Exception) << "";
    QTest::newRow("MBAP length 65535")
        << Peer::Length65535 << int(K::Lost) << "MBAP length 65535 is outside 2 to 254";
    QTest::newRow("protocol id 1")
        << Peer::ProtocolId1 << int(K::Lost) << "protocol id 1 is not Modbus (0)";
    QTest::newRow("another transaction id") << Peer::OtherTransaction << int(K::NoAnswer) << "";
    QTest::newRow("a byte a second")
        << Peer::DripOneBytePerSecond << int(K::NoAnswer) << "a frame stayed incomplete for 5 s";
    QTest::newRow("reset in the middle of a frame")
        << Peer::ResetMidFrame << int(K::Lost) << "The remote host closed the connection";
    QTest::newRow("accepts, never answers") << Peer::NeverAnswer << int(K::NoAnswer) << "";
    QTest::newRow("RTU over TCP: answer") << Peer::RtuAnswer << int(K::Answer) << "";
}

void TestGateway::hostilePeer() {
    QFETCH(Peer, peer);
    QFETCH(int, end);
    QFETCH(QString, lostReason);
    ScriptedGateway gateway(peer);
    GatewayLine line;
    const auto kind = peer == Peer::RtuAnswer ? tklink::GatewayAddress::Kind::RtuOverTcp
                                              : tklink::GatewayAddress::Kind::ModbusTcp;
    line.open({kind, QStringLiteral("127.0.0.1"), gateway.port()});
    // Only a Modbus TCP gateway answers exceptions in its own name.
    QCOMPARE(line.isGateway(), kind == tklink::GatewayAddress::Kind::ModbusTcp);
    QTRY_COMPARE_WITH_TIMEOUT(line.state(), GatewayLine::State::Connected, 20000);
    tklink::LineOwner owner(line);
    QSignalSpy ended(&owner, &tklink::LineOwner::ended);
    QSignalSpy lost(&line, &tklink::LineDevice::lost);
    owner.enqueue({pollRequest, tklink::Reply::Registers, 500, {}});
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 20000);
    const auto first = ended.first().first().value<ExchangeEnd>();
    QCOMPARE(int(first.kind), end);
    if (first.kind == ExchangeEnd::Kind::Answer)
        QCOMPARE(first.frame.toHex(' '), pollAnswer.toHex(' '));
    if (first.kind == ExchangeEnd::Kind::Exception)
        QCOMPARE(int(first.code), 11);
    const QByteArray sent = gateway.requests.value(0).toHex(' ');
    QCOMPARE(sent, kind == tklink::GatewayAddress::Kind::RtuOverTcp
                       ? pollRequest.toHex(' ')
                       : QByteArray("00 01 00 00 00 06 09 03 00 01 00 03"));
    if (lostReason.isEmpty()) {
        owner.enqueue({pollRequest, tklink::Reply::Registers, 500, {}});
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 2, 20000);
        QCOMPARE(int(ended.last().first().value<ExchangeEnd>().kind), end);
        QCOMPARE(lost.count(), 0);
        QCOMPARE(line.state(), GatewayLine::State::Connected);
        if (peer == Peer::OtherTransaction)
            QCOMPARE(line.otherTransactionsDropped(), 2);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 30000);
    QCOMPARE(line.reason().left(lostReason.size()), lostReason);
    QTRY_COMPARE_WITH_TIMEOUT(line.state(), GatewayLine::State::Connected, 20000);
}

QTEST_GUILESS_MAIN(TestGateway)
#include "tst_gateway.moc"
