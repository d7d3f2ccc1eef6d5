#pragma once

// Several controllers on one RS-485 line, asked in turn at their own slave
// addresses: each poll is an exchange in the line owner's queue, which keeps
// one request on the line at a time, judges each answer against the request
// it answers and keeps the silence between frames. Each controller's values, status and poll counts
// go to its own Controller object, never to the program-wide variables. An answer that comes after
// its time-out belongs to no request and is dropped: on a bus it may arrive while another
// controller is being asked.
//
// The one controller of a file without [Controllers] is a bus of one that
// keeps the poll it always had (setPaced): asked at each tick of the poll
// timer, not on the bus's schedule; pollAnswerTimeoutMs for its answer on the
// timer "timerAnswerTimeout"; no back-off; its request written by sendRequest
// and the bytes held shown in Data::rxBuffer and Data::rxCount; and a late
// answer to its last request still taken, since nobody else is asked.

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

#include "BusRound.h"
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

    // The poll timer's interval from its first tick with a connected port
    // on, for the bus of one.
    static constexpr int pollIntervalMs = 2000;
    // Time the bus of one gives a request for its answer: 8 + 11 bytes take
    // about 20 ms at 9600 bit/s, and half the poll period is left for what
    // comes late.
    static constexpr int pollAnswerTimeoutMs = 1000;

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

    // The line's time the last round of the answering controllers took
    // (BusRound); none before the first round ends, nor on a paced bus.
    std::optional<qint64> lastRoundMs() const { return m_lastRoundMs; }

    // Asked at each tick() instead of on the bus's own schedule; only while
    // stopped.
    void setPaced(bool paced);
    bool paced() const { return m_paced; }
    // A tick of the poll timer for a paced bus: the poll still waiting for its
    // answer ends without a word, then the first controller is asked, or told
    // that there is no port.
    void tick();
    // The end of the paced poll's time for an answer; connected to the
    // single-shot timer child "timerAnswerTimeout" already.
    void answerTimedOut();

Q_SIGNALS:
    // A round of the answering controllers ended, each asked once; lineMs as
    // lastRoundMs(), answering how many they were at its end.
    void roundEnded(qint64 lineMs, int answering);

private:
    void sendNext();
    void onSent(int id);
    void onEnded(const tklink::ExchangeEnd& end);
    void onDeviceLost();
    void onLate(const tklink::ExchangeEnd& end);
    void showHeld(const QByteArray& held);
    // A valid answer of the controller asked (or, paced, a late one).
    void takeAnswer(Controller& asked, const QByteArray& frame);
    // Ends the exchange under way and schedules the next.
    void finishExchange(PollResult result, int exceptionCode = 0, bool foreign = false);
    void scheduleNext();
    // The exchange of controller held the line lineMs.
    void countRound(int controller, qint64 lineMs, bool answered);
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
    BusRound m_round;
    std::optional<qint64> m_lastRoundMs;
    // The silence and the extra gap after each exchange, whole milliseconds.
    qint64 m_gapMs = 0;
    // When the request under way went out.
    qint64 m_sentMs = 0;
    bool m_running = false;
    // The controller being asked (its poll queued or on the line), or -1.
    int m_asking = -1;
    int m_exchange = 0;
    // Bytes came for this request that made no valid frame.
    bool m_badSeen = false;
    bool m_paced = false;
    QTimer m_answerTimer;
    // Paced: the last poll's exchange, whose late answer still counts.
    int m_lastExchange = 0;
    // Paced: the line's held bytes are this poll's to show (its request went
    // last, or none went out yet).
    bool m_showsHeld = true;
    // A tick ends the poll before it: no status text for that end.
    bool m_quietEnd = false;
};

} // namespace tklink
