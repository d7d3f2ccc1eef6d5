#include "RecorderShown.h"

#include <QDateTime>

#include <cmath>

#include "Data.h"

namespace app {

namespace {

// An hour of the trace's ticks.
constexpr int filledSlots = int(qint64(3600) * 1000 / traceTickMs);
static_assert(filledSlots < Data::historySize);

QString degrees(const std::optional<double>& value, bool current) {
    if (!current || !value)
        return QStringLiteral("–");
    return QString::number(*value, 'f', 1) + QStringLiteral(" °C");
}

float sampleOf(const QList<double>& point, qsizetype at) {
    const double value = point.value(at, qQNaN());
    return std::isfinite(value) ? float(value) : Data::NO_DATA;
}

} // namespace

attach::RecorderValues notConnected(const attach::RecorderValues& told) {
    attach::RecorderValues left;
    left.controller = told.controller;
    left.address = told.address;
    left.alarms = told.alarms;
    left.statuses = told.statuses;
    left.link = QStringLiteral("recorder not connected");
    return left;
}

StripRow stripRow(const attach::RecorderValues& values) {
    QString link = QStringLiteral("No answer");
    if (values.link == QLatin1String("recorder not connected"))
        link = QStringLiteral("Not connected");
    else if (values.current)
        link = QStringLiteral("Link ok");
    else if (values.link == QLatin1String("ok"))
        link = QStringLiteral("No measurement");
    else if (values.msecs == 0)
        link = QStringLiteral("Waiting");
    QString alarm = QStringLiteral("Normal");
    if (const std::optional<alarms::Alarm> a = alarms::mostPressing(values.statuses))
        alarm = alarms::alarmName(*a) + QLatin1Char(' ') +
                alarms::stateWord(values.statuses[std::size_t(*a)].state);
    return {{values.controller, QString::number(values.address),
             degrees(values.measure, values.current), degrees(values.setpoint, values.current),
             link, alarm},
            alarms::bandLook(values.statuses).colour};
}

QString attachedStatusText(const QString& folder, const attach::RecorderValues& values) {
    QString attached = QStringLiteral("Attached to the recorder in ") + folder;
    if (values.link.isEmpty() || values.link == QLatin1String("ok"))
        return attached;
    return attached + QStringLiteral(" – link: ") + values.link;
}

display::HistoryRings ringsFromHistory(const QList<QList<double>>& points, qint64 nowMsecs,
                                       qint64 staleMs) {
    display::HistoryRings rings;
    qsizetype newer = points.size();
    for (int slot = filledSlots - 1; slot >= 0; --slot) {
        const qint64 at = nowMsecs - qint64(filledSlots - 1 - slot) * traceTickMs;
        // The points are in time order: the last at or before this slot is
        // at or before the one of the slot after it.
        while (newer > 0 && points[newer - 1].value(0) > double(at))
            --newer;
        rings.time[std::size_t(slot)] =
            display::traceTimeText(QDateTime::fromMSecsSinceEpoch(at).time());
        if (newer == 0 || double(at) - points[newer - 1].value(0) > double(staleMs))
            continue;
        const QList<double>& point = points[newer - 1];
        rings.measure[std::size_t(slot)] = sampleOf(point, 1);
        rings.setpoint[std::size_t(slot)] = sampleOf(point, 2);
    }
    rings.index = int16_t(filledSlots);
    return rings;
}

display::HistoryRings tracedBefore(display::HistoryRings told, const display::HistoryRings& traced,
                                   const QList<QList<double>>& points, qint64 nowMsecs) {
    constexpr int size = Data::historySize;
    const double first = points.isEmpty() ? double(nowMsecs) + 1 : points.first().value(0);
    for (int back = 1; back < size; ++back) {
        if (double(nowMsecs - qint64(back - 1) * traceTickMs) >= first)
            continue;
        const auto at = std::size_t((told.index - back + size) % size);
        const auto from = std::size_t((traced.index - back + size) % size);
        told.measure[at] = traced.measure[from];
        told.setpoint[at] = traced.setpoint[from];
        if (told.time[at].isEmpty())
            told.time[at] = traced.time[from];
    }
    return told;
}

} // namespace app
