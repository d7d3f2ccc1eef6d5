#include "ProtocolClient.h"

#include <QJsonDocument>

bool ProtocolClient::connectTo(const QString& path, int timeoutMs) {
    m_socket.connectToServer(path);
    return m_socket.waitForConnected(timeoutMs);
}

void ProtocolClient::send(const QByteArray& line) {
    m_socket.write(line);
    m_socket.flush();
}

const QList<QByteArray>& ProtocolClient::lines() {
    m_partial += m_socket.readAll();
    for (qsizetype end = m_partial.indexOf('\n'); end >= 0; end = m_partial.indexOf('\n')) {
        m_lines << m_partial.first(end);
        m_partial.remove(0, end + 1);
    }
    return m_lines;
}

QList<QJsonObject> ProtocolClient::messages(const QString& key, const QString& value) {
    QList<QJsonObject> found;
    for (const QByteArray& line : lines()) {
        const QJsonObject message = QJsonDocument::fromJson(line).object();
        if (message.value(key).toString() == value)
            found << message;
    }
    return found;
}
