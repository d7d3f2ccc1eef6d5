#include <QTest>

#include "RecordFormat.h"

using namespace recording;

class TestRecordFormat : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QLocale::setDefault(QLocale::c()); }
    void cleanupTestCase() { QLocale::setDefault(QLocale::system()); }
    void fileName_data();
    void fileName();
    void fourDigitYear_data();
    void fourDigitYear();
    void noTimeZone_data();
    void noTimeZone();
    void userFormats_data();
    void userFormats();
    void rawNumber_data();
    void rawNumber();
};

void TestRecordFormat::fileName_data() {
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<QString>("userLocale");
    QTest::addColumn<QString>("expected");

    QTest::newRow("example 14 March 2022 14:05:09")
        << QDateTime(QDate(2022, 3, 14), QTime(14, 5, 9)) << "fr_FR"
        << "REC_2022-03-14_14-05-09.csv";
    QTest::newRow("midnight, single digits padded")
        << QDateTime(QDate(2023, 1, 2), QTime(0, 0, 0)) << "fr_FR"
        << "REC_2023-01-02_00-00-00.csv";
    QTest::newRow("24-hour clock under a 12-hour locale")
        << QDateTime(QDate(2022, 12, 31), QTime(23, 59, 59)) << "en_US"
        << "REC_2022-12-31_23-59-59.csv";
    // Egyptian Arabic writes its own digits; a file name must not.
    QTest::newRow("ASCII digits under a locale with native digits")
        << QDateTime(QDate(2022, 3, 14), QTime(14, 5, 9)) << "ar_EG"
        << "REC_2022-03-14_14-05-09.csv";
}

void TestRecordFormat::fileName() {
    QFETCH(QDateTime, start);
    QFETCH(QString, userLocale);
    QFETCH(QString, expected);
    QLocale::setDefault(QLocale(userLocale));
    QCOMPARE(recordFileNameFor(start), expected);
}

void TestRecordFormat::fourDigitYear_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("expected");

    QTest::newRow("two digits widened") << "dd.MM.yy"
                                        << "dd.MM.yyyy";
    QTest::newRow("four digits kept") << "dd/MM/yyyy"
                                      << "dd/MM/yyyy";
    QTest::newRow("year first") << "yy. M. d."
                                << "yyyy. M. d.";
    QTest::newRow("single y widened") << "d/M/y"
                                      << "d/M/yyyy";
    QTest::newRow("quoted y left alone") << "d.MM.yy 'yy'."
                                         << "d.MM.yyyy 'yy'.";
    QTest::newRow("escaped quote inside quotes") << "'it''s y' yy"
                                                 << "'it''s y' yyyy";
    QTest::newRow("no year") << "dd/MM"
                             << "dd/MM";
}

void TestRecordFormat::fourDigitYear() {
    QFETCH(QString, format);
    QFETCH(QString, expected);
    QCOMPARE(withFourDigitYear(format), expected);
}

void TestRecordFormat::noTimeZone_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("expected");

    // The first rows are long time formats found in Qt 6.4's locale data.
    QTest::newRow("zone at the end") << "HH:mm:ss t"
                                     << "HH:mm:ss";
    QTest::newRow("zone after AM/PM") << "h:mm:ss AP t"
                                      << "h:mm:ss AP";
    QTest::newRow("zone first") << "t HH:mm:ss"
                                << "HH:mm:ss";
    QTest::newRow("zone in parentheses") << "H:mm:ss (t)"
                                         << "H:mm:ss";
    QTest::newRow("zone in brackets") << "APh:mm:ss [t]"
                                      << "APh:mm:ss";
    QTest::newRow("zone after a comma") << "HH:mm:ss, t"
                                        << "HH:mm:ss";
    QTest::newRow("zone after quoted text") << "H:mm:ss 'ч'. t"
                                            << "H:mm:ss 'ч'.";
    QTest::newRow("quoted t left alone") << "H-'a' 'horo' 'kaj' m:ss t"
                                         << "H-'a' 'horo' 'kaj' m:ss";
    QTest::newRow("zone in the middle") << "HH t mm"
                                        << "HH mm";
    QTest::newRow("no zone") << "HH:mm:ss"
                             << "HH:mm:ss";
    QTest::newRow("comma kept without a zone") << "HH:mm:ss,"
                                               << "HH:mm:ss,";
}

void TestRecordFormat::noTimeZone() {
    QFETCH(QString, format);
    QFETCH(QString, expected);
    QCOMPARE(withoutTimeZone(format), expected);
}

void TestRecordFormat::userFormats_data() {
    QTest::addColumn<QString>("userLocale");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");

    // 14 March 2022 at 14:05:29.
    QTest::newRow("fr_FR") << "fr_FR"
                           << "14/03/2022"
                           << "14:05:29";
    QTest::newRow("en_US two-digit year widened, 12-hour clock") << "en_US"
                                                                 << "3/14/2022"
                                                                 << "2:05:29 PM";
    QTest::newRow("de_DE two-digit year widened") << "de_DE"
                                                  << "14.03.2022"
                                                  << "14:05:29";
    QTest::newRow("ko_KR year first, zone after Korean units")
        << "ko_KR"
        << "2022. 3. 14." << QString::fromUtf8("오후 2시 5분 29초");
    QTest::newRow("zh_CN zone first") << "zh_CN"
                                      << "2022/3/14"
                                      << "14:05:29";
    QTest::newRow("ca_ES zone in parentheses") << "ca_ES"
                                               << "14/3/2022"
                                               << "14:05:29";
    QTest::newRow("fi_FI dots as time separator") << "fi_FI"
                                                  << "14.3.2022"
                                                  << "14.05.29";
    QTest::newRow("fr_CA quoted units") << "fr_CA"
                                        << "2022-03-14"
                                        << "14 h 05 min 29 s";
}

void TestRecordFormat::userFormats() {
    QFETCH(QString, userLocale);
    QFETCH(QString, date);
    QFETCH(QString, time);
    QLocale::setDefault(QLocale(userLocale));
    QCOMPARE(userShortDate(QDate(2022, 3, 14)), date);
    QCOMPARE(userLongTime(QTime(14, 5, 29)), time);
}

void TestRecordFormat::rawNumber_data() {
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("setpoint 250.0 degrees") << 2500.0f << "2500";
    QTest::newRow("no-answer marker") << 8888.0f << "8888";
    QTest::newRow("zero") << 0.0f << "0";
    QTest::newRow("negative zero") << -0.0f << "0";
    QTest::newRow("below zero keeps its sign") << -55.0f << "-55";
    QTest::newRow("largest unsigned register") << 65535.0f << "65535";
    QTest::newRow("smallest signed register") << -32768.0f << "-32768";
    QTest::newRow("large value not in exponent form") << 1.0e7f << "10000000";
}

void TestRecordFormat::rawNumber() {
    QFETCH(float, value);
    QFETCH(QString, expected);
    QLocale::setDefault(QLocale(QStringLiteral("de_DE"))); // a grouping separator must not leak in
    QCOMPARE(recording::rawNumber(value), expected);
}

QTEST_GUILESS_MAIN(TestRecordFormat)
#include "tst_recordformat.moc"
