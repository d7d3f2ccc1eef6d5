#include "Bus.h"

#include "AnswerFrame.h"
#include "Data.h"
#include "LinkLog.h"
#include "LineDevice.h"
#include "ReceiveStep.h"

#include <algorithm>
#include <span>

namespace tklink {

Bus::Bus(LineOwner& line, Clock now, QObject* parent)
    : QObject(parent), m_line(line), m_now(std::move(now)), m_sendTimer(this) {
    m_elapsed.start();
    m_monotonic = [this] { return m_elapsed.elapsed(); };
    m_sendTimer.setObjectName(QStringLiteral("timerBusSend"));
    // A coarse timer could add 5 % of a 2 s wait.
    m_sendTimer.setTimerType(Qt::PreciseTimer);
    m_sendTimer.setSingleShot(true);
    connect(&m_sendTimer, &QTimer::timeout, this, &Bus::sendNext);
    connect(&m_line, &LineOwner::sent, this, &Bus::onSent);
    connect(&m_line, &LineOwner::ended, this, &Bus::onEnded);
    connect(&m_line, &LineOwner::badBytes, this, [this](int id) {
        // Another slave's answer, noise or a broken frame: told once per
        // request, never taken.
        if (id == 0 || id != m_exchange || m_asking < 0 || m_badSeen)
            return;
        m_badSeen = true;
        tell(*m_controllers[m_asking], LinkStatus::Kind::BadAnswer);
    });
    connect(&m_line.device(), &LineDevice::lost, this, &Bus::onDeviceLost);
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
    if (m_asking >= 0 && !m_line.withdraw(m_exchange))
        m_line.expire(m_exchange);
    m_asking = -1;
    m_exchange = 0;
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

void Bus::onDeviceLost() {
    Data::portConnected = false;
    m_sendTimer.stop();
    if (m_asking >= 0) {
        Controller& asked = *m_controllers[m_asking];
        m_line.withdraw(m_exchange);
        m_asking = -1;
        m_exchange = 0;
        asked.endPoll(PollResult::NotConnected);
    }
    for (Controller* controller : std::as_const(m_controllers))
        controller->makeStale();
}

bool Bus::lineIdle() const {
    return m_running && m_schedule && Data::portConnected && m_asking < 0 &&
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
    m_asking = next.controller;
    m_badSeen = false;
    const auto frame = pollRequestFrame(m_controllers[next.controller]->address());
    m_exchange = m_line.enqueue(
        {QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size())),
         Reply::Registers, m_timing.answerTimeoutMs, {}});
}

void Bus::onSent(int id) {
    if (id == 0 || id != m_exchange || m_asking < 0)
        return;
    // The cadence counts from the request on the line: a write ahead of it
    // in the queue is the line's time, not the controller's.
    m_schedule->sent(m_asking, monotonicNow());
    tell(*m_controllers[m_asking], LinkStatus::Kind::RequestSent);
}

void Bus::onEnded(const ExchangeEnd& end) {
    if (end.id == 0 || end.id != m_exchange || m_asking < 0)
        return;
    Controller& asked = *m_controllers[m_asking];
    switch (end.kind) {
    case ExchangeEnd::Kind::Answer: {
        const AnswerValues values = *decodeAnswer(byteSpan(end.frame), asked.address());
        asked.takeAnswer({float(values.measure), float(values.setpoint), float(values.power)},
                         m_now());
        tell(asked, LinkStatus::Kind::DataReceived);
        finishExchange(PollResult::Ok);
        return;
    }
    case ExchangeEnd::Kind::Exception:
        tell(asked, LinkStatus::Kind::Exception, end.code);
        finishExchange(PollResult::Exception);
        return;
    case ExchangeEnd::Kind::NoAnswer:
        tell(asked, LinkStatus::Kind::NoAnswer);
        finishExchange(PollResult::NoAnswer);
        return;
    case ExchangeEnd::Kind::BadAnswer:
        // Bad bytes told already are not told twice.
        if (!m_badSeen)
            tell(asked, LinkStatus::Kind::BadAnswer);
        finishExchange(PollResult::BadAnswer);
        return;
    case ExchangeEnd::Kind::Lost:
        onDeviceLost();
        return;
    }
}

void Bus::finishExchange(PollResult result) {
    const int asking = m_asking;
    Controller& asked = *m_controllers[asking];
    m_asking = -1;
    m_exchange = 0;
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
