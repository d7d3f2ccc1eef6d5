#pragma once

// A server program a test starts on 127.0.0.1 at a free port (Prometheus,
// Alertmanager), with its HTTP API's answers read as JSON. Ended with SIGTERM
// when it goes.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrlQuery>

// A port on 127.0.0.1 that nothing listened on a moment ago.
quint16 freeLocalPort();

class LocalServer {
public:
    // arguments: all but --web.listen-address, which start() adds.
    LocalServer(QString program, QStringList arguments);
    ~LocalServer();
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    bool start(int timeoutMs);
    // "127.0.0.1:PORT"
    QString address() const;
    // The "data" of the JSON answer to GET path?query; Undefined when none
    // comes within 5 s.
    QJsonValue data(const QString& path, const QUrlQuery& query = {});
    // The series of a Prometheus instant query, each {"metric", "value"}.
    QJsonArray query(const QString& promql);
    // The value of the query's first series; empty when there is none.
    QString value(const QString& promql);
    // Ends it; false when it does not end within timeoutMs. What it printed
    // is then in output().
    bool stop(int timeoutMs);
    QByteArray output() { return m_process.readAll(); }

private:
    QString m_program;
    QStringList m_arguments;
    quint16 m_port = 0;
    QProcess m_process;
    QNetworkAccessManager m_network;
};
