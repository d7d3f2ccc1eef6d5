#include "BoundedConnections.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace tkrecord {

BoundedConnections::BoundedConnections(const Limits& limits, QObject* parent)
    : QObject(parent), m_limits(limits) {
    connect(&m_server, &QTcpServer::newConnection, this, &BoundedConnections::accept);
}

BoundedConnections::~BoundedConnections() {
    // The sockets are the server's children: gone with it, they would tell
    // their disconnection to a half-destroyed owner.
    for (QTcpSocket* socket : std::as_const(m_connections)) {
        socket->disconnect(this);
        delete socket;
    }
}

bool BoundedConnections::listen(const QHostAddress& address, quint16 port) {
    return m_server.listen(address, port);
}

void BoundedConnections::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_connections.size() >= m_limits.maxConnections) {
            const auto found =
                std::find_if(m_connections.cbegin(), m_connections.cend(),
                             [this](QTcpSocket* open) { return !m_held.contains(open); });
            close(found == m_connections.cend() ? m_connections.first() : *found);
        }
        m_connections.append(socket);
        // Qt reads no more from the system than this.
        socket->setReadBufferSize(m_limits.readLimit);
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, this, [this, socket] { close(socket); });
        deadline->start(m_limits.deadlineMs);
        m_deadlines.insert(socket, deadline);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (m_deadlines.contains(socket))
                Q_EMIT readyRead(socket);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { forget(socket); });
        if (socket->bytesAvailable() > 0)
            Q_EMIT readyRead(socket);
    }
}

void BoundedConnections::restart(QTcpSocket* socket) {
    if (socket->bytesToWrite() > m_limits.writeLimit) {
        close(socket);
        return;
    }
    if (QTimer* deadline = m_deadlines.value(socket); deadline && !m_held.contains(socket))
        deadline->start(m_limits.deadlineMs);
}

void BoundedConnections::hold(QTcpSocket* socket) {
    if (QTimer* deadline = m_deadlines.value(socket)) {
        deadline->stop();
        m_held.insert(socket);
    }
}

void BoundedConnections::close(QTcpSocket* socket) {
    if (!m_deadlines.contains(socket))
        return;
    socket->abort();
    forget(socket);
}

void BoundedConnections::forget(QTcpSocket* socket) {
    m_deadlines.remove(socket);
    m_held.remove(socket);
    if (m_connections.removeOne(socket)) {
        Q_EMIT closed(socket);
        socket->deleteLater();
    }
}

} // namespace tkrecord
