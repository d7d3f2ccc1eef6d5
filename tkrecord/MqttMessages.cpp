#include "MqttMessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include "AlarmText.h"
#include "Options.h"

namespace tkrecord {

namespace {

QByteArray compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonValue orNull(const QDateTime& at) {
    return at.isValid() ? QJsonValue(timeWithOffset(at)) : QJsonValue();
}

// Home Assistant's ids allow letters, digits, "_" and "-".
QString idPart(const QString& text) {
    static const QRegularExpression other(QStringLiteral("[^A-Za-z0-9_-]"));
    return QString(text).replace(other, QStringLiteral("_"));
}

} // namespace

QString controllerLevel(const SharedController& controller) {
    return controller.name.isEmpty() ? QStringLiteral("controller") : controller.name;
}

QByteArray statusTopic(const QString& topic) {
    return (topic + QStringLiteral("/status")).toUtf8();
}

MqttMessage statusMessage(const QString& topic, bool online) {
    return {statusTopic(topic), online ? "online" : "offline", 1, true};
}

QString timeWithOffset(const QDateTime& at) {
    return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

MqttMessage stateMessage(const QString& topic, const SharedController& c) {
    QJsonObject state;
    // Never the no-data marker: a consumer would take 888.8 for a temperature.
    const auto value = [&c](float tklink::ControllerValues::*raw, double scale) {
        return c.values ? QJsonValue(double((*c.values).*raw) / scale) : QJsonValue();
    };
    state.insert(QStringLiteral("temperature"), value(&tklink::ControllerValues::measureRaw, 10));
    state.insert(QStringLiteral("setpoint"), value(&tklink::ControllerValues::setpointRaw, 10));
    state.insert(QStringLiteral("power"), value(&tklink::ControllerValues::powerRaw, 1));
    state.insert(QStringLiteral("link"), c.linkUp ? QStringLiteral("up") : QStringLiteral("down"));
    state.insert(QStringLiteral("alarms"), QJsonArray::fromStringList(c.alarms));
    state.insert(QStringLiteral("time"), orNull(c.answeredAt));
    return {(topic + QLatin1Char('/') + controllerLevel(c) + QStringLiteral("/state")).toUtf8(),
            compact(state), 0, true};
}

MqttMessage eventMessage(const QString& topic, const SharedController& c,
                         const SharedAlarmEvent& event) {
    const QJsonObject body{{QStringLiteral("alarm"), alarms::metricLabel(event.alarm)},
                           {QStringLiteral("event"), event.event},
                           {QStringLiteral("time"), orNull(event.at)}};
    return {(topic + QLatin1Char('/') + controllerLevel(c) + QStringLiteral("/event")).toUtf8(),
            compact(body), 1, false};
}

QList<MqttMessage> discoveryMessages(const QString& prefix, const QString& topic,
                                     const SharedController& c) {
    const QString device =
        idPart(QStringLiteral("tkrecord_") + topic + QLatin1Char('_') + controllerLevel(c));
    const QString deviceName = c.name.isEmpty() ? topic.section(QLatin1Char('/'), -1) : c.name;
    const QJsonObject deviceInfo{
        {QStringLiteral("identifiers"), QJsonArray{device}},
        {QStringLiteral("name"), deviceName},
        {QStringLiteral("model"), QStringLiteral("TK840/TK960 at address %1").arg(c.address)},
        {QStringLiteral("sw_version"), QStringLiteral("tkrecord ") + versionNumber()}};
    const QString stateTopic =
        topic + QLatin1Char('/') + controllerLevel(c) + QStringLiteral("/state");

    struct Entity {
        const char* component;
        const char* object;
        const char* name;
        const char* unit;
        const char* deviceClass;
    };
    const Entity entities[] = {
        {"sensor", "temperature", "Temperature", "°C", "temperature"},
        {"sensor", "setpoint", "Setpoint", "°C", "temperature"},
        {"sensor", "power", "Output power", "%", nullptr},
        {"binary_sensor", "link", "Link", nullptr, "connectivity"},
    };
    QList<MqttMessage> messages;
    for (const Entity& e : entities) {
        const QString object = QLatin1String(e.object);
        QJsonObject config{
            {QStringLiteral("name"), QLatin1String(e.name)},
            {QStringLiteral("unique_id"), device + QLatin1Char('_') + object},
            {QStringLiteral("object_id"), device + QLatin1Char('_') + object},
            {QStringLiteral("state_topic"), stateTopic},
            {QStringLiteral("value_template"), QStringLiteral("{{ value_json.%1 }}").arg(object)},
            {QStringLiteral("availability_topic"), QString::fromUtf8(statusTopic(topic))},
            {QStringLiteral("device"), deviceInfo}};
        if (e.unit) {
            config.insert(QStringLiteral("unit_of_measurement"), QString::fromUtf8(e.unit));
            config.insert(QStringLiteral("state_class"), QStringLiteral("measurement"));
        }
        if (e.deviceClass)
            config.insert(QStringLiteral("device_class"), QLatin1String(e.deviceClass));
        if (object == QLatin1String("link")) {
            config.insert(QStringLiteral("payload_on"), QStringLiteral("up"));
            config.insert(QStringLiteral("payload_off"), QStringLiteral("down"));
        }
        messages.append(
            {(prefix + QLatin1Char('/') + QLatin1String(e.component) + QLatin1Char('/') + device +
              QLatin1Char('/') + object + QStringLiteral("/config"))
                 .toUtf8(),
             compact(config), 1, true});
    }
    return messages;
}

} // namespace tkrecord
