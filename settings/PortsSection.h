#pragma once

// The [Ports] section of conf.ini, which names the device of a port number
// ("1=/dev/ttyUSB0", "2=COM7"). Shared by the main window and tkrecord.

#include <QString>

#include "Profile.h"

namespace settings {

// The device port number portNumber names: the [Ports] entry of the settings
// file as loadSettings or saveSettings last read or wrote it, or the
// platform's numbering when it has none. Never reads the file: it is asked
// at every open, and a recorder opens every 2 s while its adapter is away.
QString configuredDevice(int portNumber);

// Takes the [Ports] entries of file for configuredDevice.
void keepPortsSection(const ProfileText& file);

} // namespace settings
