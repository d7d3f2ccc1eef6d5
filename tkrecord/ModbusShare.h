#pragma once

// The Modbus TCP share: other masters (a SCADA, a PLC, a home-automation hub)
// read the controllers' registers 1 to 3 from the recorder's latest current
// values, so that they never need the serial line, which allows one master.
// Read-only; nothing it is asked ever reaches the line. A connection that
// sends what is not Modbus TCP is closed.

#include <QByteArray>
#include <QHash>
#include <QObject>

#include "BoundedConnections.h"
#include "ShareRequest.h"

namespace tkrecord {

class ModbusShare : public QObject {
    Q_OBJECT

public:
    // At most 16 connections, each closed after 5 s without a request.
    static BoundedConnections::Limits defaultLimits();

    explicit ModbusShare(RegisterLookup registers,
                         const BoundedConnections::Limits& limits = defaultLimits(),
                         QObject* parent = nullptr);

    bool listen(const QHostAddress& address, quint16 port);
    QString errorString() const { return m_connections.errorString(); }
    quint16 port() const { return m_connections.port(); }
    int connectionCount() const { return m_connections.count(); }

private:
    void onReadyRead(QTcpSocket* socket);

    RegisterLookup m_registers;
    // What each connection sent that is not a whole frame yet.
    QHash<QTcpSocket*, QByteArray> m_partial;
    BoundedConnections m_connections;
};

} // namespace tkrecord
