#include "ClockWatch.h"

#include <QElapsedTimer>
#include <QLocale>

#include <ctime>

namespace sealing {

namespace {

QString offsetText(int seconds) {
    const int minutes = std::abs(seconds) / 60;
    return QStringLiteral("%1%2:%3")
        .arg(seconds < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

#ifndef Q_OS_WIN
qint64 clockMs(clockid_t id) {
    timespec now{};
    ::clock_gettime(id, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
#endif

} // namespace

qint64 elapsedMs(const SteadyClocks& clocks) {
    return clocks.rawMs + (clocks.bootMs - clocks.monotonicMs);
}

SteadyClocks steadyClocksNow() {
#ifndef Q_OS_WIN
    SteadyClocks clocks;
    clocks.bootMs = clockMs(CLOCK_BOOTTIME);
    clocks.monotonicMs = clockMs(CLOCK_MONOTONIC);
    clocks.rawMs = clockMs(CLOCK_MONOTONIC_RAW);
    return clocks;
#else
    static QElapsedTimer started;
    if (!started.isValid())
        started.start();
    const qint64 now = started.elapsed();
    return {now, now, now};
#endif
}

QStringList clockEvents(const ClockReading& before, const ClockReading& now) {
    QStringList events;
    const qint64 drift = (now.wall.toMSecsSinceEpoch() - before.wall.toMSecsSinceEpoch()) -
                         (now.elapsedMs - before.elapsedMs);
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
