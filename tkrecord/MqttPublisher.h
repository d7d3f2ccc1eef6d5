#pragma once

// The recorder's values on an MQTT broker: TOPIC/status online while
// connected (offline as the last will, and at a stop), each controller's
// retained state when its value, link or alarms change, at most once a poll,
// its alarm events, and Home Assistant's discovery configs. Everything is
// published again at each connection, so that what was dropped while the
// broker was away is mended. One state line per change of the connection.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

#include "MqttClient.h"
#include "SharedValues.h"
#include "SharingSections.h"

namespace tkrecord {

// The first line of a file only this user may read (the MQTT password);
// nothing, with why in problem, for a file another user owns, one others
// may read or write, or a link.
std::optional<QString> readSecretFile(const QString& path, QString* problem);

class MqttPublisher : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    using Say = std::function<void(const QString& line)>;

    MqttPublisher(const settings::MqttSettings& settings, const QString& password,
                  const SharedValues& values, Clock now, Say say, QObject* parent = nullptr);

    void start();
    // Publishes offline and disconnects, waiting at most waitMs.
    void stop(int waitMs);
    bool connected() const { return m_connected; }
    // tk_mqtt_connected in the Prometheus text format.
    QByteArray metricsText() const;

private:
    void onConnected();
    void onNotConnected(const QString& why, int retryMs);
    void onChanged(int index);
    void onAlarmEvent(int index, const SharedAlarmEvent& event);
    void say(const QString& text);

    settings::MqttSettings m_settings;
    const SharedValues& m_values;
    Clock m_now;
    Say m_say;
    MqttClient m_client;
    bool m_connected = false;
    // The reason last said, so that each retry does not say it again.
    QString m_said;
    // The state the broker was last given, per controller; none: to be sent.
    QList<std::optional<SharedController>> m_published;
};

} // namespace tkrecord
