#include "RecorderCommand.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <array>
#include <cerrno>
#include <cstring>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tkrecord {

namespace {

// A client that says nothing for this long is dropped.
constexpr int clientQuietMs = 5000;

struct Field {
    QLatin1String key;
    QString sealing::RunIdentity::*member;
};

// The operator is no field of a request: the recorder knows the sender.
const std::array<Field, 4> runFields{{
    {QLatin1String("batch"), &sealing::RunIdentity::batch},
    {QLatin1String("part"), &sealing::RunIdentity::part},
    {QLatin1String("customer"), &sealing::RunIdentity::customer},
    {QLatin1String("note"), &sealing::RunIdentity::note},
}};

sockaddr_un socketAddress() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, commandSocketName, sizeof(address.sun_path) - 1);
    return address;
}

// The user at the other end, as the kernel knows it.
QString peerUser(qintptr descriptor) {
    ucred credentials{};
    socklen_t size = sizeof(credentials);
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return {};
    passwd entry{};
    passwd* found = nullptr;
    std::array<char, 4096> buffer{};
    if (::getpwuid_r(credentials.uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QStringLiteral("uid %1").arg(credentials.uid);
}

QString systemError(const QString& what) {
    return what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

QByteArray commandLine(const RecorderCommand& command) {
    QJsonObject request;
    if (command.mark) {
        request.insert(QStringLiteral("mark"), *command.mark);
    } else {
        QJsonObject run;
        for (const Field& field : runFields)
            if (!(command.run.*field.member).isEmpty())
                run.insert(field.key, command.run.*field.member);
        request.insert(QStringLiteral("run"), run);
    }
    if (!command.controller.isEmpty())
        request.insert(QStringLiteral("controller"), command.controller);
    return QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n';
}

std::variant<RecorderCommand, QString> parseCommandLine(const QByteArray& line) {
    const QJsonDocument document = QJsonDocument::fromJson(line);
    const QJsonObject request = document.object();
    const QString bad = QStringLiteral("not a request of tkrecord's");
    if (!document.isObject() ||
        request.contains(QLatin1String("mark")) == request.contains(QLatin1String("run")))
        return bad;
    RecorderCommand command;
    const QJsonValue controller = request.value(QLatin1String("controller"));
    if (!controller.isUndefined() && !controller.isString())
        return bad;
    command.controller = controller.toString();
    if (request.contains(QLatin1String("mark"))) {
        if (!request.value(QLatin1String("mark")).isString())
            return bad;
        command.mark = request.value(QLatin1String("mark")).toString();
        return command;
    }
    if (!request.value(QLatin1String("run")).isObject())
        return bad;
    const QJsonObject run = request.value(QLatin1String("run")).toObject();
    for (const Field& field : runFields)
        command.run.*field.member = run.value(field.key).toString();
    return command;
}

CommandOutcome sendCommand(const RecorderCommand& command, int timeoutMs) {
    const QString none = QStringLiteral("no recorder runs in %1").arg(QDir::currentPath());
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return {{}, systemError(QStringLiteral("cannot make a socket"))};
    // The socket's name is relative: the working folder's path may be
    // longer than a socket address holds.
    const sockaddr_un address = socketAddress();
    if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        const int error = errno;
        ::close(descriptor);
        if (error == ENOENT || error == ECONNREFUSED)
            return {{}, none};
        errno = error;
        return {{}, systemError(QStringLiteral("cannot reach the recorder"))};
    }
    QLocalSocket socket;
    socket.setSocketDescriptor(descriptor);
    socket.write(commandLine(command));
    if (!socket.waitForBytesWritten(timeoutMs))
        return {{}, QStringLiteral("the recorder took no request: ") + socket.errorString()};
    // Its lines until it closes: "ok: ENTRY" for each entry written, or
    // one "error: WHY".
    QByteArray reply;
    while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(timeoutMs))
        reply += socket.readAll();
    reply += socket.readAll();
    QStringList written;
    for (const QString& line : QString::fromUtf8(reply).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("error: ")))
            return {{}, line.mid(7)};
        if (line.startsWith(QLatin1String("ok: ")))
            written << line.mid(4);
    }
    if (written.isEmpty())
        return {{}, QStringLiteral("no answer from the recorder")};
    return {written.join(QLatin1Char('\n')), {}};
}

CommandServer::CommandServer(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)), m_server(new QLocalServer(this)) {
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server->nextPendingConnection())
            serve(client);
    });
}

CommandServer::~CommandServer() {
    if (m_listening)
        ::unlink(commandSocketName);
}

QString CommandServer::listen() {
    // Under the folder's lock: a socket there is one a recorder left behind.
    struct stat found {};
    if (::lstat(commandSocketName, &found) == 0) {
        if (!S_ISSOCK(found.st_mode))
            return QStringLiteral("%1 in the folder is not a socket: marks cannot reach this "
                                  "recorder")
                .arg(QLatin1String(commandSocketName));
        ::unlink(commandSocketName);
    }
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = socketAddress();
    // The recorder's group may mark too (for the service, group tkrecord);
    // the mode is set before anyone can connect.
    if (descriptor < 0 ||
        ::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::chmod(commandSocketName, 0660) != 0 || ::listen(descriptor, 8) != 0) {
        QString why =
            systemError(QStringLiteral("cannot listen on ") + QLatin1String(commandSocketName));
        if (descriptor >= 0)
            ::close(descriptor);
        return why;
    }
    m_listening = true;
    if (!m_server->listen(descriptor))
        return QStringLiteral("cannot listen on %1: %2")
            .arg(QLatin1String(commandSocketName), m_server->errorString());
    return {};
}

void CommandServer::serve(QLocalSocket* client) {
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    auto* quiet = new QTimer(client);
    quiet->setSingleShot(true);
    connect(quiet, &QTimer::timeout, client, &QLocalSocket::abort);
    quiet->start(clientQuietMs);
    const QString user = peerUser(client->socketDescriptor());
    connect(client, &QLocalSocket::readyRead, client, [this, client, user] {
        if (!client->canReadLine()) {
            if (client->bytesAvailable() > commandMaxBytes)
                client->abort();
            return;
        }
        const QByteArray line = client->readLine(commandMaxBytes);
        const auto command = parseCommandLine(line);
        QString reply;
        if (const QString* bad = std::get_if<QString>(&command)) {
            reply = QStringLiteral("error: ") + *bad;
        } else {
            const CommandOutcome done = m_handler(std::get<RecorderCommand>(command), user);
            reply = done.error.isEmpty()
                        ? QStringLiteral("ok: ") +
                              done.written.split(QLatin1Char('\n')).join(QStringLiteral("\nok: "))
                        : QStringLiteral("error: ") + done.error;
        }
        client->write(reply.toUtf8() + '\n');
        client->disconnectFromServer();
    });
}

} // namespace tkrecord
