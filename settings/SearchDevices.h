#pragma once

// The devices the controller search tries, gathered from the machine and
// conf.ini.

#include <QList>
#include <QString>

#include <functional>

#include "SearchPlan.h"

namespace settings {

// Each device present once, in this order: the configured port's, those of
// port numbers 1 to 50 (the [Ports] section and the platform's numbering, so
// every port the start-up scan opened), the serial devices the system lists,
// and the links of /dev/serial/by-id. deviceForPort names a number's device.
// A device no number names gets the lowest number from 1 to 50 whose device is
// not there, for the [Ports] line to add.
QList<tklink::SearchDevice> searchDevices(int configuredPort,
                                          const std::function<QString(int)>& deviceForPort);

} // namespace settings
