#pragma once

// The [Controllers] section of conf.ini, one line per controller on the
// line, "NAME=ADDRESS" ("oven-1=10"), and the [Bus] keys that time it:
// AnswerTimeout (ms, default 200; 500 when the port names a gateway, which
// adds its own latency) and ExtraGap (ms added to the Modbus
// silence between frames, default 0). Without [Controllers] there is the
// one unnamed controller at address 9 of a single oven.

#include <QList>
#include <QString>

#include "BusSchedule.h"
#include "Controller.h"
#include "Profile.h"

namespace settings {

inline constexpr int controllerNameMax = 32;
inline constexpr int lowestAddress = 1;
inline constexpr int highestAddress = 247;
inline constexpr int gatewayAnswerTimeoutMs = 500;

struct ControllersRead {
    // In the file's order; the one unnamed controller at address 9 without
    // the section, and after an error.
    QList<tklink::ControllerId> controllers{tklink::ControllerId{}};
    // The file has a [Controllers] section, and it was read whole.
    bool bus = false;
    tklink::BusTiming timing;
    // The first bad line or key, named: `[Controllers] line 12 "oven 1=9":
    // a name is 1 to 32 letters, digits, "-" or "_"`; empty when all is well.
    QString error;
};

// Reads [Controllers] and [Bus]. Any bad line is an error, never skipped:
// then nothing of the section counts.
ControllersRead readControllersSection(const ProfileText& file);

// Takes what readControllersSection makes of file for configuredControllers.
void keepControllersSection(const ProfileText& file);
// As loadSettings or saveSettings last read it.
const ControllersRead& configuredControllers();

} // namespace settings
