#pragma once

// The recorder's clients on its command socket (.tkrecord.sock in the working
// folder, mode 0660: only the folder's user and group reach it), spoken in
// the protocol of ClientProtocol.h. What a client can make the recorder hold
// is bounded: at most maxClients at once; a request line of at most
// requestMaxBytes; a client that has not said hello within helloDeadlineMs is
// dropped; each has a queue of at most maxQueuedLines lines, with at most
// inFlightBytes handed to the socket, and one that falls further behind (a
// window stopped or reading slowly) is dropped and told so, so that it never
// slows polling or recording.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

#include "ClientProtocol.h"
#include "PeerUser.h"

class QLocalServer;
class QLocalSocket;

namespace tkrecord {

class ClientConnection;

// tk_clients for the metrics: windows (and scripts) on the socket, pages
// following the event stream.
QByteArray clientsMetricText(int windows, int pages);

class ClientServer : public QObject {
    Q_OBJECT

public:
    static constexpr int maxClients = 16;
    static constexpr int maxQueuedLines = 1000;
    static constexpr qint64 inFlightBytes = 64 * 1024;
    static constexpr int helloDeadlineMs = 5000;
    // A dropped client that reads nothing more is cut off after this.
    static constexpr int droppedDeadlineMs = 30000;

    // The answer to one request; may be called later (a setpoint write waits
    // for the line), or never when the client has gone.
    using Reply = std::function<void(const QByteArray& line)>;
    // Requests other than hello and watch.
    using Handler = std::function<void(const ClientRequest&, const Peer&, const Reply&)>;
    // What a client that starts watching is sent first (the last hour, the
    // current state).
    using Attach = std::function<QList<QByteArray>()>;

    ClientServer(Handler handler, Attach attach, QStringList controllers,
                 QObject* parent = nullptr);
    ~ClientServer() override;

    // Listens on the socket name (relative to the working folder), replacing
    // a socket a recorder that ended left there; why it cannot, or an empty
    // text.
    QString listen(const QString& name);
    // The recorder's own members of the greeting (its line, its setpoint
    // limits), for the clients that come from now on.
    void setGreeting(const QJsonObject& more) { m_greeting = more; }
    // Sends line to every watching client.
    void publish(const QByteArray& line);
    int clientCount() const { return int(m_clients.size()); }

Q_SIGNALS:
    void clientCountChanged(int count);

private:
    void accept();
    void forget(ClientConnection* client);
    void take(ClientConnection* client, const QByteArray& line);

    Handler m_handler;
    Attach m_attach;
    QStringList m_controllers;
    QJsonObject m_greeting;
    QLocalServer* m_server;
    QByteArray m_socketName;
    QList<ClientConnection*> m_clients;
};

} // namespace tkrecord
