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

// The six keys and their texts as saveSettings writes them, from the
// program-wide variables.
QList<std::pair<QString, QString>> settingsEntries();

// Writes the six keys, in the same order, from the program-wide variables, in
// one replacement of the file: the six old values or the six new ones, never
// a mix. On failure the values in memory stay in force.
ProfileWrite saveSettings(const QString& section,
                          const QString& path = QLatin1String(settingsFileName));

} // namespace settings
