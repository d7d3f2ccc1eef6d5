#pragma once

// Which texts may stand for an [Alarms] value. The settings file and the
// Alarms dialog refuse the same texts with the same words, so a value the
// dialog would never take cannot come in through conf.ini either: an alarm
// limit mistyped into silence is an alarm that never rings.

#include <QString>

#include <optional>

namespace alarms {

enum class AlarmKey {
    HighLimit,      // °C
    HighHysteresis, // °C below the limit before High clears
    DeviationBand,  // °C either side of the setpoint
    DeviationDelay, // minutes
    HeatUpLimit,    // minutes
    LinkLostAfter,  // seconds
};

// "HighLimit", ... as conf.ini spells them.
QString keyName(AlarmKey key);

// Why text cannot be the key's value, or an empty text when it can. number is
// text as the reader understood it, nothing when it is no number at all. The
// ranges keep every time within a week, so no time arithmetic overflows:
// "HighLimit \"abc\" is not a number",
// "LinkLostAfter \"0\" out of range, 1 to 86400 s".
QString valueRefusal(AlarmKey key, const QString& text, std::optional<double> number);

// The number at the start of text, as conf.ini's number keys are read ("."
// as the decimal point, "350 C" is 350); nothing when text does not begin
// with one ("abc", "NaN", "inf").
std::optional<double> confNumber(const QString& text);

} // namespace alarms
