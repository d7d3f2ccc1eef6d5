#pragma once

// A program's side of the recorder's socket: attaches to the tkrecord
// running in a folder, follows its controllers' values, and sends requests.
// A recorder that goes away (restarted, stopped) is tried again every
// retryMs, so that the client is attached again soon after it is back.

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QLocalSocket>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <optional>

#include "ClientProtocol.h"

namespace attach {

// One controller as the recorder last told it.
struct RecorderValues {
    QString controller;
    int address = 0;
    qint64 msecs = 0;
    // Degrees; empty while the values are not current.
    std::optional<double> measure;
    std::optional<double> setpoint;
    std::optional<double> power;
    bool current = false;
    QString link;
    // The alarms' band texts with their state words: "Link lost … (active)".
    QStringList alarms;
    // Each alarm as the recorder's rules hold it, normal where not told.
    alarms::AlarmStatuses statuses{};

    bool operator==(const RecorderValues&) const = default;
};

// The values of a "values" event line, or nothing for another line. Alarms
// of unknown names or states are left out.
std::optional<RecorderValues> parseValues(const QJsonObject& message);
// Where the window finds its recorder: the folder after --attach in
// arguments, else [Recorder] Folder= of conf.ini in the working folder, or
// empty.
QString recorderFolder(const QStringList& arguments);
// A recorder answers on folder's socket.
bool recorderRuns(const QString& folder, int timeoutMs = 1000);

class RecorderClient : public QObject {
    Q_OBJECT

public:
    static constexpr int retryMs = 500;

    explicit RecorderClient(QObject* parent = nullptr);
    ~RecorderClient() override;

    // Attaches to the recorder in folder, and again whenever it comes back.
    void attachTo(const QString& folder);
    bool attached() const { return m_attached; }
    const QString& folder() const { return m_folder; }
    const QStringList& controllers() const { return m_controllers; }
    // The recorder's last greeting, its line and setpoint limits in it.
    const QJsonObject& greeting() const { return m_greeting; }

    // Each request's outcome comes as answered().
    void send(const tkrecord::ClientRequest& request);

Q_SIGNALS:
    void attachedChanged(bool attached);
    void history(const QString& controller, const QList<QList<double>>& points);
    void values(const attach::RecorderValues& values);
    // The outcome of a request: what was written, or why it was refused.
    void answered(const QString& request, bool ok, const QString& text);
    // A setpoint request ended: the outcome as the window tells its own
    // writes, or why nothing was written.
    void setpointEnded(const QString& text);
    // The recorder dropped this client (it fell behind); it attaches again.
    void dropped(const QString& reason);

private:
    void connectNow();
    void onReadyRead();
    void take(const QJsonObject& message);
    void lost();

    QTimer m_retry;
    QLocalSocket m_socket;
    QString m_folder;
    QStringList m_controllers;
    QJsonObject m_greeting;
    bool m_attached = false;
};

} // namespace attach

Q_DECLARE_METATYPE(attach::RecorderValues)
