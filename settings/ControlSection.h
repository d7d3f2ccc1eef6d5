#pragma once

// The [Control] section of conf.ini: whether the operator may change the
// controller's setpoint from the window. SetpointWrite=1 allows it;
// SetpointMin and SetpointMax (°C) bound the values written, and without
// both nothing is written; SetpointFunction is 6 (write single register,
// the default) or 16 (write multiple registers) for controllers that want it.

#include <QStringList>

#include <cstdint>
#include <optional>

#include "Profile.h"

namespace settings {

struct ControlRead {
    bool setpointWrite = false;
    std::optional<double> setpointMin;
    std::optional<double> setpointMax;
    uint8_t setpointFunction = 6;
    // One line per bad value, naming it and its line: "conf.ini line 14:
    // SetpointMax \"hot\" is not a number". Any of them turns writes off.
    QStringList refused;

    // Both limits are there: a write can go out.
    bool limitsSet() const { return setpointMin && setpointMax; }
};

ControlRead readControlSection(const ProfileText& file);

// Takes what readControlSection makes of file for configuredControl.
void keepControlSection(const ProfileText& file);
// As loadSettings last read it.
const ControlRead& configuredControl();

} // namespace settings
