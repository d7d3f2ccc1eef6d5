#include <QTest>

#include "AlarmRules.h"
#include "AlarmText.h"

using alarms::Alarm;
using alarms::AlarmRules;
using alarms::AlarmState;

namespace {

const QDateTime start(QDate(2024, 5, 17), QTime(14, 0, 0));

QChar letter(AlarmState state) {
    switch (state) {
    case AlarmState::Normal:
        return QLatin1Char('N');
    case AlarmState::ActiveUnacknowledged:
        return QLatin1Char('U');
    case AlarmState::ActiveAcknowledged:
        return QLatin1Char('A');
    case AlarmState::ClearedUnacknowledged:
        return QLatin1Char('C');
    }
    return QLatin1Char('?');
}

} // namespace

class TestAlarmRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void statesFollowTimedValues_data();
    void statesFollowTimedValues();
    void bandSaysWhatValueAndSince();
    void linkLostOnItsOwnClock_data();
    void linkLostOnItsOwnClock();
};

// A script of steps "seconds:measured/setpoint", "seconds:-" (no current
// values) or "ack", and the watched alarm's state after each step:
// N normal, U active unacknowledged, A acknowledged, C cleared unacknowledged.
void TestAlarmRules::statesFollowTimedValues_data() {
    // high band delay(min) linkLost(s) [hysteresis heatUp(min)]; "-" for off
    QTest::addColumn<QString>("limits");
    QTest::addColumn<int>("alarm");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("states");

    const int high = int(Alarm::High);
    const int dev = int(Alarm::Deviation);
    const int link = int(Alarm::Link);
    QTest::newRow("high at the limit, cleared below its hysteresis, acknowledged")
        << "300 - - 30" << high << "0:250/300 10:300/300 20:298.9/300 ack"
        << "NUCN";
    QTest::newRow("high acknowledged, then cleared to normal")
        << "300 - - 30" << high << "0:310/300 ack 10:250/300"
        << "UAN";
    QTest::newRow("high again while cleared unacknowledged")
        << "300 - - 30" << high << "0:310/300 5:290/300 10:320/300"
        << "UCU";
    QTest::newRow("no-data values never raise high") << "300 - - 30" << high << "0:888.8/888.8 10:-"
                                                     << "NN";
    QTest::newRow("lost values neither clear high")
        << "300 - - 30" << high << "0:310/300 10:- 20:888.8/888.8"
        << "UUU";
    QTest::newRow("high off without a limit") << "- - - 30" << high << "0:999/300"
                                              << "N";
    QTest::newRow("heat-up silent, then off the band for the delay")
        << "- 5 1 30" << dev
        << "0:20/300 120:150/300 240:296/300 300:280/300 359:280/300 360:280/300"
        << "NNNNNU";
    QTest::newRow("a new setpoint disarms until reached")
        << "- 5 1 30" << dev << "0:300/300 10:300/400 200:350/400 300:350/400"
        << "NNNN";
    QTest::newRow("back within the band restarts the delay")
        << "- 5 1 30" << dev << "0:300/300 10:310/300 50:300/300 60:310/300 119:310/300 120:310/300"
        << "NNNNNU";
    QTest::newRow("deviation off without a delay")
        << "- 5 - 30" << dev << "0:300/300 10:400/300 900:400/300"
        << "NNN";
    QTest::newRow("link lost after its time without values, back, acknowledged")
        << "- - - 30" << link << "0:- 29:- 30:- 40:300/300 ack"
        << "NNUCN";
    QTest::newRow("link with values never lost") << "- - - 30" << link << "0:300/300 100:300/300"
                                                 << "NN";
    const int heatUp = int(Alarm::HeatUp);
    const int none = int(Alarm::NoMeasurement);
    QTest::newRow("high flapping at the limit raised once, cleared a degree below")
        << "300 - - 30" << high << "0:299.9/300 2:300.1/300 4:299.9/300 6:300.1/300 8:298.9/300"
        << "NUUUC";
    QTest::newRow("high hysteresis of 5")
        << "300 - - 30 5 -" << high << "0:301/300 2:295.1/300 4:294.9/300 6:299/300"
        << "UUCC";
    QTest::newRow("heat-up too slow from the start")
        << "- 5 - 30 1 10" << heatUp << "0:20/300 599:200/300 600:200/300 700:296/300"
        << "NNUC";
    QTest::newRow("heat-up restarts at a setpoint change once reached")
        << "- 5 - 30 1 10" << heatUp << "0:300/300 60:300/400 659:350/400 660:350/400"
        << "NNNU";
    QTest::newRow("a ramping setpoint keeps the heat-up's start")
        << "- 5 - 30 1 10" << heatUp << "0:20/100 300:50/200 599:80/300 600:90/310"
        << "NNNU";
    QTest::newRow("8888 answers: no measurement after the link's time")
        << "- - - 30" << none << "0:888.8/300 29:888.8/300 30:888.8/300 40:250/300"
        << "NNUC";
    QTest::newRow("8888 answers keep the link") << "- - - 30" << link << "0:888.8/300 60:888.8/300"
                                                << "NN";
    QTest::newRow("link lost after 1e20 s never comes") << "- - - 1e20" << link << "0:- 100000:-"
                                                        << "NN";
    QTest::newRow("deviation after 1e30 minutes never comes")
        << "- 5 1e30 30" << dev << "0:300/300 10:400/300 100000:400/300"
        << "NNN";
}

void TestAlarmRules::statesFollowTimedValues() {
    QFETCH(QString, limits);
    QFETCH(int, alarm);
    QFETCH(QString, script);
    const QStringList l = limits.split(QLatin1Char(' '));
    const auto limit = [&](int i) {
        return l[i] == QLatin1String("-") ? std::optional<float>() : l[i].toFloat();
    };
    Data::AlarmSettings settings;
    settings.highLimit = limit(0);
    settings.deviationBand = limit(1);
    settings.deviationDelay = limit(2);
    settings.linkLostAfter = l[3].toFloat();
    if (l.size() > 5) {
        settings.highHysteresis = l[4].toFloat();
        settings.heatUpLimit = limit(5);
    }
    AlarmRules rules(settings, start);

    QString states;
    for (const QString& step : script.split(QLatin1Char(' '))) {
        if (step == QLatin1String("ack")) {
            rules.acknowledge();
        } else {
            const QStringList timeAndValues = step.split(QLatin1Char(':'));
            alarms::Sample sample;
            sample.at = start.addSecs(timeAndValues[0].toInt());
            sample.current = timeAndValues[1] != QLatin1String("-");
            if (sample.current) {
                sample.measured = timeAndValues[1].section(QLatin1Char('/'), 0, 0).toFloat();
                sample.setpoint = timeAndValues[1].section(QLatin1Char('/'), 1, 1).toFloat();
            }
            rules.update(sample);
        }
        states += letter(rules.status(Alarm(alarm)).state);
    }
    QTEST(states, "states");
}

void TestAlarmRules::bandSaysWhatValueAndSince() {
    Data::AlarmSettings settings;
    settings.highLimit = 300;
    AlarmRules rules(settings, start);
    rules.update({start.addSecs(329), true, 312.4f, 300});
    QCOMPARE(alarms::bandText(Alarm::High, rules.status(Alarm::High)),
             QStringLiteral("High temperature 312.4 °C since 14:05:29"));
    rules.update({start.addSecs(335), true, 315.5f, 300});
    rules.update({start.addSecs(342), true, 150, 300});
    QCOMPARE(alarms::bandText(Alarm::High, rules.status(Alarm::High)),
             QStringLiteral("High temperature cleared at 14:05:42, peak 315.5 °C"));
    rules.update({start.addSecs(400), false, Data::NO_DATA, Data::NO_DATA});
    QCOMPARE(alarms::bandText(Alarm::Link, rules.status(Alarm::Link)),
             QStringLiteral("Link lost since 14:05:42"));

    settings = {};
    settings.deviationBand = 5;
    settings.deviationDelay = 0;
    AlarmRules deviation(settings, start);
    deviation.update({start, true, 300, 300});
    deviation.update({start.addSecs(60), true, 280, 300});
    QCOMPARE(alarms::bandText(Alarm::Deviation, deviation.status(Alarm::Deviation)),
             QStringLiteral("Deviation from setpoint -20.0 °C (280.0 °C, setpoint 300.0 °C) "
                            "since 14:01:00"));

    // A bus: the most pressing alarm of any controller, named, the earlier
    // controller first between equals; the others counted over all of them.
    alarms::BusBandLook bus = alarms::busBandLook({{"oven1", &deviation}, {"oven2", &rules}});
    QCOMPARE(bus.controller, 0);
    QVERIFY(bus.look.text.startsWith("oven1: Deviation from setpoint -20.0 °C"));
    QVERIFY2(bus.look.text.endsWith(" (+2 more: oven2 High temperature, oven2 Link lost)"),
             qPrintable(bus.look.text));
    deviation.acknowledge();
    bus = alarms::busBandLook({{"oven1", &deviation}, {"oven2", &rules}});
    QCOMPARE(bus.controller, 1);
    QCOMPARE(bus.look.text, QStringLiteral("oven2: Link lost since 14:05:42 (+2 more: oven1 "
                                           "Deviation from setpoint, oven2 High temperature)"));
    QCOMPARE(bus.look.colour, alarms::BandColour::FlashingRed);
}

// The link alarm looked at every second, as the session does, while a
// controller's polls are missed: it counts from the last answer, not from a
// sample taken between answers, and it never rises and clears at once.
void TestAlarmRules::linkLostOnItsOwnClock_data() {
    QTest::addColumn<bool>("lastAnswerKnown");
    QTest::addColumn<int>("answersAgainAt");
    QTest::addColumn<QString>("states");

    // Answer at 0; until the third missed poll (at 6) the values still count
    // as current. One letter per second from 0 to 35.
    QTest::newRow("from the last answer: raised at 30")
        << true << 99 << "NNNNNNNNNNNNNNNNNNNNNNNNNNNNNNUUUUUU";
    QTest::newRow("from the last current sample: 5 s late")
        << false << 99 << "NNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNU";
    QTest::newRow("answers again at 32: raised before, cleared then")
        << true << 32 << "NNNNNNNNNNNNNNNNNNNNNNNNNNNNNNUUCCCC";
}

void TestAlarmRules::linkLostOnItsOwnClock() {
    QFETCH(bool, lastAnswerKnown);
    QFETCH(int, answersAgainAt);
    AlarmRules rules(Data::AlarmSettings{}, start);
    QString states;
    for (int second = 0; second <= 35; ++second) {
        const bool answer = second == 0 || second >= answersAgainAt;
        const alarms::Sample sample{start.addSecs(second), answer || second < 6, 200, 200};
        rules.update(sample, lastAnswerKnown ? start.addSecs(answer ? second : 0) : QDateTime());
        states += letter(rules.status(Alarm::Link).state);
    }
    QTEST(states, "states");
}

QTEST_GUILESS_MAIN(TestAlarmRules)
#include "tst_alarmrules.moc"
