#include <QTest>

#include "TextFormats.h"

class TestTextFormats : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void generalNumber_data();
    void generalNumber();
    void readGeneralNumber_data();
    void readGeneralNumber();
    void statusTime_data();
    void statusTime();
};

void TestTextFormats::generalNumber_data() {
    QTest::addColumn<QString>("localeName");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");

    // Read-out values go through a 32-bit float: raw / 10 as float.
    QTest::newRow("raw 2153") << "C" << double(2153.0f / 10.0f) << "215.3";
    QTest::newRow("raw 2000 whole") << "C" << double(2000.0f / 10.0f) << "200";
    QTest::newRow("raw 8888 marker") << "C" << double(8888.0f / 10.0f) << "888.8";
    QTest::newRow("zero") << "C" << 0.0 << "0";
    QTest::newRow("negative") << "C" << double(-55.0f / 10.0f) << "-5.5";
    QTest::newRow("no thousands separator") << "en_US" << 1234567.0 << "1234567";
    QTest::newRow("seven digits at most") << "C" << 3.14159265 << "3.141593";
    QTest::newRow("decimal comma") << "de_DE" << double(2153.0f / 10.0f) << "215,3";
    QTest::newRow("decimal comma whole") << "de_DE" << 300.0 << "300";
    // The seven-segment font draws 0 to 9 only: never a locale's own digits.
    QTest::newRow("Arabic: digits 0-9, Arabic separator")
        << "ar_EG" << double(2153.0f / 10.0f) << "215\u066B3";
    QTest::newRow("Arabic negative") << "ar_EG" << -5.0 << "-5";
    QTest::newRow("Bengali whole") << "bn_BD" << 888.0 << "888";
}

void TestTextFormats::generalNumber() {
    QFETCH(QString, localeName);
    QFETCH(double, value);
    QFETCH(QString, expected);
    QCOMPARE(::generalNumber(value, QLocale(localeName)), expected);
}

void TestTextFormats::readGeneralNumber_data() {
    QTest::addColumn<QString>("localeName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value"); // NaN: not a number
    QTest::newRow("as shown in Arabic") << "ar_EG"
                                        << "215\u066B3" << 215.3;
    QTest::newRow("Arabic's own digits") << "ar_EG"
                                         << "\u0662\u0661\u0665\u066B\u0663" << 215.3;
    QTest::newRow("decimal comma") << "de_DE"
                                   << " -12,5 " << -12.5;
    QTest::newRow("letters") << "C"
                             << "hot" << qQNaN();
}

void TestTextFormats::readGeneralNumber() {
    QFETCH(QString, localeName);
    QFETCH(QString, text);
    QFETCH(double, value);
    const auto read = ::readGeneralNumber(text, QLocale(localeName));
    QCOMPARE(read.has_value(), !qIsNaN(value));
    if (read)
        QCOMPARE(*read, value);
}

void TestTextFormats::statusTime_data() {
    QTest::addColumn<QString>("localeName");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("expected");

    QTest::newRow("afternoon, two digits each") << "C" << QTime(14, 5, 9) << "14:05:09";
    QTest::newRow("24-hour clock in a 12-hour locale") << "en_US" << QTime(21, 0, 7) << "21:00:07";
    QTest::newRow("midnight") << "de_DE" << QTime(0, 0, 0) << "00:00:00";
    QTest::newRow("dot separator") << "fi_FI" << QTime(8, 30, 1) << "08.30.01";
}

void TestTextFormats::statusTime() {
    QFETCH(QString, localeName);
    QFETCH(QTime, time);
    QFETCH(QString, expected);
    QCOMPARE(::statusTime(time, QLocale(localeName)), expected);
}

QTEST_GUILESS_MAIN(TestTextFormats)
#include "tst_textformats.moc"
