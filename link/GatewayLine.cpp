#include "GatewayLine.h"

#include "LinkLog.h"
#include "MbapFrame.h"

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace tklink {

namespace {

std::span<const uint8_t> spanOf(const QByteArray& bytes) {
    return {reinterpret_cast<const uint8_t*>(bytes.constData()), std::size_t(bytes.size())};
}

} // namespace

int GatewayLine::retryDelayMs(int failures) {
    int delay = firstRetryMs;
    for (int n = 1; n < failures && delay < longestRetryMs; ++n)
        delay *= 2;
    return std::min(delay, longestRetryMs);
}

GatewayLine::GatewayLine(QObject* parent) : LineDevice(parent) {
    m_retryTimer.setSingleShot(true);
    m_connectTimer.setSingleShot(true);
    m_stallTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &GatewayLine::connectNow);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        loseConnection(QStringLiteral("no connection within %1 s").arg(connectTimeoutMs / 1000));
    });
    connect(&m_stallTimer, &QTimer::timeout, this, [this] {
        loseConnection(QStringLiteral("a frame stayed incomplete for %1 s, %2 bytes of it came")
                           .arg(frameStallMs / 1000)
                           .arg(m_stream.size()));
    });
}

GatewayLine::~GatewayLine() {
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void GatewayLine::open(const GatewayAddress& address) {
    close();
    m_address = address;
    m_wanted = true;
    m_failures = 0;
    m_reason.clear();
    connectNow();
}

void GatewayLine::close() {
    m_wanted = false;
    m_retryTimer.stop();
    m_connectTimer.stop();
    m_stallTimer.stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
    }
    m_stream.clear();
    m_received.clear();
    m_awaiting = false;
    setState(State::NotConnected);
}

int GatewayLine::retryInMs() const {
    return m_retryTimer.isActive() ? m_retryTimer.remainingTime() : 0;
}

void GatewayLine::connectNow() {
    if (!m_wanted)
        return;
    auto* socket = new QTcpSocket(this);
    m_socket = socket;
    // Bounded: a peer that floods is held back by TCP itself.
    socket->setReadBufferSize(heldMax);
    connect(socket, &QTcpSocket::connected, this, &GatewayLine::onConnected);
    connect(socket, &QTcpSocket::readyRead, this, &GatewayLine::onReadyRead);
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, socket] { loseConnection(socket->errorString()); });
    connect(socket, &QTcpSocket::disconnected, this,
            [this] { loseConnection(QStringLiteral("the gateway closed the connection")); });
    setState(State::Connecting);
    m_connectTimer.start(connectTimeoutMs);
    socket->connectToHost(m_address.host, m_address.port);
}

void GatewayLine::onConnected() {
    m_connectTimer.stop();
    // Requests are a few bytes each: sent at once, not held for more.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    setKeepAlive();
    m_connectedFor.start();
    m_reason.clear();
    setState(State::Connected);
}

void GatewayLine::setKeepAlive() {
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const auto fd = int(m_socket->socketDescriptor());
    const auto set = [fd](int option, int value) {
        ::setsockopt(fd, IPPROTO_TCP, option, &value, sizeof value);
    };
    set(TCP_KEEPIDLE, keepAliveIdleS);
    set(TCP_KEEPINTVL, keepAliveIntervalS);
    set(TCP_KEEPCNT, keepAliveProbes);
    set(TCP_USER_TIMEOUT, unacknowledgedMs);
#endif
}

void GatewayLine::loseConnection(const QString& reason) {
    if (!m_socket)
        return;
    const bool wasConnected = m_state == State::Connected;
    const bool lasted = wasConnected && m_connectedFor.elapsed() >= lastingConnectionMs;
    QTcpSocket* socket = m_socket;
    m_socket.clear();
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    m_connectTimer.stop();
    m_stallTimer.stop();
    m_stream.clear();
    m_received.clear();
    m_awaiting = false;
    m_reason = reason;
    m_failures = lasted ? 1 : m_failures + 1;
    if (m_wanted)
        m_retryTimer.start(retryDelayMs(m_failures));
    setState(State::NotConnected);
    if (wasConnected)
        Q_EMIT lost();
}

void GatewayLine::setState(State state) {
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

void GatewayLine::discardPending() {
    m_received.clear();
    // What the gateway sent for an earlier request answers nothing now.
    // Modbus TCP keeps its stream, which has a frame's length at its head,
    // and drops the frame of another transaction when it is whole.
    m_awaiting = false;
    if (m_socket && m_address.kind == GatewayAddress::Kind::RtuOverTcp)
        m_socket->readAll();
}

bool GatewayLine::write(const QByteArray& frame) {
    if (m_state != State::Connected)
        return false;
    if (m_socket->bytesToWrite() > heldMax) {
        loseConnection(QStringLiteral("the gateway takes no more requests"));
        return false;
    }
    QByteArray bytes = frame;
    if (m_address.kind == GatewayAddress::Kind::ModbusTcp) {
        bytes = mbapFromRtu(spanOf(frame), ++m_transaction);
        if (bytes.isEmpty())
            return false;
        m_awaiting = true;
    }
    qCDebug(lcLinkFrames).noquote() << "tcp out" << bytes.toHex(' ');
    return m_socket->write(bytes) == bytes.size();
}

QByteArray GatewayLine::takeReceived() {
    return std::exchange(m_received, QByteArray());
}

void GatewayLine::onReadyRead() {
    if (!m_socket)
        return;
    const QByteArray bytes = m_socket->readAll();
    qCDebug(lcLinkFrames).noquote() << "tcp in" << bytes.toHex(' ');
    if (m_address.kind == GatewayAddress::Kind::RtuOverTcp) {
        m_received.append(bytes);
        // The line owner takes them at once; the newest count if it did not.
        if (m_received.size() > heldMax)
            m_received.remove(0, m_received.size() - heldMax);
        Q_EMIT bytesArrived();
        return;
    }
    m_stream.append(bytes);
    takeMbapFrames();
}

void GatewayLine::takeMbapFrames() {
    const qsizetype before = m_received.size();
    for (;;) {
        const MbapHead head = judgeMbapHead(spanOf(m_stream));
        if (head.kind == MbapHead::Kind::Broken) {
            loseConnection(head.reason);
            return;
        }
        if (head.kind == MbapHead::Kind::NeedMore)
            break;
        if (m_awaiting && head.transactionId == m_transaction) {
            m_awaiting = false;
            const auto frame = spanOf(m_stream).subspan(0, std::size_t(head.length));
            m_received.append(rtuFromMbap(head.unitId, frame.subspan(mbapHeaderBytes)));
        } else {
            ++m_otherTransactions;
        }
        m_stream.remove(0, head.length);
    }
    if (m_stream.isEmpty())
        m_stallTimer.stop();
    else if (!m_stallTimer.isActive())
        m_stallTimer.start(frameStallMs);
    if (m_received.size() > before)
        Q_EMIT bytesArrived();
}

} // namespace tklink
