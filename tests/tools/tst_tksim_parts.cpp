// The simulator's parts with exact answers: the oven model, the log texts,
// and the fault plans.

#include <QTest>

#include "Faults.h"
#include "Frames.h"
#include "OvenModel.h"

#include <algorithm>

using namespace tksim;

namespace {

Bytes frame(const char* hexText) {
    const QByteArray b = QByteArray::fromHex(hexText);
    return Bytes(b.begin(), b.end());
}

} // namespace

class TestTksimParts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void ovenSettlesWithSmallOvershoot();
    void ovenCoolsWithHeatingOff();
    void ovenIndependentOfTickLength();
    void describesFrames_data();
    void describesFrames();
    void exclusiveFaultsInOrder();
    void truncationKeepsAtLeastOneNeverAll_data();
    void truncationKeepsAtLeastOneNeverAll();
    void badAddressSkipsOwn();
};

void TestTksimParts::ovenSettlesWithSmallOvershoot() {
    OvenModel oven(20.0);
    double highest = 0;
    for (int s = 0; s < 900; ++s) {
        oven.advance(1.0, 200.0);
        highest = std::max(highest, oven.temperature());
        QVERIFY(oven.power() >= 0.0 && oven.power() <= 100.0);
        if (s == 60)
            QVERIFY2(oven.temperature() > 40 && oven.temperature() < 120,
                     qPrintable(QString::number(oven.temperature())));
    }
    QVERIFY2(highest < 203.0, qPrintable(QString::number(highest)));
    QVERIFY(qAbs(oven.temperature() - 200.0) < 0.5);
    // 180 degrees above the room out of 480 at full power: 37.5 %.
    QVERIFY(qAbs(oven.power() - 37.5) < 1.0);
}

void TestTksimParts::ovenCoolsWithHeatingOff() {
    OvenModel oven(20.0);
    oven.advance(900.0, 200.0);
    oven.advance(1.0, 150.0);
    QCOMPARE(oven.power(), 0.0);
    const double before = oven.temperature();
    oven.advance(30.0, 150.0);
    QVERIFY(oven.temperature() < before);
    oven.advance(1800.0, 150.0);
    QVERIFY(qAbs(oven.temperature() - 150.0) < 0.5);
}

void TestTksimParts::ovenIndependentOfTickLength() {
    OvenModel coarse(20.0);
    OvenModel fine(20.0);
    coarse.advance(120.0, 200.0);
    for (int i = 0; i < 2400; ++i)
        fine.advance(0.05, 200.0);
    QVERIFY(qAbs(coarse.temperature() - fine.temperature()) < 1e-6);
}

void TestTksimParts::describesFrames_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("text");

    QTest::newRow("poll") << QByteArray("0903000100035543") << QByteArray("090306086907D0002DDB64")
                          << "answer 2153 2000 45";
    QTest::newRow("poll, negative temperature")
        << QByteArray("0903000100035543") << QByteArray("090306FFCE07D000000000")
        << "answer -50 2000 0";
    QTest::newRow("read of register 2 alone")
        << QByteArray("090300020001XXXX") << QByteArray("09030207D0XXXX") << "answer 2=2000";
    QTest::newRow("write of register 2")
        << QByteArray("0906000205DCXXXX") << QByteArray("0906000205DCXXXX") << "write 2=1500";
    QTest::newRow("write multiple")
        << QByteArray("091000020001020064XXXX") << QByteArray("091000020001XXXX") << "write 2=100";
    QTest::newRow("exception") << QByteArray("090300000001XXXX") << QByteArray("098302XXXX")
                               << "exception 2 read 0..0";
}

void TestTksimParts::describesFrames() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    QFETCH(QString, text);

    // CRC bytes are not looked at; XXXX stands for any.
    request.replace("XXXX", "0000");
    answer.replace("XXXX", "0000");
    QCOMPARE(QString::fromStdString(describeAnswer(frame(request), frame(answer))), text);
}

void TestTksimParts::exclusiveFaultsInOrder() {
    std::mt19937 random(1);
    FaultRates rates;
    QCOMPARE(drawPlan(rates, 9, random).injected(), false);
    rates.badAddress = 1.0;
    QCOMPARE(drawPlan(rates, 9, random).fate, Fate::BadAddress);
    rates.badCrc = 1.0;
    QCOMPARE(drawPlan(rates, 9, random).fate, Fate::BadCrc);
    rates.exception = 1.0;
    QCOMPARE(drawPlan(rates, 9, random).fate, Fate::Exception);
    rates.drop = 1.0;
    rates.noise = rates.extra = rates.slow = 1.0;
    const FaultPlan dropped = drawPlan(rates, 9, random);
    QCOMPARE(dropped.fate, Fate::Drop);
    // Nothing is sent, so there is nothing to pad or slow down.
    QVERIFY(dropped.noise.empty() && dropped.extra.empty() && !dropped.slow);
}

void TestTksimParts::truncationKeepsAtLeastOneNeverAll_data() {
    QTest::addColumn<double>("fraction");
    QTest::addColumn<int>("kept");
    QTest::newRow("lowest draw") << 0.0 << 1;
    QTest::newRow("half") << 0.5 << 6;
    QTest::newRow("highest draw") << 0.999999 << 10;
}

void TestTksimParts::truncationKeepsAtLeastOneNeverAll() {
    QFETCH(double, fraction);
    QFETCH(int, kept);

    FaultPlan plan;
    plan.fate = Fate::Truncate;
    plan.cutFraction = fraction;
    const Bytes answer = frame("090306086907D0002DDB64");
    const Delivery d = deliver(plan, frame("0903000100035543"), answer);
    QCOMPARE(int(d.bytes.size()), kept);
    QVERIFY(std::equal(d.bytes.begin(), d.bytes.end(), answer.begin()));
    QCOMPARE(QString::fromStdString(d.log),
             QStringLiteral("fault truncated %1/11 answer 2153 2000 45").arg(kept));
}

void TestTksimParts::badAddressSkipsOwn() {
    std::mt19937 random(5);
    FaultRates rates;
    rates.badAddress = 1.0;
    for (int i = 0; i < 2000; ++i) {
        const int address = drawPlan(rates, 9, random).otherAddress;
        QVERIFY2(address >= 1 && address <= 247 && address != 9,
                 qPrintable(QString::number(address)));
    }
}

QTEST_GUILESS_MAIN(TestTksimParts)
#include "tst_tksim_parts.moc"
