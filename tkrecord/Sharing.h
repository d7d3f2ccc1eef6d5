#pragma once

// What tkrecord shares beside its records, as [MQTT] and [Share] in conf.ini
// ask: the values on an MQTT broker and to Modbus TCP masters. Both are
// clients of the controllers' signals; neither touches the line.

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

#include "Controller.h"
#include "ModbusShare.h"
#include "MqttPublisher.h"
#include "SharedValues.h"
#include "SharingSections.h"

namespace tkrecord {

class Sharing {
public:
    using Say = std::function<void(const QString& line)>;

    explicit Sharing(Say say);
    ~Sharing();

    // Reads [MQTT] and [Share] of conf.ini in the working folder, and the
    // password file; why they cannot be used, or an empty text.
    QString readSettings();
    // Follows the controllers and starts what the settings ask for; why the
    // share cannot listen, or an empty text.
    QString start(const QList<tklink::Controller*>& controllers);
    // Says offline to the broker, waiting at most waitMs for it.
    void stop(int waitMs);
    // The metrics of what is shared (tk_mqtt_connected with MQTT).
    QByteArray metricsText() const;

    const SharedValues& values() const { return m_values; }

private:
    Say m_say;
    settings::MqttSettings m_mqttSettings;
    QString m_password;
    settings::ShareSettings m_shareSettings;
    SharedValues m_values;
    std::unique_ptr<MqttPublisher> m_mqtt;
    std::unique_ptr<ModbusShare> m_share;
};

} // namespace tkrecord
