#include "TimeAxis.h"

#include <QTimeZone>

#include <array>

namespace tkview {

namespace {

constexpr qint64 minute = 60;
constexpr qint64 hour = 60 * minute;
constexpr qint64 day = 24 * hour;
// Up to a year a label, so that a year of daily files has room for its dates.
constexpr std::array<qint64, 26> steps{
    1,          2,          5,           10,          15,          30,      minute,
    2 * minute, 5 * minute, 10 * minute, 15 * minute, 30 * minute, hour,    2 * hour,
    3 * hour,   6 * hour,   12 * hour,   day,         2 * day,     7 * day, 14 * day,
    28 * day,   56 * day,   91 * day,    182 * day,   364 * day};

QString dateText(const QDate& date, const QLocale& locale, bool withYear) {
    return locale.toString(date, withYear ? QStringLiteral("d MMM yyyy") : QStringLiteral("d MMM"));
}

} // namespace

bool datesWithYear(const QDateTime& from, const QDateTime& to) {
    return from.date().year() != to.date().year() || from.msecsTo(to) > 7 * day * 1000;
}

qint64 tickStepSeconds(double rangeSeconds, int widthPx, int minSpacingPx) {
    const double ticksThatFit = double(std::max(widthPx, 1)) / std::max(minSpacingPx, 1);
    for (const qint64 step : steps)
        if (rangeSeconds / double(step) <= ticksThatFit)
            return step;
    return steps.back();
}

QList<TimeTick> timeTicks(const QDateTime& from, const QDateTime& to, int widthPx, int minSpacingPx,
                          const QLocale& locale) {
    QList<TimeTick> ticks;
    if (!from.isValid() || !to.isValid() || to <= from)
        return ticks;
    const QTimeZone zone = from.timeZone();
    const qint64 step = tickStepSeconds(double(from.msecsTo(to)) / 1000.0, widthPx, minSpacingPx);
    const bool spansMidnight = from.date() != to.date();
    const bool withYear = datesWithYear(from, to);
    if (step >= day) {
        // Midnights whose day number is a multiple of the step: Mondays for a week.
        const qint64 days = step / day;
        QDate date = from.date();
        if (QDateTime(date, QTime(0, 0), zone) < from)
            date = date.addDays(1);
        date = date.addDays((days - date.toJulianDay() % days) % days);
        for (; QDateTime(date, QTime(0, 0), zone) <= to; date = date.addDays(days))
            ticks.append(
                {QDateTime(date, QTime(0, 0), zone), dateText(date, locale, withYear), {}});
        return ticks;
    }
    const QString format = step < minute ? QStringLiteral("hh:mm:ss") : QStringLiteral("hh:mm");
    QDate shownDate;
    for (QDate date = from.date(); date <= to.date(); date = date.addDays(1)) {
        // Round times of the day's clock, whatever the offset from UTC.
        qint64 second = 0;
        if (date == from.date())
            second = (qint64(from.time().msecsSinceStartOfDay()) / 1000 + step - 1) / step * step;
        for (; second < day; second += step) {
            const QDateTime time(date, QTime(0, 0).addSecs(int(second)), zone);
            if (time < from)
                continue;
            if (time > to)
                break;
            TimeTick tick{time, locale.toString(time.time(), format), {}};
            if (spansMidnight && shownDate != date) {
                tick.dateLabel = dateText(date, locale, withYear);
                shownDate = date;
            }
            ticks.append(tick);
        }
    }
    return ticks;
}

} // namespace tkview
