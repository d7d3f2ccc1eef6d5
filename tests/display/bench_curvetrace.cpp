// Times one trace tick on full rings at the graph's design size. Not part of
// the test run; see docs/benchmarks.md for how to run it and the figures.

#include <QGuiApplication>
#include <QTest>

#include "CurveTrace.h"
#include "Data.h"
#include "ImageSurface.h"

#include <cmath>

class BenchCurveTrace : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void tick_data();
    void tick();
};

void BenchCurveTrace::tick_data() {
    QTest::addColumn<float>("timeScale");
    QTest::addColumn<qreal>("devicePixelRatio");

    // 10: ten segments in view, the other 4990 left of the plot.
    QTest::newRow("timeScale 10") << 10.0f << qreal(1);
    // 5000: every segment in view, each a fraction of a pixel wide.
    QTest::newRow("timeScale 5000") << 5000.0f << qreal(1);
    QTest::newRow("timeScale 10, pixel ratio 2") << 10.0f << qreal(2);
    QTest::newRow("timeScale 5000, pixel ratio 2") << 5000.0f << qreal(2);
}

void BenchCurveTrace::tick() {
    QFETCH(float, timeScale);
    QFETCH(qreal, devicePixelRatio);

    Data::resetAll();
    Data::yValueMin = 0;
    Data::yValueMax = 300;
    Data::timeScale = timeScale;
    Data::setpointHistory.resize(Data::historySize);
    Data::measureHistory.resize(Data::historySize);
    Data::timeHistory.resize(Data::historySize);
    // A full ring with data everywhere: a slow setpoint ramp and a measured
    // temperature wandering around it.
    for (int slot = 0; slot < Data::historySize; ++slot) {
        Data::setpointHistory[slot] = 50.0f + float(slot % 2000) / 10.0f;
        Data::measureHistory[slot] =
            Data::setpointHistory[slot] + 20.0f * std::sin(float(slot) / 15.0f);
        Data::timeHistory[slot] = QStringLiteral("12:%1:%2")
                                      .arg(slot / 60 % 60, 2, 10, QLatin1Char('0'))
                                      .arg(slot % 60, 2, 10, QLatin1Char('0'));
    }
    Data::historyIndex = 1234;
    Data::setpointRaw = 2000;
    Data::measureRaw = 1987;

    display::ImageSurface surface;
    surface.setFont(QFont(QStringLiteral("Arial")));
    surface.resize(QSize(873, 409), devicePixelRatio);
    surface.setScale(110, 110);
    const QString now = QStringLiteral("12:34:56");

    QBENCHMARK {
        display::traceTick(surface, now);
        // The picture the widget copies, with all painting finished.
        surface.image();
    }
    QCOMPARE(surface.image().size(), QSize(873, 409) * devicePixelRatio);
}

QTEST_MAIN(BenchCurveTrace)
#include "bench_curvetrace.moc"
