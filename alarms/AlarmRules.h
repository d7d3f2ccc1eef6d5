#pragma once

// The three alarms of a run, as a pure state machine: timed samples of the
// link and the values go in, each alarm's state comes out. Both programs feed
// it the same way, so an alarm means the same in the window and in tkrecord.
//   High temperature: the measured temperature at or above the high limit.
//   Deviation: |temperature - setpoint| above the band for the delay, armed
//     only once the temperature has come within the band after the start or
//     a change of setpoint, so a heat-up or a cool-down raises nothing.
//   Link lost: no current values for linkLostAfter seconds.
// No-data values neither raise nor clear the temperature alarms: while the
// link is down, the link alarm speaks for it.

#include <QDateTime>
#include <QList>
#include <QMetaType>

#include <array>
#include <optional>

#include "Data.h"

namespace alarms {

enum class Alarm { High, Deviation, Link };
inline constexpr std::array<Alarm, 3> allAlarms{Alarm::High, Alarm::Deviation, Alarm::Link};

enum class AlarmState {
    Normal,
    ActiveUnacknowledged,
    ActiveAcknowledged,
    ClearedUnacknowledged,
};

// What the operator sees of one alarm: its state, the temperature when it
// rose (not for Link) and since when.
struct AlarmStatus {
    AlarmState state = AlarmState::Normal;
    float value = 0;
    QDateTime since;
};

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

    QList<AlarmChange> update(const Sample& sample);
    // The operator's acknowledgement of every alarm that waits for one.
    QList<AlarmChange> acknowledge();

    const AlarmStatus& status(Alarm alarm) const { return m_status[index(alarm)]; }
    bool active(Alarm alarm) const;
    // Some alarm waits for the operator.
    bool unacknowledged() const;

private:
    static std::size_t index(Alarm alarm) { return std::size_t(alarm); }
    void setCondition(Alarm alarm, bool on, const Sample& sample, const QDateTime& since,
                      QList<AlarmChange>& changes);

    Data::AlarmSettings m_settings;
    std::array<AlarmStatus, 3> m_status;
    QDateTime m_lastCurrent;
    float m_armedSetpoint = Data::NO_DATA;
    bool m_deviationArmed = false;
    std::optional<QDateTime> m_outsideSince;
};

} // namespace alarms

Q_DECLARE_METATYPE(alarms::AlarmChange)
