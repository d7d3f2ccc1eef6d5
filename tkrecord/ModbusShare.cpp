#include "ModbusShare.h"

#include <QTcpSocket>

namespace tkrecord {

namespace {

// A whole frame and the start of the next fit.
constexpr qint64 frameMax = shareHeaderSize + shareLengthMax;

} // namespace

BoundedConnections::Limits ModbusShare::defaultLimits() {
    return {16, 5000, 2 * frameMax, 64LL * 1024};
}

ModbusShare::ModbusShare(RegisterLookup registers, const BoundedConnections::Limits& limits,
                         QObject* parent)
    : QObject(parent), m_registers(std::move(registers)), m_connections(limits) {
    connect(&m_connections, &BoundedConnections::readyRead, this, &ModbusShare::onReadyRead);
    connect(&m_connections, &BoundedConnections::closed, this,
            [this](QTcpSocket* socket) { m_partial.remove(socket); });
}

bool ModbusShare::listen(const QHostAddress& address, quint16 port) {
    return m_connections.listen(address, port);
}

void ModbusShare::onReadyRead(QTcpSocket* socket) {
    // Frames may come many at once; what Qt holds beyond a read is taken
    // once the frames before it are answered.
    while (socket->bytesAvailable() > 0) {
        QByteArray& bytes = m_partial[socket];
        bytes += socket->read(2 * frameMax - bytes.size());
        for (;;) {
            const ShareFrame frame = takeShareFrame(bytes);
            if (frame.kind == ShareFrame::Kind::Incomplete)
                break;
            if (frame.kind == ShareFrame::Kind::Bad) {
                m_connections.close(socket);
                return;
            }
            bytes.remove(0, frame.size);
            socket->write(shareAnswer(frame, m_registers));
            m_connections.restart(socket);
            if (!m_partial.contains(socket))
                return; // closed for answers left unread
        }
    }
}

} // namespace tkrecord
