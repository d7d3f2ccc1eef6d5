#pragma once

// The words of the alarms, for the window's band and tkrecord's lines.

#include <QString>

#include "AlarmRules.h"

namespace alarms {

// "High temperature", "Deviation from setpoint", "Link lost".
QString alarmName(Alarm alarm);
// The label value of the metric: "high", "deviation", "link".
QString metricLabel(Alarm alarm);
// "active", "acknowledged", "cleared", "normal".
QString stateWord(AlarmState state);
// What the band says: "High temperature 312.4 °C since 14:05:29"; the link
// alarm has no value: "Link lost since 14:05:29".
QString bandText(Alarm alarm, const AlarmStatus& status);

// The audit trail's line for a change: "alarm raised: High temperature
// 312.4 °C since 14:05:29", "alarm acknowledged: High temperature", "alarm
// cleared: Link lost".
QString auditEvent(const AlarmChange& change, const AlarmStatus& status);

// What the window's band shows: the most pressing alarm (waiting for the
// operator before acknowledged, acknowledged before cleared; high before
// deviation before link) in its colour, and how many others there are.
enum class BandColour { Hidden, FlashingRed, Red, Amber };
struct BandLook {
    BandColour colour = BandColour::Hidden;
    QString text;
};
BandLook bandLook(const AlarmRules& rules);

} // namespace alarms
