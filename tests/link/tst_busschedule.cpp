#include <QTest>

#include "BusSchedule.h"

#include <algorithm>
#include <limits>

using tklink::BusSchedule;
using tklink::BusTiming;

namespace {

// A controller's whole exchange (8 + 11 bytes at 19200 bit/s, and its
// turnaround), on the fake clock.
constexpr qint64 answerMs = 20;
constexpr qint64 never = std::numeric_limits<qint64>::max();

} // namespace

class TestBusSchedule : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pollTimes_data();
    void pollTimes();
};

void TestBusSchedule::pollTimes_data() {
    QTest::addColumn<int>("controllers");
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("extraGap");
    QTest::addColumn<int>("silent");
    QTest::addColumn<qint64>("answersAgainAt");
    QTest::addColumn<int>("watched");
    QTest::addColumn<qint64>("horizon");
    QTest::addColumn<QList<qint64>>("sends");

    // 2006 µs of silence at 19200 bit/s: 3 ms after each 20 ms exchange.
    QTest::newRow("three answering, one after the other, 2 s each")
        << 3 << 19200 << 0 << -1 << never << 2 << qint64(6000) << QList<qint64>{46, 2046, 4046};
    // 4011 µs of silence at 9600 bit/s, rounded up, and 5 ms more.
    QTest::newRow("9600 bit/s with an extra gap of 5 ms")
        << 3 << 9600 << 5 << -1 << never << 2 << qint64(6000) << QList<qint64>{60, 2060, 4060};
    QTest::newRow("above 19200 bit/s the silence is 1.75 ms")
        << 2 << 38400 << 0 << -1 << never << 1 << qint64(4000) << QList<qint64>{22, 2022};
    // Three misses make it stale, then 4, 8, 16 s, and never more than 30 s.
    QTest::newRow("silent one backs off to 30 s")
        << 3 << 19200 << 0 << 1 << never << 1 << qint64(100000)
        << QList<qint64>{23, 2023, 4023, 8023, 16023, 32023, 62023, 92023};
    QTest::newRow("silent one back to 2 s at its next answer")
        << 3 << 19200 << 0 << 1 << qint64(10000) << 1 << qint64(21000)
        << QList<qint64>{23, 2023, 4023, 8023, 16023, 18023, 20023};
    // Its first poll waits for the time-out before it; then the cadence.
    QTest::newRow("the one after a silent one keeps its 2 s")
        << 3 << 19200 << 0 << 1 << never << 2 << qint64(7000)
        << QList<qint64>{226, 2226, 4226, 6226};
}

// The schedule driven as a line would drive it: each exchange takes answerMs,
// or the whole time-out for a controller that is silent.
void TestBusSchedule::pollTimes() {
    QFETCH(int, controllers);
    QFETCH(int, speed);
    QFETCH(int, extraGap);
    QFETCH(int, silent);
    QFETCH(qint64, answersAgainAt);
    QFETCH(int, watched);
    QFETCH(qint64, horizon);

    BusTiming timing;
    timing.extraGapMs = extraGap;
    BusSchedule schedule(controllers, timing, speed);
    schedule.start(0);
    QList<QList<qint64>> sends(controllers);
    QList<int> missed(controllers, 0);
    qint64 now = 0;
    for (;;) {
        const BusSchedule::Next next = schedule.next();
        now = std::max(now, next.atMs);
        if (now >= horizon)
            break;
        const int c = next.controller;
        schedule.sent(c, now);
        sends[c].append(now);
        const bool answers = c != silent || now >= answersAgainAt;
        now += answers ? answerMs : timing.answerTimeoutMs;
        missed[c] = answers ? 0 : missed[c] + 1;
        schedule.ended(c, now, missed[c]);
    }
    QTEST(sends[watched], "sends");
    // Whatever the silent one does, every other keeps its 2 s exactly.
    for (int c = 0; c < controllers; ++c) {
        if (c == silent)
            continue;
        for (qsizetype i = 1; i < sends[c].size(); ++i)
            QCOMPARE(sends[c][i] - sends[c][i - 1], qint64(timing.pollIntervalMs));
    }
}

QTEST_APPLESS_MAIN(TestBusSchedule)
#include "tst_busschedule.moc"
