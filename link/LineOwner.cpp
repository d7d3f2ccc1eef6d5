#include "LineOwner.h"

#include "LineDevice.h"
#include "LinkLog.h"

#include <algorithm>
#include <utility>

namespace tklink {

LineOwner::LineOwner(LineDevice& device, QObject* parent)
    : QObject(parent), m_device(device), m_sendTimer(this), m_answerTimer(this) {
    qRegisterMetaType<tklink::ExchangeEnd>();
    m_elapsed.start();
    m_monotonic = [this] { return m_elapsed.elapsed(); };
    m_sendTimer.setObjectName(QStringLiteral("timerLineSend"));
    m_answerTimer.setObjectName(QStringLiteral("timerLineAnswer"));
    // The silence between frames is a couple of milliseconds: a coarse timer
    // could add 5 % of a 2 s wait.
    m_sendTimer.setTimerType(Qt::PreciseTimer);
    m_answerTimer.setTimerType(Qt::PreciseTimer);
    m_sendTimer.setSingleShot(true);
    m_answerTimer.setSingleShot(true);
    connect(&m_sendTimer, &QTimer::timeout, this, &LineOwner::sendNext);
    connect(&m_answerTimer, &QTimer::timeout, this, &LineOwner::answerTimedOut);
    connect(&m_device, &LineDevice::bytesArrived, this, &LineOwner::receive);
    connect(&m_device, &LineDevice::lost, this, &LineOwner::onLost);
}

qint64 LineOwner::gapMs() const {
    // Whole milliseconds, rounded up: 4011 µs at 9600 bit/s waits 5 ms.
    return (m_device.interFrameSilenceUs() + 999) / 1000 + m_extraGapMs;
}

void LineOwner::setFirstRequest(const QByteArray& request, Reply reply) {
    if (m_lastId != 0)
        return;
    m_request = request;
    m_reply = reply;
}

int LineOwner::enqueue(Exchange exchange) {
    const int id = m_nextId++;
    if (m_nextId <= 0)
        m_nextId = 1;
    m_queue.push_back({id, std::move(exchange)});
    startWhenFree();
    return id;
}

bool LineOwner::withdraw(int id) {
    const auto it =
        std::find_if(m_queue.begin(), m_queue.end(), [id](const Queued& q) { return q.id == id; });
    if (it == m_queue.end())
        return false;
    m_queue.erase(it);
    return true;
}

bool LineOwner::waiting(int id) const {
    return std::any_of(m_queue.begin(), m_queue.end(),
                       [id](const Queued& q) { return q.id == id; });
}

void LineOwner::expire(int id) {
    if (id != 0 && id == m_onLine)
        answerTimedOut();
}

void LineOwner::startWhenFree() {
    if (m_onLine != 0 || m_queue.empty())
        return;
    // Never from inside enqueue() or a client's signal handler: the client
    // knows its exchange's id before the exchange is heard of.
    if (!m_sendTimer.isActive())
        m_sendTimer.start(int(std::max<qint64>(0, m_lineFreeMs - m_monotonic())));
}

void LineOwner::sendIfFree() {
    if (m_onLine == 0 && !m_queue.empty() && m_lineFreeMs - m_monotonic() <= 0) {
        m_sendTimer.stop();
        sendNext();
    }
}

void LineOwner::sendNext() {
    if (m_onLine != 0 || m_queue.empty())
        return;
    const qint64 wait = m_lineFreeMs - m_monotonic();
    if (wait > 0) {
        m_sendTimer.start(int(wait));
        return;
    }
    m_current = std::move(m_queue.front());
    m_queue.pop_front();
    m_onLine = m_current.id;
    m_lastId = m_current.id;
    m_request = m_current.exchange.request;
    m_reply = m_current.exchange.reply;
    m_lateWelcome = false;
    m_badSeen = false;
    m_foreignSeen = false;
    m_held.clear();
    if (!m_device.isOpen()) {
        // The device went away with exchanges waiting: each ends as lost.
        end(ExchangeEnd::Kind::Lost);
        return;
    }
    Q_EMIT heldChanged(m_held);
    if (m_current.exchange.answerTimeoutMs > 0)
        m_answerTimer.start(m_current.exchange.answerTimeoutMs);
    const int id = m_onLine;
    Q_EMIT sent(id);
    if (m_onLine != id)
        return;
    qCDebug(lcLinkFrames) << "tx" << m_request.toHex(' ');
    if (m_current.exchange.send) {
        m_current.exchange.send(m_device);
    } else {
        m_device.discardPending();
        m_device.write(m_request);
    }
}

void LineOwner::receive() {
    m_held += m_device.takeReceived();
    judge();
    Q_EMIT heldChanged(m_held);
}

void LineOwner::judge() {
    while (!m_held.isEmpty()) {
        const HeldVerdict verdict = judgeHeld(byteSpan(m_held), byteSpan(m_request), m_reply);
        using Kind = HeldVerdict::Kind;
        if (verdict.kind == Kind::NeedMore)
            return;
        const QByteArray frame = m_held.first(std::min<qsizetype>(verdict.length, m_held.size()));
        m_held.remove(0, frame.size());
        switch (verdict.kind) {
        case Kind::NeedMore:
        case Kind::Echo:
            break;
        case Kind::Answer:
        case Kind::Exception: {
            const auto kind = verdict.kind == Kind::Answer ? ExchangeEnd::Kind::Answer
                                                           : ExchangeEnd::Kind::Exception;
            qCDebug(lcLinkFrames) << "rx" << frame.toHex(' ');
            if (m_onLine != 0) {
                end(kind, frame, verdict.code);
            } else if (m_lateWelcome) {
                // Only the first answer to a request counts, a late one too.
                m_lateWelcome = false;
                Q_EMIT late({m_lastId, kind, frame, verdict.code, m_foreignSeen});
            }
            break;
        }
        case Kind::Foreign:
        case Kind::Drop:
            // Another slave's answer, noise or a broken frame: told once per
            // exchange, never taken. Bytes after the end cost nothing.
            if (m_onLine == 0)
                break;
            m_foreignSeen = m_foreignSeen || verdict.kind == Kind::Foreign;
            if (!m_badSeen) {
                m_badSeen = true;
                qCDebug(lcLinkFrames) << "bad head" << (frame + m_held).toHex(' ');
                Q_EMIT badBytes(m_onLine);
            }
            break;
        }
    }
}

void LineOwner::answerTimedOut() {
    m_answerTimer.stop();
    if (m_onLine == 0)
        return;
    // Bytes held that never made a frame (a truncated answer) are a bad
    // answer too.
    const bool bytesCame = m_badSeen || !m_held.isEmpty();
    m_held.clear();
    m_lateWelcome = true;
    Q_EMIT heldChanged(m_held);
    end(bytesCame ? ExchangeEnd::Kind::BadAnswer : ExchangeEnd::Kind::NoAnswer);
}

void LineOwner::onLost() {
    m_held.clear();
    m_sendTimer.stop();
    if (m_onLine != 0)
        end(ExchangeEnd::Kind::Lost);
    // What waited was meant for a line that is gone.
    while (!m_queue.empty() && m_onLine == 0) {
        m_current = std::move(m_queue.front());
        m_queue.pop_front();
        m_onLine = m_current.id;
        end(ExchangeEnd::Kind::Lost);
    }
}

void LineOwner::end(ExchangeEnd::Kind kind, const QByteArray& frame, uint8_t code) {
    const int id = std::exchange(m_onLine, 0);
    m_answerTimer.stop();
    // The line went quiet now, whatever the signal below starts.
    m_lineFreeMs = m_monotonic() + gapMs();
    Q_EMIT ended({id, kind, frame, code, m_foreignSeen});
    startWhenFree();
}

} // namespace tklink
