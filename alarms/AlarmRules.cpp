#include "AlarmRules.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace alarms {

namespace {

bool isNoData(float value) {
    return value == Data::NO_DATA;
}

// A duration in milliseconds, saturated: a huge or invalid setting means
// "not within this run", never a wrap-around to "at once".
qint64 durationMs(double seconds) {
    constexpr double longest = 1e15; // some 30,000 years
    if (!(seconds < longest / 1000))
        return qint64(longest);
    return seconds > 0 ? qint64(seconds * 1000) : 0;
}

bool elapsed(const QDateTime& from, const QDateTime& to, double seconds) {
    return from.msecsTo(to) >= durationMs(seconds);
}

} // namespace

AlarmRules::AlarmRules(const Data::AlarmSettings& settings, QDateTime started)
    : m_settings(settings), m_lastCurrent(started), m_lastMeasured(started),
      m_heatUpFrom(std::move(started)) {}

bool AlarmRules::active(Alarm alarm) const {
    const AlarmState s = status(alarm).state;
    return s == AlarmState::ActiveUnacknowledged || s == AlarmState::ActiveAcknowledged;
}

bool AlarmRules::unacknowledged() const {
    return alarms::unacknowledged(m_status);
}

bool unacknowledged(const AlarmStatuses& statuses) {
    for (const AlarmStatus& s : statuses) {
        if (s.state == AlarmState::ActiveUnacknowledged ||
            s.state == AlarmState::ClearedUnacknowledged)
            return true;
    }
    return false;
}

QList<AlarmChange> AlarmRules::update(const Sample& sample, const QDateTime& lastAnswer) {
    QList<AlarmChange> changes;
    if (!m_settings.watched)
        return changes;
    const bool values = sample.current && !isNoData(sample.measured);
    if (sample.current)
        m_lastCurrent = lastAnswer.isValid() ? std::max(m_lastCurrent, lastAnswer) : sample.at;
    if (values || !sample.current)
        m_lastMeasured = sample.at;
    const bool linkLost = elapsed(m_lastCurrent, sample.at, double(m_settings.linkLostAfter));
    setCondition(Alarm::Link, !sample.current && linkLost, sample, m_lastCurrent, changes);
    if (sample.current) {
        const bool missing =
            !values && elapsed(m_lastMeasured, sample.at, double(m_settings.linkLostAfter));
        setCondition(Alarm::NoMeasurement, missing, sample, m_lastMeasured, changes);
    }
    if (!values) {
        m_outsideSince.reset();
        return changes;
    }

    if (m_settings.highLimit) {
        const float limit = *m_settings.highLimit;
        // Between the limit and the hysteresis below it, High stays as it is.
        const bool above = sample.measured >= limit;
        const bool below = sample.measured < limit - std::max(0.0f, m_settings.highHysteresis);
        if (above || below)
            setCondition(Alarm::High, above, sample, sample.at, changes);
        if (active(Alarm::High)) {
            AlarmStatus& high = m_status[index(Alarm::High)];
            high.peak = std::max(high.peak, sample.measured);
        }
    }
    if (!isNoData(sample.setpoint))
        updateSetpointRules(sample, changes);
    return changes;
}

void AlarmRules::updateSetpointRules(const Sample& sample, QList<AlarmChange>& changes) {
    if (sample.setpoint != m_armedSetpoint) {
        // A new setpoint: the temperature has to reach it first. A heat-up
        // already under way keeps its start.
        if (m_deviationArmed && !isNoData(m_armedSetpoint))
            m_heatUpFrom = sample.at;
        m_armedSetpoint = sample.setpoint;
        m_deviationArmed = false;
        m_outsideSince.reset();
    }
    if (!m_settings.deviationBand)
        return;
    const float deviation = sample.measured - sample.setpoint;
    const bool outside = std::fabs(deviation) > *m_settings.deviationBand;
    if (!outside)
        m_deviationArmed = true;

    if (m_settings.heatUpLimit) {
        const bool late = !m_deviationArmed &&
                          elapsed(m_heatUpFrom, sample.at, double(*m_settings.heatUpLimit) * 60);
        setCondition(Alarm::HeatUp, late, sample, sample.at, changes);
    }

    if (!m_settings.deviationDelay)
        return;
    if (!outside || !m_deviationArmed)
        m_outsideSince.reset();
    else if (!m_outsideSince)
        m_outsideSince = sample.at;
    const bool due = m_outsideSince &&
                     elapsed(*m_outsideSince, sample.at, double(*m_settings.deviationDelay) * 60);
    setCondition(Alarm::Deviation, due, sample, due ? *m_outsideSince : sample.at, changes);
    if (active(Alarm::Deviation)) {
        AlarmStatus& s = m_status[index(Alarm::Deviation)];
        if (std::fabs(deviation) > std::fabs(s.peak))
            s.peak = deviation;
    }
}

void AlarmRules::setCondition(Alarm alarm, bool on, const Sample& sample, const QDateTime& since,
                              QList<AlarmChange>& changes) {
    AlarmStatus& s = m_status[index(alarm)];
    const AlarmState from = s.state;
    if (on && from == AlarmState::Normal) {
        s = {AlarmState::ActiveUnacknowledged, sample.measured, sample.setpoint, 0, since, {}};
        s.peak = alarm == Alarm::Deviation ? sample.measured - sample.setpoint : sample.measured;
    } else if (on && from == AlarmState::ClearedUnacknowledged) {
        // Back before anyone saw it go: the same alarm, from its first rise.
        s.state = AlarmState::ActiveUnacknowledged;
        s.clearedAt = {};
    } else if (!on && from == AlarmState::ActiveUnacknowledged) {
        s.state = AlarmState::ClearedUnacknowledged;
        s.clearedAt = sample.at;
    } else if (!on && from == AlarmState::ActiveAcknowledged) {
        s.state = AlarmState::Normal;
        s.clearedAt = sample.at;
    }
    if (s.state != from)
        changes.append({alarm, from, s.state});
}

QList<AlarmChange> AlarmRules::acknowledge() {
    QList<AlarmChange> changes;
    for (Alarm alarm : allAlarms)
        changes += acknowledge(alarm);
    return changes;
}

QList<AlarmChange> AlarmRules::acknowledge(Alarm alarm) {
    AlarmStatus& s = m_status[index(alarm)];
    const AlarmState from = s.state;
    if (from == AlarmState::ActiveUnacknowledged)
        s.state = AlarmState::ActiveAcknowledged;
    else if (from == AlarmState::ClearedUnacknowledged)
        s.state = AlarmState::Normal;
    if (s.state == from)
        return {};
    return {{alarm, from, s.state}};
}

} // namespace alarms
