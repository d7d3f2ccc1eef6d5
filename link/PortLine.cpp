#include "PortLine.h"

namespace tklink {

PortLine::PortLine(LineDevice& serial, LineDevice& gateway, QObject* parent)
    : LineDevice(parent), m_serial(serial), m_gateway(gateway), m_current(&serial) {
    forward(serial);
    forward(gateway);
}

void PortLine::forward(LineDevice& device) {
    LineDevice* from = &device;
    // Only the device in use speaks for the port.
    connect(from, &LineDevice::bytesArrived, this, [this, from] {
        if (from == m_current)
            Q_EMIT bytesArrived();
    });
    connect(from, &LineDevice::lost, this, [this, from] {
        if (from == m_current)
            Q_EMIT lost();
    });
}

void PortLine::useGateway(bool gateway) {
    m_current = gateway ? &m_gateway : &m_serial;
}

} // namespace tklink
