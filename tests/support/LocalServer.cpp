#include "LocalServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>

#include <memory>

quint16 freeLocalPort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

LocalServer::LocalServer(QString program, QStringList arguments)
    : m_program(std::move(program)), m_arguments(std::move(arguments)) {
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

LocalServer::~LocalServer() {
    stop(5000);
}

bool LocalServer::start(int timeoutMs) {
    m_port = freeLocalPort();
    m_process.start(m_program,
                    m_arguments + QStringList{QStringLiteral("--web.listen-address=") + address()});
    return m_port != 0 && m_process.waitForStarted(timeoutMs);
}

QString LocalServer::address() const {
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

QJsonValue LocalServer::data(const QString& path, const QUrlQuery& query) {
    QUrl url(QStringLiteral("http://") + address() + path);
    url.setQuery(query);
    std::unique_ptr<QNetworkReply> reply(m_network.get(QNetworkRequest(url)));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!finished.wait(5000))
        return QJsonValue(QJsonValue::Undefined);
    return QJsonDocument::fromJson(reply->readAll()).object()[QLatin1String("data")];
}

QJsonArray LocalServer::query(const QString& promql) {
    return data(QStringLiteral("/api/v1/query"), QUrlQuery({{QStringLiteral("query"), promql}}))
        .toObject()[QLatin1String("result")]
        .toArray();
}

QString LocalServer::value(const QString& promql) {
    const QJsonArray result = query(promql);
    return result.isEmpty() ? QString()
                            : result[0].toObject()[QLatin1String("value")].toArray()[1].toString();
}

bool LocalServer::stop(int timeoutMs) {
    if (m_process.state() == QProcess::NotRunning)
        return true;
    m_process.terminate();
    return m_process.waitForFinished(timeoutMs);
}
