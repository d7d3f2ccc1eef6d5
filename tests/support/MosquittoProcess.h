#pragma once

// Debian's mosquitto broker, started by a test on 127.0.0.1 at a free port in
// its own temporary folder, plain or with TLS (a CA and a server certificate
// for 127.0.0.1 made with openssl) and a password file made with
// mosquitto_passwd. It can be stopped and started again on the same port.
// Subscribers are mosquitto_sub processes whose lines ("TOPIC PAYLOAD") are
// read as they come.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class MosquittoProcess {
public:
    struct Login {
        QString user;
        QString password;
    };

    // With a login, anonymous clients are refused; tls: a TLS listener.
    explicit MosquittoProcess(bool tls = false, Login login = {});
    ~MosquittoProcess();
    MosquittoProcess(const MosquittoProcess&) = delete;
    MosquittoProcess& operator=(const MosquittoProcess&) = delete;

    // Makes the files (first time) and starts the broker; true once it says
    // it is running.
    bool start(int timeoutMs);
    bool stop(int timeoutMs);

    quint16 port() const { return m_port; }
    // "mqtt://127.0.0.1:PORT" or "mqtts://…".
    QString url() const;
    // The CA that signed the broker's certificate.
    QString caFile() const { return m_dir.filePath(QStringLiteral("ca.crt")); }
    // Another CA, which did not.
    QString otherCaFile() const { return m_dir.filePath(QStringLiteral("other-ca.crt")); }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    // What the broker logged so far.
    QByteArray log();
    // Waits up to timeoutMs until the log holds what ("Received SUBSCRIBE").
    bool waitForLog(const QByteArray& what, int timeoutMs);

    // mosquitto_sub on topic with the broker's TLS and login, printing
    // "TOPIC PAYLOAD" per message; extra: more of its options.
    std::unique_ptr<QProcess> subscribe(const QString& topic, const QStringList& extra = {}) const;

private:
    bool makeFiles();
    static bool run(const QString& program, const QStringList& arguments, const QString& dir);

    QTemporaryDir m_dir;
    bool m_tls = false;
    Login m_login;
    quint16 m_port = 0;
    bool m_made = false;
    QProcess m_process;
    QByteArray m_log;
};

// The lines a subscriber printed so far, waiting up to timeoutMs until one
// holds what; the matching line, or an empty text.
QByteArray waitForLine(QProcess& subscriber, QByteArray& seen, const QByteArray& what,
                       int timeoutMs);
