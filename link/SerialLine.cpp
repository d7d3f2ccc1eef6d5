#include "SerialLine.h"

#include "BusSchedule.h"
#include "SerialPortControl.h"

namespace tklink {

SerialLine::SerialLine(SerialPortControl& port, QObject* parent)
    : LineDevice(parent), m_port(port) {
    connect(&m_port, &SerialPortControl::comm, this, &SerialLine::portReceived);
    connect(&m_port, &SerialPortControl::deviceLost, this, &LineDevice::lost);
}

void SerialLine::portReceived() {
    if (m_port.commEvent() == SerialPortControl::comEvReceive)
        Q_EMIT bytesArrived();
}

bool SerialLine::isOpen() const {
    return m_port.portOpen();
}

void SerialLine::discardPending() {
    m_port.clearInBuffer();
    m_port.clearOutBuffer();
}

bool SerialLine::write(const QByteArray& frame) {
    return m_port.output(frame);
}

QByteArray SerialLine::takeReceived() {
    m_port.setInputLen(0);
    return m_port.input();
}

int SerialLine::interFrameSilenceUs() const {
    return tklink::interFrameSilenceUs(m_port.baudRate());
}

} // namespace tklink
