#pragma once

// The /metrics endpoint on a QTcpServer, built to live beside the poll on the
// one thread: nothing blocks, a connection carries one request and is closed,
// and what a client can make it hold is bounded. At most maxConnections are
// open (a new one pushes out the oldest), each must send its request head
// within requestDeadlineMs, and no more than requestHeadLimit bytes of it are
// read. With the shop-floor page, an event stream stays open and is sent
// the values every eventIntervalMs; it counts among the connections, and one
// whose reader has fallen more than streamBacklogLimit bytes behind is closed.

#include "BoundedConnections.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QTcpSocket;

namespace tkrecord {

class MetricsServer : public QObject {
    Q_OBJECT

public:
    static constexpr int maxConnections = 16;
    static constexpr int requestDeadlineMs = 5000;
    static constexpr int eventIntervalMs = 2000;
    static constexpr qint64 streamBacklogLimit = 64 * 1024;

    explicit MetricsServer(std::function<QByteArray()> metrics, QObject* parent = nullptr,
                           int deadlineMs = requestDeadlineMs);

    // Serves the shop-floor page too; state(withHistory) gives its JSON.
    void servePage(std::function<QByteArray(bool withHistory)> state);
    bool listen(const QHostAddress& address, quint16 port);
    QString errorString() const { return m_connections.errorString(); }
    quint16 port() const { return m_connections.port(); }
    int connectionCount() const { return m_connections.count(); }
    int streamCount() const { return int(m_streams.size()); }

private:
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QByteArray& response);
    void forget(QTcpSocket* socket);
    void sendEvents();

    BoundedConnections m_connections;
    std::function<QByteArray()> m_metrics;
    // What the connections not answered yet have sent so far.
    QHash<QTcpSocket*, QByteArray> m_unanswered;
    std::function<QByteArray(bool)> m_state;
    QList<QTcpSocket*> m_streams;
    QTimer m_events;
};

} // namespace tkrecord
