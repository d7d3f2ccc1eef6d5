#pragma once

// The serial port as the line owner's device: the program's serial-port
// control, opened and closed by open_port as before.

#include "LineDevice.h"

namespace tklink {

class SerialPortControl;

class SerialLine : public LineDevice {
    Q_OBJECT

public:
    explicit SerialLine(SerialPortControl& port, QObject* parent = nullptr);

    bool isOpen() const override;
    void discardPending() override;
    bool write(const QByteArray& frame) override;
    QByteArray takeReceived() override;
    int interFrameSilenceUs() const override;

    SerialPortControl& port() { return m_port; }
    // The port's receive event; connected to its comm() already.
    void portReceived();

private:
    SerialPortControl& m_port;
};

} // namespace tklink
