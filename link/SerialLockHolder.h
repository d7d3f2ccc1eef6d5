#pragma once

// Who holds a serial device: the PID written in its lock file, the one
// QSerialPort takes ("LCK..ttyUSB0" in the first writable of the usual lock
// folders), so that a refused open can name the program to close.

#include <QString>

namespace tklink {

// The PID in the lock file of the device at path (after its links), or 0
// when there is none, it names no PID, or it is not a plain file.
qint64 serialLockHolder(const QString& devicePath);

// "held by another program (PID 1234)", or without the PID when it is 0.
QString heldByText(qint64 pid);

} // namespace tklink
