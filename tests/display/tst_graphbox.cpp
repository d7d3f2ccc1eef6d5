#include <QApplication>
#include <QFontDatabase>
#include <QSignalSpy>
#include <QTest>

#include "CurveTrace.h"
#include "Data.h"
#include "GraphBox.h"
#include "ImageSurface.h"

#include <cmath>
#include <limits>

namespace {

constexpr int lastSlot = Data::historySize - 1;
const QRgb red = qRgb(255, 0, 0);
const QRgb green = qRgb(0, 255, 0);
const QRgb dottedGrey = qRgb(100, 100, 100);
const QRgb solidGrey = qRgb(140, 140, 140);
const QRgb black = qRgb(0, 0, 0);

// Start-up state with the default range, rings full of data: setpoint 200
// everywhere; measured temperature rising by 20 degrees a sample towards the
// newest one, which the coming tick stores (250 at age 0, 230 at age 1...).
void fillHistory() {
    Data::resetAll();
    Data::setpointHistory.assign(Data::historySize, 200.0f);
    Data::measureHistory.assign(Data::historySize, 0.0f);
    Data::timeHistory.assign(Data::historySize, QStringLiteral("12:00:00"));
    Data::yValueMin = 0;
    Data::yValueMax = 300;
    Data::timeScale = 10;
    Data::historyIndex = 100;
    for (int age = 1; age <= 20; ++age)
        Data::measureHistory[100 - age] = 250.0f - 20.0f * float(age);
    Data::setpointRaw = 2000;
    Data::measureRaw = 2500;
}

void startUpWithoutData() {
    Data::resetAll();
    Data::setpointHistory.assign(Data::historySize, Data::NO_DATA);
    Data::measureHistory.assign(Data::historySize, Data::NO_DATA);
    Data::timeHistory.assign(Data::historySize, QString());
    Data::yValueMin = 0;
    Data::yValueMax = 300;
    Data::timeScale = 10;
    Data::setpointRaw = Data::NO_DATA_RAW;
    Data::measureRaw = Data::NO_DATA_RAW;
}

// Rows of one column (or columns of one row) that hold the colour exactly.
QList<int> rowsOf(const QImage& image, int column, QRgb colour) {
    QList<int> rows;
    for (int y = 0; y < image.height(); ++y) {
        if (image.pixel(column, y) == colour)
            rows << y;
    }
    return rows;
}

QList<int> columnsOf(const QImage& image, int row, QRgb colour) {
    QList<int> columns;
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixel(x, row) == colour)
            columns << x;
    }
    return columns;
}

// Device pixel rows or columns whose centres lie within half a band of the
// given user coordinate.
bool near(const QList<int>& pixels, qreal expected, qreal halfBand) {
    if (pixels.isEmpty())
        return false;
    for (const int p : pixels) {
        if (std::abs(p + 0.5 - expected) > halfBand)
            return false;
    }
    return true;
}

bool isBrightGrey(QRgb pixel) {
    return qRed(pixel) > 128 && qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel);
}

} // namespace

class TestGraphBox : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void curvesWhereTheyBelong();
    void dottedGridIsDotted();
    void lineWidthsStayInPixels_data();
    void lineWidthsStayInPixels();
    void resizeRedrawsSharp();
    void textPositionIsTopLeft();
    void clippedAtTheEdges();
    void copyKeepsItsPicture();
    void widgetShowsThePicture();
    void widgetRepaintsAfterATick();
    void clickedOnLeftClickOnly();

private:
    display::ImageSurface m_surface;
};

void TestGraphBox::initTestCase() {
    // As the program does where Arial is missing.
    if (!QFontDatabase::families().contains(QStringLiteral("Arial")))
        QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QLocale::setDefault(QLocale::c());
}

void TestGraphBox::init() {
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSizeF(8.25);
    m_surface.setFont(arial);
    m_surface.setBackground(Qt::black);
    m_surface.resize(QSize(873, 409), 1);
    m_surface.setScale(110, 110);
}

void TestGraphBox::curvesWhereTheyBelong() {
    fillHistory();
    display::traceTick(m_surface, QStringLiteral("12:00:05"));
    const QImage image = m_surface.image();
    QCOMPARE(image.size(), QSize(873, 409));

    // 873 / 110 pixels per unit across, 409 / 110 down; the red line is 2
    // pixels wide, so its rows lie within 1.5 pixels of the line (less on the
    // slanted green one, which gets 3 rows at most here).
    const qreal across = 873.0 / 110;
    const qreal down = 409.0 / 110;
    const struct {
        qreal x;
        qreal setpoint;
        qreal measure;
    } places[] = {
        {95, 200, 240}, // between the newest sample (x 100) and the one before (x 90)
        {85, 200, 220},
        {55, 200, 160},
        {5, 200, 60},
    };
    for (const auto& place : places) {
        const int column = int(place.x * across);
        const qreal setpointY = (100 - place.setpoint / 3) * down;
        const qreal measureY = (100 - place.measure / 3) * down;
        const QList<int> reds = rowsOf(image, column, red);
        const QList<int> greens = rowsOf(image, column, green);
        QVERIFY2(reds.size() == 2 && near(reds, setpointY, 1.5),
                 qPrintable(QStringLiteral("x %1: red rows %2, line at %3")
                                .arg(place.x)
                                .arg(QString::number(reds.value(0)))
                                .arg(setpointY)));
        QVERIFY2(greens.size() >= 2 && near(greens, measureY, 2.5),
                 qPrintable(QStringLiteral("x %1: green rows from %2, line at %3")
                                .arg(place.x)
                                .arg(QString::number(greens.value(0)))
                                .arg(measureY)));
    }
    // Nothing of the curves in the temperature band.
    for (int column = int(101 * across); column < image.width(); ++column) {
        QVERIFY(rowsOf(image, column, red).isEmpty());
        QVERIFY(rowsOf(image, column, green).isEmpty());
    }
}

void TestGraphBox::dottedGridIsDotted() {
    startUpWithoutData();
    display::traceTick(m_surface, QStringLiteral("12:00:00"));
    const QImage image = m_surface.image();

    // Between the horizontal lines at y = 10 and y = 20 units (rows 37 and
    // 74): the dotted line at x = 2 units, the solid one at x = 10.
    const int top = 40;
    const int bottom = 71;
    int dottedColumn = -1;
    for (int x = 12; x < 20; ++x) {
        if (image.pixel(x, top) == dottedGrey || image.pixel(x, top + 1) == dottedGrey ||
            image.pixel(x, top + 2) == dottedGrey)
            dottedColumn = x;
    }
    QVERIFY(dottedColumn >= 0);
    int dots = 0;
    for (int y = top; y < bottom; ++y) {
        const QRgb pixel = image.pixel(dottedColumn, y);
        QVERIFY(pixel == dottedGrey || pixel == black);
        if (pixel == dottedGrey) {
            ++dots;
            QVERIFY2(image.pixel(dottedColumn, y + 1) == black, qPrintable(QString::number(y)));
        }
    }
    QVERIFY2(dots >= 9 && dots <= 12, qPrintable(QString::number(dots))); // one in three

    const int solidColumn = int(10 * 873.0 / 110);
    for (int y = top; y < bottom; ++y)
        QCOMPARE(image.pixel(solidColumn, y), solidGrey);
    // The frame: left and top edges lie on the first column and row.
    QCOMPARE(image.pixel(0, 200), solidGrey);
    QCOMPARE(image.pixel(300, 0), solidGrey);
}

void TestGraphBox::lineWidthsStayInPixels_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<qreal>("ratio");

    QTest::newRow("design size") << QSize(873, 409) << qreal(1);
    QTest::newRow("design size, pixel ratio 2") << QSize(873, 409) << qreal(2);
    QTest::newRow("small and tall") << QSize(300, 600) << qreal(1);
    QTest::newRow("pixel ratio 1.5") << QSize(600, 300) << qreal(1.5);
}

void TestGraphBox::lineWidthsStayInPixels() {
    QFETCH(QSize, size);
    QFETCH(qreal, ratio);

    m_surface.resize(size, ratio);
    fillHistory();
    Data::measureHistory.assign(Data::historySize, 100.0f);
    Data::measureRaw = 1000;
    display::traceTick(m_surface, QStringLiteral("12:00:05"));
    const QImage image = m_surface.image();
    QCOMPARE(image.size(), (QSizeF(size) * ratio).toSize());
    QCOMPARE(image.devicePixelRatio(), ratio);

    // Whatever the scale across and down: 2 pixels for the curves, 1 for
    // the grid, in pixels of the screen.
    const int curveColumn = int(image.width() * 50 / 110.0);
    QCOMPARE(rowsOf(image, curveColumn, red).size(), qRound(2 * ratio));
    QCOMPARE(rowsOf(image, curveColumn, green).size(), qRound(2 * ratio));
    const int gridRow = int(image.height() * 45 / 110.0);
    const QList<int> solid = columnsOf(image, gridRow, solidGrey);
    QCOMPARE(solid.size(), 11 * qRound(ratio));
}

void TestGraphBox::resizeRedrawsSharp() {
    fillHistory();
    Data::measureHistory.assign(Data::historySize, 100.0f);
    Data::measureRaw = 1000;
    display::traceTick(m_surface, QStringLiteral("12:00:05"));
    const QImage before = m_surface.image();

    m_surface.resize(QSize(436, 204), 1);
    const QImage after = m_surface.image();
    QCOMPARE(after.size(), QSize(436, 204));
    // Drawn again at the new size, not shrunk: still 2 pixels wide, where the
    // line lies now, and the labels are still there.
    const QList<int> reds = rowsOf(after, 200, red);
    QCOMPARE(reds.size(), 2);
    QVERIFY(near(reds, (100 - 200.0 / 3) * 204 / 110, 1.5));
    QCOMPARE(rowsOf(after, 200, green).size(), 2);
    bool label = false;
    for (int y = 0; y < 20 && !label; ++y) {
        for (int x = int(102 * 436 / 110.0); x < 436 && !label; ++x)
            label = isBrightGrey(after.pixel(x, y));
    }
    QVERIFY(label);
    // The copy taken before is left as it was.
    QCOMPARE(before.size(), QSize(873, 409));
    QCOMPARE(rowsOf(before, 400, red).size(), 2);
}

void TestGraphBox::textPositionIsTopLeft() {
    m_surface.clear();
    m_surface.setForeColor(255, 255, 255);
    m_surface.setFontSize(10);
    m_surface.setTextPosition(102, 1);
    m_surface.print(QStringLiteral("300°C"));
    const QPointF next = m_surface.textPosition();
    const QImage image = m_surface.image();

    int left = image.width();
    int top = image.height();
    int bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != black) {
                left = std::min(left, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    const qreal across = 873.0 / 110;
    const qreal down = 409.0 / 110;
    // The text's box begins at the position; the glyphs a little inside it.
    QVERIFY2(left >= int(102 * across) && left <= int(102 * across) + 3,
             qPrintable(QString::number(left)));
    QVERIFY2(top >= int(1 * down) && top <= int(1 * down) + 6, qPrintable(QString::number(top)));
    // The next line starts at x = 0, below the printed one: a 10-point line
    // is about 15 pixels, 4 units down here.
    QCOMPARE(next.x(), 0.0);
    QVERIFY2(next.y() * down > bottom && next.y() > 1 + 3 && next.y() < 1 + 5.5,
             qPrintable(QString::number(next.y())));
}

void TestGraphBox::clippedAtTheEdges() {
    m_surface.clear();
    m_surface.setForeColor(255, 0, 0);
    m_surface.setLineWidth(2);
    m_surface.setLineStyle(display::LineStyle::Solid);
    // From far left to far right: clipped to the picture, not lost.
    m_surface.line(-1e30, 50, 1e30, 50);
    m_surface.setForeColor(0, 255, 0);
    m_surface.line(std::numeric_limits<qreal>::infinity(), 20, 50, 20);
    m_surface.line(50, std::numeric_limits<qreal>::quiet_NaN(), 50, 20);
    m_surface.line(-20, 30, -10, 80); // wholly outside
    // Partly outside on the right and bottom.
    m_surface.setForeColor(0, 0, 255);
    m_surface.line(100, 105, 130, 120);
    const QImage image = m_surface.image();

    QCOMPARE(columnsOf(image, int(50 * 409 / 110.0), red).size(), 873);
    int greens = 0;
    int blues = 0;
    for (int y = 0; y < image.height(); ++y) {
        greens += int(columnsOf(image, y, green).size());
        blues += int(columnsOf(image, y, qRgb(0, 0, 255)).size());
    }
    QCOMPARE(greens, 0);
    QVERIFY(blues > 0);
    QCOMPARE(image.pixel(872, 408), qRgb(0, 0, 255));
}

void TestGraphBox::copyKeepsItsPicture() {
    m_surface.clear();
    m_surface.setForeColor(255, 0, 0);
    m_surface.setLineWidth(2);
    m_surface.line(0, 50, 110, 50);
    const QImage copy = m_surface.image();
    m_surface.line(0, 80, 110, 80);
    m_surface.clear();
    m_surface.line(0, 20, 110, 20);

    QCOMPARE(rowsOf(copy, 100, red).size(), 2);
    QVERIFY(near(rowsOf(copy, 100, red), 50 * 409 / 110.0, 1.5));
    const QImage now = m_surface.image();
    QCOMPARE(rowsOf(now, 100, red).size(), 2);
    QVERIFY(near(rowsOf(now, 100, red), 20 * 409 / 110.0, 1.5));
}

void TestGraphBox::widgetShowsThePicture() {
    display::GraphBox graph;
    graph.setGeometry(104, 104, 873, 409);
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSizeF(8.25);
    graph.setFont(arial);
    QPalette palette = graph.palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 40));
    palette.setColor(QPalette::WindowText, Qt::green);
    graph.setPalette(palette);
    graph.setPersistentScale(110, 110);

    fillHistory();
    display::traceTick(graph.surface(), QStringLiteral("12:00:05"));
    const QImage picture = graph.picture();
    QCOMPARE(picture.size(), QSize(873, 409) * graph.devicePixelRatioF());

    // What the widget paints is the picture.
    const QImage shown = graph.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), picture.size());
    QCOMPARE(shown.pixel(5, 5), qRgb(0, 0, 40));
    const int column = int(50 * 873 / 110.0);
    QCOMPARE(rowsOf(shown, column, red), rowsOf(picture, column, red));
    // Sharp at the screen's pixel ratio (QT_SCALE_FACTOR=2 gives 2).
    QCOMPARE(rowsOf(shown, column, red).size(), qRound(2 * graph.devicePixelRatioF()));
}

void TestGraphBox::widgetRepaintsAfterATick() {
    display::GraphBox graph;
    graph.resize(873, 409);
    graph.setPersistentScale(110, 110);
    graph.show();
    QVERIFY(QTest::qWaitForWindowExposed(&graph));

    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                ++paints;
            return false;
        }
    } counter;
    graph.installEventFilter(&counter);
    QCoreApplication::processEvents();
    counter.paints = 0;

    startUpWithoutData();
    display::traceTick(graph.surface(), QStringLiteral("12:00:00"));
    QTRY_VERIFY_WITH_TIMEOUT(counter.paints > 0, 5000);
}

void TestGraphBox::clickedOnLeftClickOnly() {
    display::GraphBox graph;
    graph.resize(873, 409);
    graph.show();
    QVERIFY(QTest::qWaitForWindowExposed(&graph));
    QSignalSpy clicked(&graph, &display::GraphBox::clicked);

    QTest::mouseClick(&graph, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(clicked.count(), 1);
    QTest::mouseClick(&graph, Qt::LeftButton, {}, QPoint(860, 400));
    QCOMPARE(clicked.count(), 2);
    QTest::mouseClick(&graph, Qt::RightButton, {}, QPoint(100, 100));
    QCOMPARE(clicked.count(), 2);
    // Pressed on the graph, released away from it: no click.
    QTest::mousePress(&graph, Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseRelease(&graph, Qt::LeftButton, {}, QPoint(900, 100));
    QCOMPARE(clicked.count(), 2);
}

QTEST_MAIN(TestGraphBox)
#include "tst_graphbox.moc"
