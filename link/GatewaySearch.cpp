#include "GatewaySearch.h"

#include "AnswerFrame.h"

#include <utility>

namespace tklink {

GatewaySearch::GatewaySearch(GatewayAddress address, QList<uint8_t> addresses, int answerTimeoutMs,
                             QObject* parent)
    : QObject(parent), m_address(std::move(address)), m_addresses(std::move(addresses)),
      m_answerTimeoutMs(answerTimeoutMs), m_gateway(this), m_line(m_gateway, this) {
    qRegisterMetaType<tklink::GatewayTry>();
    qRegisterMetaType<tklink::GatewaySearchOutcome>();
    connect(&m_gateway, &GatewayLine::stateChanged, this, &GatewaySearch::onState);
    connect(&m_line, &LineOwner::ended, this, &GatewaySearch::onEnded);
}

void GatewaySearch::start() {
    m_outcome = {};
    m_next = 0;
    m_exchange = 0;
    m_running = true;
    m_clock.start();
    m_gateway.open(m_address);
}

void GatewaySearch::onState(GatewayLine::State state) {
    if (!m_running)
        return;
    if (state == GatewayLine::State::Connected) {
        m_outcome.connected = true;
        Q_EMIT connected();
        askNext();
        return;
    }
    // The gateway tries again by itself; a search reports instead.
    if (state == GatewayLine::State::NotConnected)
        finish(m_outcome.connected ? QStringLiteral("connection lost: ") + m_gateway.reason()
                                   : m_gateway.reason());
}

void GatewaySearch::askNext() {
    if (m_next >= m_addresses.size()) {
        finish({});
        return;
    }
    m_exchange = m_line.enqueue(
        {pollRequestBytes(m_addresses[m_next]), Reply::Registers, m_answerTimeoutMs, {}});
}

void GatewaySearch::onEnded(const ExchangeEnd& end) {
    if (!m_running || end.id != m_exchange)
        return;
    m_exchange = 0;
    GatewayTry attempt{m_addresses[m_next], TryResult::NoAnswer, 0};
    switch (end.kind) {
    case ExchangeEnd::Kind::Answer:
        attempt.result = TryResult::Answer;
        m_outcome.answering << attempt.address;
        break;
    case ExchangeEnd::Kind::Exception:
        attempt.result = TryResult::Exception;
        attempt.code = end.code;
        break;
    case ExchangeEnd::Kind::NoAnswer:
        break;
    case ExchangeEnd::Kind::BadAnswer:
        attempt.result = TryResult::BadAnswer;
        break;
    case ExchangeEnd::Kind::Lost:
        // The connection's own state says why.
        return;
    }
    ++m_next;
    m_outcome.tries << attempt;
    Q_EMIT tried(attempt);
    askNext();
}

void GatewaySearch::finish(const QString& failure) {
    if (!std::exchange(m_running, false))
        return;
    if (m_exchange != 0)
        m_line.withdraw(m_exchange);
    m_gateway.close();
    m_outcome.failure = failure;
    m_outcome.elapsedMs = m_clock.elapsed();
    Q_EMIT finished(m_outcome);
}

} // namespace tklink
