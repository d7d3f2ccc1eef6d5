#pragma once

// The poll of the controller: a request at every tick of the poll timer while
// the port is connected, the answer checked whole, decoded into Data::measureRaw, setpointRaw and
// powerRaw, and each step told as a LinkStatus. A request gets
// answerTimeoutMs for its answer. Values that have stopped coming are not
// passed off as current: after staleAfterPolls polls in a row without a valid
// answer, or at once without a port, Data goes back to the no-data values of
// start-up. An answer with the controller's no-measurement word keeps the
// link up but its values are not current. Who opens the port again is the
// session's choice. The request is an exchange of the line owner like any
// other: its receive step judges the bytes, and what it holds is shown in
// Data::rxBuffer and Data::rxCount.

#include "LineOwner.h"
#include "LinkStatus.h"
#include "PollResult.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>

namespace tklink {

class PollCycle : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    // Interval of the poll timer from the first tick with a connected port on.
    static constexpr int pollIntervalMs = 2000;
    // Time a request gets for its answer: 8 + 11 bytes take about 20 ms at
    // 9600 bit/s, and half the poll period is left for what comes late.
    static constexpr int answerTimeoutMs = 1000;
    // Polls in a row without a valid answer after which the values are stale.
    static constexpr int staleAfterPolls = 3;

    PollCycle(LineOwner& line, QTimer& pollTimer, Clock now, QObject* parent = nullptr);

    // The tick of the poll timer.
    void tick();
    // The end of the time for an answer; connected to the single-shot timer
    // child "timerAnswerTimeout" already.
    void answerTimedOut();
    // The port was opened or closed from outside: without one the values are
    // stale at once.
    void portChanged();

    // The values in Data came from a recent valid answer with a measurement.
    bool valuesCurrent() const { return m_valuesCurrent; }
    // Valid answers come, with or without a measurement.
    bool answering() const { return m_answering; }

Q_SIGNALS:
    // Each step of a poll as the status line tells it: the request sent, then
    // its answer, exception, bad bytes (at most once) or the lack of an answer;
    // or a tick without a port.
    void status(const tklink::LinkStatus& status);
    // Once per poll, when its outcome is known: a valid answer or an exception
    // at once, the time-out (NoAnswer, or BadAnswer when bytes came that made
    // no valid frame), or a tick without a connected port (NotConnected). A
    // valid answer after the time-out is still taken, without a second call.
    void pollEnded(tklink::PollResult result);
    // The values in Data became current (a valid answer after stale ones) or
    // stale, when Data went back to the no-data values (also from answers
    // without a measurement, which were not current). Emitted on changes
    // only.
    void valuesCurrentChanged(bool current);
    // Every valid answer taken into Data, a late one included.
    void answered();

private:
    void onSent(int id);
    void onEnded(const tklink::ExchangeEnd& end);
    void onLate(const tklink::ExchangeEnd& end);
    void showHeld(const QByteArray& held);
    void takeAnswer(const QByteArray& frame);
    void onAnswer();
    void onException(int code);
    void onBadBytes();
    void onDeviceLost();
    // Ends the poll waiting for its answer, if any, without a status text.
    void endPoll(PollResult result);
    void countMissedPoll();
    void makeStale();
    void tell(LinkStatus::Kind kind, int exceptionCode = 0);

    LineOwner& m_line;
    QTimer& m_pollTimer;
    Clock m_now;
    QTimer m_answerTimer;
    // This poll's exchange, and the last one, whose late answer still counts.
    int m_exchange = 0;
    int m_lastExchange = 0;
    // The line's held bytes are this cycle's to show: its request went last,
    // or none went out yet.
    bool m_showsHeld = true;
    // A tick ends the poll before it: no status text for that end.
    bool m_quietEnd = false;
    // A request is out and its outcome not yet known.
    bool m_pollPending = false;
    // This request's bad bytes were told already.
    bool m_badTold = false;
    int m_missedPolls = 0;
    // Start-up's no-data values are not current.
    bool m_valuesCurrent = false;
    bool m_answering = false;
};

} // namespace tklink
