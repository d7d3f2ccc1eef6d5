#pragma once

// The chart of a timeline over a window of time, drawn on any painter: the
// window's image, a PNG, an SVG or the PDF report. Each curve is drawn from
// the minimum and maximum of every pixel column, so its cost does not grow
// with the records shown and no spike disappears at any zoom.

#include <QFont>
#include <QFontMetricsF>
#include <QPolygonF>
#include <QRectF>

#include <vector>

#include "DetailLevels.h"
#include "RunTrail.h"
#include "TimeWindow.h"
#include "Timeline.h"

class QPainter;
class QPaintDevice;

namespace tkview {

struct ChartOptions {
    bool showPower = true;
    bool antialiased = false; // for vector output; the window draws faster without
    QFont font;
    // What the chart is drawn on, for text sizes in its units (a PDF's points);
    // none for the screen.
    const QPaintDevice* device = nullptr;
    // Events, alarms and setpoint writes, marked at their times; none when null.
    const std::vector<TrailMarker>* markers = nullptr;
    // On paper, where nobody can zoom: each marker labelled by its number in
    // markers (from 1), as the events table lists it, not by its text.
    bool numberedMarkers = false;

    QFontMetricsF metrics() const;
};

// Where the chart puts its plot and what its axes span: to map a mouse
// position back to a time and to draw the cursor over the picture.
struct ChartLayout {
    QRectF area; // the whole chart, labels included
    QRectF plot; // the curves' rectangle
    TimeWindow window;
    double lowDegrees = 0;    // at the plot's bottom
    double highDegrees = 100; // at its top
    double stepDegrees = 10;  // between two labels of the scale

    double xOf(std::int64_t ms) const;
    std::int64_t timeAt(double x) const;
    double yOfDegrees(double degrees) const;
    double yOfPower(double power) const;
};

// The layout of a chart of window in area: the temperature scale fits the
// temperatures and setpoints of the records within the window.
ChartLayout chartLayout(const QRectF& area, const TimeWindow& window, const Timeline& timeline,
                        const DetailLevels& levels, const ChartOptions& options);

// Draws the whole chart (background, grid, axes, gaps, curves, markers, legend).
void paintChart(QPainter& painter, const ChartLayout& layout, const Timeline& timeline,
                const DetailLevels& levels, const ChartOptions& options);

// The temperature grid across the plot and its scale left of it.
void paintDegreesScale(QPainter& painter, const ChartLayout& layout, const QFontMetricsF& metrics);

// The temperatures (or setpoints) in layout's window as polylines broken at
// gaps, a point per pixel column at most.
std::vector<QPolygonF> curveLines(const ChartLayout& layout, const Timeline& timeline,
                                  const DetailLevels& levels, bool setpoint);

// Sets layout's scale to span low to high degrees with a margin, its labels
// lineHeight apart at least 2.5 times over.
void fitDegrees(ChartLayout& layout, double low, double high, double lineHeight);

// The step between two labels of a scale from low to high with at most
// `labels` labels: 1, 2 or 5 times a power of ten.
double niceStep(double low, double high, int labels);

} // namespace tkview
