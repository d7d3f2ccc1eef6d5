#include <QTest>

#include "NumberText.h"

#include <cmath>

using settings::leadingNumber;
using settings::numberKeyText;
using settings::roundToInt16;

class TestNumberText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void leadingNumber_data();
    void leadingNumber();
    void roundToInt16_data();
    void roundToInt16();
    void numberKeyText_data();
    void numberKeyText();
};

void TestNumberText::leadingNumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("plain") << "20" << 20.0;
    QTest::newRow("trailing letters") << "3abc" << 3.0;
    QTest::newRow("fraction") << "2.5" << 2.5;
    QTest::newRow("decimal comma stops") << "3,5" << 3.0;
    QTest::newRow("leading blanks") << " \t\n 42" << 42.0;
    QTest::newRow("negative") << "-12.75" << -12.75;
    QTest::newRow("plus sign") << "+7" << 7.0;
    QTest::newRow("exponent") << "1.5e2" << 150.0;
    QTest::newRow("exponent with sign") << "25E-1x" << 2.5;
    QTest::newRow("exponent without digits") << "3e" << 3.0;
    QTest::newRow("exponent sign without digits") << "3e+" << 3.0;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("trailing point") << "5." << 5.0;
    QTest::newRow("beyond a double") << "1e999" << double(HUGE_VAL);
    QTest::newRow("below a double") << "1e-400x" << 0.0;
    QTest::newRow("no number") << "abc" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("sign only") << "-" << 0.0;
    QTest::newRow("point only") << "." << 0.0;
    QTest::newRow("blank inside stops") << "1 2" << 1.0;
    QTest::newRow("non-ASCII digit stops") << QString::fromUtf8("1\u0663") << 1.0;
}

void TestNumberText::leadingNumber() {
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(settings::leadingNumber(text), expected);
}

void TestNumberText::roundToInt16_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("inRange");
    QTest::addColumn<int>("expected");

    QTest::newRow("2.5 to even 2") << 2.5 << true << 2;
    QTest::newRow("3.5 to even 4") << 3.5 << true << 4;
    QTest::newRow("-2.5 to even -2") << -2.5 << true << -2;
    QTest::newRow("2.6 up") << 2.6 << true << 3;
    QTest::newRow("top") << 32767.0 << true << 32767;
    QTest::newRow("bottom") << -32768.0 << true << -32768;
    QTest::newRow("32767.5 rounds out") << 32767.5 << false << 0;
    QTest::newRow("too large") << 40000.0 << false << 0;
    QTest::newRow("too small") << -32769.0 << false << 0;
    QTest::newRow("infinite") << double(HUGE_VAL) << false << 0;
    QTest::newRow("not a number") << std::nan("") << false << 0;
}

void TestNumberText::roundToInt16() {
    QFETCH(double, value);
    QFETCH(bool, inRange);
    QFETCH(int, expected);
    const auto result = settings::roundToInt16(value);
    QCOMPARE(result.has_value(), inRange);
    if (inRange)
        QCOMPARE(int(*result), expected);
}

void TestNumberText::numberKeyText_data() {
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zero") << 0.0f << "0";
    QTest::newRow("whole") << 300.0f << "300";
    QTest::newRow("fraction") << 12.5f << "12.5";
    QTest::newRow("float tenth") << 0.1f << "0.1";
    QTest::newRow("negative") << -40.25f << "-40.25";
    QTest::newRow("seven digits") << 1234.567f << "1234.567";
}

void TestNumberText::numberKeyText() {
    QFETCH(float, value);
    QFETCH(QString, expected);
    // The file keeps "." whatever the operator's locale.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(settings::numberKeyText(value), expected);
    QCOMPARE(float(settings::leadingNumber(expected)), value);
    QLocale::setDefault(QLocale::c());
}

QTEST_GUILESS_MAIN(TestNumberText)
#include "tst_numbertext.moc"
