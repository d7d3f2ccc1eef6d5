#pragma once

// The words of the alarms, for the window's band and tkrecord's lines.

#include <QList>
#include <QString>

#include <optional>

#include "AlarmRules.h"

namespace alarms {

// "High temperature", "Deviation from setpoint", "Link lost", "Heat-up too
// slow", "No measurement".
QString alarmName(Alarm alarm);
// The label value of the metric: "high", "deviation", "link", "heatup",
// "measurement".
QString metricLabel(Alarm alarm);
// "active", "acknowledged", "cleared", "normal".
QString stateWord(AlarmState state);
// What the band says: "High temperature 312.4 °C since 14:05:29",
// "Deviation from setpoint +20.0 °C (320.0 °C, setpoint 300.0 °C) since
// 14:05:29", "Heat-up too slow 150.0 °C (setpoint 300.0 °C) since 14:30:00";
// the link alarms have no value: "Link lost since 14:05:29". Cleared and
// waiting for the operator: "High temperature cleared at 14:09:02, peak
// 312.4 °C" (the deviation's peak signed), "Link lost cleared at 14:09:02".
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
BandLook bandLook(const AlarmStatuses& statuses);

// The alarm the band would show, if any is not normal.
std::optional<Alarm> mostPressing(const AlarmRules& rules);
std::optional<Alarm> mostPressing(const AlarmStatuses& statuses);

// The band over the controllers of a bus: the most pressing alarm of them all
// (the earlier controller first between equals), its text behind its
// controller's name ("oven2: High temperature 312.4 °C since 14:05:29"),
// and how many others there are on every controller. controller is the
// index of the one shown, -1 when the band is hidden.
struct NamedRules {
    QString name;
    const AlarmRules* rules = nullptr;
};
struct BusBandLook {
    BandLook look;
    int controller = -1;
};
BusBandLook busBandLook(const QList<NamedRules>& controllers);
// The same, from statuses as another program told them (a recorder's).
struct NamedStatuses {
    QString name;
    const AlarmStatuses* statuses = nullptr;
};
BusBandLook busBandLook(const QList<NamedStatuses>& controllers);

} // namespace alarms
