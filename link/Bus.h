#pragma once

// Several controllers on one RS-485 line, asked in turn at their own slave
// addresses: each poll is an exchange in the line owner's queue, which keeps
// one request on the line at a time, judges each answer against the request
// it answers and keeps the silence between frames. Each controller's values, status and poll counts go
// to its own Controller object, never to the program-wide variables. An
// answer that comes after its time-out belongs to no request and is dropped:
// on a bus it may arrive while another controller is being asked.

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

#include "BusSchedule.h"
#include "Controller.h"
#include "LineOwner.h"

namespace tklink {

class Bus : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    // Milliseconds of a clock that never goes back, for the schedule.
    using Monotonic = std::function<qint64()>;

    Bus(LineOwner& line, Clock now, QObject* parent = nullptr);

    // Replaces the controllers; only while stopped.
    void setControllers(const QList<ControllerId>& ids);
    const QList<Controller*>& controllers() const { return m_controllers; }
    void setTiming(const BusTiming& timing) { m_timing = timing; }
    const BusTiming& timing() const { return m_timing; }
    void setMonotonic(Monotonic monotonic) { m_monotonic = std::move(monotonic); }

    // Polls while Data::portConnected: every controller at once, one after
    // the other, then each on its own schedule.
    void start();
    void stop();
    bool running() const { return m_running; }
    // The port was opened or closed from outside: without one, every
    // controller is stale at once; with one, polling goes on.
    void portChanged();
    // The session's tick found no port: each controller is told so.
    void tellNotConnected();

private:
    void sendNext();
    void onSent(int id);
    void onEnded(const tklink::ExchangeEnd& end);
    void onDeviceLost();
    // Ends the exchange under way and schedules the next.
    void finishExchange(PollResult result);
    void scheduleNext();
    qint64 monotonicNow() const { return m_monotonic(); }
    bool lineIdle() const;
    void tell(Controller& controller, LinkStatus::Kind kind, int exceptionCode = 0);

    LineOwner& m_line;
    Clock m_now;
    Monotonic m_monotonic;
    QElapsedTimer m_elapsed;
    BusTiming m_timing;
    QList<Controller*> m_controllers;
    // Made at start(), for the controllers and the speed then.
    std::optional<BusSchedule> m_schedule;
    QTimer m_sendTimer;
    bool m_running = false;
    // The controller being asked (its poll queued or on the line), or -1.
    int m_asking = -1;
    int m_exchange = 0;
    // Bytes came for this request that made no valid frame.
    bool m_badSeen = false;
};

} // namespace tklink
