#include "CurveTrace.h"

#include <cmath>
#include <utility>

#include "Data.h"
#include "DrawingSurface.h"
#include "LocaleFormats.h"
#include "TextFormats.h"

namespace display {

namespace {

// The picture's regions, in user units of the 110 x 110 scale: the plot takes
// 0 to 100 both ways; the temperature labels begin at x = 102, the time
// labels at y = 102.
constexpr float plotRight = 100;
constexpr float plotBottom = 100;
constexpr float temperatureLabelX = 102;
constexpr float timeLabelY = 102;
constexpr float timeLabelShift = 3;
constexpr int temperatureFontSize = 10;
constexpr int timeFontSize = 8;

// 5001 slots hold 5000 segments, from the slot just written back to the
// oldest one.
constexpr int lastSlot = Data::historySize - 1;
constexpr int segmentCount = Data::historySize - 1;

void drawGrid(DrawingSurface& surface) {
    surface.setLineWidth(1);

    surface.setForeColor(100, 100, 100);
    surface.setLineStyle(LineStyle::Dotted);
    for (int x = 0; x <= 100; x += 2)
        surface.line(x, 100, x, 0);

    surface.setForeColor(140, 140, 140);
    surface.setLineStyle(LineStyle::Solid);
    for (int x = 0; x <= 100; x += 10)
        surface.line(x, 100, x, 0);

    surface.setForeColor(100, 100, 100);
    surface.setLineStyle(LineStyle::Dotted);
    for (int y = 10; y <= 100; y += 10)
        surface.line(0, y, 100, y);

    surface.setForeColor(140, 140, 140);
    surface.setLineStyle(LineStyle::Solid);
    for (const int y : {50, 0, 100})
        surface.line(0, y, 100, y);
}

bool ringsAllocated() {
    return Data::setpointHistory.size() == Data::historySize &&
           Data::measureHistory.size() == Data::historySize &&
           Data::timeHistory.size() == Data::historySize && Data::historyIndex >= 0 &&
           Data::historyIndex <= lastSlot;
}

void storeSample(const QString& timeOfDay) {
    // Divided as 32-bit floats, so that the raw marker 8888 becomes exactly
    // NO_DATA.
    Data::measureHistory[Data::historyIndex] = Data::measureRaw / 10.0f;
    Data::setpointHistory[Data::historyIndex] = Data::setpointRaw / 10.0f;
    Data::timeHistory[Data::historyIndex] = timeOfDay;
    ++Data::historyIndex;
    if (Data::historyIndex > lastSlot)
        Data::historyIndex = 0;
}

QString temperatureText(float degrees) {
    return generalNumber(degrees, QLocale()) + QStringLiteral("\u00B0C");
}

void printTemperatureLabels(DrawingSurface& surface) {
    surface.setForeColor(255, 255, 255);
    surface.setFontSize(temperatureFontSize);
    surface.setTextPosition(temperatureLabelX, 1);
    surface.print(temperatureText(Data::yValueMax));
    surface.setTextPosition(temperatureLabelX, 95);
    surface.print(temperatureText(Data::yValueMin));
    Data::yValueMid = (Data::yValueMin + Data::yValueMax) / 2;
    surface.setTextPosition(temperatureLabelX, 47);
    surface.print(temperatureText(Data::yValueMid));
}

float xOf(int age, float xStep) {
    return plotRight - static_cast<float>(age) * xStep;
}

float yOf(float degrees, float yStep) {
    return plotBottom - (degrees - Data::yValueMin) * yStep;
}

// Whether every point the curves could use is a finite number. With extreme
// settings a step may be finite while a point beyond it is not, and a curve
// cut off half way would tell the operator something false; so the whole
// tick is checked before anything of the curves is drawn.
bool curvesComputable(float xStep, float yStep) {
    if (!std::isfinite(xStep) || !std::isfinite(yStep) || !std::isfinite(xOf(segmentCount, xStep)))
        return false;
    for (int slot = 0; slot <= lastSlot; ++slot) {
        for (const float degrees : {Data::setpointHistory[slot], Data::measureHistory[slot]}) {
            if (degrees != Data::NO_DATA && !std::isfinite(yOf(degrees, yStep)))
                return false;
        }
    }
    return true;
}

// The high alarm's limit as a thin orange line across the plot, under the
// curves, when it is set and inside the temperature range shown.
void drawHighLimit(DrawingSurface& surface) {
    if (!Data::alarms.highLimit)
        return;
    const float y = yOf(*Data::alarms.highLimit, 100 / (Data::yValueMax - Data::yValueMin));
    if (!std::isfinite(y) || y < 0 || y > plotBottom)
        return;
    surface.setLineWidth(1);
    surface.setLineStyle(LineStyle::Solid);
    surface.setForeColor(255, 160, 0);
    surface.line(0, y, plotRight, y);
}

void drawCurves(DrawingSurface& surface) {
    const float xStep = 100 / Data::timeScale;
    const float yStep = 100 / (Data::yValueMax - Data::yValueMin);
    if (!curvesComputable(xStep, yStep))
        return;

    surface.setLineWidth(2);
    surface.setLineStyle(LineStyle::Solid);

    struct TimeLabel {
        float threshold;
        bool pending;
    };
    TimeLabel timeLabels[] = {{100, true}, {75, true}, {50, true}, {25, true}};

    int newerIndex = Data::historyIndex;
    for (int step = 0; step < segmentCount; ++step) {
        --newerIndex;
        if (newerIndex < 0)
            newerIndex = lastSlot;
        const int olderIndex = newerIndex == 0 ? lastSlot : newerIndex - 1;

        const float setpointNewer = Data::setpointHistory[newerIndex];
        const float setpointOlder = Data::setpointHistory[olderIndex];
        const float measureNewer = Data::measureHistory[newerIndex];
        const float measureOlder = Data::measureHistory[olderIndex];
        if (setpointOlder == Data::NO_DATA || setpointNewer == Data::NO_DATA ||
            measureOlder == Data::NO_DATA || measureNewer == Data::NO_DATA)
            continue;

        const float xNewer = xOf(step, xStep);
        const float xOlder = xOf(step + 1, xStep);

        surface.setForeColor(255, 0, 0);
        surface.line(xNewer, yOf(setpointNewer, yStep), xOlder, yOf(setpointOlder, yStep));
        surface.setForeColor(0, 255, 0);
        surface.line(xNewer, yOf(measureNewer, yStep), xOlder, yOf(measureOlder, yStep));

        surface.setTextY(timeLabelY);
        surface.setFontSize(timeFontSize);
        surface.setForeColor(255, 255, 255);
        // Each print ends its line, so labels that fall on one step stack
        // downwards.
        for (TimeLabel& label : timeLabels) {
            if (xNewer <= label.threshold && label.pending) {
                label.pending = false;
                surface.setTextX(xNewer - timeLabelShift);
                surface.print(Data::timeHistory[newerIndex]);
            }
        }
    }
}

} // namespace

QString traceTimeFormat(const QLocale& locale) {
    // The long format is the one with seconds; its time-zone name is dropped.
    return withoutTimeZone(locale.timeFormat(QLocale::LongFormat));
}

QString traceTimeText(const QTime& time, const QLocale& locale) {
    return locale.toString(time, traceTimeFormat(locale));
}

void traceTick(DrawingSurface& surface, const QString& timeOfDay) {
    // Before start-up has allocated the rings there is no history to keep.
    const bool rings = ringsAllocated();
    surface.clear();
    drawGrid(surface);
    if (rings)
        storeSample(timeOfDay);
    printTemperatureLabels(surface);
    drawHighLimit(surface);
    if (rings)
        drawCurves(surface);
}

void traceRedraw(DrawingSurface& surface) {
    surface.clear();
    drawGrid(surface);
    printTemperatureLabels(surface);
    drawHighLimit(surface);
    if (ringsAllocated())
        drawCurves(surface);
}

HistoryRings::HistoryRings()
    : setpoint(Data::historySize, Data::NO_DATA), measure(Data::historySize, Data::NO_DATA),
      time(Data::historySize) {}

void storeSample(HistoryRings& rings, float measureRaw, float setpointRaw,
                 const QString& timeOfDay) {
    rings.measure[rings.index] = measureRaw / 10.0f;
    rings.setpoint[rings.index] = setpointRaw / 10.0f;
    rings.time[rings.index] = timeOfDay;
    ++rings.index;
    if (rings.index > lastSlot)
        rings.index = 0;
}

void swapWithShown(HistoryRings& rings) {
    std::swap(rings.setpoint, Data::setpointHistory);
    std::swap(rings.measure, Data::measureHistory);
    std::swap(rings.time, Data::timeHistory);
    std::swap(rings.index, Data::historyIndex);
}

} // namespace display
