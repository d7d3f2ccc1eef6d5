#pragma once

// The configured port as the line owner's one device: the serial port or a
// gateway, whichever the port number names at the last open. The line
// owner keeps its reference for life; what lies behind it may change.

#include "LineDevice.h"

namespace tklink {

class PortLine : public LineDevice {
    Q_OBJECT

public:
    PortLine(LineDevice& serial, LineDevice& gateway, QObject* parent = nullptr);

    void useGateway(bool gateway);
    bool onGateway() const { return m_current == &m_gateway; }

    bool isOpen() const override { return m_current->isOpen(); }
    void discardPending() override { m_current->discardPending(); }
    bool write(const QByteArray& frame) override { return m_current->write(frame); }
    QByteArray takeReceived() override { return m_current->takeReceived(); }
    int interFrameSilenceUs() const override { return m_current->interFrameSilenceUs(); }
    bool isGateway() const override { return m_current->isGateway(); }

private:
    void forward(LineDevice& device);

    LineDevice& m_serial;
    LineDevice& m_gateway;
    LineDevice* m_current;
};

} // namespace tklink
