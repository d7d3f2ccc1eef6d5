#include "PortDevices.h"

#include "Data.h"
#include "PortAccess.h"

bool openConfigured(tklink::SerialPortControl& port, int number, const QString& speed) {
    Data::comPortNum = static_cast<int16_t>(number);
    Data::comPortSpeed = speed;
    tklink::open_port(port);
    return Data::portConnected;
}
