#pragma once

// What the recorder publishes to an MQTT broker, as pure functions: topics
// and payloads byte for byte. Under TOPIC:
//   TOPIC/status                 "online", or "offline" (the last will)
//   TOPIC/CONTROLLER/state       retained JSON, e.g. {"alarms":["high"],
//                                "link":"up","power":45,"setpoint":200,
//                                "temperature":215.3,"time":
//                                "2026-12-10T14:05:29.000+01:00"}; the three
//                                values null while not current
//   TOPIC/CONTROLLER/event       {"alarm":"high","event":"raised","time":...}
// CONTROLLER is the name in [Controllers], or "controller" for the one
// controller of a recorder without the section. With a discovery prefix,
// Home Assistant's retained configs for each controller's temperature,
// setpoint, power and link, one device per controller.

#include <QByteArray>
#include <QList>
#include <QString>

#include "SharedValues.h"

namespace tkrecord {

struct MqttMessage {
    QByteArray topic;
    QByteArray payload;
    int qos = 0;
    bool retain = false;
};

QString controllerLevel(const SharedController& controller);
QByteArray statusTopic(const QString& topic);
MqttMessage statusMessage(const QString& topic, bool online);
MqttMessage stateMessage(const QString& topic, const SharedController& controller);
MqttMessage eventMessage(const QString& topic, const SharedController& controller,
                         const SharedAlarmEvent& event);
// prefix: the discovery prefix ("homeassistant").
QList<MqttMessage> discoveryMessages(const QString& prefix, const QString& topic,
                                     const SharedController& controller);

// "2026-12-10T14:05:29.120+01:00": local time with its offset from UTC.
QString timeWithOffset(const QDateTime& at);

} // namespace tkrecord
