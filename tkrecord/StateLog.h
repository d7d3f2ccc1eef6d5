#pragma once

// What tkrecord prints: one line per change of state, each with its date and
// time, never one per poll. Each call is told what just happened and returns
// the line to print, or an empty text when nothing changed.

#include <QDateTime>
#include <QString>

#include "BusRound.h"
#include "GatewayLine.h"

namespace tkrecord {

// "yyyy-MM-dd HH:mm:ss text", local time.
QString stampedLine(const QDateTime& at, const QString& text);

class StateLog {
public:
    QString portOpened(const QDateTime& at, const QString& device, const QString& speed);
    // The same reason again (the adapter still absent) says nothing.
    QString portNotOpened(const QDateTime& at, const QString& device, const QString& reason);
    QString portLost(const QDateTime& at, const QString& reason);
    // The gateway's connection: "gateway tcp://gw:502 connecting", "...
    // connected", "... not connected (reason); trying again in 2 s". Another
    // failed attempt for the same reason says nothing, nor its connecting.
    QString gatewayState(const QDateTime& at, const QString& address,
                         tklink::GatewayLine::State state, const QString& reason, int retryInMs);
    // The values became current or stale. Stale because the port is gone is
    // said by the port's own line; answering says the controller still
    // answers, with its no-measurement word.
    // missReason: what the missed polls brought, as Controller::missReason
    // says it.
    QString valuesCurrent(const QDateTime& at, bool current, bool portConnected,
                          bool answering = false,
                          const QString& missReason = QStringLiteral("no answer"));
    // A round of the bus's answering controllers took roundMs of the line:
    // said as tklink::RoundPace says it, on changes only.
    QString busRound(const QDateTime& at, qint64 roundMs, int answering, int intervalMs);
    static QString recordingIn(const QDateTime& at, const QString& fileName);
    QString recordWritten(const QDateTime& at, bool ok, const QString& fileName);

private:
    enum class Port { Unknown, Open, NotOpened, Lost };
    Port m_port = Port::Unknown;
    QString m_notOpenedReason;
    // Whether answers were current, and whether that was said yet.
    bool m_current = false;
    bool m_answersSeen = false;
    bool m_recordFailing = false;
    tklink::RoundPace m_roundPace;
    tklink::GatewayLine::State m_gateway = tklink::GatewayLine::State::NotConnected;
    QString m_gatewayReason;
    // Failed attempts are being repeated for the same reason: not told.
    bool m_gatewayQuiet = false;
};

} // namespace tkrecord
