#pragma once

// The alarms of a run, as a pure state machine: timed samples of the link and
// the values go in, each alarm's state comes out. Both programs feed it the
// same way, so an alarm means the same in the window and in tkrecord. One
// object per controller; nothing is shared between them.
//   High temperature: the measured temperature at or above the high limit;
//     it clears only highHysteresis degrees below it, so a temperature
//     hovering at the limit raises it once.
//   Deviation: |temperature - setpoint| above the band for the delay, armed
//     only once the temperature has come within the band after the start or
//     a change of setpoint, so a heat-up or a cool-down raises nothing.
//   Heat-up too slow: not within the band heatUpLimit minutes after the start
//     or the setpoint change that began the heat-up; changes of setpoint
//     before the band is reached (a ramping controller) do not restart it.
//   Link lost: no current values for linkLostAfter seconds.
//   No measurement: the controller answers, but with its no-data value in
//     place of the temperature (a broken sensor), for linkLostAfter seconds.
// No-data values neither raise nor clear the temperature alarms: while the
// link is down, the link alarm speaks for it. An alarm raised again before
// it was acknowledged keeps its first "since" and its peak.

#include <QDateTime>
#include <QList>
#include <QMetaType>

#include <array>
#include <optional>

#include "Data.h"

namespace alarms {

enum class Alarm { High, Deviation, Link, HeatUp, NoMeasurement };
inline constexpr std::array<Alarm, 5> allAlarms{Alarm::High, Alarm::Deviation, Alarm::Link,
                                                Alarm::HeatUp, Alarm::NoMeasurement};

enum class AlarmState {
    Normal,
    ActiveUnacknowledged,
    ActiveAcknowledged,
    ClearedUnacknowledged,
};

// What the operator sees of one alarm: its state, the temperature and the
// setpoint when it rose (not for Link and No measurement), since when, the
// worst it got (High: the highest temperature; Deviation: the deviation
// farthest from the setpoint, signed) and when it cleared.
struct AlarmStatus {
    AlarmState state = AlarmState::Normal;
    float value = 0;
    float setpoint = 0;
    float peak = 0;
    QDateTime since;
    QDateTime clearedAt;

    bool operator==(const AlarmStatus&) const = default;
};

// Every alarm's status, in the order of allAlarms.
using AlarmStatuses = std::array<AlarmStatus, allAlarms.size()>;

// Some alarm waits for the operator.
bool unacknowledged(const AlarmStatuses& statuses);

struct AlarmChange {
    Alarm alarm;
    AlarmState from;
    AlarmState to;
};

// One reading of the session: current is false when the values are stale or
// there is no port; the temperatures are in degrees.
struct Sample {
    QDateTime at;
    bool current = false;
    float measured = Data::NO_DATA;
    float setpoint = Data::NO_DATA;
};

class AlarmRules {
public:
    // started counts as the last time values were current.
    AlarmRules(const Data::AlarmSettings& settings, QDateTime started);

    // New limits from the Parameters dialog; the states stay as they are.
    void setSettings(const Data::AlarmSettings& settings) { m_settings = settings; }

    // lastAnswer: when values last came, if known; the link alarm counts from
    // there, not from a sample taken between two answers.
    QList<AlarmChange> update(const Sample& sample, const QDateTime& lastAnswer = {});
    // The operator's acknowledgement of every alarm that waits for one.
    QList<AlarmChange> acknowledge();
    // Of that alarm only (its own notification's action).
    QList<AlarmChange> acknowledge(Alarm alarm);

    const AlarmStatus& status(Alarm alarm) const { return m_status[index(alarm)]; }
    const AlarmStatuses& statuses() const { return m_status; }
    bool active(Alarm alarm) const;
    // Some alarm waits for the operator.
    bool unacknowledged() const;

private:
    static std::size_t index(Alarm alarm) { return std::size_t(alarm); }
    void setCondition(Alarm alarm, bool on, const Sample& sample, const QDateTime& since,
                      QList<AlarmChange>& changes);
    void updateSetpointRules(const Sample& sample, QList<AlarmChange>& changes);

    Data::AlarmSettings m_settings;
    AlarmStatuses m_status;
    QDateTime m_lastCurrent;
    // The last sample with a measurement, or without the link.
    QDateTime m_lastMeasured;
    // The start, or the setpoint change that began the heat-up under way.
    QDateTime m_heatUpFrom;
    float m_armedSetpoint = Data::NO_DATA;
    bool m_deviationArmed = false;
    std::optional<QDateTime> m_outsideSince;
};

} // namespace alarms

Q_DECLARE_METATYPE(alarms::AlarmChange)
