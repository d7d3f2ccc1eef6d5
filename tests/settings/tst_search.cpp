// The controller search's plan and words: the order it tries things in, how
// long it waits, and what it tells the operator.

#include <QTest>

#include "AnswerFrame.h"
#include "ControllerSearch.h"
#include "Pty.h"
#include "SearchText.h"

using tklink::SearchDevice;
using tklink::SearchTry;
using tklink::TryResult;

Q_DECLARE_METATYPE(QList<qint32>)
Q_DECLARE_METATYPE(tklink::SearchAddresses)

class TestSearch : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void speeds_data();
    void speeds();
    void distinct();
    void answerWait_data();
    void answerWait();
    void addresses_data();
    void addresses();
    void words();
    void bytesBeforeTheRequestAreNoAnswer();
};

void TestSearch::speeds_data() {
    QTest::addColumn<QString>("configured");
    QTest::addColumn<QList<qint32>>("speeds");
    // The speeds the other addresses are asked at.
    QTest::addColumn<QList<qint32>>("scanned");
    QTest::newRow("a usual speed moves to the front")
        << "9600" << QList<qint32>{9600, 19200, 38400, 57600, 115200, 4800, 2400, 1200}
        << QList<qint32>{9600, 19200};
    QTest::newRow("an unusual one is added")
        << "14400" << QList<qint32>{14400, 19200, 9600, 38400, 57600, 115200, 4800, 2400, 1200}
        << QList<qint32>{14400, 19200, 9600};
    QTest::newRow("a rare one is scanned too")
        << "1200" << QList<qint32>{1200, 19200, 9600, 38400, 57600, 115200, 4800, 2400}
        << QList<qint32>{1200, 19200, 9600};
    QTest::newRow("not a speed: the usual ones")
        << "fast" << QList<qint32>{19200, 9600, 38400, 57600, 115200, 4800, 2400, 1200}
        << QList<qint32>{19200, 9600};
}

void TestSearch::speeds() {
    QFETCH(QString, configured);
    QTEST(tklink::searchSpeeds(configured), "speeds");
    QTEST(tklink::scanSpeeds(tklink::searchSpeeds(configured)), "scanned");
}

void TestSearch::distinct() {
    // A by-id link reaches ttyUSB0; ttyS9 is not there.
    const auto identity = [](const QString& name) {
        return name.endsWith(QLatin1String("FTDI_A1")) ? QStringLiteral("/dev/ttyUSB0")
               : name == QLatin1String("/dev/ttyS9")   ? QString()
                                                       : name;
    };
    const QList<SearchDevice> candidates{{"/dev/serial/by-id/usb-FTDI_A1", 0, false},
                                         {"/dev/ttyS9", 40},
                                         {"/dev/ttyUSB0", 1},
                                         {"/dev/ttyAMA0", 0, false}};
    const QList<SearchDevice> expected{{"/dev/serial/by-id/usb-FTDI_A1", 1, true},
                                       {"/dev/ttyAMA0", 0, false}};
    QCOMPARE(tklink::distinctDevices(candidates, identity), expected);
}

void TestSearch::answerWait_data() {
    QTest::addColumn<qint32>("speed");
    QTest::addColumn<int>("ms");
    QTest::addColumn<int>("scanMs");
    // 190 bits on the line, rounded up, and 150 ms of turnaround (60 for
    // the other addresses).
    QTest::newRow("9600") << 9600 << 20 + 150 << 20 + 60;
    QTest::newRow("1200") << 1200 << 159 + 150 << 159 + 60;
    QTest::newRow("115200") << 115200 << 2 + 150 << 2 + 60;
}

void TestSearch::answerWait() {
    QFETCH(qint32, speed);
    QTEST(tklink::answerWaitMs(speed), "ms");
    QTEST(tklink::scanWaitMs(speed), "scanMs");
}

void TestSearch::addresses_data() {
    QTest::addColumn<QList<uint8_t>>("configured");
    QTest::addColumn<int>("listUpTo");
    QTest::addColumn<tklink::SearchAddresses>("expected");
    QTest::newRow("no [Controllers]: 9, then the rest")
        << QList<uint8_t>{} << 12
        << tklink::SearchAddresses{9, {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12}, 12};
    QTest::newRow("[Controllers]: the first, then the others")
        << QList<uint8_t>{40, 10, 200} << 32 << tklink::SearchAddresses{40, {10, 200}, 32};
}

void TestSearch::addresses() {
    QFETCH(QList<uint8_t>, configured);
    QFETCH(int, listUpTo);
    QTEST(tklink::searchAddresses(configured, listUpTo), "expected");
}

void TestSearch::words() {
    const SearchDevice usb{"/dev/ttyUSB0", 1};
    const SearchDevice amaUnnamed{"/dev/ttyAMA0", 4, false};
    const QList<SearchTry> tries{
        {usb, 19200, TryResult::BadAnswer, {}},
        {amaUnnamed, 19200, TryResult::Busy, "Device or resource busy", 4242},
        {usb, 9600, TryResult::NoAnswer, {}},
        {usb, 1200, TryResult::NoAnswer, {}},
        {{"/dev/ttyS2", 3}, 9600, TryResult::Exception, "4"},
        {usb, 9600, TryResult::NoAnswer, {}, 0, 10}};
    const SearchTry atTen{usb, 19200, TryResult::Answer, {}, 0, 10};
    QCOMPARE(settings::searchTryLine(tries[0]),
             QStringLiteral("/dev/ttyUSB0 (port 1) at 19200 bit/s: bad answer"));
    QCOMPARE(settings::searchTryLine(atTen),
             QStringLiteral("/dev/ttyUSB0 (port 1) at 19200 bit/s, address 10: the controller "
                            "answered"));
    QCOMPARE(settings::sweepLine(amaUnnamed, 9600, 31),
             QStringLiteral("/dev/ttyAMA0 (no port number) at 9600 bit/s: asking 31 other "
                            "addresses"));
    QCOMPARE(settings::answeringText({10, 11}, 32),
             QStringLiteral("addresses answering from 1 to 32: 10, 11"));
    QCOMPARE(settings::controllersLines({10, 11}),
             QStringList({"[Controllers]", "controller-10=10", "controller-11=11"}));
    QCOMPARE(settings::searchTryLine(tries[1]),
             QStringLiteral("/dev/ttyAMA0 (no port number): skipped, another program holds it "
                            "(PID 4242)"));
    QCOMPARE(settings::searchFailureLines(tries),
             QStringList({"/dev/ttyUSB0 (port 1): no answer at 9600, 1200 bit/s; bad answer at "
                          "19200 bit/s",
                          "/dev/ttyAMA0 (no port number): skipped, another program holds it "
                          "(PID 4242)",
                          "/dev/ttyS2 (port 3): exception 4: a device answers, not the "
                          "controller"}));
    QCOMPARE(settings::searchConfLines(amaUnnamed, 9600),
             QStringList({"[Ports]", "4=/dev/ttyAMA0", "[TK840 TK960 PC control]", "ComPortNum=4",
                          "ComPortSpeed=9600"}));
}

void TestSearch::bytesBeforeTheRequestAreNoAnswer() {
    // A whole answer waits on the device before the try (the late answer
    // to a try at another speed): it does not answer this try's request.
    Pty line;
    QVERIFY(line.isValid());
    QByteArray answer = QByteArray::fromHex("09030600c800d20032");
    const uint16_t crc = tklink::crc16Modbus(
        {reinterpret_cast<const uint8_t*>(answer.constData()), std::size_t(answer.size())});
    answer += char(crc & 0xFF);
    answer += char(crc >> 8);
    QVERIFY(line.write(answer));
    tklink::ControllerSearch search({{line.path(), 1}}, {19200});
    std::optional<tklink::SearchOutcome> outcome;
    connect(&search, &tklink::ControllerSearch::finished, this,
            [&outcome](const tklink::SearchOutcome& ended) { outcome = ended; });
    search.start();
    QTRY_VERIFY_WITH_TIMEOUT(outcome.has_value(), 20000);
    QVERIFY(!outcome->found);
    QCOMPARE(outcome->tries.size(), 1);
    QCOMPARE(int(outcome->tries.first().result), int(TryResult::NoAnswer));
}

QTEST_GUILESS_MAIN(TestSearch)
#include "tst_search.moc"
