#include "ClientFeed.h"

#include <QJsonArray>

#include <cmath>
#include <limits>

#include "AlarmText.h"
#include "ClientProtocol.h"

namespace tkrecord {

namespace {

constexpr double none = std::numeric_limits<double>::quiet_NaN();

QJsonValue degrees(double value) {
    return std::isnan(value) ? QJsonValue() : QJsonValue(value);
}

QJsonValue msecsOf(const QDateTime& at) {
    return at.isValid() ? QJsonValue(double(at.toMSecsSinceEpoch())) : QJsonValue();
}

QJsonArray pointsArray(const std::deque<FeedPoint>& points) {
    QJsonArray array;
    for (const FeedPoint& point : points)
        array.append(QJsonArray{point.msecs, degrees(point.measure), degrees(point.setpoint),
                                degrees(point.power)});
    return array;
}

} // namespace

QJsonObject greetingMembers(const QString& device, const QString& speed,
                            const settings::ControlRead& control) {
    QJsonObject members{{QStringLiteral("line"), QJsonObject{{QStringLiteral("device"), device},
                                                             {QStringLiteral("speed"), speed}}}};
    if (control.setpointWrite) {
        const auto limit = [](const std::optional<double>& value) {
            return value ? QJsonValue(*value) : QJsonValue();
        };
        members.insert(QStringLiteral("setpoint"),
                       QJsonObject{{QStringLiteral("min"), limit(control.setpointMin)},
                                   {QStringLiteral("max"), limit(control.setpointMax)}});
    }
    return members;
}

QString linkWord(tklink::PollResult result) {
    switch (result) {
    case tklink::PollResult::Ok:
        return QStringLiteral("ok");
    case tklink::PollResult::NoAnswer:
        return QStringLiteral("no answer");
    case tklink::PollResult::BadAnswer:
        return QStringLiteral("bad answer");
    case tklink::PollResult::Exception:
        return QStringLiteral("exception");
    case tklink::PollResult::NotConnected:
        break;
    }
    return QStringLiteral("not connected");
}

ClientFeed::ClientFeed(const QList<tklink::Controller*>& controllers) {
    for (const tklink::Controller* controller : controllers)
        m_kept.append({controller, tklink::PollResult::NotConnected, 0, {}});
}

const ClientFeed::Kept* ClientFeed::find(const tklink::Controller& controller) const {
    for (const Kept& kept : m_kept)
        if (kept.controller == &controller)
            return &kept;
    return nullptr;
}

QByteArray ClientFeed::take(const tklink::Controller& controller, tklink::PollResult result,
                            const QDateTime& now) {
    auto* kept = const_cast<Kept*>(find(controller));
    if (!kept)
        return {};
    kept->last = result;
    kept->at = now.toMSecsSinceEpoch();
    const bool current = controller.valuesCurrent();
    const tklink::ControllerValues& v = controller.values();
    kept->points.push_back({kept->at, current ? v.measureRaw / 10.0 : none,
                            current ? v.setpointRaw / 10.0 : none, current ? v.powerRaw : none});
    while (kept->points.size() > maxPoints || kept->points.front().msecs < kept->at - keptMs)
        kept->points.pop_front();
    return messageLine(values(*kept));
}

QByteArray ClientFeed::valuesLine(const tklink::Controller& controller) const {
    const Kept* kept = find(controller);
    return kept ? messageLine(values(*kept)) : QByteArray();
}

QJsonObject ClientFeed::values(const Kept& kept) {
    const tklink::Controller& c = *kept.controller;
    const bool current = c.valuesCurrent();
    const tklink::ControllerValues& v = c.values();
    QJsonArray alarmList;
    if (c.alarmRules()) {
        for (alarms::Alarm alarm : alarms::allAlarms) {
            const alarms::AlarmStatus& status = c.alarmRules()->status(alarm);
            if (status.state == alarms::AlarmState::Normal)
                continue;
            // With what the text is made of, so that a window says it in
            // its own words, as it would of its own alarm.
            alarmList.append(QJsonObject{{QStringLiteral("alarm"), alarms::metricLabel(alarm)},
                                         {QStringLiteral("state"), alarms::stateWord(status.state)},
                                         {QStringLiteral("text"), alarms::bandText(alarm, status)},
                                         {QStringLiteral("since"), msecsOf(status.since)},
                                         {QStringLiteral("cleared"), msecsOf(status.clearedAt)},
                                         {QStringLiteral("value"), double(status.value)},
                                         {QStringLiteral("setpoint"), double(status.setpoint)},
                                         {QStringLiteral("peak"), double(status.peak)}});
        }
    }
    return {{QStringLiteral("event"), QStringLiteral("values")},
            {QStringLiteral("controller"), c.name()},
            {QStringLiteral("address"), int(c.address())},
            {QStringLiteral("time"), kept.at},
            {QStringLiteral("measure"), current ? QJsonValue(v.measureRaw / 10.0) : QJsonValue()},
            {QStringLiteral("setpoint"), current ? QJsonValue(v.setpointRaw / 10.0) : QJsonValue()},
            {QStringLiteral("power"), current ? QJsonValue(double(v.powerRaw)) : QJsonValue()},
            {QStringLiteral("current"), current},
            {QStringLiteral("link"), linkWord(kept.last)},
            {QStringLiteral("alarms"), alarmList}};
}

QList<QByteArray> ClientFeed::attachLines() const {
    QList<QByteArray> lines;
    for (const Kept& kept : m_kept) {
        lines << messageLine({{QStringLiteral("event"), QStringLiteral("history")},
                              {QStringLiteral("controller"), kept.controller->name()},
                              {QStringLiteral("points"), pointsArray(kept.points)}});
        lines << messageLine(values(kept));
    }
    return lines;
}

QJsonObject ClientFeed::state(bool withHistory) const {
    QJsonArray controllers;
    for (const Kept& kept : m_kept) {
        QJsonObject entry = values(kept);
        entry.remove(QStringLiteral("event"));
        if (withHistory)
            entry.insert(QStringLiteral("history"), pointsArray(kept.points));
        controllers.append(entry);
    }
    return {{QStringLiteral("controllers"), controllers}};
}

} // namespace tkrecord
