#include "Controller.h"

#include "MbapFrame.h"

namespace tklink {

Controller::Controller(ControllerId id, QObject* parent) : QObject(parent), m_id(std::move(id)) {
    qRegisterMetaType<tklink::PollResult>();
    qRegisterMetaType<tklink::LinkStatus>();
    qRegisterMetaType<alarms::AlarmChange>();
}

void Controller::startAlarms(const Data::AlarmSettings& settings, const QDateTime& now) {
    m_alarms.emplace(settings, now);
}

void Controller::applyAlarmSettings(const Data::AlarmSettings& settings) {
    if (m_alarms)
        m_alarms->setSettings(settings);
}

void Controller::acknowledgeAlarms() {
    if (!m_alarms)
        return;
    for (const alarms::AlarmChange& change : m_alarms->acknowledge())
        Q_EMIT alarmChanged(change);
}

void Controller::acknowledgeAlarm(alarms::Alarm alarm) {
    if (!m_alarms)
        return;
    for (const alarms::AlarmChange& change : m_alarms->acknowledge(alarm))
        Q_EMIT alarmChanged(change);
}

void Controller::checkAlarms(const QDateTime& now) {
    if (!m_alarms)
        return;
    // Answers without a measurement keep the link up: their 8888 reaches the
    // rules as the no-data value it is.
    const bool answering = m_answering;
    const QList<alarms::AlarmChange> changes =
        m_alarms->update({now, answering, answering ? m_values.measureRaw / 10.0f : Data::NO_DATA,
                          answering ? m_values.setpointRaw / 10.0f : Data::NO_DATA},
                         m_lastAnswer);
    for (const alarms::AlarmChange& change : changes)
        Q_EMIT alarmChanged(change);
}

void Controller::tellStatus(const LinkStatus& status) {
    Q_EMIT this->status(status);
}

void Controller::takeAnswer(const ControllerValues& values, const QDateTime& at) {
    m_values = values;
    m_lastAnswer = at;
    m_missedPolls = 0;
}

void Controller::endPoll(PollResult result) {
    ++m_pollCounts[std::size_t(result)];
    Q_EMIT pollEnded(result);
}

void Controller::confirmAnswer() {
    Q_EMIT answered();
    m_answering = true;
    setCurrent(hasMeasurement({int16_t(m_values.measureRaw), 0, 0}));
}

void Controller::missedPoll(PollResult result, int exceptionCode, bool foreign, bool viaGateway) {
    const bool exception = result == PollResult::Exception;
    if (m_missedPolls == 0) {
        m_missException = exception ? exceptionCode : -1;
        m_missGateway = viaGateway;
        m_missForeign = false;
        m_missBad = false;
    } else if (!exception || exceptionCode != m_missException) {
        m_missException = -1;
    }
    m_missForeign = m_missForeign || foreign;
    m_missBad = m_missBad || result == PollResult::BadAnswer;
    // One lost answer on a noisy line changes nothing but the status.
    if (++m_missedPolls >= staleAfterPolls)
        makeStale();
}

QString Controller::missReason() const {
    if (m_missException >= 0)
        return exceptionWords(m_missException, m_missGateway) + QStringLiteral(" on every poll");
    if (m_missForeign)
        return QStringLiteral("answers from another address");
    if (m_missBad)
        return QStringLiteral("bad answers");
    return QStringLiteral("no answer");
}

void Controller::makeStale() {
    if (!m_valuesCurrent && !m_answering)
        return;
    m_answering = false;
    m_values = {};
    m_valuesCurrent = false;
    // Also after answers without a measurement: their setpoint and power
    // went back to no data too.
    Q_EMIT valuesCurrentChanged(false);
}

void Controller::setCurrent(bool current) {
    if (current == m_valuesCurrent)
        return;
    m_valuesCurrent = current;
    Q_EMIT valuesCurrentChanged(current);
}

} // namespace tklink
