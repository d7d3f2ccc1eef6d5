#include "MosquittoProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>

#include <unistd.h>

MosquittoProcess::MosquittoProcess(bool tls, Login login) : m_tls(tls), m_login(std::move(login)) {
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setWorkingDirectory(m_dir.path());
}

MosquittoProcess::~MosquittoProcess() {
    stop(5000);
}

QString MosquittoProcess::url() const {
    return QStringLiteral("%1://127.0.0.1:%2").arg(m_tls ? "mqtts" : "mqtt").arg(m_port);
}

bool MosquittoProcess::run(const QString& program, const QStringList& arguments,
                           const QString& dir) {
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

bool MosquittoProcess::makeFiles() {
    QTcpServer probe;
    if (!m_dir.isValid() || !probe.listen(QHostAddress::LocalHost))
        return false;
    m_port = probe.serverPort();
    probe.close();
    QByteArray conf = "listener " + QByteArray::number(m_port) +
                      " 127.0.0.1\npersistence false\nlog_dest stderr\nlog_type all\n";
    // Paths in full: the broker reads them from where it was started.
    const QByteArray in = QFile::encodeName(m_dir.path()) + '/';
    // Started by root, it would change to its own user, who cannot read here.
    if (::geteuid() == 0)
        conf += "user root\n";
    const QString dir = m_dir.path();
    const QString openssl = QStringLiteral("openssl");
    if (m_tls) {
        const QStringList ecKey{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                "-nodes"};
        QFile ext(m_dir.filePath(QStringLiteral("san.ext")));
        if (!ext.open(QIODevice::WriteOnly) || ext.write("subjectAltName=IP:127.0.0.1\n") < 0)
            return false;
        ext.close();
        if (!run(openssl,
                 QStringList{"req", "-x509"} + ecKey +
                     QStringList{"-keyout", "ca.key", "-out", "ca.crt", "-days", "2", "-subj",
                                 "/CN=tk test CA"},
                 dir) ||
            !run(openssl,
                 QStringList{"req", "-x509"} + ecKey +
                     QStringList{"-keyout", "other-ca.key", "-out", "other-ca.crt", "-days", "2",
                                 "-subj", "/CN=tk other CA"},
                 dir) ||
            !run(openssl,
                 QStringList{"req"} + ecKey +
                     QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj",
                                 "/CN=127.0.0.1"},
                 dir) ||
            !run(openssl,
                 {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                  "-CAcreateserial", "-out", "server.crt", "-days", "2", "-extfile", "san.ext"},
                 dir))
            return false;
        conf += "cafile " + in + "ca.crt\ncertfile " + in + "server.crt\nkeyfile " + in +
                "server.key\n";
    }
    if (!m_login.user.isEmpty()) {
        if (!run(QStringLiteral("mosquitto_passwd"),
                 {"-b", "-c", "passwd", m_login.user, m_login.password}, dir))
            return false;
        conf += "allow_anonymous false\npassword_file " + in + "passwd\n";
    } else {
        conf += "allow_anonymous true\n";
    }
    QFile file(m_dir.filePath(QStringLiteral("mosquitto.conf")));
    return file.open(QIODevice::WriteOnly) && file.write(conf) == conf.size();
}

bool MosquittoProcess::start(int timeoutMs) {
    if (!m_made && !(m_made = makeFiles()))
        return false;
    m_log.clear();
    m_process.start(QStringLiteral("mosquitto"), {"-c", "mosquitto.conf"});
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_log.contains(" running")) {
        if (!m_process.waitForReadyRead(int(deadline.remainingTime())))
            return false;
        m_log += m_process.readAll();
    }
    return true;
}

bool MosquittoProcess::stop(int timeoutMs) {
    if (m_process.state() == QProcess::NotRunning)
        return true;
    m_process.terminate();
    const bool stopped = m_process.waitForFinished(timeoutMs);
    m_log += m_process.readAll();
    return stopped;
}

QByteArray MosquittoProcess::log() {
    return m_log += m_process.readAll();
}

bool MosquittoProcess::waitForLog(const QByteArray& what, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!log().contains(what))
        if (deadline.hasExpired() || !m_process.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    return true;
}

std::unique_ptr<QProcess> MosquittoProcess::subscribe(const QString& topic,
                                                      const QStringList& extra) const {
    QStringList arguments{"-h", "127.0.0.1", "-p", QString::number(m_port), "-t", topic, "-v"};
    if (m_tls)
        arguments << QStringLiteral("--cafile") << caFile();
    if (!m_login.user.isEmpty())
        arguments << QStringLiteral("-u") << m_login.user << QStringLiteral("-P")
                  << m_login.password;
    auto process = std::make_unique<QProcess>();
    process->start(QStringLiteral("mosquitto_sub"), arguments + extra);
    return process;
}

QByteArray waitForLine(QProcess& subscriber, QByteArray& seen, const QByteArray& what,
                       int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        seen += subscriber.readAllStandardOutput();
        for (const QByteArray& line : seen.split('\n'))
            if (line.contains(what) && seen.contains(line + '\n'))
                return line;
        if (deadline.hasExpired() || !subscriber.waitForReadyRead(int(deadline.remainingTime())))
            return {};
    }
}
