#pragma once

// The chart's time axis: where its ticks go and what they say, for any range
// from a few seconds to weeks. Pure, so the choice can be checked in a table.

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>

namespace tkview {

struct TimeTick {
    QDateTime time;
    QString label;     // the time of day, or the date alone for steps of days
    QString dateLabel; // set on the first tick of each day once the range spans midnight
};

// The spacing between two ticks, in seconds, for a range of rangeSeconds over
// widthPx pixels with at least minSpacingPx between two labels: the smallest of
// 1 s, 2 s, 5 s, 10 s, 15 s, 30 s, 1, 2, 5, 10, 15, 30 min, 1, 2, 3, 6, 12 h,
// 1, 2, 7, 14, 28 days that keeps the labels apart.
qint64 tickStepSeconds(double rangeSeconds, int widthPx, int minSpacingPx);

// Whether dates on the axis carry their year: when the range crosses a new
// year or is longer than a week (a month's days alone leave the year open).
bool datesWithYear(const QDateTime& from, const QDateTime& to);

// The ticks within [from, to], on round times of day in from's time zone (or
// midnights for steps of days), labelled "hh:mm:ss" below a minute, "hh:mm"
// below a day, and with the date ("d MMM", in locale, "d MMM yyyy" when
// datesWithYear) for steps of days.
QList<TimeTick> timeTicks(const QDateTime& from, const QDateTime& to, int widthPx, int minSpacingPx,
                          const QLocale& locale = QLocale());

} // namespace tkview
