#pragma once

// The owner of the line: the only reader of the device, with one queue of
// exchanges (a poll, a setpoint write). One exchange is on the line at a
// time; the bytes that come are judged against its request by the one
// receive step (judgeHeld), and the Modbus silence plus the extra gap is
// kept between the end of one exchange and the next request, whoever asked
// for it. Clients queue an exchange and hear of it by its id: sent, bad
// bytes (once), ended.

#include <QByteArray>
#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>

#include "ReceiveStep.h"

namespace tklink {

class LineDevice;

struct Exchange {
    // The whole frame, CRC included.
    QByteArray request;
    Reply reply = Reply::Registers;
    // Time for the answer from the request's write; 0: the client ends the
    // wait itself with expire().
    int answerTimeoutMs = 1000;
    // Writes the request instead of a plain discard-and-write, for a client
    // that keeps its frame elsewhere (the single controller's sendRequest).
    std::function<void(LineDevice&)> send;
};

struct ExchangeEnd {
    enum class Kind {
        Answer,    // frame holds the answer, checked whole
        Exception, // code holds the slave's exception code
        NoAnswer,  // nothing came in time
        BadAnswer, // bytes came in time that made no answer
        Lost,      // the device went away before the exchange ended
    };
    int id = 0;
    Kind kind = Kind::NoAnswer;
    QByteArray frame;
    uint8_t code = 0;
    // Valid frames of another address came while this exchange waited.
    bool foreign = false;
};

class LineOwner : public QObject {
    Q_OBJECT

public:
    using Monotonic = std::function<qint64()>;

    explicit LineOwner(LineDevice& device, QObject* parent = nullptr);

    LineDevice& device() { return m_device; }
    // Added to the medium's silence between two frames, for slow converters.
    void setExtraGapMs(int ms) { m_extraGapMs = ms; }
    // Milliseconds of a clock that never goes back; a test's own clock.
    void setMonotonic(Monotonic monotonic) { m_monotonic = std::move(monotonic); }

    // Before the first request goes out, bytes are judged against this one
    // (the poll that will come), so that the start of an answer is held.
    void setFirstRequest(const QByteArray& request, Reply reply);
    // Queues the exchange behind those waiting; its id, never 0.
    int enqueue(Exchange exchange);
    // Sends the first waiting exchange now, from the caller's own handler,
    // when the line is free and its silence kept; otherwise it goes out when
    // the line is free, as every queued exchange does.
    void sendIfFree();
    // Takes a waiting exchange out of the queue; true when it was waiting.
    bool withdraw(int id);
    // Ends the exchange on the line now, as its time-out would.
    void expire(int id);
    // The exchange on the line, 0 when none.
    int onLine() const { return m_onLine; }
    bool waiting(int id) const;
    // When the line is free for the next request, on the monotonic clock.
    qint64 lineFreeMs() const { return m_lineFreeMs; }

Q_SIGNALS:
    // The request went out.
    void sent(int id);
    // Bytes came that make no frame for the exchange on the line; once per
    // exchange, and only before it ended.
    void badBytes(int id);
    void ended(const tklink::ExchangeEnd& end);
    // A valid answer or exception to the last exchange after its time-out
    // and before the next request: a slow slave, not a wrong one.
    void late(const tklink::ExchangeEnd& end);
    // The bytes held after a receive, a request or an end: what a client
    // that shows its receive buffer shows.
    void heldChanged(const QByteArray& held);

private:
    void sendNext();
    void startWhenFree();
    void receive();
    void judge();
    void answerTimedOut();
    void onLost();
    void end(ExchangeEnd::Kind kind, const QByteArray& frame = {}, uint8_t code = 0);
    qint64 gapMs() const;

    struct Queued {
        int id = 0;
        Exchange exchange;
    };

    LineDevice& m_device;
    Monotonic m_monotonic;
    QElapsedTimer m_elapsed;
    QTimer m_sendTimer;
    QTimer m_answerTimer;
    std::deque<Queued> m_queue;
    Queued m_current;
    int m_onLine = 0;
    int m_nextId = 1;
    int m_extraGapMs = 0;
    qint64 m_lineFreeMs = 0;
    QByteArray m_held;
    // The request judged against: the one on the line, or the last one
    // until the next goes out, so that a late answer is still known.
    QByteArray m_request;
    Reply m_reply = Reply::Registers;
    int m_lastId = 0;
    // The last exchange ended without its answer: a late one may still come.
    bool m_lateWelcome = false;
    bool m_badSeen = false;
    bool m_foreignSeen = false;
};

} // namespace tklink

Q_DECLARE_METATYPE(tklink::ExchangeEnd)
