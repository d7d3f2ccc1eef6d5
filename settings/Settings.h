#pragma once

// The six settings of the program in conf.ini: read at start-up, written when
// the Parameters dialog is closed with its "Close" button.

#include <QString>

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
};

// Reads ComPortNum, ComPortSpeed, interv_record, Yvaluemin, Yvaluemax and
// Echelle_Temps, in this order, from section into the program-wide variables,
// and the [Ports] section for configuredDevice, in one read of the file.
// A missing or unreadable file or a missing key gives that key's default; a
// whole number outside the 16-bit range also falls back to its default.
SettingsRead loadSettings(const QString& section,
                          const QString& path = QLatin1String(settingsFileName));

// Then the five keys of [Alarms] into Data::alarms: HighLimit, DeviationBand
// and DeviationDelay (minutes) turn their alarm off when empty or missing;
// LinkLostAfter (seconds, default 30) and Sound (default 1) always have a value.

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
