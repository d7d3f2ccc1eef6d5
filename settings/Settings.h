#pragma once

// The six settings of the program in conf.ini: read at start-up, written when
// the Parameters dialog is closed with its "Close" button.

#include <QString>

#include "Profile.h"

namespace settings {

// The settings file, relative to the working directory.
inline constexpr char settingsFileName[] = "conf.ini";

// Reads ComPortNum, ComPortSpeed, interv_record, Yvaluemin, Yvaluemax and
// Echelle_Temps, in this order, from section into the program-wide variables.
// A missing file or key gives that key's default; a whole number outside the
// 16-bit range also falls back to its default.
void loadSettings(const QString& section, const QString& path = QLatin1String(settingsFileName));

// Then the five keys of [Alarms] into Data::alarms: HighLimit, DeviationBand
// and DeviationDelay (minutes) turn their alarm off when empty or missing;
// LinkLostAfter (seconds, default 30) and Sound (default 1) always have a value.

// Writes the six keys, in the same order, and the keys of [Alarms] whose
// values differ from the file's, from the program-wide variables, in one
// replacement of the file: the old values or the new ones, never a mix. On failure the values in
// memory stay in force.
ProfileWrite saveSettings(const QString& section,
                          const QString& path = QLatin1String(settingsFileName));

} // namespace settings
