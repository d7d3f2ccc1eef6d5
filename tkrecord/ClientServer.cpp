#include "ClientServer.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tkrecord {

// One client: its socket, who it is, and the lines waiting for it.
class ClientConnection : public QObject {
public:
    ClientConnection(QLocalSocket* socket, QObject* parent)
        : QObject(parent), socket(socket), peer(peerOf(socket->socketDescriptor())) {
        socket->setParent(this);
        // Qt reads no more than this from the system before the line is
        // taken or refused.
        socket->setReadBufferSize(requestMaxBytes + 1);
        deadline.setSingleShot(true);
    }

    // Queues line; a client too far behind is dropped instead.
    void send(const QByteArray& line) {
        if (dropping)
            return;
        if (queue.size() >= ClientServer::maxQueuedLines) {
            queue.clear();
            drop(QStringLiteral("fell behind: more than %1 messages waiting")
                     .arg(ClientServer::maxQueuedLines));
            return;
        }
        queue.append(line);
        flush();
    }

    // Tells the client why, then closes once that is written.
    void drop(const QString& why) {
        if (std::exchange(dropping, true))
            return;
        queue.append(droppedLine(why));
        deadline.start(ClientServer::droppedDeadlineMs);
        flush();
    }

    void flush() {
        while (!queue.isEmpty() && socket->bytesToWrite() < ClientServer::inFlightBytes)
            socket->write(queue.takeFirst());
        if (dropping && queue.isEmpty())
            socket->disconnectFromServer();
    }

    QLocalSocket* socket;
    Peer peer;
    QList<QByteArray> queue;
    QTimer deadline;
    bool dropping = false;
    bool greeted = false;
    bool watching = false;
};

namespace {

QString systemError(const QString& what) {
    return what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

QByteArray clientsMetricText(int windows, int pages) {
    return "# HELP tk_clients Clients attached to the recorder.\n"
           "# TYPE tk_clients gauge\n"
           "tk_clients{kind=\"window\"} " +
           QByteArray::number(windows) + "\ntk_clients{kind=\"page\"} " +
           QByteArray::number(pages) + "\n";
}

ClientServer::ClientServer(Handler handler, Attach attach, QStringList controllers, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)), m_attach(std::move(attach)),
      m_controllers(std::move(controllers)), m_server(new QLocalServer(this)) {
    connect(m_server, &QLocalServer::newConnection, this, &ClientServer::accept);
}

ClientServer::~ClientServer() {
    if (!m_socketName.isEmpty())
        ::unlink(m_socketName.constData());
}

QString ClientServer::listen(const QString& name) {
    const QByteArray path = name.toLocal8Bit();
    // Under the folder's lock: a socket there is one a recorder left behind.
    struct stat found {};
    if (::lstat(path.constData(), &found) == 0) {
        if (!S_ISSOCK(found.st_mode))
            return QStringLiteral("%1 in the folder is not a socket: marks cannot reach this "
                                  "recorder")
                .arg(name);
        ::unlink(path.constData());
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::size_t(path.size()) >= sizeof(address.sun_path))
        return QStringLiteral("cannot listen on %1: the name is too long").arg(name);
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // The recorder's group may attach too (for the service, group tkrecord);
    // the mode is set before anyone can connect.
    if (descriptor < 0 ||
        ::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::chmod(path.constData(), 0660) != 0 || ::listen(descriptor, 2 * maxClients) != 0) {
        QString why = systemError(QStringLiteral("cannot listen on ") + name);
        if (descriptor >= 0)
            ::close(descriptor);
        return why;
    }
    m_socketName = path;
    if (!m_server->listen(descriptor))
        return QStringLiteral("cannot listen on %1: %2").arg(name, m_server->errorString());
    return {};
}

void ClientServer::accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        auto* client = new ClientConnection(socket, this);
        connect(socket, &QLocalSocket::disconnected, this, [this, client] { forget(client); });
        connect(socket, &QLocalSocket::bytesWritten, client, [client] { client->flush(); });
        connect(&client->deadline, &QTimer::timeout, socket, &QLocalSocket::abort);
        client->send(
            greetingLine(QDir::currentPath(), client->peer.user, m_controllers, m_greeting));
        if (m_clients.size() >= maxClients) {
            client->drop(QStringLiteral("the recorder serves at most %1 clients").arg(maxClients));
            continue;
        }
        m_clients.append(client);
        Q_EMIT clientCountChanged(clientCount());
        client->deadline.start(helloDeadlineMs);
        connect(socket, &QLocalSocket::readyRead, client, [this, client] {
            while (!client->dropping && client->socket->canReadLine())
                take(client, client->socket->readLine(requestMaxBytes + 2));
            if (!client->dropping && client->socket->bytesAvailable() > requestMaxBytes)
                client->drop(QStringLiteral("request longer than %1 bytes").arg(requestMaxBytes));
        });
    }
}

void ClientServer::take(ClientConnection* client, const QByteArray& line) {
    if (line.size() > requestMaxBytes + 1 || !line.endsWith('\n')) {
        client->drop(QStringLiteral("request longer than %1 bytes").arg(requestMaxBytes));
        return;
    }
    const auto parsed = parseClientRequest(line);
    if (const auto* refusal = std::get_if<RequestRefusal>(&parsed)) {
        client->send(refusalLine(*refusal));
        return;
    }
    const auto& request = std::get<ClientRequest>(parsed);
    const QString name = requestName(request.kind);
    if (request.kind == ClientRequest::Kind::Hello) {
        if (request.protocol != protocolVersion) {
            client->send(refusalLine({name, request.id,
                                      QStringLiteral("this recorder speaks protocol %1, not %2")
                                          .arg(protocolVersion)
                                          .arg(request.protocol)}));
            client->drop(QStringLiteral("another protocol"));
            return;
        }
        client->greeted = true;
        client->deadline.stop();
        client->send(answerLine(name, request.id, {}));
        return;
    }
    if (!client->greeted) {
        client->send(refusalLine({name, request.id, QStringLiteral("hello first")}));
        return;
    }
    if (request.kind == ClientRequest::Kind::Watch) {
        client->send(answerLine(name, request.id, {}));
        if (!std::exchange(client->watching, true))
            for (const QByteArray& attached : m_attach())
                client->send(attached);
        return;
    }
    QPointer<ClientConnection> to(client);
    m_handler(request, client->peer, [to](const QByteArray& answer) {
        if (to)
            to->send(answer);
    });
}

void ClientServer::publish(const QByteArray& line) {
    for (ClientConnection* client : std::as_const(m_clients))
        if (client->watching)
            client->send(line);
}

void ClientServer::forget(ClientConnection* client) {
    if (m_clients.removeOne(client))
        Q_EMIT clientCountChanged(clientCount());
    client->deleteLater();
}

} // namespace tkrecord
