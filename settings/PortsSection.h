#pragma once

// The [Ports] section of conf.ini, which names the device of a port number
// ("1=/dev/ttyUSB0", "2=COM7") or a gateway in front of the line
// ("3=tcp://192.168.1.50:502", "4=rtu+tcp://[fd00::7]:4001"). Shared by the
// main window and tkrecord.

#include <QString>

#include <optional>

#include "GatewayAddress.h"
#include "Profile.h"

namespace settings {

// The device port number portNumber names: the [Ports] entry of the settings
// file as loadSettings or saveSettings last read or wrote it, or the
// platform's numbering when it has none. Never reads the file: it is asked
// at every open, and a recorder opens every 2 s while its adapter is away.
QString configuredDevice(int portNumber);

// The gateway port number portNumber names, when its entry is a good
// gateway address.
std::optional<tklink::GatewayAddress> configuredGateway(int portNumber);

// Takes the [Ports] entries of file for configuredDevice.
void keepPortsSection(const ProfileText& file);

// The first entry of the section that names a gateway badly, with its line:
// `[Ports] line 4 "2=tcp://gw:99999": the TCP port is a number from 1 to
// 65535, not "99999"`; empty when there is none.
QString portsSectionError(const ProfileText& file);

} // namespace settings
