#pragma once

// The connections of a server that lives beside the poll on the one thread,
// bounded in what a client can make it hold: at most maxConnections open (a
// new one pushes out the oldest, the likeliest to hold a slot for nothing),
// each closed when it sends no request for deadlineMs, and none may leave
// more than writeLimit bytes of answers unread. A protocol reads and answers
// through readyRead and restart(); closing is done here. A connection held
// open on purpose (an event stream) has no deadline and is pushed out only
// when every open one is held.

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTcpServer>

#include <functional>

class QTcpSocket;
class QTimer;

namespace tkrecord {

class BoundedConnections : public QObject {
    Q_OBJECT

public:
    struct Limits {
        int maxConnections = 16;
        int deadlineMs = 5000;
        qint64 readLimit = 1024;
        qint64 writeLimit = 64 * 1024;
    };

    explicit BoundedConnections(const Limits& limits, QObject* parent = nullptr);
    // Closes every connection without telling closed().
    ~BoundedConnections() override;

    bool listen(const QHostAddress& address, quint16 port);
    QString errorString() const { return m_server.errorString(); }
    quint16 port() const { return m_server.serverPort(); }
    int count() const { return int(m_connections.size()); }

    // A request was answered: the deadline starts again. Closes a client
    // that lets answers pile up unread.
    void restart(QTcpSocket* socket);
    // Closes at once, for a client that misbehaves.
    void close(QTcpSocket* socket);
    // Keeps the connection open with no request to come: its deadline stops.
    void hold(QTcpSocket* socket);

Q_SIGNALS:
    // Bytes came on a connection; at most readLimit wait unread in it.
    void readyRead(QTcpSocket* socket);
    void closed(QTcpSocket* socket);

private:
    void accept();
    void forget(QTcpSocket* socket);

    Limits m_limits;
    QTcpServer m_server;
    // Open connections, oldest first, each with its deadline.
    QList<QTcpSocket*> m_connections;
    QHash<QTcpSocket*, QTimer*> m_deadlines;
    QSet<QTcpSocket*> m_held;
};

} // namespace tkrecord
