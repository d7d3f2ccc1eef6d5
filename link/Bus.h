#pragma once

// Several controllers on one RS-485 line, asked in turn at their own slave
// addresses: one request on the line at a time, each answer checked whole
// against the request it answers (address, function, byte count, CRC), the
// Modbus silence plus a settable extra gap between the end of one exchange
// and the next request. Each controller's values, status and poll counts go
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

namespace tklink {

class SerialPortControl;

class Bus : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    // Milliseconds of a clock that never goes back, for the schedule.
    using Monotonic = std::function<qint64()>;
    // A one-off exchange waiting for the line (a setpoint write): given the
    // line between two polls, it returns true when it took it, and then
    // calls lineReleased() when its exchange is over.
    using LineTaker = std::function<bool()>;

    Bus(SerialPortControl& port, Clock now, QObject* parent = nullptr);

    // Replaces the controllers; only while stopped.
    void setControllers(const QList<ControllerId>& ids);
    const QList<Controller*>& controllers() const { return m_controllers; }
    void setTiming(const BusTiming& timing) { m_timing = timing; }
    const BusTiming& timing() const { return m_timing; }
    void setMonotonic(Monotonic monotonic) { m_monotonic = std::move(monotonic); }
    void setLineTaker(LineTaker taker) { m_lineTaker = std::move(taker); }

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
    // A one-off exchange that took the line is over.
    void lineReleased();

private:
    void sendNext();
    void receive();
    void answerTimedOut();
    void onDeviceLost();
    void takeFramesAtHead();
    // Ends the exchange under way and schedules the next.
    void finishExchange(PollResult result);
    void scheduleNext();
    qint64 monotonicNow() const { return m_monotonic(); }
    bool lineIdle() const;
    void tell(Controller& controller, LinkStatus::Kind kind, int exceptionCode = 0);

    SerialPortControl& m_port;
    Clock m_now;
    Monotonic m_monotonic;
    LineTaker m_lineTaker;
    QElapsedTimer m_elapsed;
    BusTiming m_timing;
    QList<Controller*> m_controllers;
    // Made at start(), for the controllers and the speed then.
    std::optional<BusSchedule> m_schedule;
    QTimer m_sendTimer;
    QTimer m_answerTimer;
    bool m_running = false;
    // The controller being asked, or -1 while the line is idle.
    int m_asking = -1;
    // A one-off exchange holds the line.
    bool m_lineTaken = false;
    QByteArray m_request;
    QByteArray m_held;
    // Bytes came for this request that made no valid frame.
    bool m_badSeen = false;
};

} // namespace tklink
