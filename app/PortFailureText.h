#pragma once

// What the operator reads when the serial port does not open: the device
// tried, the system's reason and, where one is known, the remedy.

#include <QString>
#include <QStringList>

#include "SerialPortControl.h"

namespace app {

// One line: "/dev/ttyUSB0: Permission denied. Join the dialout group ...".
QString portFailureReason(const tklink::OpenFailure& failure);

// The start-up box's detail: the reason, and for a device that is not there
// the serial devices that are (present, as the operator should read them).
QString portFailureDetail(const tklink::OpenFailure& failure, const QStringList& present);

// The detail as rich text for a message box, which wraps its lines to fit:
// a command to type ("In a terminal: ...") is kept on one line.
QString detailMarkup(const QString& detail);

} // namespace app
