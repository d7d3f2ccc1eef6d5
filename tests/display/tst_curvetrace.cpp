#include <QLocale>
#include <QTest>

#include "CurveTrace.h"
#include "Data.h"
#include "RecordingSurface.h"

#include <cmath>
#include <functional>
#include <vector>

using display::LineStyle;
using Line = RecordingSurface::Line;
using Text = RecordingSurface::Text;

namespace {

constexpr int lastSlot = Data::historySize - 1;
const QColor red(255, 0, 0);
const QColor green(0, 255, 0);
const QColor white(255, 255, 255);
const QColor dottedGrey(100, 100, 100);
const QColor solidGrey(140, 140, 140);

// The state start-up leaves behind, with the default settings.
void startUp() {
    Data::resetAll();
    Data::setpointHistory.assign(Data::historySize, Data::NO_DATA);
    Data::measureHistory.assign(Data::historySize, Data::NO_DATA);
    Data::timeHistory.assign(Data::historySize, QString());
    Data::historyIndex = 0;
    Data::setpointRaw = Data::NO_DATA_RAW;
    Data::measureRaw = Data::NO_DATA_RAW;
    Data::yValueMin = 0;
    Data::yValueMax = 300;
    Data::timeScale = 10;
}

// Every slot holds data, as after more than 5001 ticks with answers; the
// time text names its slot.
void fillRings(const std::function<float(int slot)>& setpoint,
               const std::function<float(int slot)>& measure) {
    for (int slot = 0; slot <= lastSlot; ++slot) {
        Data::setpointHistory[slot] = setpoint(slot);
        Data::measureHistory[slot] = measure(slot);
        Data::timeHistory[slot] = QStringLiteral("slot %1").arg(slot);
    }
}

// Slot of the sample of age k (0 = newest) after a tick.
int slotOfAge(int age) {
    return ((Data::historyIndex - 1 - age) % Data::historySize + Data::historySize) %
           Data::historySize;
}

float yOf(float degrees) {
    return 100.0f - (degrees - Data::yValueMin) * (100.0f / (Data::yValueMax - Data::yValueMin));
}

std::vector<Line> linesIn(const std::vector<Line>& lines, const QColor& colour) {
    std::vector<Line> result;
    for (const Line& line : lines) {
        if (line.colour == colour)
            result.push_back(line);
    }
    return result;
}

// Texts after the three temperature labels.
std::vector<Text> timeLabels(const RecordingSurface& surface) {
    std::vector<Text> texts = surface.texts();
    texts.erase(texts.begin(), texts.begin() + std::min<std::ptrdiff_t>(3, std::ssize(texts)));
    return texts;
}

QString describe(const Line& l) {
    return QStringLiteral("(%1,%2)-(%3,%4) %5 w%6 %7")
        .arg(l.from.x(), 0, 'g', QLocale::FloatingPointShortest)
        .arg(l.from.y(), 0, 'g', QLocale::FloatingPointShortest)
        .arg(l.to.x(), 0, 'g', QLocale::FloatingPointShortest)
        .arg(l.to.y(), 0, 'g', QLocale::FloatingPointShortest)
        .arg(l.colour.name())
        .arg(l.width)
        .arg(l.style == LineStyle::Dotted ? "dotted" : "solid");
}

QString describe(const Text& t) {
    return QStringLiteral("'%1' at (%2,%3) %4pt %5")
        .arg(t.text)
        .arg(t.at.x(), 0, 'g', QLocale::FloatingPointShortest)
        .arg(t.at.y(), 0, 'g', QLocale::FloatingPointShortest)
        .arg(t.size)
        .arg(t.colour.name());
}

template <typename T> QStringList describeAll(const std::vector<T>& items) {
    QStringList result;
    for (const T& item : items)
        result << describe(item);
    return result;
}

} // namespace

class TestCurveTrace : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanupTestCase();

    void gridComesFirstInItsOrder();
    void sampleStoredAndIndexAdvanced_data();
    void sampleStoredAndIndexAdvanced();
    void temperatureLabels_data();
    void temperatureLabels();
    void beforeAnyAnswerOnlyGridAndLabels();
    void firstSegmentsOnSecondTickWithData();
    void timeLabelPlaces_data();
    void timeLabelPlaces();
    void defaultScaleShowsElevenSamples();
    void noDataSampleMakesGap_data();
    void noDataSampleMakesGap();
    void wrapFromLastSlotToFirst();
    void temperatureOutsideRangeLeavesPlot();
    void unusableScaleKeepsHistory_data();
    void unusableScaleKeepsHistory();
    void traceTimeFormat_data();
    void traceTimeFormat();
    void noLocaleKeepsTheTimeZone();

private:
    RecordingSurface m_surface;
};

void TestCurveTrace::init() {
    QLocale::setDefault(QLocale::c());
    startUp();
    m_surface.forget();
}

void TestCurveTrace::cleanupTestCase() {
    QLocale::setDefault(QLocale::system());
}

void TestCurveTrace::gridComesFirstInItsOrder() {
    display::traceTick(m_surface, QStringLiteral("10:00:00"));

    // Groups a to d, each line running across the whole plot area.
    std::vector<Line> expected;
    for (int x = 0; x <= 100; x += 2)
        expected.push_back({{qreal(x), 100}, {qreal(x), 0}, dottedGrey, 1, LineStyle::Dotted});
    for (int x = 0; x <= 100; x += 10)
        expected.push_back({{qreal(x), 100}, {qreal(x), 0}, solidGrey, 1, LineStyle::Solid});
    for (int y = 10; y <= 100; y += 10)
        expected.push_back({{0, qreal(y)}, {100, qreal(y)}, dottedGrey, 1, LineStyle::Dotted});
    for (const int y : {50, 0, 100})
        expected.push_back({{0, qreal(y)}, {100, qreal(y)}, solidGrey, 1, LineStyle::Solid});
    QCOMPARE(expected.size(), size_t(75));

    QVERIFY(!m_surface.ops.empty());
    QVERIFY(std::holds_alternative<RecordingSurface::Cleared>(m_surface.ops.front()));
    std::vector<Line> grid;
    for (size_t i = 1; i < m_surface.ops.size() && i <= 75; ++i) {
        QVERIFY2(std::holds_alternative<Line>(m_surface.ops[i]), qPrintable(QString::number(i)));
        grid.push_back(std::get<Line>(m_surface.ops[i]));
    }
    QCOMPARE(describeAll(grid), describeAll(expected));
}

void TestCurveTrace::sampleStoredAndIndexAdvanced_data() {
    QTest::addColumn<int>("indexBefore");
    QTest::addColumn<float>("setpointRaw");
    QTest::addColumn<float>("measureRaw");
    QTest::addColumn<int>("indexAfter");

    QTest::newRow("first slot") << 0 << 2000.0f << 2153.0f << 1;
    QTest::newRow("middle slot") << 2500 << 1234.0f << 999.0f << 2501;
    QTest::newRow("last slot wraps to 0") << 5000 << 150.0f << 1.0f << 0;
    QTest::newRow("placeholder before an answer") << 7 << 8888.0f << 8888.0f << 8;
    QTest::newRow("negative temperatures") << 4999 << -205.0f << -1.0f << 5000;
}

void TestCurveTrace::sampleStoredAndIndexAdvanced() {
    QFETCH(int, indexBefore);
    QFETCH(float, setpointRaw);
    QFETCH(float, measureRaw);
    QFETCH(int, indexAfter);

    Data::historyIndex = static_cast<int16_t>(indexBefore);
    Data::setpointRaw = setpointRaw;
    Data::measureRaw = measureRaw;
    display::traceTick(m_surface, QStringLiteral("12:34:56"));

    QCOMPARE(Data::historyIndex, indexAfter);
    // Divided as 32-bit floats: 8888 / 10 is then exactly the marker.
    QCOMPARE(Data::setpointHistory[indexBefore], setpointRaw / 10.0f);
    QCOMPARE(Data::measureHistory[indexBefore], measureRaw / 10.0f);
    QCOMPARE(Data::timeHistory[indexBefore], QStringLiteral("12:34:56"));
    if (setpointRaw == Data::NO_DATA_RAW)
        QVERIFY(Data::setpointHistory[indexBefore] == Data::NO_DATA);

    // No other slot is touched.
    int touched = 0;
    for (int slot = 0; slot <= lastSlot; ++slot) {
        if (Data::setpointHistory[slot] != Data::NO_DATA ||
            Data::measureHistory[slot] != Data::NO_DATA || !Data::timeHistory[slot].isEmpty())
            ++touched;
    }
    QCOMPARE(touched, 1);
}

void TestCurveTrace::temperatureLabels_data() {
    QTest::addColumn<float>("minimum");
    QTest::addColumn<float>("maximum");
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QStringList>("labels");

    const QLocale c = QLocale::c();
    QTest::newRow("defaults") << 0.0f << 300.0f << c << QStringList{"300°C", "0°C", "150°C"};
    QTest::newRow("half degree in the middle")
        << 0.0f << 25.0f << c << QStringList{"25°C", "0°C", "12.5°C"};
    QTest::newRow("decimal comma") << 0.0f << 25.0f << QLocale(QLocale::French, QLocale::France)
                                   << QStringList{"25°C", "0°C", "12,5°C"};
    QTest::newRow("below zero") << -50.0f << 250.0f << c << QStringList{"250°C", "-50°C", "100°C"};
    QTest::newRow("no thousands separator")
        << 1000.0f << 12000.0f << QLocale(QLocale::English, QLocale::UnitedStates)
        << QStringList{"12000°C", "1000°C", "6500°C"};
    QTest::newRow("reversed range") << 300.0f << 0.0f << c << QStringList{"0°C", "300°C", "150°C"};
}

void TestCurveTrace::temperatureLabels() {
    QFETCH(float, minimum);
    QFETCH(float, maximum);
    QFETCH(QLocale, locale);
    QFETCH(QStringList, labels);

    QLocale::setDefault(locale);
    Data::yValueMin = minimum;
    Data::yValueMax = maximum;
    display::traceTick(m_surface, QStringLiteral("10:00:00"));

    const std::vector<Text> expected = {
        {{102, 1}, labels[0], 10, white},
        {{102, 95}, labels[1], 10, white},
        {{102, 47}, labels[2], 10, white},
    };
    QCOMPARE(describeAll(m_surface.texts()), describeAll(expected));
    QCOMPARE(Data::yValueMid, (minimum + maximum) / 2);
}

void TestCurveTrace::beforeAnyAnswerOnlyGridAndLabels() {
    for (int tick = 0; tick < 4; ++tick) {
        m_surface.forget();
        display::traceTick(m_surface, QStringLiteral("10:00:0%1").arg(tick));
        QCOMPARE(m_surface.ops.size(), size_t(1 + 75 + 3));
        QCOMPARE(m_surface.texts().size(), size_t(3));
    }
    QCOMPARE(Data::historyIndex, 4);
    QCOMPARE(Data::timeHistory[3], QStringLiteral("10:00:03"));
    QVERIFY(Data::measureHistory[3] == Data::NO_DATA);
}

void TestCurveTrace::firstSegmentsOnSecondTickWithData() {
    display::traceTick(m_surface, QStringLiteral("10:00:00")); // no answer yet
    Data::setpointRaw = 2000;
    Data::measureRaw = 1500;
    m_surface.forget();
    display::traceTick(m_surface, QStringLiteral("10:00:02"));
    QCOMPARE(m_surface.ops.size(), size_t(1 + 75 + 3)); // one sample with data: no segment

    Data::setpointRaw = 2100;
    Data::measureRaw = 1200;
    m_surface.forget();
    display::traceTick(m_surface, QStringLiteral("10:00:05"));

    // Newest sample on the right edge, the one before it 100 / 10 units left;
    // red first, green over it, then the 100 label under the newest sample.
    QCOMPARE(m_surface.ops.size(), size_t(1 + 75 + 3 + 3));
    const Line setpoint = std::get<Line>(m_surface.ops[79]);
    const Line measure = std::get<Line>(m_surface.ops[80]);
    const Text label = std::get<Text>(m_surface.ops[81]);
    QCOMPARE(describe(setpoint),
             describe(Line{{100, 30}, {90, yOf(200)}, red, 2, LineStyle::Solid}));
    QCOMPARE(describe(measure), describe(Line{{100, 60}, {90, 50}, green, 2, LineStyle::Solid}));
    QCOMPARE(describe(label), describe(Text{{97, 102}, "10:00:05", 8, white}));
}

void TestCurveTrace::timeLabelPlaces_data() {
    QTest::addColumn<float>("timeScale");
    QTest::addColumn<QList<QPointF>>("places");
    QTest::addColumn<QList<int>>("ages");

    QTest::newRow("scale 10: steps 0, 3, 5, 8")
        << 10.0f << QList<QPointF>{{97, 102}, {67, 102}, {47, 102}, {17, 102}}
        << QList<int>{0, 3, 5, 8};
    // Step 1 reaches 75 and 50 at once: the second print comes one 8-point
    // line (4 units with the recording surface) lower.
    QTest::newRow("scale 2: two labels on one step")
        << 2.0f << QList<QPointF>{{97, 102}, {47, 102}, {47, 106}, {-3, 102}}
        << QList<int>{0, 1, 1, 2};
    QTest::newRow("scale 4: one label per step")
        << 4.0f << QList<QPointF>{{97, 102}, {72, 102}, {47, 102}, {22, 102}}
        << QList<int>{0, 1, 2, 3};
    QTest::newRow("scale 1: all four under the newest sample")
        << 1.0f << QList<QPointF>{{97, 102}, {-3, 102}, {-3, 106}, {-3, 110}}
        << QList<int>{0, 1, 1, 1};
    QTest::newRow("negative scale: only the 100 label")
        << -10.0f << QList<QPointF>{{97, 102}} << QList<int>{0};
}

void TestCurveTrace::timeLabelPlaces() {
    QFETCH(float, timeScale);
    QFETCH(QList<QPointF>, places);
    QFETCH(QList<int>, ages);

    Data::timeScale = timeScale;
    Data::historyIndex = 1234;
    fillRings([](int) { return 200.0f; }, [](int) { return 150.0f; });
    Data::setpointRaw = 2000;
    Data::measureRaw = 1500;
    display::traceTick(m_surface, QStringLiteral("slot 1234"));

    std::vector<Text> expected;
    expected.reserve(std::size_t(places.size()));
    for (int i = 0; i < places.size(); ++i)
        expected.push_back(
            {places[i], QStringLiteral("slot %1").arg(slotOfAge(ages[i])), 8, white});
    QCOMPARE(describeAll(timeLabels(m_surface)), describeAll(expected));
}

void TestCurveTrace::defaultScaleShowsElevenSamples() {
    fillRings([](int slot) { return float(slot % 300); }, [](int slot) { return float(slot % 7); });
    Data::historyIndex = 42;
    Data::setpointRaw = 2000;
    Data::measureRaw = 100;
    display::traceTick(m_surface, QStringLiteral("now"));

    // All 5000 steps draw, visible or not.
    const std::vector<Line> lines = m_surface.lines();
    const std::vector<Line> curves(lines.begin() + 75, lines.end());
    QCOMPARE(curves.size(), size_t(2 * 5000));
    int visible = 0;
    for (const Line& line : curves) {
        if (line.from.x() > 0 || line.to.x() > 0)
            ++visible;
    }
    QCOMPARE(visible, 2 * 10);
    // Step 9 ends on the left edge at the eleventh sample.
    constexpr std::size_t step = 9;
    const Line last = curves[2 * step];
    QCOMPARE(last.to.x(), 0.0);
    QCOMPARE(last.to.y(), qreal(yOf(Data::setpointHistory[slotOfAge(10)])));
}

void TestCurveTrace::noDataSampleMakesGap_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("setpoint of 888.8 in the ring") << "setpoint";
    QTest::newRow("measured 888.8 in the ring") << "measure";
    QTest::newRow("measured placeholder stored by a tick") << "tick";
}

void TestCurveTrace::noDataSampleMakesGap() {
    QFETCH(QString, how);

    // Slot 6 is four ticks old after the ticks that write slots 6 to 10.
    Data::historyIndex = 6;
    fillRings([](int slot) { return 100.0f + float(slot); }, [](int) { return 80.0f; });
    Data::setpointRaw = 2000;
    Data::measureRaw = 1500;
    if (how == QLatin1String("setpoint")) {
        Data::historyIndex = 7;
        Data::setpointHistory[6] = 888.8f;
    } else if (how == QLatin1String("measure")) {
        Data::historyIndex = 7;
        Data::measureHistory[6] = 888.8f;
    } else {
        Data::measureRaw = Data::NO_DATA_RAW;
        display::traceTick(m_surface, QStringLiteral("slot 6"));
        Data::measureRaw = 1500;
    }
    while (Data::historyIndex != 11) {
        m_surface.forget();
        display::traceTick(m_surface, QStringLiteral("slot %1").arg(Data::historyIndex));
    }
    QCOMPARE(slotOfAge(4), 6);

    // Steps 3 (age 3 to 4) and 4 (age 4 to 5) vanish from both curves.
    for (const QColor& colour : {red, green}) {
        QList<qreal> newerEnds;
        for (const Line& line : linesIn(m_surface.lines(), colour)) {
            if (line.from.x() > 0)
                newerEnds << line.from.x();
        }
        QCOMPARE(newerEnds, (QList<qreal>{100, 90, 80, 50, 40, 30, 20, 10}));
    }
    // The 75 label moves on to step 5, where the 50 label also falls.
    const std::vector<Text> expected = {
        {{97, 102}, QStringLiteral("slot %1").arg(slotOfAge(0)), 8, white},
        {{47, 102}, QStringLiteral("slot %1").arg(slotOfAge(5)), 8, white},
        {{47, 106}, QStringLiteral("slot %1").arg(slotOfAge(5)), 8, white},
        {{17, 102}, QStringLiteral("slot %1").arg(slotOfAge(8)), 8, white},
    };
    QCOMPARE(describeAll(timeLabels(m_surface)), describeAll(expected));
}

void TestCurveTrace::wrapFromLastSlotToFirst() {
    Data::timeScale = 5000;
    fillRings([](int slot) { return float(slot % 250); },
              [](int slot) { return float(slot % 90); });
    Data::historyIndex = 5000;
    Data::setpointRaw = 2500;
    Data::measureRaw = 1000;

    display::traceTick(m_surface, QStringLiteral("a"));
    QCOMPARE(Data::historyIndex, 0);
    std::vector<Line> reds = linesIn(m_surface.lines(), red);
    QCOMPARE(reds.size(), size_t(5000));
    // The newest segment joins slot 5000 to slot 4999.
    QCOMPARE(describe(reds[0]),
             describe(Line{{100, yOf(250)},
                           {100 - 100.0f / 5000, yOf(Data::setpointHistory[4999])},
                           red,
                           2,
                           LineStyle::Solid}));
    // The oldest one ends at slot 0.
    QCOMPARE(reds.back().to.y(), qreal(yOf(Data::setpointHistory[0])));

    Data::setpointRaw = 1250;
    m_surface.forget();
    display::traceTick(m_surface, QStringLiteral("b"));
    QCOMPARE(Data::historyIndex, 1);
    reds = linesIn(m_surface.lines(), red);
    QCOMPARE(reds.size(), size_t(5000));
    // Slot 0 (newest) to slot 5000 and on to 4999: no break at the wrap.
    QCOMPARE(reds[0].from.y(), qreal(yOf(125)));
    QCOMPARE(reds[0].to.y(), qreal(yOf(250)));
    QCOMPARE(reds[1].from, reds[0].to);
    QCOMPARE(reds[1].to.y(), qreal(yOf(Data::setpointHistory[4999])));
    for (size_t i = 1; i < reds.size(); ++i)
        QVERIFY2(reds[i].from == reds[i - 1].to, qPrintable(QString::number(i)));
}

void TestCurveTrace::temperatureOutsideRangeLeavesPlot() {
    Data::yValueMin = 100;
    Data::yValueMax = 300;
    Data::setpointRaw = 3500;
    Data::measureRaw = 500;
    display::traceTick(m_surface, QStringLiteral("a"));
    Data::measureRaw = 0;
    m_surface.forget();
    display::traceTick(m_surface, QStringLiteral("b"));

    // 0.5 units per degree: 50 degrees below the bottom line is 25 units
    // under it, over the time band; 350 degrees is 25 units above the top.
    const std::vector<Line> lines = m_surface.lines();
    const std::vector<Line> curves(lines.begin() + 75, lines.end());
    QCOMPARE(describeAll(curves),
             (QStringList{describe(Line{{100, -25}, {90, -25}, red, 2, LineStyle::Solid}),
                          describe(Line{{100, 150}, {90, 125}, green, 2, LineStyle::Solid})}));
}

void TestCurveTrace::unusableScaleKeepsHistory_data() {
    QTest::addColumn<float>("timeScale");
    QTest::addColumn<float>("minimum");
    QTest::addColumn<float>("maximum");

    QTest::newRow("time scale 0") << 0.0f << 0.0f << 300.0f;
    QTest::newRow("time scale -0") << -0.0f << 0.0f << 300.0f;
    QTest::newRow("empty temperature range") << 10.0f << 150.0f << 150.0f;
    QTest::newRow("oldest sample beyond float range") << 1e-35f << 0.0f << 300.0f;
    QTest::newRow("temperatures beyond float range") << 10.0f << 0.0f << 1e-36f;
    QTest::newRow("time scale not a number") << std::nanf("") << 0.0f << 300.0f;
}

void TestCurveTrace::unusableScaleKeepsHistory() {
    QFETCH(float, timeScale);
    QFETCH(float, minimum);
    QFETCH(float, maximum);

    Data::timeScale = timeScale;
    Data::yValueMin = minimum;
    Data::yValueMax = maximum;
    fillRings([](int slot) { return float(slot % 250); },
              [](int slot) { return float(slot % 90); });
    const std::vector<float> setpointsBefore = Data::setpointHistory;
    const std::vector<float> measuresBefore = Data::measureHistory;
    Data::historyIndex = 77;
    Data::setpointRaw = 1000;
    Data::measureRaw = 900;

    display::traceTick(m_surface, QStringLiteral("now"));

    QCOMPARE(m_surface.lines().size(), size_t(75));
    QCOMPARE(m_surface.texts().size(), size_t(3));
    QCOMPARE(m_surface.ops.size(), size_t(1 + 75 + 3));
    QCOMPARE(Data::historyIndex, 78);
    QCOMPARE(Data::setpointHistory[77], 100.0f);
    QCOMPARE(Data::measureHistory[77], 90.0f);
    QCOMPARE(Data::timeHistory[77], QStringLiteral("now"));
    for (int slot = 0; slot <= lastSlot; ++slot) {
        if (slot == 77)
            continue;
        QCOMPARE(Data::setpointHistory[slot], setpointsBefore[slot]);
        QCOMPARE(Data::measureHistory[slot], measuresBefore[slot]);
    }
}

void TestCurveTrace::traceTimeFormat_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("text");

    const QTime time(13, 4, 5);
    // Qt's long formats (from its locale data) end or begin with the zone "t".
    QTest::newRow("C") << QLocale::c() << "HH:mm:ss"
                       << "13:04:05";
    QTest::newRow("English, United States")
        << QLocale(QLocale::English, QLocale::UnitedStates) << "h:mm:ss AP"
        << "1:04:05 PM";
    QTest::newRow("French, France") << QLocale(QLocale::French, QLocale::France) << "HH:mm:ss"
                                    << "13:04:05";
    QTest::newRow("Danish, dots") << QLocale(QLocale::Danish, QLocale::Denmark) << "HH.mm.ss"
                                  << "13.04.05";
    QTest::newRow("Basque, zone in brackets")
        << QLocale(QLocale::Basque, QLocale::Spain) << "HH:mm:ss"
        << "13:04:05";
    QTest::newRow("Albanian, zone after a comma")
        << QLocale(QLocale::Albanian, QLocale::Albania) << "h:mm:ss AP" << QString();
    QTest::newRow("Chinese Hong Kong, zone first")
        << QLocale(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::HongKong)
        << "APh:mm:ss" << QString();
    QTest::newRow("Bulgarian, quoted suffix")
        << QLocale(QLocale::Bulgarian, QLocale::Bulgaria) << "H:mm:ss 'ч'."
        << "13:04:05 ч.";
}

void TestCurveTrace::traceTimeFormat() {
    QFETCH(QLocale, locale);
    QFETCH(QString, format);
    QFETCH(QString, text);

    QCOMPARE(display::traceTimeFormat(locale), format);
    if (!text.isEmpty())
        QCOMPARE(display::traceTimeText(QTime(13, 4, 5), locale), text);

    // The default locale is what the program uses.
    QLocale::setDefault(locale);
    QCOMPARE(display::traceTimeText(QTime(13, 4, 5)), locale.toString(QTime(13, 4, 5), format));
}

void TestCurveTrace::noLocaleKeepsTheTimeZone() {
    const QTime time(13, 4, 5);
    const QList<QLocale> locales =
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    QVERIFY(locales.size() > 100);
    for (const QLocale& locale : locales) {
        const QString format = display::traceTimeFormat(locale);
        bool quoted = false;
        bool seconds = false;
        for (const QChar c : format) {
            if (c == QLatin1Char('\''))
                quoted = !quoted;
            QVERIFY2(quoted || c != QLatin1Char('t'), qPrintable(locale.name() + ": " + format));
            seconds = seconds || (!quoted && c == QLatin1Char('s'));
        }
        QVERIFY2(seconds, qPrintable(locale.name() + ": " + format));
        QVERIFY2(!format.front().isSpace() && !format.back().isSpace(),
                 qPrintable(locale.name() + ": " + format));
        QVERIFY2(!format.endsWith(QLatin1Char('(')) && !format.endsWith(QLatin1Char('[')),
                 qPrintable(locale.name() + ": " + format));
        QVERIFY(!display::traceTimeText(time, locale).isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestCurveTrace)
#include "tst_curvetrace.moc"
