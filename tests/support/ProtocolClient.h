#pragma once

// A client of the recorder's socket for tests: connects to a socket path,
// sends lines and keeps every whole line received, so a test waits on a
// condition over them (QTRY_VERIFY) rather than on time.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QLocalSocket>
#include <QString>

class ProtocolClient {
public:
    bool connectTo(const QString& path, int timeoutMs);
    void send(const QByteArray& line);
    // Every line received so far, read without waiting.
    const QList<QByteArray>& lines();
    // The lines so far that are JSON objects with key equal to value.
    QList<QJsonObject> messages(const QString& key, const QString& value);
    bool closedByPeer() const { return m_socket.state() == QLocalSocket::UnconnectedState; }
    QLocalSocket& socket() { return m_socket; }

private:
    QLocalSocket m_socket;
    QByteArray m_partial;
    QList<QByteArray> m_lines;
};
