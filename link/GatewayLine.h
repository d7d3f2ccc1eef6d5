#pragma once

// An Ethernet gateway as the line owner's device: one TCP connection to a
// Modbus TCP gateway or to a serial server carrying RTU over TCP. The line
// owner hands it RTU frames and takes RTU frames back whatever the kind; for
// Modbus TCP each request gets its own transaction id and only the answer
// carrying it is passed on, rebuilt as the RTU frame the line would have
// carried.
//
// The connection keeps itself: not connected, connecting, connected; a lost
// one is tried again after 1, 2, 4 ... at most 30 s (from 1 s again after a
// connection that lasted), with TCP keep-alive and a user time-out so a
// gateway that vanished without a reset is noticed within a minute. A
// controller that does not answer is no reason to close it: only the
// connection's own failures and a byte stream that cannot be Modbus TCP are.

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include "GatewayAddress.h"
#include "LineDevice.h"

namespace tklink {

class GatewayLine : public LineDevice {
    Q_OBJECT

public:
    enum class State { NotConnected, Connecting, Connected };
    Q_ENUM(State)

    static constexpr int firstRetryMs = 1000;
    static constexpr int longestRetryMs = 30000;
    // A connection that lasted this long was a good one: the next loss is
    // tried again after firstRetryMs.
    static constexpr int lastingConnectionMs = 5000;
    // A name that resolves slowly or a SYN that is dropped ends here.
    static constexpr int connectTimeoutMs = 5000;
    // Keep-alive probes after 20 s of silence, every 5 s, 4 of them, and
    // unacknowledged requests for at most 30 s: a gateway gone without a
    // reset is lost within a minute whether we were sending or not.
    static constexpr int keepAliveIdleS = 20;
    static constexpr int keepAliveIntervalS = 5;
    static constexpr int keepAliveProbes = 4;
    static constexpr int unacknowledgedMs = 30000;
    // A Modbus TCP frame is at most 260 bytes: one still incomplete after
    // this long comes from a broken gateway, not a slow one.
    static constexpr int frameStallMs = 5000;
    // Bytes held for the line owner, and requests the gateway did not take,
    // at most: a flooding or stuck peer never makes us grow.
    static constexpr int heldMax = 4096;

    // The wait before attempt n + 1 after n failed ones in a row (n >= 1):
    // 1, 2, 4 ... s, at most longestRetryMs.
    static int retryDelayMs(int failures);

    explicit GatewayLine(QObject* parent = nullptr);
    ~GatewayLine() override;

    // Connects to address, and again after every loss, until close().
    void open(const GatewayAddress& address);
    // Ends the connection and its retries.
    void close();
    const GatewayAddress& address() const { return m_address; }
    State state() const { return m_state; }
    // Why the last connection ended or the last attempt failed; empty while
    // none did.
    const QString& reason() const { return m_reason; }
    // The wait before the next attempt; 0 while connected or closed.
    int retryInMs() const;

    bool isOpen() const override { return m_state == State::Connected; }
    void discardPending() override;
    bool write(const QByteArray& frame) override;
    QByteArray takeReceived() override;
    int interFrameSilenceUs() const override { return 0; }
    // A serial server passes the line's own frames: only a Modbus TCP
    // gateway answers in its own name.
    bool isGateway() const override { return m_address.kind == GatewayAddress::Kind::ModbusTcp; }

    // Modbus TCP answers that carried another transaction id (late ones,
    // for a request already given up) and were dropped.
    qint64 otherTransactionsDropped() const { return m_otherTransactions; }

Q_SIGNALS:
    void stateChanged(tklink::GatewayLine::State state);

private:
    void connectNow();
    void onConnected();
    void onReadyRead();
    void takeMbapFrames();
    void loseConnection(const QString& reason);
    void setState(State state);
    void setKeepAlive();

    GatewayAddress m_address;
    bool m_wanted = false;
    State m_state = State::NotConnected;
    QString m_reason;
    QPointer<QTcpSocket> m_socket;
    QTimer m_retryTimer;
    QTimer m_connectTimer;
    QTimer m_stallTimer;
    QElapsedTimer m_connectedFor;
    // Attempts and connections that failed since the last lasting one.
    int m_failures = 0;
    // Modbus TCP: bytes of the stream not yet a whole frame.
    QByteArray m_stream;
    // RTU frames (or, over RTU over TCP, the bytes as they came) for
    // takeReceived().
    QByteArray m_received;
    uint16_t m_transaction = 0;
    // A request is out whose answer is welcome.
    bool m_awaiting = false;
    qint64 m_otherTransactions = 0;
};

} // namespace tklink
