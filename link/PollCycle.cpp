#include "PollCycle.h"

#include "AnswerFrame.h"
#include "Data.h"
#include "LineDevice.h"
#include "RequestFrame.h"

#include <QByteArray>

#include <algorithm>
#include <utility>

namespace tklink {

namespace {

QByteArray pollFrame() {
    const auto frame = pollRequestFrame(controllerAddress);
    return QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size()));
}

} // namespace

PollCycle::PollCycle(LineOwner& line, QTimer& pollTimer, Clock now, QObject* parent)
    : QObject(parent), m_line(line), m_pollTimer(pollTimer), m_now(std::move(now)),
      m_answerTimer(this) {
    qRegisterMetaType<tklink::PollResult>();
    qRegisterMetaType<tklink::LinkStatus>();
    m_answerTimer.setObjectName(QStringLiteral("timerAnswerTimeout"));
    m_answerTimer.setSingleShot(true);
    m_answerTimer.setInterval(answerTimeoutMs);
    connect(&m_answerTimer, &QTimer::timeout, this, &PollCycle::answerTimedOut);
    connect(&m_line, &LineOwner::sent, this, &PollCycle::onSent);
    connect(&m_line, &LineOwner::ended, this, &PollCycle::onEnded);
    connect(&m_line, &LineOwner::late, this, &PollCycle::onLate);
    connect(&m_line, &LineOwner::badBytes, this, [this](int id) {
        if (id == m_exchange)
            onBadBytes();
    });
    connect(&m_line, &LineOwner::heldChanged, this, &PollCycle::showHeld);
    connect(&m_line.device(), &LineDevice::lost, this, &PollCycle::onDeviceLost);
    m_line.setFirstRequest(pollFrame(), Reply::Registers);
}

void PollCycle::tick() {
    // Only when ticks come faster than the time-out (a stalled event loop):
    // the last request had its chance, and its status is replaced at once.
    if (m_pollPending) {
        m_quietEnd = true;
        answerTimedOut();
        m_quietEnd = false;
    }
    if (!Data::portConnected) {
        Q_EMIT status({LinkStatus::Kind::NotConnected, {}, 0});
        makeStale();
        Q_EMIT pollEnded(PollResult::NotConnected);
        return;
    }

    m_pollTimer.setInterval(pollIntervalMs);
    const QString request = pollRequestText();
    Data::rxCount = 0;
    m_badTold = false;
    tell(LinkStatus::Kind::RequestSent);
    m_pollPending = true;
    Exchange exchange{pollFrame(), Reply::Registers, 0,
                      [request](LineDevice& device) { sendRequest(device, request); }};
    m_exchange = m_line.enqueue(std::move(exchange));
    // The tick itself puts the request on the line when nothing else is on it.
    m_line.sendIfFree();
}

void PollCycle::onSent(int id) {
    m_showsHeld = id == m_exchange;
    if (id != m_exchange)
        return;
    m_lastExchange = id;
    m_answerTimer.start();
}

void PollCycle::showHeld(const QByteArray& held) {
    if (!m_showsHeld)
        return;
    const auto count = std::min<qsizetype>(held.size(), Data::rxBufferSize);
    std::copy(held.begin(), held.begin() + count, Data::rxBuffer.begin());
    Data::rxCount = static_cast<int16_t>(count);
}

void PollCycle::answerTimedOut() {
    m_answerTimer.stop();
    if (!m_pollPending)
        return;
    if (m_line.onLine() == m_exchange) {
        m_line.expire(m_exchange);
        return;
    }
    // Still waiting behind another exchange: it never went out.
    m_line.withdraw(m_exchange);
    onEnded({m_exchange, ExchangeEnd::Kind::NoAnswer, {}, 0, false});
}

void PollCycle::onEnded(const ExchangeEnd& end) {
    if (end.id != m_exchange || !m_pollPending)
        return;
    switch (end.kind) {
    case ExchangeEnd::Kind::Answer:
        takeAnswer(end.frame);
        return;
    case ExchangeEnd::Kind::Exception:
        onException(end.code);
        return;
    case ExchangeEnd::Kind::NoAnswer:
    case ExchangeEnd::Kind::BadAnswer: {
        const bool bad = end.kind == ExchangeEnd::Kind::BadAnswer;
        // Bad bytes told already are not told twice.
        if (!m_quietEnd && !bad)
            tell(LinkStatus::Kind::NoAnswer);
        else if (!m_quietEnd && !m_badTold)
            tell(LinkStatus::Kind::BadAnswer);
        endPoll(bad ? PollResult::BadAnswer : PollResult::NoAnswer);
        countMissedPoll();
        return;
    }
    case ExchangeEnd::Kind::Lost:
        onDeviceLost();
        return;
    }
}

void PollCycle::onLate(const ExchangeEnd& end) {
    if (end.id != m_lastExchange || m_pollPending)
        return;
    if (end.kind == ExchangeEnd::Kind::Answer)
        takeAnswer(end.frame);
    else if (end.kind == ExchangeEnd::Kind::Exception)
        onException(end.code);
}

void PollCycle::takeAnswer(const QByteArray& frame) {
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(frame.constData()),
                                         std::size_t(frame.size()));
    const std::optional<AnswerValues> values = decodeAnswer(bytes);
    if (!values)
        return;
    Data::measureRaw = values->measure;
    Data::setpointRaw = values->setpoint;
    Data::powerRaw = values->power;
    onAnswer();
}

void PollCycle::portChanged() {
    if (!Data::portConnected)
        makeStale();
}

void PollCycle::onAnswer() {
    m_answering = true;
    tell(LinkStatus::Kind::DataReceived);
    endPoll(PollResult::Ok);
    Q_EMIT answered();
    m_missedPolls = 0;
    // 8888 stays in Data, so a record carries it; nothing else takes it for
    // a temperature.
    const bool measured = hasMeasurement({int16_t(Data::measureRaw), 0, 0});
    if (measured != m_valuesCurrent) {
        m_valuesCurrent = measured;
        Q_EMIT valuesCurrentChanged(measured);
    }
}

void PollCycle::onException(int code) {
    tell(LinkStatus::Kind::Exception, code);
    // A late exception belongs to a poll that its time-out counted already.
    const bool pending = m_pollPending;
    endPoll(PollResult::Exception);
    if (pending)
        countMissedPoll();
}

void PollCycle::onBadBytes() {
    m_badTold = true;
    tell(LinkStatus::Kind::BadAnswer);
}

void PollCycle::onDeviceLost() {
    Data::portConnected = false;
    endPoll(PollResult::NotConnected);
    makeStale();
}

void PollCycle::endPoll(PollResult result) {
    if (!m_pollPending)
        return;
    m_pollPending = false;
    m_answerTimer.stop();
    Q_EMIT pollEnded(result);
}

void PollCycle::countMissedPoll() {
    // One lost answer on a noisy line changes nothing but the status line.
    if (++m_missedPolls >= staleAfterPolls)
        makeStale();
}

void PollCycle::makeStale() {
    if (!m_valuesCurrent && !m_answering)
        return;
    m_valuesCurrent = false;
    m_answering = false;
    // The values of start-up: the trace stores no-data samples, a record
    // carries 8888;8888;0 and the read-outs show the placeholder.
    Data::measureRaw = Data::NO_DATA_RAW;
    Data::setpointRaw = Data::NO_DATA_RAW;
    Data::powerRaw = 0;
    // Also after answers without a measurement: their setpoint and power
    // went back to no data too.
    Q_EMIT valuesCurrentChanged(false);
}

void PollCycle::tell(LinkStatus::Kind kind, int exceptionCode) {
    Q_EMIT status({kind, m_now().time(), exceptionCode});
}

} // namespace tklink
