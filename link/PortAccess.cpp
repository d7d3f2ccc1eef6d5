#include "PortAccess.h"

#include <QSerialPortInfo>

#include "Data.h"
#include "GatewayAddress.h"
#include "SerialPortControl.h"

namespace tklink {

QString defaultDeviceName(int portNumber) {
#ifdef Q_OS_WIN
    return portNumber >= 1 ? QStringLiteral("COM%1").arg(portNumber) : QString();
#else
    if (portNumber >= 1 && portNumber <= 20)
        return QStringLiteral("/dev/ttyUSB%1").arg(portNumber - 1);
    if (portNumber >= 21 && portNumber <= 30)
        return QStringLiteral("/dev/ttyACM%1").arg(portNumber - 21);
    if (portNumber >= 31 && portNumber <= 50)
        return QStringLiteral("/dev/ttyS%1").arg(portNumber - 31);
    return {};
#endif
}

QStringList presentSerialDevices() {
    QStringList devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        devices << info.systemLocation();
    devices.sort();
    return devices;
}

void open_port(SerialPortControl& port) {
    const bool opened = (!port.portOpen() || port.setPortOpen(false)) &&
                        port.setCommPort(Data::comPortNum) &&
                        port.setSettings(Data::comPortSpeed + QStringLiteral(",n,8,1")) &&
                        port.setInputLen(1) && port.setRThreshold(1) && port.setPortOpen(true);
    Data::portConnected = opened;
}

void scanSerialPorts(SerialPortControl& port) {
    Data::portAvailable.assign(Data::portCount, false);
    for (int n = 1; n <= scannedPorts; ++n) {
        // Each step runs even when the one before it failed.
        const bool numberSet = port.setCommPort(static_cast<int16_t>(n));
        // A gateway is not tried here: it is offered when it is well named.
        if (numberSet && namesGateway(port.deviceName())) {
            Data::portAvailable[n] = parseGatewayAddress(port.deviceName()).address.has_value();
            continue;
        }
        const bool opened = port.setPortOpen(true);
        const bool closed = port.setPortOpen(false);
        Data::portAvailable[n] = numberSet && opened && closed;
    }
}

} // namespace tklink
