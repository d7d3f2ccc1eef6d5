#include "MetricsServer.h"

#include "HttpExchange.h"
#include "ShopPage.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace tkrecord {

MetricsServer::MetricsServer(std::function<QByteArray()> metrics, QObject* parent)
    : QObject(parent), m_metrics(std::move(metrics)) {
    connect(&m_server, &QTcpServer::newConnection, this, &MetricsServer::accept);
    connect(&m_events, &QTimer::timeout, this, &MetricsServer::sendEvents);
}

void MetricsServer::servePage(std::function<QByteArray(bool withHistory)> state) {
    m_state = std::move(state);
    m_events.start(eventIntervalMs);
}

bool MetricsServer::listen(const QHostAddress& address, quint16 port) {
    return m_server.listen(address, port);
}

void MetricsServer::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_connections.size() >= maxConnections) {
            // The oldest is the likeliest to be a client that holds a slot
            // without asking anything; a scrape takes milliseconds.
            // An event stream goes only when every connection is one.
            const auto found =
                std::find_if(m_connections.begin(), m_connections.end(),
                             [this](QTcpSocket* s) { return !m_streams.contains(s); });
            QTcpSocket* oldest = found == m_connections.end() ? m_connections.first() : *found;
            m_connections.removeOne(oldest);
            m_streams.removeOne(oldest);
            m_unanswered.remove(oldest);
            oldest->abort();
            oldest->deleteLater();
        }
        m_connections.append(socket);
        m_unanswered.insert(socket, QByteArray());
        // Qt reads no more from the system than this, so a client sending
        // megabytes costs at most this much before it is answered 431.
        socket->setReadBufferSize(requestHeadLimit + 1);
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, [this, socket] {
            socket->abort();
            forget(socket);
        });
        deadline->start(requestDeadlineMs);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { forget(socket); });
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void MetricsServer::onReadyRead(QTcpSocket* socket) {
    const auto entry = m_unanswered.find(socket);
    if (entry == m_unanswered.end()) {
        socket->skip(socket->bytesAvailable());
        return;
    }
    QByteArray& received = entry.value();
    received += socket->read(requestHeadLimit + 1 - received.size());
    const qsizetype head = requestHeadLength(received);
    if (head > 0 && head <= requestHeadLimit && m_state) {
        if (const auto page = pageAnswer(received.first(head), m_state)) {
            if (!page->stream)
                return answer(socket, page->response);
            m_unanswered.remove(socket);
            delete socket->findChild<QTimer*>();
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
        // A reader that does not keep up is not kept: its backlog would grow
        // by an event every two seconds.
        if (stream->bytesToWrite() > streamBacklogLimit) {
            stream->abort();
            forget(stream);
            continue;
        }
        stream->write(event);
    }
}

void MetricsServer::forget(QTcpSocket* socket) {
    m_unanswered.remove(socket);
    m_streams.removeOne(socket);
    if (m_connections.removeOne(socket))
        socket->deleteLater();
}

} // namespace tkrecord
