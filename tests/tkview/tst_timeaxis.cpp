// The chart's time axis: the step suits the range and the width, labels sit on
// round times, and dates appear once the range spans midnight.

#include <QTest>
#include <QTimeZone>

#include "TimeAxis.h"

using tkview::TimeTick;

class TestTimeAxis : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void ticks_data();
    void ticks();
};

void TestTimeAxis::ticks_data() {
    QTest::addColumn<QString>("from"); // ISO, UTC
    QTest::addColumn<QString>("to");
    QTest::addColumn<int>("width");
    QTest::addColumn<QStringList>("expected"); // label, or "label/date" where a date shows

    // 30 s over 600 px with labels 100 px apart: six steps of 5 s.
    QTest::newRow("seconds") << "2026-12-08T10:00:00"
                             << "2026-12-08T10:00:30" << 600
                             << QStringList{"10:00:00", "10:00:05", "10:00:10", "10:00:15",
                                            "10:00:20", "10:00:25", "10:00:30"};
    // Not on a round time at either end: the first tick is the next round one.
    QTest::newRow("minutes, odd ends")
        << "2026-12-08T10:03:17"
        << "2026-12-08T11:01:00" << 600
        << QStringList{"10:10", "10:20", "10:30", "10:40", "10:50", "11:00"};
    QTest::newRow("hours across midnight")
        << "2026-12-08T22:00:00"
        << "2026-12-09T02:00:00" << 400
        << QStringList{"22:00/8 Dec", "23:00", "00:00/9 Dec", "01:00", "02:00"};
    // 4 h over 100 px: one label fits, every 6 h, and none falls in the range
    // but midnight.
    QTest::newRow("narrow chart") << "2026-12-08T22:30:00"
                                  << "2026-12-09T02:30:00" << 100 << QStringList{"00:00/9 Dec"};
    // 6 days over 600 px: every midnight, no year.
    QTest::newRow("days") << "2026-12-01T00:00:00"
                          << "2026-12-07T00:00:00" << 600
                          << QStringList{"1 Dec", "2 Dec", "3 Dec", "4 Dec",
                                         "5 Dec", "6 Dec", "7 Dec"};
    // 14 days over 700 px, longer than a week so with the year: every second
    // midnight, on even day numbers (the Julian day of 1 December 2026 is
    // 2461376).
    QTest::newRow("two weeks, with the year")
        << "2026-12-01T00:00:00"
        << "2026-12-15T00:00:00" << 700
        << QStringList{"1 Dec 2026", "3 Dec 2026",  "5 Dec 2026",  "7 Dec 2026",
                       "9 Dec 2026", "11 Dec 2026", "13 Dec 2026", "15 Dec 2026"};
    QTest::newRow("weeks: Mondays")
        << "2026-11-01T00:00:00"
        << "2026-12-31T00:00:00" << 900
        << QStringList{"2 Nov 2026", "9 Nov 2026",  "16 Nov 2026", "23 Nov 2026", "30 Nov 2026",
                       "7 Dec 2026", "14 Dec 2026", "21 Dec 2026", "28 Dec 2026"};
    QTest::newRow("hours into a new year")
        << "2026-12-31T22:00:00"
        << "2027-01-01T01:00:00" << 300
        << QStringList{"22:00/31 Dec 2026", "23:00", "00:00/1 Jan 2027", "01:00"};
}

void TestTimeAxis::ticks() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(int, width);
    QFETCH(QStringList, expected);

    const auto at = [](const QString& iso) {
        QDateTime time = QDateTime::fromString(iso, Qt::ISODate);
        time.setTimeZone(QTimeZone::utc());
        return time;
    };
    QStringList got;
    for (const TimeTick& tick : tkview::timeTicks(at(from), at(to), width, 100, QLocale::c()))
        got << (tick.dateLabel.isEmpty() ? tick.label : tick.label + '/' + tick.dateLabel);
    QCOMPARE(got, expected);
}

QTEST_GUILESS_MAIN(TestTimeAxis)
#include "tst_timeaxis.moc"
