#pragma once

// The [MQTT] and [Share] sections of conf.ini: where tkrecord publishes its
// controllers' values, and where other Modbus masters may read them. Pure
// parsing: the password file is only named here, never read.
//   [MQTT] Broker=mqtt://HOST:PORT or mqtts://HOST:PORT (port 1883 or 8883
//     when left out; no broker, no MQTT), Topic= (default "tkcontrol/" and
//     the recorder's folder name), User=, PasswordFile= (with User),
//     CAFile= (mqtts only; the system's authorities otherwise),
//     Discovery=homeassistant (the discovery prefix; off when empty).
//   [Share] Listen=HOST:PORT, ":PORT" or "PORT" (127.0.0.1 when no host is
//     given; port 0 takes a free one); off without it.

#include <QString>
#include <QStringList>

#include "Profile.h"

namespace settings {

struct MqttSettings {
    bool enabled = false;
    bool tls = false;
    QString host;
    quint16 port = 0;
    // Without the trailing "/": states go to TOPIC/CONTROLLER/state.
    QString topic;
    QString user;
    QString passwordFile;
    QString caFile;
    // The discovery prefix; empty: no discovery messages.
    QString discovery;

    // "mqtt://HOST:PORT", as the state lines name the broker.
    QString brokerText() const;
};

struct MqttRead {
    MqttSettings settings;
    // One line per bad value, naming its line: "conf.ini line 12: Broker
    // \"http://x\" is mqtt://HOST:PORT or mqtts://HOST:PORT". Any of them
    // turns MQTT off.
    QStringList refused;
};

// folderName: the recorder's folder, the last level of the default topic.
MqttRead readMqttSection(const ProfileText& file, const QString& folderName);

struct ShareSettings {
    bool enabled = false;
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 0;
};

struct ShareRead {
    ShareSettings settings;
    QStringList refused;
};

ShareRead readShareSection(const ProfileText& file);

} // namespace settings
