#pragma once

// The six settings of the program in conf.ini: read at start-up, written when
// the Parameters dialog is closed with its "Close" button.

#include <QString>
#include <QStringList>

#include "ConfFile.h"
#include "Data.h"
#include "Profile.h"

namespace settings {

// The settings file, relative to the working directory.
inline constexpr char settingsFileName[] = "conf.ini";

struct SettingsRead {
    // Unreadable: the defaults are in force, and reason says why.
    ConfFileRead::Status status = ConfFileRead::Status::Missing;
    QString reason;
    // What the operator must be told when interv_record gives no usable
    // period, so that a record is written every 20 s; empty otherwise.
    QString intervalRefused;
    // A bad line of [Controllers] or key of [Bus], named; empty otherwise.
    QString controllersRefused;
    // A [Ports] line that names a gateway badly, named; empty otherwise.
    // That port cannot be opened until it is mended.
    QString portsRefused;
    // One line per [Alarms] value that cannot be a limit, naming the key and
    // its line: "conf.ini line 7: HighLimit \"abc\" is not a number". That
    // alarm is off until the value is mended; HighHysteresis and
    // LinkLostAfter keep their defaults instead, so a typo never silences one.
    QStringList alarmsRefused;
    // One line per bad [Control] value, as for [Alarms]: setpoint writes are
    // off until it is mended.
    QStringList controlRefused;
    // A bad line of [Events], named; the default list is offered then.
    QString eventsRefused;
};

// Reads ComPortNum, ComPortSpeed, interv_record, Yvaluemin, Yvaluemax and
// Echelle_Temps, in this order, from section into the program-wide variables,
// and the [Ports] section for configuredDevice, the [Controllers] and [Bus]
// sections for configuredControllers, [Events] for configuredEvents and the
// window's choices for configuredWindowChoices, in one read of the file.
// A missing or unreadable file or a missing key gives that key's default; a
// whole number outside the 16-bit range also falls back to its default.
SettingsRead loadSettings(const QString& section,
                          const QString& path = QLatin1String(settingsFileName));

// Then the keys of [Alarms] into Data::alarms: HighLimit, DeviationBand,
// DeviationDelay and HeatUpLimit (minutes) turn their alarm off when empty
// or missing; HighHysteresis (degrees, default 1), LinkLostAfter (seconds,
// default 30) and Sound (default 1) always have a value.

// The six keys and their texts as saveSettings writes them, from the
// program-wide variables.
QList<std::pair<QString, QString>> settingsEntries();
// The five keys of [Alarms] and their texts as saveSettings writes them.
QList<std::pair<QString, QString>> alarmEntries(const Data::AlarmSettings& alarms);

// Writes the six keys, in the same order, and the keys of [Alarms] whose
// values differ from the file's, from the program-wide variables, in one
// replacement of the file: the old values or the new ones, never a mix. On
// failure the values in memory stay in force. On success the [Ports] entries
// of the file as written are taken for configuredDevice.
ProfileWrite saveSettings(const QString& section,
                          const QString& path = QLatin1String(settingsFileName));

} // namespace settings
