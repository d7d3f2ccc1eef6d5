#pragma once

// The chart of a timeline over a window of time, drawn on any painter: the
// window's image, a PNG, an SVG or the PDF report. Each curve is drawn from
// the minimum and maximum of every pixel column, so its cost does not grow
// with the records shown and no spike disappears at any zoom.

#include <QFont>
#include <QRectF>

#include "DetailLevels.h"
#include "TimeWindow.h"
#include "Timeline.h"

class QPainter;

namespace tkview {

struct ChartOptions {
    bool showPower = true;
    bool antialiased = false; // for vector output; the window draws faster without
    QFont font;
};

// Where the chart puts its plot and what its axes span: to map a mouse
// position back to a time and to draw the cursor over the picture.
struct ChartLayout {
    QRectF area; // the whole chart, labels included
    QRectF plot; // the curves' rectangle
    TimeWindow window;
    double lowDegrees = 0;    // at the plot's bottom
    double highDegrees = 100; // at its top

    double xOf(std::int64_t ms) const;
    std::int64_t timeAt(double x) const;
    double yOfDegrees(double degrees) const;
    double yOfPower(double power) const;
};

// The layout of a chart of window in area: the temperature scale fits the
// temperatures and setpoints of the records within the window.
ChartLayout chartLayout(const QRectF& area, const TimeWindow& window, const Timeline& timeline,
                        const DetailLevels& levels, const ChartOptions& options);

// Draws the whole chart (background, grid, axes, gaps, curves, legend).
void paintChart(QPainter& painter, const ChartLayout& layout, const Timeline& timeline,
                const DetailLevels& levels, const ChartOptions& options);

// The step between two labels of a scale from low to high with at most
// `labels` labels: 1, 2 or 5 times a power of ten.
double niceStep(double low, double high, int labels);

} // namespace tkview
