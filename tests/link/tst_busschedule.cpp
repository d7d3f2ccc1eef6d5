#include <QTest>

#include "BusRound.h"
#include "BusSchedule.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

using tklink::BusRound;
using tklink::BusSchedule;
using tklink::BusTiming;
using tklink::RoundPace;

namespace {

// A controller's whole exchange (8 + 11 bytes at 19200 bit/s, and its
// turnaround), on the fake clock.
constexpr qint64 answerMs = 20;
constexpr qint64 never = std::numeric_limits<qint64>::max();

// Ten minutes of the schedule on the fake clock: an exchange takes
// exchangeMs where answers(c, sentMs) says the controller answers, its whole
// time-out where not; seen(c, sentMs, endMs, answered, missed) follows each.
template <typename Answers, typename Seen>
void runTenMinutes(BusSchedule& schedule, const BusTiming& timing, int controllers,
                   qint64 exchangeMs, const Answers& answers, const Seen& seen) {
    QList<int> missed(controllers, 0);
    schedule.start(0);
    qint64 now = 0;
    while (now < 600000) {
        const BusSchedule::Next next = schedule.next();
        now = std::max(now, next.atMs);
        const int c = next.controller;
        const qint64 sentMs = now;
        schedule.sent(c, now);
        const bool answered = answers(c, sentMs);
        now += answered ? exchangeMs : timing.answerTimeoutMs;
        missed[c] = answered ? 0 : missed[c] + 1;
        schedule.ended(c, now, missed[c]);
        seen(c, sentMs, now, answered, missed[c]);
    }
}

} // namespace

class TestBusSchedule : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pollTimes_data();
    void pollTimes();
    void liveKeepTheirPace_data();
    void liveKeepTheirPace();
    void roundsOfTheAnswering_data();
    void roundsOfTheAnswering();
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

void TestBusSchedule::liveKeepTheirPace_data() {
    QTest::addColumn<int>("controllers");
    QTest::addColumn<int>("answerTimeout");
    // The eight answering ones are firstLive to firstLive + 7.
    QTest::addColumn<int>("firstLive");
    // Their 2 s checked from each one's first answer, not after a settling.
    QTest::addColumn<bool>("fromStart");
    // By when every controller has been asked once.
    QTest::addColumn<qint64>("allAskedBy");
    // The longest a silent controller then waits between two requests.
    QTest::addColumn<qint64>("staleSpacing");
    // When the third answering one falls silent for good; never: it answers.
    QTest::addColumn<qint64>("quietFrom");

    // Eight answer, the rest are silent; at most one stale request per 2 s
    // round, and only where its whole time-out fits between two live ones:
    // 32 silent at 1 s each cannot all be asked within 30 s.
    QTest::newRow("40 configured, 8 live, 1 s time-out")
        << 40 << 1000 << 0 << false << qint64(600000) << qint64(120000) << never;
    QTest::newRow("247 configured, 8 live, default time-out")
        << 247 << 200 << 0 << false << qint64(600000) << qint64(478000) << never;
    QTest::newRow("9 configured, 8 live: the silent one at 30 s")
        << 9 << 200 << 0 << false << qint64(600000) << qint64(30000) << never;
    // One not yet answering is asked only where the line has room, from the
    // first round on: about one 1 s time-out fits in each 2 s round.
    QTest::newRow("40 configured, 8 live heading the list, from the start")
        << 40 << 1000 << 0 << true << qint64(66000) << qint64(120000) << never;
    QTest::newRow("40 configured, 8 live in the middle, from the start")
        << 40 << 1000 << 16 << true << qint64(66000) << qint64(120000) << never;
    // Until one answers nothing holds up the silent ones: 32 s of time-outs.
    QTest::newRow("40 configured, 8 live closing the list, from the start")
        << 40 << 1000 << 32 << true << qint64(34000) << qint64(120000) << never;
    // Stale within three polls, while some silent ones are still to be asked
    // once (one more doubtful one, so the last first ask comes later): its
    // time-outs cost the others no more than while it misses them.
    QTest::newRow("40 configured, 8 live, 1 s time-out, one falls silent")
        << 40 << 1000 << 0 << true << qint64(70000) << qint64(120000) << qint64(20000);
    QTest::newRow("247 configured, 8 live, default time-out, from the start")
        << 247 << 200 << 0 << true << qint64(66000) << qint64(478000) << never;
}

// Ten minutes on the fake clock: the answering ones are asked every
// 2.0 +- 0.2 s whatever the silent ones do (after the first round of
// time-outs, or from each one's first answer), every controller is asked
// soon after start, and a silent one is still asked.
void TestBusSchedule::liveKeepTheirPace() {
    QFETCH(int, controllers);
    QFETCH(int, answerTimeout);
    QFETCH(int, firstLive);
    QFETCH(bool, fromStart);
    QFETCH(qint64, quietFrom);
    constexpr int live = 8;
    const int quiet = firstLive + 2;
    const auto answering = [&](int c) { return c >= firstLive && c < firstLive + live; };
    BusTiming timing;
    timing.answerTimeoutMs = answerTimeout;
    BusSchedule schedule(controllers, timing, 19200);
    QList<QList<qint64>> sends(controllers);
    runTenMinutes(
        schedule, timing, controllers, answerMs,
        [&](int c, qint64 at) { return answering(c) && (c != quiet || at < quietFrom); },
        [&](int c, qint64 sentMs, qint64, bool, int) { sends[c].append(sentMs); });
    // The first round asks everyone once, a full time-out each.
    const qint64 settled = fromStart ? 0 : qint64(controllers) * (answerTimeout + answerMs) * 3;
    QFETCH(qint64, allAskedBy);
    for (int c = 0; c < controllers; ++c)
        QVERIFY2(!sends[c].isEmpty() && sends[c].first() <= allAskedBy,
                 qPrintable(QStringLiteral("controller %1 first asked at %2 ms")
                                .arg(c)
                                .arg(sends[c].isEmpty() ? -1 : sends[c].first())));
    // The one that falls silent is asked every 2 s until its third miss makes
    // it stale; its time-outs may hold up the others meanwhile.
    if (quietFrom != never) {
        const auto firstMiss =
            std::lower_bound(sends[quiet].begin(), sends[quiet].end(), quietFrom);
        QVERIFY(std::distance(firstMiss, sends[quiet].end()) >= 3);
        QVERIFY2(*(firstMiss + 2) <= quietFrom + qint64(2000 + 2 * 2200),
                 qPrintable(QString::number(*(firstMiss + 2))));
    }
    for (int c = firstLive; c < firstLive + live; ++c) {
        for (qsizetype i = 1; i < sends[c].size(); ++i) {
            const bool missing = sends[c][i] > quietFrom && sends[c][i - 1] < quietFrom + 8000;
            if (sends[c][i - 1] < settled || (c == quiet && sends[c][i] > quietFrom) || missing)
                continue;
            const qint64 spacing = sends[c][i] - sends[c][i - 1];
            QVERIFY2(spacing >= 1800 && spacing <= 2200,
                     qPrintable(QStringLiteral("controller %1 at %2 ms: %3 ms")
                                    .arg(c)
                                    .arg(sends[c][i])
                                    .arg(spacing)));
        }
    }
    qint64 longest = 0;
    for (int c = 0; c < controllers; ++c) {
        if (answering(c))
            continue;
        QVERIFY(sends[c].size() >= 2);
        for (qsizetype i = 1; i < sends[c].size(); ++i)
            longest = std::max(longest, sends[c][i] - sends[c][i - 1]);
    }
    QFETCH(qint64, staleSpacing);
    QVERIFY2(longest <= staleSpacing + 2000, qPrintable(QString::number(longest)));
}

void TestBusSchedule::roundsOfTheAnswering_data() {
    QTest::addColumn<int>("controllers");
    QTest::addColumn<int>("live"); // the first ones answer, the rest are silent
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("answerTimeout");
    QTest::addColumn<qint64>("exchangeMs"); // request and answer on the line
    QTest::addColumn<int>("answering");     // at the end
    QTest::addColumn<qint64>("lastRoundMs");
    QTest::addColumn<QStringList>("said");

    // 8 x (20 ms + 3 ms of silence).
    QTest::newRow("8 of 40 answering at 19200 bit/s: rounds fit, nothing said")
        << 40 << 8 << 19200 << 1000 << qint64(20) << 8 << qint64(184) << QStringList{};
    // 247 x (40 ms + 5 ms): every one of them is still asked, and it is said once.
    QTest::newRow("247 answering at 9600 bit/s: said once")
        << 247 << 247 << 9600 << 200 << qint64(40) << 247 << qint64(11115)
        << QStringList{"the 247 answering controllers cannot be asked every 2 s: a round of "
                       "them takes 11.1 s"};
    // The 30 silent ones take one 200 ms time-out per round between them.
    QTest::newRow("100 of 130 answering at 9600 bit/s: said once")
        << 130 << 100 << 9600 << 200 << qint64(40) << 100 << qint64(4500)
        << QStringList{"the 100 answering controllers cannot be asked every 2 s: a round of "
                       "them takes 4.5 s"};
}

// Ten minutes on the fake clock, each round of the answering controllers
// measured as the bus measures it, and told as tkrecord tells it.
void TestBusSchedule::roundsOfTheAnswering() {
    QFETCH(int, controllers);
    QFETCH(int, live);
    QFETCH(int, speed);
    QFETCH(int, answerTimeout);
    QFETCH(qint64, exchangeMs);
    BusTiming timing;
    timing.answerTimeoutMs = answerTimeout;
    BusSchedule schedule(controllers, timing, speed);
    const qint64 gapMs = (tklink::interFrameSilenceUs(speed) + 999) / 1000;
    BusRound round;
    RoundPace pace;
    QStringList said;
    std::optional<qint64> lastRoundMs;
    std::vector<bool> answering(std::size_t(controllers), false);
    QList<int> asked(controllers, 0);
    runTenMinutes(
        schedule, timing, controllers, exchangeMs, [live](int c, qint64) { return c < live; },
        [&](int c, qint64 sentMs, qint64 endMs, bool answered, int missed) {
            ++asked[c];
            answering[std::size_t(c)] =
                missed < timing.staleAfterPolls && (answered || answering[std::size_t(c)]);
            const auto length = round.exchanged(c, endMs - sentMs + gapMs, answered, answering);
            if (!length)
                return;
            lastRoundMs = length;
            const QString words =
                pace.take(*length, int(std::count(answering.begin(), answering.end(), true)),
                          timing.pollIntervalMs);
            if (!words.isEmpty())
                said << words;
        });
    QTEST(int(std::count(answering.begin(), answering.end(), true)), "answering");
    QVERIFY(lastRoundMs.has_value());
    QTEST(*lastRoundMs, "lastRoundMs");
    QTEST(said, "said");
    // The silent ones are still asked now and then.
    for (int c = live; c < controllers; ++c)
        QVERIFY2(asked[c] >= 2, qPrintable(QString::number(c)));
}

QTEST_APPLESS_MAIN(TestBusSchedule)
#include "tst_busschedule.moc"
