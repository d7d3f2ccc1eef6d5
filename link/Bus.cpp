#include "Bus.h"

#include "AnswerFrame.h"
#include "Data.h"
#include "LineDevice.h"
#include "LinkLog.h"
#include "ReceiveStep.h"
#include "RequestFrame.h"

#include <algorithm>
#include <span>
#include <utility>

namespace tklink {

Bus::Bus(LineOwner& line, Clock now, QObject* parent)
    : QObject(parent), m_line(line), m_now(std::move(now)), m_sendTimer(this), m_answerTimer(this) {
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
    connect(&m_line, &LineOwner::late, this, &Bus::onLate);
    connect(&m_line, &LineOwner::heldChanged, this, &Bus::showHeld);
    m_answerTimer.setObjectName(QStringLiteral("timerAnswerTimeout"));
    m_answerTimer.setSingleShot(true);
    m_answerTimer.setInterval(pollAnswerTimeoutMs);
    connect(&m_answerTimer, &QTimer::timeout, this, &Bus::answerTimedOut);
}

void Bus::setPaced(bool paced) {
    if (m_running)
        return;
    m_paced = paced;
    if (!paced)
        return;
    m_timing.pollIntervalMs = pollIntervalMs;
    m_timing.answerTimeoutMs = pollAnswerTimeoutMs;
    m_timing.maxBackoffMs = pollIntervalMs;
    // Bytes before the first request are judged against the poll to come,
    // so that the start of an answer is held.
    if (!m_controllers.isEmpty())
        m_line.setFirstRequest(pollRequestBytes(m_controllers.first()->address()),
                               Reply::Registers);
}

void Bus::tick() {
    if (!m_paced || m_controllers.isEmpty())
        return;
    // Only when ticks come faster than the time-out (a stalled event loop):
    // the last request had its chance, and its status is replaced at once.
    if (m_asking >= 0) {
        m_quietEnd = true;
        answerTimedOut();
        m_quietEnd = false;
    }
    if (!Data::portConnected) {
        tellNotConnected();
        return;
    }
    Controller& asked = *m_controllers.first();
    const QString request = pollRequestText();
    Data::rxCount = 0;
    m_badSeen = false;
    tell(asked, LinkStatus::Kind::RequestSent);
    m_asking = 0;
    m_exchange = m_line.enqueue({pollRequestBytes(asked.address()), Reply::Registers, 0,
                                 [request](LineDevice& device) { sendRequest(device, request); }});
    // The tick itself puts the request on the line when nothing else is on it.
    m_line.sendIfFree();
}

void Bus::answerTimedOut() {
    m_answerTimer.stop();
    if (!m_paced || m_asking < 0)
        return;
    if (m_line.onLine() == m_exchange) {
        m_line.expire(m_exchange);
        return;
    }
    // Still waiting behind another exchange: it never went out.
    m_line.withdraw(m_exchange);
    onEnded({m_exchange, ExchangeEnd::Kind::NoAnswer, {}, 0, false});
}

void Bus::showHeld(const QByteArray& held) {
    if (!m_paced || !m_showsHeld)
        return;
    const auto count = std::min<qsizetype>(held.size(), Data::rxBufferSize);
    std::copy(held.begin(), held.begin() + count, Data::rxBuffer.begin());
    Data::rxCount = static_cast<int16_t>(count);
}

void Bus::onLate(const ExchangeEnd& end) {
    // On a bus another controller may be asked by now: only the bus of one
    // takes what its last request brought late.
    if (!m_paced || end.id == 0 || end.id != m_lastExchange || m_asking >= 0 ||
        m_controllers.isEmpty())
        return;
    Controller& asked = *m_controllers.first();
    if (end.kind == ExchangeEnd::Kind::Answer) {
        takeAnswer(asked, end.frame);
        tell(asked, LinkStatus::Kind::DataReceived);
        asked.confirmAnswer();
    } else if (end.kind == ExchangeEnd::Kind::Exception) {
        // Its poll was counted at the time-out already.
        tell(asked, LinkStatus::Kind::Exception, end.code);
    }
}

void Bus::takeAnswer(Controller& asked, const QByteArray& frame) {
    const AnswerValues values = *decodeAnswer(byteSpan(frame), asked.address());
    asked.takeAnswer({float(values.measure), float(values.setpoint), float(values.power)}, m_now());
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
    m_gapMs = (interFrameSilenceUs(Data::comPortSpeed.toInt()) + 999) / 1000 + m_timing.extraGapMs;
    m_round = {};
    m_schedule->start(monotonicNow());
    scheduleNext();
}

void Bus::stop() {
    m_running = false;
    m_sendTimer.stop();
    // Its end is nobody's now.
    const int exchange = std::exchange(m_exchange, 0);
    m_asking = -1;
    if (exchange != 0 && !m_line.withdraw(exchange))
        m_line.expire(exchange);
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
    m_answerTimer.stop();
    Controller* asked = m_asking >= 0 ? m_controllers[m_asking] : nullptr;
    if (asked) {
        m_line.withdraw(m_exchange);
        m_asking = -1;
        m_exchange = 0;
    }
    for (Controller* controller : std::as_const(m_controllers))
        controller->makeStale();
    if (asked)
        asked->endPoll(PollResult::NotConnected);
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
    m_exchange = m_line.enqueue({pollRequestBytes(m_controllers[next.controller]->address()),
                                 Reply::Registers,
                                 m_timing.answerTimeoutMs,
                                 {}});
}

void Bus::onSent(int id) {
    if (m_paced) {
        m_showsHeld = id == m_exchange;
        if (id == 0 || id != m_exchange || m_asking < 0)
            return;
        // Told at the tick already.
        m_lastExchange = id;
        m_answerTimer.start();
        return;
    }
    if (id == 0 || id != m_exchange || m_asking < 0)
        return;
    // The cadence counts from the request on the line: a write ahead of it
    // in the queue is the line's time, not the controller's.
    m_sentMs = monotonicNow();
    m_schedule->sent(m_asking, m_sentMs);
    tell(*m_controllers[m_asking], LinkStatus::Kind::RequestSent);
}

void Bus::onEnded(const ExchangeEnd& end) {
    if (end.id == 0 || end.id != m_exchange || m_asking < 0)
        return;
    Controller& asked = *m_controllers[m_asking];
    switch (end.kind) {
    case ExchangeEnd::Kind::Answer:
        takeAnswer(asked, end.frame);
        tell(asked, LinkStatus::Kind::DataReceived);
        finishExchange(PollResult::Ok);
        return;
    case ExchangeEnd::Kind::Exception:
        tell(asked, LinkStatus::Kind::Exception, end.code);
        finishExchange(PollResult::Exception, end.code, end.foreign);
        return;
    case ExchangeEnd::Kind::NoAnswer:
        if (!m_quietEnd)
            tell(asked, LinkStatus::Kind::NoAnswer);
        finishExchange(PollResult::NoAnswer, 0, end.foreign);
        return;
    case ExchangeEnd::Kind::BadAnswer:
        // Bad bytes told already are not told twice.
        if (!m_badSeen && !m_quietEnd)
            tell(asked, LinkStatus::Kind::BadAnswer);
        finishExchange(PollResult::BadAnswer, 0, end.foreign);
        return;
    case ExchangeEnd::Kind::Lost:
        onDeviceLost();
        return;
    }
}

void Bus::finishExchange(PollResult result, int exceptionCode, bool foreign) {
    const int asking = m_asking;
    Controller& asked = *m_controllers[asking];
    m_asking = -1;
    m_exchange = 0;
    m_answerTimer.stop();
    // The line went quiet now, whatever the signals below take.
    const qint64 endedMs = monotonicNow();
    // Whoever hears of the poll's end finds the controller as it now stands.
    if (result == PollResult::Ok)
        asked.confirmAnswer();
    else
        asked.missedPoll(result, exceptionCode, foreign,
                         result == PollResult::Exception && m_line.device().isGateway());
    asked.endPoll(result);
    if (m_schedule) {
        m_schedule->ended(asking, endedMs, asked.missedPolls());
        countRound(asking, endedMs - m_sentMs + m_gapMs, result == PollResult::Ok);
    }
    scheduleNext();
}

void Bus::countRound(int controller, qint64 lineMs, bool answered) {
    std::vector<bool> answering;
    answering.reserve(std::size_t(m_controllers.size()));
    for (const Controller* c : std::as_const(m_controllers))
        answering.push_back(c->answering());
    const std::optional<qint64> round = m_round.exchanged(controller, lineMs, answered, answering);
    if (!round)
        return;
    m_lastRoundMs = round;
    Q_EMIT roundEnded(*round, int(std::count(answering.begin(), answering.end(), true)));
}

void Bus::tell(Controller& controller, LinkStatus::Kind kind, int exceptionCode) {
    controller.tellStatus({kind, m_now().time(), exceptionCode,
                           kind == LinkStatus::Kind::Exception && m_line.device().isGateway()});
}

} // namespace tklink
