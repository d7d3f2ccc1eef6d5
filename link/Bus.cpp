#include "Bus.h"

#include "AnswerFrame.h"
#include "Data.h"
#include "LinkLog.h"
#include "SerialPortControl.h"

#include <algorithm>
#include <span>

namespace tklink {

Bus::Bus(SerialPortControl& port, Clock now, QObject* parent)
    : QObject(parent), m_port(port), m_now(std::move(now)), m_sendTimer(this), m_answerTimer(this) {
    m_elapsed.start();
    m_monotonic = [this] { return m_elapsed.elapsed(); };
    m_sendTimer.setObjectName(QStringLiteral("timerBusSend"));
    m_answerTimer.setObjectName(QStringLiteral("timerBusAnswer"));
    // The silence between frames is a couple of milliseconds: a coarse timer
    // could add 5 % of a 2 s wait.
    m_sendTimer.setTimerType(Qt::PreciseTimer);
    m_answerTimer.setTimerType(Qt::PreciseTimer);
    m_sendTimer.setSingleShot(true);
    m_answerTimer.setSingleShot(true);
    connect(&m_sendTimer, &QTimer::timeout, this, &Bus::sendNext);
    connect(&m_answerTimer, &QTimer::timeout, this, &Bus::answerTimedOut);
    connect(&m_port, &SerialPortControl::comm, this, &Bus::receive);
    connect(&m_port, &SerialPortControl::deviceLost, this, &Bus::onDeviceLost);
}

void Bus::setControllers(const QList<ControllerId>& ids) {
    if (m_running)
        return;
    qDeleteAll(m_controllers);
    m_controllers.clear();
    for (const ControllerId& id : ids)
        m_controllers.append(new Controller(id, this));
}

void Bus::start() {
    m_running = true;
    m_schedule.emplace(int(m_controllers.size()), m_timing, Data::comPortSpeed.toInt());
    m_schedule->start(monotonicNow());
    scheduleNext();
}

void Bus::stop() {
    m_running = false;
    m_sendTimer.stop();
    m_answerTimer.stop();
    m_asking = -1;
    m_lineTaken = false;
    m_held.clear();
}

void Bus::portChanged() {
    if (Data::portConnected) {
        scheduleNext();
        return;
    }
    onDeviceLost();
}

void Bus::tellNotConnected() {
    for (Controller* controller : std::as_const(m_controllers)) {
        controller->tellStatus({LinkStatus::Kind::NotConnected, {}, 0});
        controller->makeStale();
        controller->endPoll(PollResult::NotConnected);
    }
}

void Bus::lineReleased() {
    m_lineTaken = false;
    if (m_schedule)
        m_schedule->lineUsedUntil(monotonicNow());
    scheduleNext();
}

void Bus::onDeviceLost() {
    Data::portConnected = false;
    m_sendTimer.stop();
    m_answerTimer.stop();
    m_held.clear();
    if (m_asking >= 0) {
        Controller& asked = *m_controllers[m_asking];
        m_asking = -1;
        asked.endPoll(PollResult::NotConnected);
    }
    for (Controller* controller : std::as_const(m_controllers))
        controller->makeStale();
}

bool Bus::lineIdle() const {
    return m_running && m_schedule && Data::portConnected && m_asking < 0 && !m_lineTaken &&
           !m_controllers.isEmpty();
}

void Bus::scheduleNext() {
    if (!lineIdle())
        return;
    const qint64 at = m_schedule->next().atMs;
    m_sendTimer.start(int(std::max<qint64>(0, at - monotonicNow())));
}

void Bus::sendNext() {
    if (!lineIdle())
        return;
    const qint64 now = monotonicNow();
    const BusSchedule::Next next = m_schedule->next();
    if (next.atMs > now) {
        scheduleNext();
        return;
    }
    // Between two polls: the place of a one-off exchange.
    if (m_lineTaker && m_lineTaker()) {
        m_lineTaken = true;
        return;
    }
    m_asking = next.controller;
    m_schedule->sent(next.controller, now);
    Controller& asked = *m_controllers[next.controller];
    const auto frame = pollRequestFrame(asked.address());
    m_request = QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size()));
    m_held.clear();
    m_badSeen = false;
    // What is left of an earlier exchange answers nothing now.
    m_port.clearInBuffer();
    m_port.clearOutBuffer();
    tell(asked, LinkStatus::Kind::RequestSent);
    m_answerTimer.start(m_timing.answerTimeoutMs);
    qCDebug(lcLinkFrames) << "tx" << m_request.toHex(' ');
    m_port.output(m_request);
}

void Bus::receive() {
    // The bytes of a one-off exchange are its own to read.
    if (m_port.commEvent() != SerialPortControl::comEvReceive || m_lineTaken)
        return;
    m_port.setInputLen(0);
    const QByteArray bytes = m_port.input();
    if (m_asking < 0)
        return;
    m_held += bytes;
    takeFramesAtHead();
}

void Bus::takeFramesAtHead() {
    while (m_asking >= 0 && !m_held.isEmpty()) {
        Controller& asked = *m_controllers[m_asking];
        const std::span<const uint8_t> held(reinterpret_cast<const uint8_t*>(m_held.constData()),
                                            std::size_t(m_held.size()));
        const std::span<const uint8_t> request(
            reinterpret_cast<const uint8_t*>(m_request.constData()), std::size_t(m_request.size()));
        const EchoHead echo = checkEcho(held, request);
        if (echo == EchoHead::Partial)
            return;
        if (echo == EchoHead::Whole) {
            m_held.remove(0, m_request.size());
            continue;
        }
        switch (checkHead(held, asked.address())) {
        case FrameHead::NeedMore:
            return;
        case FrameHead::Answer: {
            const AnswerValues values = *decodeAnswer(held, asked.address());
            qCDebug(lcLinkFrames) << "rx" << m_held.first(answerLength).toHex(' ');
            asked.takeAnswer({float(values.measure), float(values.setpoint), float(values.power)},
                             m_now());
            tell(asked, LinkStatus::Kind::DataReceived);
            finishExchange(PollResult::Ok);
            return;
        }
        case FrameHead::Exception: {
            tell(asked, LinkStatus::Kind::Exception, *exceptionCode(held, asked.address()));
            finishExchange(PollResult::Exception);
            return;
        }
        case FrameHead::Bad:
            // Another slave's answer, noise or a broken frame: dropped byte by
            // byte, told once per request, never taken.
            if (!m_badSeen) {
                m_badSeen = true;
                qCDebug(lcLinkFrames) << "bad head" << m_held.toHex(' ');
                tell(asked, LinkStatus::Kind::BadAnswer);
            }
            m_held.remove(0, 1);
            break;
        }
    }
}

void Bus::answerTimedOut() {
    if (m_asking < 0)
        return;
    // Bytes held that never made a frame (a truncated answer) are a bad
    // answer too; bad bytes told already are not told twice.
    const bool bytesCame = m_badSeen || !m_held.isEmpty();
    if (!bytesCame)
        tell(*m_controllers[m_asking], LinkStatus::Kind::NoAnswer);
    else if (!m_badSeen)
        tell(*m_controllers[m_asking], LinkStatus::Kind::BadAnswer);
    finishExchange(bytesCame ? PollResult::BadAnswer : PollResult::NoAnswer);
}

void Bus::finishExchange(PollResult result) {
    const int asking = m_asking;
    Controller& asked = *m_controllers[asking];
    m_asking = -1;
    m_answerTimer.stop();
    m_held.clear();
    // The line went quiet now, whatever the signals below take.
    const qint64 endedMs = monotonicNow();
    asked.endPoll(result);
    if (result == PollResult::Ok)
        asked.confirmAnswer();
    else
        asked.missedPoll();
    m_schedule->ended(asking, endedMs, asked.missedPolls());
    scheduleNext();
}

void Bus::tell(Controller& controller, LinkStatus::Kind kind, int exceptionCode) {
    controller.tellStatus({kind, m_now().time(), exceptionCode});
}

} // namespace tklink
