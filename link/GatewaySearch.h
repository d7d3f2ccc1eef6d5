#pragma once

// The controller search behind an Ethernet gateway. There is no device to
// choose and no speed to find there: the gateway's own line has its speed
// set in the gateway. What is left is which addresses answer behind it. One
// connection, the poll's own request to each address in turn through the
// line owner, each given the answer time-out; a connection that cannot be
// made, or is lost, ends the search with its reason. Asynchronous on the
// calling thread's event loop.

#include <QElapsedTimer>
#include <QList>
#include <QObject>

#include <cstdint>

#include "ControllerSearch.h"
#include "GatewayAddress.h"
#include "GatewayLine.h"
#include "LineOwner.h"

namespace tklink {

struct GatewayTry {
    uint8_t address = 0;
    // Answer, Exception, NoAnswer or BadAnswer.
    TryResult result = TryResult::NoAnswer;
    // The exception code, for Exception.
    uint8_t code = 0;
};

struct GatewaySearchOutcome {
    // The addresses that gave a valid answer, in the order asked.
    QList<int> answering;
    QList<GatewayTry> tries;
    // Why the search ended before every address was asked; empty when it
    // did not.
    QString failure;
    // The connection was made at least once.
    bool connected = false;
    qint64 elapsedMs = 0;
};

class GatewaySearch : public QObject {
    Q_OBJECT

public:
    GatewaySearch(GatewayAddress address, QList<uint8_t> addresses, int answerTimeoutMs,
                  QObject* parent = nullptr);

    // Connects; the first request goes out once connected.
    void start();

Q_SIGNALS:
    void connected();
    void tried(const tklink::GatewayTry& attempt);
    // Once per start().
    void finished(const tklink::GatewaySearchOutcome& outcome);

private:
    void onState(GatewayLine::State state);
    void askNext();
    void onEnded(const ExchangeEnd& end);
    void finish(const QString& failure);

    GatewayAddress m_address;
    QList<uint8_t> m_addresses;
    int m_answerTimeoutMs;
    GatewayLine m_gateway;
    LineOwner m_line;
    QElapsedTimer m_clock;
    GatewaySearchOutcome m_outcome;
    qsizetype m_next = 0;
    int m_exchange = 0;
    bool m_running = false;
};

} // namespace tklink

Q_DECLARE_METATYPE(tklink::GatewayTry)
Q_DECLARE_METATYPE(tklink::GatewaySearchOutcome)
