#include "StateLog.h"

#include <QLocale>

namespace tkrecord {

QString stampedLine(const QDateTime& at, const QString& text) {
    return QLocale::c().toString(at, QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + text;
}

QString StateLog::portOpened(const QDateTime& at, const QString& device, const QString& speed) {
    m_port = Port::Open;
    m_notOpenedReason.clear();
    return stampedLine(at, QStringLiteral("port %1 opened at %2 bit/s").arg(device, speed));
}

QString StateLog::portNotOpened(const QDateTime& at, const QString& device, const QString& reason) {
    if (m_port == Port::NotOpened && reason == m_notOpenedReason)
        return {};
    const bool afterLoss = m_port == Port::Lost;
    m_port = Port::NotOpened;
    m_notOpenedReason = reason;
    return stampedLine(
        at, QStringLiteral("port %1 not opened (%2); %3 every 2 s")
                .arg(device, reason,
                     afterLoss ? QStringLiteral("trying again") : QStringLiteral("trying")));
}

QString StateLog::portLost(const QDateTime& at, const QString& reason) {
    if (m_port != Port::Open)
        return {};
    m_port = Port::Lost;
    m_current = false;
    return stampedLine(at, QStringLiteral("port lost (%1); values stale").arg(reason));
}

QString StateLog::gatewayState(const QDateTime& at, const QString& address,
                               tklink::GatewayLine::State state, const QString& reason,
                               int retryInMs) {
    using State = tklink::GatewayLine::State;
    const State before = std::exchange(m_gateway, state);
    switch (state) {
    case State::Connecting:
        if (m_gatewayQuiet)
            return {};
        return stampedLine(at, QStringLiteral("gateway %1 connecting").arg(address));
    case State::Connected:
        m_gatewayQuiet = false;
        m_gatewayReason.clear();
        return stampedLine(at, QStringLiteral("gateway %1 connected").arg(address));
    case State::NotConnected:
        break;
    }
    const bool again = before == State::Connecting && reason == m_gatewayReason;
    m_gatewayQuiet = again;
    m_gatewayReason = reason;
    if (again || reason.isEmpty())
        return {};
    const QString retry = QStringLiteral("trying again in %1 s").arg((retryInMs + 500) / 1000);
    if (before == State::Connected) {
        m_current = false;
        return stampedLine(at, QStringLiteral("gateway %1 not connected (%2); values stale; %3")
                                   .arg(address, reason, retry));
    }
    return stampedLine(
        at, QStringLiteral("gateway %1 not connected (%2); %3").arg(address, reason, retry));
}

QString StateLog::valuesCurrent(const QDateTime& at, bool current, bool portConnected,
                                bool answering, const QString& missReason) {
    if (current == m_current)
        return {};
    m_current = current;
    if (current) {
        const bool first = !m_answersSeen;
        m_answersSeen = true;
        return stampedLine(at, first ? QStringLiteral("answers from the controller")
                                     : QStringLiteral("answers back"));
    }
    if (!portConnected)
        return {};
    if (answering)
        return stampedLine(
            at, QStringLiteral("the controller answers without a measurement; values stale"));
    if (missReason != QLatin1String("no answer"))
        return stampedLine(at, missReason + QStringLiteral(" for 3 polls; values stale"));
    return stampedLine(at,
                       QStringLiteral("no answer from the controller for 3 polls; values stale"));
}

QString StateLog::recordingIn(const QDateTime& at, const QString& fileName) {
    return stampedLine(at, QStringLiteral("recording in ") + fileName);
}

QString StateLog::busRound(const QDateTime& at, qint64 roundMs, int answering, int intervalMs) {
    const QString words = m_roundPace.take(roundMs, answering, intervalMs);
    return words.isEmpty() ? QString() : stampedLine(at, words);
}

QString StateLog::recordWritten(const QDateTime& at, bool ok, const QString& fileName) {
    if (ok == !m_recordFailing)
        return {};
    m_recordFailing = !ok;
    return stampedLine(at, ok ? QStringLiteral("record written again in ") + fileName
                              : QStringLiteral("record error in ") + fileName +
                                    QStringLiteral("; trying again at the next record"));
}

} // namespace tkrecord
