#include "PollCycle.h"

#include "AnswerFrame.h"
#include "Data.h"
#include "PortAccess.h"
#include "RequestFrame.h"
#include "SerialPortControl.h"

#include <QByteArray>

#include <utility>

namespace tklink {

PollCycle::PollCycle(SerialPortControl& port, QTimer& pollTimer, Clock now, QObject* parent)
    : QObject(parent), m_port(port), m_pollTimer(pollTimer), m_now(std::move(now)),
      m_answerTimer(this) {
    qRegisterMetaType<tklink::PollResult>();
    qRegisterMetaType<tklink::LinkStatus>();
    m_answerTimer.setObjectName(QStringLiteral("timerAnswerTimeout"));
    m_answerTimer.setSingleShot(true);
    m_answerTimer.setInterval(answerTimeoutMs);
    connect(&m_answerTimer, &QTimer::timeout, this, &PollCycle::answerTimedOut);
    connect(&m_collector, &AnswerCollector::answerTaken, this, &PollCycle::onAnswer);
    connect(&m_collector, &AnswerCollector::exceptionTaken, this, &PollCycle::onException);
    connect(&m_collector, &AnswerCollector::badBytesDropped, this, &PollCycle::onBadBytes);
    connect(&m_port, &SerialPortControl::comm, this, &PollCycle::receive);
    connect(&m_port, &SerialPortControl::deviceLost, this, &PollCycle::onDeviceLost);
}

void PollCycle::tick() {
    if (m_lineTaken) {
        m_tickHeldUp = true;
        return;
    }
    // Only when ticks come faster than the time-out (a stalled event loop):
    // the last request had its chance, and its status is replaced at once.
    if (m_pollPending) {
        const bool bytesCame = m_collector.answerTimedOut();
        endPoll(bytesCame ? PollResult::BadAnswer : PollResult::NoAnswer);
        countMissedPoll();
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
    m_collector.requestSent();
    m_badTold = false;
    tell(LinkStatus::Kind::RequestSent);
    m_pollPending = true;
    m_answerTimer.start();
    sendRequest(m_port, request);
}

void PollCycle::receive() {
    if (m_port.commEvent() != SerialPortControl::comEvReceive || m_lineTaken)
        return;
    m_port.setInputLen(1);
    while (m_port.inBufferCount() >= 1) {
        const QByteArray byte = m_port.input();
        if (byte.isEmpty())
            return;
        m_collector.take(static_cast<uint8_t>(byte[0]));
    }
}

void PollCycle::answerTimedOut() {
    m_answerTimer.stop();
    if (!m_pollPending)
        return;
    const bool bytesCame = m_collector.answerTimedOut();
    // Bytes held that never made a frame (a truncated answer) are a bad
    // answer too; bad bytes told already are not told twice.
    if (!bytesCame)
        tell(LinkStatus::Kind::NoAnswer);
    else if (!m_badTold)
        tell(LinkStatus::Kind::BadAnswer);
    endPoll(bytesCame ? PollResult::BadAnswer : PollResult::NoAnswer);
    countMissedPoll();
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
    // Between this poll's end and the next tick; queued, so that nothing
    // goes out from inside the receive of this poll's answer.
    if (m_lineTaker && result != PollResult::NotConnected)
        QMetaObject::invokeMethod(this, &PollCycle::offerLine, Qt::QueuedConnection);
}

void PollCycle::offerLine() {
    if (m_pollPending || m_lineTaken || !Data::portConnected || !m_lineTaker)
        return;
    m_lineTaken = m_lineTaker();
}

void PollCycle::lineReleased() {
    m_lineTaken = false;
    if (std::exchange(m_tickHeldUp, false))
        tick();
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
