#pragma once

// The poll of the controller: a request at every tick of the poll timer while
// the port is connected, the answer collected byte by byte from the receive
// event, checked whole, decoded into Data::measureRaw, setpointRaw and
// powerRaw, and reported as read-out and status texts. A port lost while
// polling (adapter pulled) is reopened at the following ticks.

#include "AnswerCollector.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>

class QTimer;

namespace tklink {

class SerialPortControl;

class PollCycle : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    // Interval of the poll timer from the first tick with a connected port on.
    static constexpr int pollIntervalMs = 2000;

    PollCycle(SerialPortControl& port, QTimer& pollTimer, Clock now, QObject* parent = nullptr);

    // The tick of the poll timer.
    void tick();
    // The port's receive event; connected to the port's comm() already.
    void receive();
    // The operator (start-up or the Parameters dialog) opened a port: whatever
    // the outcome, the port is theirs again and a lost one is not reopened.
    void portReopenedByUser();

Q_SIGNALS:
    void statusText(const QString& text);
    // Measured temperature and setpoint in degrees, as the read-outs show them.
    void readouts(const QString& measured, const QString& setpoint);

private:
    void onDeviceLost();
    QString stamped(const QString& text) const;

    SerialPortControl& m_port;
    QTimer& m_pollTimer;
    Clock m_now;
    AnswerCollector m_collector;
    // The port went away while polling; reopen it at each tick until it opens.
    bool m_reopenAfterLoss = false;
};

} // namespace tklink
