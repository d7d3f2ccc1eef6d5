#include "AlarmRules.h"

#include <cmath>
#include <utility>

namespace alarms {

namespace {

bool isNoData(float value) {
    return value == Data::NO_DATA;
}

} // namespace

AlarmRules::AlarmRules(const Data::AlarmSettings& settings, QDateTime started)
    : m_settings(settings), m_lastCurrent(std::move(started)) {}

bool AlarmRules::active(Alarm alarm) const {
    const AlarmState s = status(alarm).state;
    return s == AlarmState::ActiveUnacknowledged || s == AlarmState::ActiveAcknowledged;
}

bool AlarmRules::unacknowledged() const {
    for (const AlarmStatus& s : m_status) {
        if (s.state == AlarmState::ActiveUnacknowledged ||
            s.state == AlarmState::ClearedUnacknowledged)
            return true;
    }
    return false;
}

QList<AlarmChange> AlarmRules::update(const Sample& sample) {
    QList<AlarmChange> changes;
    const bool values = sample.current && !isNoData(sample.measured);
    if (sample.current)
        m_lastCurrent = sample.at;
    const bool linkLost =
        m_lastCurrent.msecsTo(sample.at) >= qint64(m_settings.linkLostAfter * 1000);
    setCondition(Alarm::Link, !sample.current && linkLost, sample, m_lastCurrent, changes);
    if (!values) {
        m_outsideSince.reset();
        return changes;
    }

    if (m_settings.highLimit)
        setCondition(Alarm::High, sample.measured >= *m_settings.highLimit, sample, sample.at,
                     changes);

    if (m_settings.deviationBand && m_settings.deviationDelay && !isNoData(sample.setpoint)) {
        if (sample.setpoint != m_armedSetpoint) {
            // A new setpoint: the temperature has to reach it first.
            m_armedSetpoint = sample.setpoint;
            m_deviationArmed = false;
            m_outsideSince.reset();
        }
        const bool outside =
            std::fabs(sample.measured - sample.setpoint) > *m_settings.deviationBand;
        if (!outside)
            m_deviationArmed = true;
        if (!outside || !m_deviationArmed)
            m_outsideSince.reset();
        else if (!m_outsideSince)
            m_outsideSince = sample.at;
        const auto delayMs = qint64(double(*m_settings.deviationDelay) * 60000.0);
        const bool due = m_outsideSince && m_outsideSince->msecsTo(sample.at) >= delayMs;
        setCondition(Alarm::Deviation, due, sample, due ? *m_outsideSince : sample.at, changes);
    }
    return changes;
}

void AlarmRules::setCondition(Alarm alarm, bool on, const Sample& sample, const QDateTime& since,
                              QList<AlarmChange>& changes) {
    AlarmStatus& s = m_status[index(alarm)];
    const AlarmState from = s.state;
    if (on && (from == AlarmState::Normal || from == AlarmState::ClearedUnacknowledged)) {
        s.state = AlarmState::ActiveUnacknowledged;
        s.value = sample.measured;
        s.since = since;
    } else if (!on && from == AlarmState::ActiveUnacknowledged) {
        s.state = AlarmState::ClearedUnacknowledged;
    } else if (!on && from == AlarmState::ActiveAcknowledged) {
        s.state = AlarmState::Normal;
    }
    if (s.state != from)
        changes.append({alarm, from, s.state});
}

QList<AlarmChange> AlarmRules::acknowledge() {
    QList<AlarmChange> changes;
    for (Alarm alarm : allAlarms) {
        AlarmStatus& s = m_status[index(alarm)];
        const AlarmState from = s.state;
        if (from == AlarmState::ActiveUnacknowledged)
            s.state = AlarmState::ActiveAcknowledged;
        else if (from == AlarmState::ClearedUnacknowledged)
            s.state = AlarmState::Normal;
        if (s.state != from)
            changes.append({alarm, from, s.state});
    }
    return changes;
}

} // namespace alarms
