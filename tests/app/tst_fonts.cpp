#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QTest>

#include "Fonts.h"

class TestFonts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readoutFits_data();
    void readoutFits();
    void standInsForMissingFonts();
};

void TestFonts::readoutFits_data() {
    QTest::addColumn<bool>("sevenSegment");
    QTest::newRow("seven-segment font") << true;
    QTest::newRow("no seven-segment font: plain fallback") << false;
}

void TestFonts::readoutFits() {
    QFETCH(bool, sevenSegment);
    QString family = app::installPanelFonts();
    if (sevenSegment && family.isEmpty())
        QSKIP("fonts-dseg is not installed here");
    if (!sevenSegment)
        family.clear();
    const QSize box(145, 61);
    const QFont font = app::readoutFont(family, 48, QStringLiteral("888.8"), box);
    const QFontMetrics metrics(font);
    QVERIFY(metrics.horizontalAdvance(QStringLiteral("888.8")) <= box.width());
    QVERIFY(metrics.height() <= box.height());
    QVERIFY(font.pointSizeF() >= 20); // still a large read-out
    if (sevenSegment)
        QCOMPARE(QFontInfo(font).family(), QStringLiteral("DSEG7 Classic"));
    else
        QVERIFY(!QFontInfo(font).family().startsWith(QStringLiteral("DSEG")));
}

void TestFonts::standInsForMissingFonts() {
    app::installPanelFonts();
    // Verdana and Arial resolve to a real font even where they are missing.
    for (const char* name : {"Verdana", "Arial"}) {
        const QFontInfo info(QFont(QLatin1String(name), 10));
        QVERIFY2(!info.family().isEmpty(), name);
        if (info.family() != QLatin1String(name))
            QVERIFY2(!QFont::substitutes(QLatin1String(name)).isEmpty(), name);
    }
}

QTEST_MAIN(TestFonts)
#include "tst_fonts.moc"
