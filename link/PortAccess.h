#pragma once

// Opening the configured port and the start-up scan of port numbers 1 to 50.

#include <QString>
#include <QStringList>

namespace tklink {

class SerialPortControl;

// Highest port number the start-up scan tries.
inline constexpr int scannedPorts = 50;

// The device a port number names when conf.ini does not map it: COMn on
// Windows; on Linux 1-20 are ttyUSB0-19 (USB adapters), 21-30 ttyACM0-9 and
// 31-50 ttyS0-19. Other numbers name nothing.
QString defaultDeviceName(int portNumber);

// The serial devices the system has now ("/dev/ttyUSB0", "COM3"), sorted.
QStringList presentSerialDevices();

// (Re)opens port Data::comPortNum at Data::comPortSpeed, 8N1, and sets
// Data::portConnected to the outcome. Shows nothing; a port that was open is
// closed first.
void open_port(SerialPortControl& port);

// Tries ports 1 to 50 once each and records in Data::portAvailable which of
// them opened and closed without failure. Entry 0 stays false. Ends with the
// port closed.
void scanSerialPorts(SerialPortControl& port);

} // namespace tklink
