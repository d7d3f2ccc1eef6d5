#pragma once

// The [Ports] section of conf.ini, which names the device of a port number
// ("1=/dev/ttyUSB0", "2=COM7"). Shared by the main window and tkrecord.

#include <QString>

#include "Settings.h"

namespace settings {

// The device port number portNumber names: the [Ports] entry of the settings
// file at path, or the platform's numbering when the file has none.
QString configuredDevice(int portNumber, const QString& path = QLatin1String(settingsFileName));

} // namespace settings
