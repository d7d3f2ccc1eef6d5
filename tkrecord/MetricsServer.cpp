#include "MetricsServer.h"

#include "HttpExchange.h"
#include "ShopPage.h"

#include <QTcpSocket>

namespace tkrecord {

MetricsServer::MetricsServer(std::function<QByteArray()> metrics, QObject* parent, int deadlineMs)
    // Qt reads no more of a request than the head limit and a byte, so a
    // client sending megabytes costs at most this much before it is answered
    // 431; a scrape takes milliseconds, so the oldest connection is the
    // likeliest to hold a slot for nothing.
    : QObject(parent),
      m_connections({maxConnections, deadlineMs, requestHeadLimit + 1, streamBacklogLimit}),
      m_metrics(std::move(metrics)) {
    connect(&m_connections, &BoundedConnections::readyRead, this, &MetricsServer::onReadyRead);
    connect(&m_connections, &BoundedConnections::closed, this, &MetricsServer::forget);
    connect(&m_events, &QTimer::timeout, this, &MetricsServer::sendEvents);
}

void MetricsServer::servePage(std::function<QByteArray(bool withHistory)> state) {
    m_state = std::move(state);
    m_events.start(eventIntervalMs);
}

bool MetricsServer::listen(const QHostAddress& address, quint16 port) {
    return m_connections.listen(address, port);
}

void MetricsServer::onReadyRead(QTcpSocket* socket) {
    if (m_streams.contains(socket) || socket->state() != QAbstractSocket::ConnectedState) {
        socket->skip(socket->bytesAvailable());
        return;
    }
    QByteArray& received = m_unanswered[socket];
    received += socket->read(requestHeadLimit + 1 - received.size());
    const qsizetype head = requestHeadLength(received);
    if (head > 0 && head <= requestHeadLimit && m_state) {
        if (const auto page = pageAnswer(received.first(head), m_state)) {
            if (!page->stream)
                return answer(socket, page->response);
            m_unanswered.remove(socket);
            m_connections.hold(socket);
            m_streams.append(socket);
            socket->write(page->response);
            return;
        }
    }
    if (head > 0 && head <= requestHeadLimit)
        answer(socket, responseTo(received.first(head), m_metrics));
    else if (received.size() > requestHeadLimit)
        answer(socket, headTooLargeResponse());
}

void MetricsServer::answer(QTcpSocket* socket, const QByteArray& response) {
    m_unanswered.remove(socket);
    socket->write(response);
    // Closes once the response is written; the deadline still stands for a
    // client that never reads it.
    socket->disconnectFromHost();
}

void MetricsServer::sendEvents() {
    if (m_streams.isEmpty())
        return;
    const QByteArray event = pageEvent(m_state(false));
    for (QTcpSocket* stream : QList<QTcpSocket*>(m_streams)) {
        stream->write(event);
        // A reader that does not keep up is not kept: its backlog would grow
        // by an event every two seconds.
        m_connections.restart(stream);
    }
}

void MetricsServer::forget(QTcpSocket* socket) {
    m_unanswered.remove(socket);
    m_streams.removeOne(socket);
}

} // namespace tkrecord
