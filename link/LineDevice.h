#pragma once

// The byte pipe under the line owner: a serial port today, a TCP connection
// to a gateway tomorrow. It moves bytes and says when some came or when the
// device went away; what the bytes mean is the line owner's business alone.
// Opening is the transport's own (a port number and speed, a host and port),
// done before the line owner is handed the device.

#include <QByteArray>
#include <QObject>

namespace tklink {

class LineDevice : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    virtual bool isOpen() const = 0;
    // Bytes received and not yet taken, and bytes not yet sent, are dropped:
    // what is left of an earlier exchange answers nothing now.
    virtual void discardPending() = 0;
    // One frame, whole; false when the device refused it (it may report
    // lost() too).
    virtual bool write(const QByteArray& frame) = 0;
    // Every byte received so far and not yet taken.
    virtual QByteArray takeReceived() = 0;
    // The silence the medium needs between two frames: the Modbus RTU 3.5
    // characters on a serial line, 0 for a transport that frames by itself.
    virtual int interFrameSilenceUs() const = 0;
    // The answers come through a Modbus TCP gateway, whose own exceptions
    // (10, 11) may come in place of the controller's answer; a serial server
    // (RTU over TCP) only passes the line's frames.
    virtual bool isGateway() const { return false; }

Q_SIGNALS:
    // Received bytes are waiting for takeReceived().
    void bytesArrived();
    // The open device failed or went away; it is closed already. Once per open.
    void lost();
};

} // namespace tklink
