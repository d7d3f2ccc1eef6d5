#include "Ser2net.h"

#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

namespace {

// A port nobody listens on now: the system's choice for a server that is
// closed again at once.
quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

bool ser2netInstalled() {
    return !QStandardPaths::findExecutable(QStringLiteral("ser2net"), {"/usr/sbin", "/usr/bin"})
                .isEmpty();
}

Ser2net::Ser2net(QString device, int baud) : m_device(std::move(device)), m_baud(baud) {}

Ser2net::~Ser2net() {
    kill();
}

QString Ser2net::address() const {
    return QStringLiteral("rtu+tcp://127.0.0.1:%1").arg(m_port);
}

bool Ser2net::start(int timeoutMs) {
    if (m_port == 0)
        m_port = freePort();
    const QString config = m_dir.filePath(QStringLiteral("ser2net.yaml"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // kickolduser: a client that comes back after a lost connection is not
    // refused while ser2net still holds the old one.
    file.write(QStringLiteral("connection: &line\n"
                              "  accepter: tcp,127.0.0.1,%1\n"
                              "  enable: on\n"
                              "  options:\n"
                              "    kickolduser: true\n"
                              "  connector: serialdev,%2,%3n81,local\n")
                   .arg(m_port)
                   .arg(m_device)
                   .arg(m_baud)
                   .toUtf8());
    file.close();
    const QString program =
        QStandardPaths::findExecutable(QStringLiteral("ser2net"), {"/usr/sbin", "/usr/bin"});
    // -n: in the foreground; -u: no UUCP lock files, which need /var/lock.
    m_process.start(program,
                    {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-P"),
                     m_dir.filePath(QStringLiteral("ser2net.pid")), QStringLiteral("-c"), config});
    return QTest::qWaitFor(
               [this] { return listening() || m_process.state() == QProcess::NotRunning; },
               timeoutMs) &&
           listening();
}

void Ser2net::kill() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(10000);
}

bool Ser2net::listening() const {
    // A listening socket of 127.0.0.1:port in the kernel's table (state 0A),
    // looked at without connecting to it.
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local =
        QStringLiteral("0100007F:%1").arg(m_port, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[1] == local && fields[3] == "0A")
            return true;
    }
    return false;
}
