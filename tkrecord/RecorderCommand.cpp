#include "RecorderCommand.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "ClientProtocol.h"

namespace tkrecord {

namespace {

QString systemError(const QString& what) {
    return what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

// The next whole line from socket, or an empty object when none comes.
QJsonObject nextMessage(QLocalSocket& socket, int timeoutMs) {
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(timeoutMs))
            return {};
    return QJsonDocument::fromJson(socket.readLine(requestMaxBytes)).object();
}

} // namespace

CommandOutcome sendCommand(const RecorderCommand& command, int timeoutMs) {
    const QString none = QStringLiteral("no recorder runs in %1").arg(QDir::currentPath());
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return {{}, systemError(QStringLiteral("cannot make a socket"))};
    // The socket's name is relative: the working folder's path may be
    // longer than a socket address holds.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, commandSocketName, sizeof(address.sun_path) - 1);
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
    ClientRequest hello;
    hello.protocol = protocolVersion;
    ClientRequest request;
    request.kind = command.mark ? ClientRequest::Kind::Mark : ClientRequest::Kind::Run;
    request.text = command.mark.value_or(QString());
    request.run = command.run;
    request.controller = command.controller;
    socket.write(requestLine(hello) + requestLine(request));
    if (!socket.waitForBytesWritten(timeoutMs))
        return {{}, QStringLiteral("the recorder took no request: ") + socket.errorString()};
    // The greeting, the hello's answer, then the request's.
    const QString asked = requestName(request.kind);
    for (;;) {
        const QJsonObject message = nextMessage(socket, timeoutMs);
        if (message.isEmpty())
            return {{}, QStringLiteral("no answer from the recorder")};
        const QString answer = message.value(QLatin1String("answer")).toString();
        const bool ok = message.value(QLatin1String("ok")).toBool();
        if (!ok && (answer == asked || answer == requestName(ClientRequest::Kind::Hello)))
            return {{}, message.value(QLatin1String("reason")).toString()};
        if (ok && answer == asked)
            return {message.value(QLatin1String("written")).toString(), {}};
        if (message.value(QLatin1String("event")).toString() == QLatin1String("dropped"))
            return {{}, message.value(QLatin1String("reason")).toString()};
    }
}

} // namespace tkrecord
