#include "AlarmText.h"

#include <QStringList>

#include <algorithm>
#include <optional>

namespace alarms {

QString alarmName(Alarm alarm) {
    switch (alarm) {
    case Alarm::High:
        return QStringLiteral("High temperature");
    case Alarm::Deviation:
        return QStringLiteral("Deviation from setpoint");
    case Alarm::Link:
        return QStringLiteral("Link lost");
    case Alarm::HeatUp:
        return QStringLiteral("Heat-up too slow");
    case Alarm::NoMeasurement:
        return QStringLiteral("No measurement");
    }
    return {};
}

QString metricLabel(Alarm alarm) {
    switch (alarm) {
    case Alarm::High:
        return QStringLiteral("high");
    case Alarm::Deviation:
        return QStringLiteral("deviation");
    case Alarm::Link:
        return QStringLiteral("link");
    case Alarm::HeatUp:
        return QStringLiteral("heatup");
    case Alarm::NoMeasurement:
        return QStringLiteral("measurement");
    }
    return {};
}

QString stateWord(AlarmState state) {
    switch (state) {
    case AlarmState::ActiveUnacknowledged:
        return QStringLiteral("active");
    case AlarmState::ActiveAcknowledged:
        return QStringLiteral("acknowledged");
    case AlarmState::ClearedUnacknowledged:
        return QStringLiteral("cleared");
    case AlarmState::Normal:
        return QStringLiteral("normal");
    }
    return {};
}

QString auditEvent(const AlarmChange& change, const AlarmStatus& status) {
    const QString name = alarmName(change.alarm);
    switch (change.to) {
    case AlarmState::ActiveUnacknowledged:
        return QStringLiteral("alarm raised: ") + bandText(change.alarm, status);
    case AlarmState::ActiveAcknowledged:
        return QStringLiteral("alarm acknowledged: ") + name;
    case AlarmState::ClearedUnacknowledged:
        return QStringLiteral("alarm cleared: ") + name;
    case AlarmState::Normal:
        // An acknowledged alarm that clears, or a cleared one acknowledged.
        return (change.from == AlarmState::ClearedUnacknowledged
                    ? QStringLiteral("alarm acknowledged: ")
                    : QStringLiteral("alarm cleared: ")) +
               name;
    }
    return {};
}

QString bandText(Alarm alarm, const AlarmStatus& status) {
    const auto degrees = [](float value) {
        return QString::number(double(value), 'f', 1) + QStringLiteral(" °C");
    };
    const auto clock = [](const QDateTime& at) { return at.toString(QStringLiteral("HH:mm:ss")); };
    const auto signedDegrees = [&](float value) {
        return (value >= 0 ? QStringLiteral("+") : QString()) + degrees(value);
    };
    const QString name = alarmName(alarm);
    if (status.state == AlarmState::ClearedUnacknowledged) {
        QString cleared = name + QStringLiteral(" cleared at ") + clock(status.clearedAt);
        if (alarm == Alarm::High)
            return cleared + QStringLiteral(", peak ") + degrees(status.peak);
        if (alarm == Alarm::Deviation)
            return cleared + QStringLiteral(", peak ") + signedDegrees(status.peak);
        return cleared;
    }
    const QString since = QStringLiteral(" since ") + clock(status.since);
    switch (alarm) {
    case Alarm::Link:
    case Alarm::NoMeasurement:
        return name + since;
    case Alarm::Deviation:
        return name + QLatin1Char(' ') + signedDegrees(status.value - status.setpoint) +
               QStringLiteral(" (") + degrees(status.value) + QStringLiteral(", setpoint ") +
               degrees(status.setpoint) + QLatin1Char(')') + since;
    case Alarm::HeatUp:
        return name + QLatin1Char(' ') + degrees(status.value) + QStringLiteral(" (setpoint ") +
               degrees(status.setpoint) + QLatin1Char(')') + since;
    case Alarm::High:
        break;
    }
    return name + QLatin1Char(' ') + degrees(status.value) + since;
}

namespace {

// Waiting for the operator before acknowledged, acknowledged before cleared.
int rank(AlarmState state) {
    switch (state) {
    case AlarmState::ActiveUnacknowledged:
        return 3;
    case AlarmState::ActiveAcknowledged:
        return 2;
    case AlarmState::ClearedUnacknowledged:
        return 1;
    case AlarmState::Normal:
        break;
    }
    return 0;
}

// The alarms not normal but the one shown, by name, each after prefix.
QStringList othersOf(const AlarmStatuses& statuses, const QString& prefix,
                     std::optional<Alarm> shown = std::nullopt) {
    QStringList names;
    for (const Alarm alarm : allAlarms)
        if (statuses[std::size_t(alarm)].state != AlarmState::Normal && alarm != shown)
            names << prefix + alarmName(alarm);
    return names;
}

BandLook lookOf(const QString& prefix, Alarm alarm, const AlarmStatus& status,
                const QStringList& others) {
    static constexpr BandColour colours[] = {BandColour::Hidden, BandColour::Amber, BandColour::Red,
                                             BandColour::FlashingRed};
    // Named, so that the operator knows what else waits; two at most.
    constexpr qsizetype named = 2;
    QString text = prefix + bandText(alarm, status);
    if (!others.isEmpty())
        text += QStringLiteral(" (+%1 more: %2%3)")
                    .arg(others.size())
                    .arg(others.first(std::min(named, others.size())).join(QStringLiteral(", ")),
                         others.size() > named ? QStringLiteral(", …") : QString());
    return {colours[rank(status.state)], text};
}

} // namespace

std::optional<Alarm> mostPressing(const AlarmStatuses& statuses) {
    std::optional<Alarm> shown;
    for (const Alarm alarm : allAlarms) {
        const int r = rank(statuses[std::size_t(alarm)].state);
        if (r > 0 && (!shown || r > rank(statuses[std::size_t(*shown)].state)))
            shown = alarm;
    }
    return shown;
}

std::optional<Alarm> mostPressing(const AlarmRules& rules) {
    return mostPressing(rules.statuses());
}

BandLook bandLook(const AlarmStatuses& statuses) {
    const std::optional<Alarm> alarm = mostPressing(statuses);
    if (!alarm)
        return {};
    return lookOf(QString(), *alarm, statuses[std::size_t(*alarm)],
                  othersOf(statuses, QString(), *alarm));
}

BandLook bandLook(const AlarmRules& rules) {
    return bandLook(rules.statuses());
}

BusBandLook busBandLook(const QList<NamedRules>& controllers) {
    QList<NamedStatuses> named;
    for (const NamedRules& c : controllers)
        named.append({c.name, c.rules ? &c.rules->statuses() : nullptr});
    return busBandLook(named);
}

BusBandLook busBandLook(const QList<NamedStatuses>& controllers) {
    int shown = -1;
    int shownRank = 0;
    for (int i = 0; i < controllers.size(); ++i) {
        const AlarmStatuses* statuses = controllers[i].statuses;
        if (!statuses)
            continue;
        const std::optional<Alarm> alarm = mostPressing(*statuses);
        if (alarm && rank((*statuses)[std::size_t(*alarm)].state) > shownRank) {
            shown = i;
            shownRank = rank((*statuses)[std::size_t(*alarm)].state);
        }
    }
    if (shown < 0)
        return {};
    const AlarmStatuses& statuses = *controllers[shown].statuses;
    const Alarm alarm = *mostPressing(statuses);
    QStringList others;
    for (int i = 0; i < controllers.size(); ++i)
        if (controllers[i].statuses)
            others << othersOf(*controllers[i].statuses, controllers[i].name + QLatin1Char(' '),
                               i == shown ? std::optional(alarm) : std::nullopt);
    return {lookOf(controllers[shown].name + QStringLiteral(": "), alarm,
                   statuses[std::size_t(alarm)], others),
            shown};
}

} // namespace alarms
