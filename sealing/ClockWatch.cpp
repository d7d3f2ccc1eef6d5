#include "ClockWatch.h"

#include <QLocale>

namespace sealing {

namespace {

QString offsetText(int seconds) {
    const int minutes = std::abs(seconds) / 60;
    return QStringLiteral("%1%2:%3")
        .arg(seconds < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

QStringList clockEvents(const ClockReading& before, const ClockReading& now) {
    QStringList events;
    const qint64 drift = (now.wall.toMSecsSinceEpoch() - before.wall.toMSecsSinceEpoch()) -
                         (now.monotonicMs - before.monotonicMs);
    if (std::abs(drift) > clockJumpMs)
        events << QStringLiteral("wall clock jumped %1%2 s against the monotonic clock")
                      .arg(drift < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                      .arg(QLocale::c().toString(double(std::abs(drift)) / 1000.0, 'f', 1));
    if (now.wall.offsetFromUtc() != before.wall.offsetFromUtc())
        events << QStringLiteral("UTC offset changed from %1 to %2")
                      .arg(offsetText(before.wall.offsetFromUtc()),
                           offsetText(now.wall.offsetFromUtc()));
    return events;
}

QString isoTime(const QDateTime& wall) {
    return QLocale::c().toString(wall, QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           offsetText(wall.offsetFromUtc());
}

} // namespace sealing
