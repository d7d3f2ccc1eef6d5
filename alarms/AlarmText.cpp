#include "AlarmText.h"

namespace alarms {

QString alarmName(Alarm alarm) {
    switch (alarm) {
    case Alarm::High:
        return QStringLiteral("High temperature");
    case Alarm::Deviation:
        return QStringLiteral("Deviation from setpoint");
    case Alarm::Link:
        return QStringLiteral("Link lost");
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

QString bandText(Alarm alarm, const AlarmStatus& status) {
    const QString since =
        QStringLiteral(" since ") + status.since.toString(QStringLiteral("HH:mm:ss"));
    if (alarm == Alarm::Link)
        return alarmName(alarm) + since;
    return alarmName(alarm) + QLatin1Char(' ') + QString::number(double(status.value), 'f', 1) +
           QStringLiteral(" °C") + since;
}

} // namespace alarms
