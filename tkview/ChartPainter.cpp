#include "ChartPainter.h"

#include <QFontMetricsF>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

#include "TimeAxis.h"

namespace tkview {

namespace {

const QColor temperatureColour(0, 160, 0);
const QColor setpointColour(220, 0, 0);
// Light, and drawn first: the power stays behind the temperatures.
const QColor powerColour(150, 180, 235);
const QColor gridColour(225, 225, 225);
const QColor gapColour(236, 226, 200);
const QColor textColour(40, 40, 40);

// One curve as polylines, broken at gaps.
using Lines = std::vector<QPolygonF>;

// The value of a series in record r, or noValue.
using Series = std::int16_t Record::*;

// Can the line join records a and a + 1 (a temperature on both, no gap)?
bool joined(const Timeline& timeline, std::size_t a) {
    if (a + 1 >= timeline.records.size())
        return false;
    const Record& left = timeline.records[a];
    const Record& right = timeline.records[a + 1];
    return left.hasTemperature() && right.hasTemperature() &&
           !isGapSpacing(timeline.records, a, a + 1);
}

Lines seriesLines(const ChartLayout& layout, const Timeline& timeline,
                  const std::vector<Column>& columns, Series series, Extent Column::*extent,
                  double (ChartLayout::*yOf)(double) const, double scale) {
    Lines lines;
    const auto y = [&](std::int16_t raw) { return (layout.*yOf)(raw * scale); };
    const double columnWidth =
        layout.plot.width() / double(std::max<std::size_t>(columns.size(), 1));
    const std::size_t first = timeline.lowerBound(layout.window.fromMs);
    // Joins the record before the window to the first one in it.
    if (first > 0 && joined(timeline, first - 1) &&
        (timeline.records[first - 1].*series) != noValue)
        lines.push_back({QPointF(layout.xOf(timeline.records[first - 1].timeMs),
                                 y(timeline.records[first - 1].*series))});
    bool open = !lines.empty();
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const Column& column = columns[i];
        const Extent& e = column.*extent;
        if (e.isEmpty() || column.temperature.isEmpty()) {
            continue;
        }
        if (column.breakBefore || !open) {
            lines.emplace_back();
            open = true;
        }
        const double x = layout.plot.left() + (double(i) + 0.5) * columnWidth;
        const std::int16_t firstValue = timeline.records[column.firstIndex].*series;
        const std::int16_t lastValue = timeline.records[column.lastIndex].*series;
        QPolygonF& line = lines.back();
        if (column.firstIndex == column.lastIndex) { // one record: at its own time
            line << QPointF(layout.xOf(timeline.records[column.firstIndex].timeMs),
                            y(firstValue == noValue ? e.min : firstValue));
            continue;
        }
        line << QPointF(x, y(firstValue == noValue ? e.min : firstValue));
        if (e.min != e.max)
            line << QPointF(x, y(e.min)) << QPointF(x, y(e.max));
        line << QPointF(x, y(lastValue == noValue ? e.max : lastValue));
    }
    // And the last one in the window to the next record.
    const std::size_t next = timeline.lowerBound(layout.window.toMs + 1);
    if (open && next < timeline.records.size() && next > 0 && joined(timeline, next - 1) &&
        (timeline.records[next].*series) != noValue)
        lines.back() << QPointF(layout.xOf(timeline.records[next].timeMs),
                                y(timeline.records[next].*series));
    return lines;
}

void drawLines(QPainter& painter, const Lines& lines, const QColor& colour, double width) {
    QPen pen(colour, width);
    pen.setCosmetic(true);
    pen.setJoinStyle(Qt::BevelJoin);
    pen.setCapStyle(Qt::FlatCap);
    painter.setPen(pen);
    for (const QPolygonF& line : lines) {
        if (line.size() == 1)
            painter.drawPoint(line.front());
        else
            painter.drawPolyline(line);
    }
}

QColor markerColour(sealing::EventKind kind) {
    switch (kind) {
    case sealing::EventKind::AlarmRaised:
        return {200, 0, 130};
    case sealing::EventKind::AlarmAcknowledged:
        return {225, 130, 0};
    case sealing::EventKind::AlarmCleared:
        return {110, 110, 110};
    case sealing::EventKind::SetpointWrite:
        return {120, 50, 170};
    default:
        return {20, 80, 200};
    }
}

// A thin line at each marker's time, one a device pixel at most so that
// thousands of marks neither cover the plot nor take long; its label (its
// text, or its number on paper) at the plot's top, in the first of a few
// rows where it overlaps no other (left of the line near the right edge).
// A marker with no room left keeps its line, and the count of those is said
// in the corner.
void drawMarkers(QPainter& painter, const ChartLayout& layout,
                 const std::vector<TrailMarker>& markers, const QFontMetricsF& metrics,
                 bool numbered) {
    const QRectF& plot = layout.plot;
    const double line = metrics.height();
    const int rows = std::clamp(int(plot.height() / (8 * line)), 1, 3);
    std::vector<double> rowEnds(std::size_t(rows), -1e9);
    const double widest = metrics.horizontalAdvance(QLatin1Char('x')) * 22;
    const double pixel = 1.0 / std::max(painter.deviceTransform().m11(), 1e-9);
    double lastLineX = -1e9;
    int unlabelled = 0;
    const auto first =
        std::lower_bound(markers.begin(), markers.end(), layout.window.fromMs,
                         [](const TrailMarker& m, std::int64_t t) { return m.timeMs < t; });
    const auto end =
        std::upper_bound(first, markers.end(), layout.window.toMs,
                         [](std::int64_t t, const TrailMarker& m) { return t < m.timeMs; });
    // More than one mark every few pixels would hide the curves: then each
    // is a short tick on the plot's bottom edge, without a label.
    const bool dense = double(end - first) * 4 * pixel > plot.width();
    const double top = dense ? plot.bottom() - 0.5 * line : plot.top();
    for (auto marker = first; marker != end; ++marker) {
        const double x = layout.xOf(marker->timeMs);
        QColor colour = markerColour(marker->kind);
        QPen pen(colour, 1);
        pen.setCosmetic(true);
        if (x - lastLineX >= pixel) {
            colour.setAlpha(150); // the curves stay readable through the lines
            painter.setPen(QPen(colour, 1));
            painter.drawLine(QPointF(x, top), QPointF(x, plot.bottom()));
            lastLineX = x;
        }
        if (dense) {
            ++unlabelled;
            continue;
        }
        // A label starts at x or left of it: no row ending before x, no room
        // (known before its text is made).
        if (std::none_of(rowEnds.begin(), rowEnds.end(), [&](double end) { return end < x; })) {
            ++unlabelled;
            continue;
        }
        const QString label =
            numbered ? QString::number(marker - markers.begin() + 1)
                     : metrics.elidedText(markerLabel(*marker), Qt::ElideRight, widest);
        const double width = metrics.horizontalAdvance(label) + line / 2;
        const double left = x + width > plot.right() ? x - width : x;
        const auto row =
            std::find_if(rowEnds.begin(), rowEnds.end(), [&](double end) { return end < left; });
        if (row == rowEnds.end()) {
            ++unlabelled;
            continue;
        }
        *row = left + width;
        const QRectF box(left + 1, plot.top() + 1 + double(row - rowEnds.begin()) * line * 1.1,
                         width - line / 4, line);
        painter.fillRect(box, QColor(255, 255, 255, 215));
        painter.setPen(pen);
        painter.drawText(box.adjusted(line / 8, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, label);
    }
    if (unlabelled > 0) {
        const QString count = QLocale(QLocale::English).toString(unlabelled);
        const QString where =
            numbered ? QStringLiteral("see the events table") : QStringLiteral("zoom in");
        painter.setPen(textColour);
        painter.drawText(
            QRectF(plot.left(), plot.bottom() - (dense ? 1.7 : 1.2) * line, plot.width() - line / 3,
                   line),
            Qt::AlignRight | Qt::AlignVCenter,
            dense
                ? QStringLiteral("%1 marks, too close to label (ticks below): %2").arg(count, where)
                : QStringLiteral("%1 more marked without a %2: %3")
                      .arg(count, numbered ? QStringLiteral("number") : QStringLiteral("label"),
                           where));
    }
}

QString degreesText(double value, double step) {
    return QString::number(value, 'f', step < 1 ? 1 : 0);
}

} // namespace

QFontMetricsF ChartOptions::metrics() const {
    return device != nullptr ? QFontMetricsF(font, device) : QFontMetricsF(font);
}

double ChartLayout::xOf(std::int64_t ms) const {
    return plot.left() +
           double(ms - window.fromMs) / double(std::max<qint64>(window.span(), 1)) * plot.width();
}

std::int64_t ChartLayout::timeAt(double x) const {
    return window.fromMs +
           std::int64_t(std::llround((x - plot.left()) / plot.width() * double(window.span())));
}

double ChartLayout::yOfDegrees(double degrees) const {
    return plot.bottom() - (degrees - lowDegrees) / (highDegrees - lowDegrees) * plot.height();
}

double ChartLayout::yOfPower(double power) const {
    return plot.bottom() - power / 100.0 * plot.height();
}

double niceStep(double low, double high, int labels) {
    const double rough = std::max(high - low, 1e-9) / std::max(labels, 1);
    const double decade = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * decade >= rough)
            return m * decade;
    return 10 * decade;
}

void paintDegreesScale(QPainter& painter, const ChartLayout& layout, const QFontMetricsF& metrics) {
    const double line = metrics.height();
    const QRectF& plot = layout.plot;
    QPen grid(gridColour, 1);
    grid.setCosmetic(true);
    const double step = layout.stepDegrees;
    for (double d = layout.lowDegrees; d <= layout.highDegrees + step / 1000; d += step) {
        const double y = layout.yOfDegrees(d);
        painter.setPen(grid);
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter.setPen(textColour);
        painter.drawText(QRectF(layout.area.left(), y - line / 2,
                                plot.left() - layout.area.left() - line / 3, line),
                         Qt::AlignRight | Qt::AlignVCenter, degreesText(d, step));
    }
}

std::vector<QPolygonF> curveLines(const ChartLayout& layout, const Timeline& timeline,
                                  const DetailLevels& levels, bool setpoint) {
    const int count = std::max(1, int(std::lround(layout.plot.width())));
    const std::vector<Column> columns =
        levels.columns(layout.window.fromMs, layout.window.toMs, count);
    return setpoint ? seriesLines(layout, timeline, columns, &Record::setpoint, &Column::setpoint,
                                  &ChartLayout::yOfDegrees, 0.1)
                    : seriesLines(layout, timeline, columns, &Record::temperature,
                                  &Column::temperature, &ChartLayout::yOfDegrees, 0.1);
}

void fitDegrees(ChartLayout& layout, double low, double high, double lineHeight) {
    if (low > high) {
        low = 0;
        high = 100;
    }
    const double margin = std::max((high - low) * 0.05, 0.5);
    low -= margin;
    high += margin;
    const double step =
        niceStep(low, high, std::max(2, int(layout.plot.height() / (2.5 * lineHeight))));
    layout.lowDegrees = std::floor(low / step) * step;
    layout.highDegrees = std::ceil(high / step) * step;
    layout.stepDegrees = step;
}

ChartLayout chartLayout(const QRectF& area, const TimeWindow& window, const Timeline& timeline,
                        const DetailLevels& levels, const ChartOptions& options) {
    const QFontMetricsF metrics = options.metrics();
    ChartLayout layout;
    layout.area = area;
    layout.window = window;
    const double line = metrics.height();
    const double left = metrics.horizontalAdvance(QStringLiteral("0000.0")) + line;
    const double right =
        options.showPower ? metrics.horizontalAdvance(QStringLiteral("100 %")) + line : line;
    layout.plot = area.adjusted(left, 1.6 * line, -right, -2.6 * line);

    const std::size_t first = timeline.lowerBound(window.fromMs);
    const std::size_t last = timeline.lowerBound(window.toMs + 1);
    const Column shown = first < last ? levels.range(first, last) : Column{};
    double low = 1e9;
    double high = -1e9;
    for (const Extent& e : {shown.temperature, shown.setpoint}) {
        if (!e.isEmpty()) {
            low = std::min(low, degrees(e.min));
            high = std::max(high, degrees(e.max));
        }
    }
    fitDegrees(layout, low, high, line);
    return layout;
}

void paintChart(QPainter& painter, const ChartLayout& layout, const Timeline& timeline,
                const DetailLevels& levels, const ChartOptions& options) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, options.antialiased);
    painter.setFont(options.font);
    const QFontMetricsF metrics = options.metrics();
    const double line = metrics.height();
    const QRectF& plot = layout.plot;
    painter.fillRect(layout.area, Qt::white);

    // Gaps: a shaded band, at least a pixel wide so that a short outage shows
    // at any zoom.
    {
        const auto& gaps = timeline.gaps;
        auto gap = std::lower_bound(gaps.begin(), gaps.end(), layout.window.fromMs,
                                    [](const Gap& g, std::int64_t t) { return g.toMs < t; });
        for (; gap != gaps.end() && gap->fromMs <= layout.window.toMs; ++gap) {
            const double x0 = std::max(plot.left(), layout.xOf(gap->fromMs));
            const double x1 = std::min(plot.right(), layout.xOf(gap->toMs));
            painter.fillRect(QRectF(x0, plot.top(), std::max(x1 - x0, 1.0), plot.height()),
                             gapColour);
        }
    }

    paintDegreesScale(painter, layout, metrics);
    QPen grid(gridColour, 1);
    grid.setCosmetic(true);
    if (options.showPower) {
        painter.setPen(powerColour);
        for (int p = 0; p <= 100; p += 25) {
            const double y = layout.yOfPower(p);
            painter.drawText(QRectF(plot.right() + line / 3, y - line / 2,
                                    layout.area.right() - plot.right(), line),
                             Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("%1 %").arg(p));
        }
    }

    // Time grid and labels.
    const QDateTime from = QDateTime::fromMSecsSinceEpoch(layout.window.fromMs, timeline.zone);
    const QDateTime to = QDateTime::fromMSecsSinceEpoch(layout.window.toMs, timeline.zone);
    const int spacing =
        int(metrics.horizontalAdvance(datesWithYear(from, to) ? QStringLiteral("00 May 0000")
                                                              : QStringLiteral("00:00:00")) +
            1.5 * line);
    for (const TimeTick& tick : timeTicks(from, to, int(plot.width()), spacing)) {
        const double x = layout.xOf(tick.time.toMSecsSinceEpoch());
        painter.setPen(grid);
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        painter.setPen(textColour);
        const QRectF below(x - spacing, plot.bottom() + line / 4, 2 * spacing, line);
        painter.drawText(below, Qt::AlignHCenter | Qt::AlignTop, tick.label);
        if (!tick.dateLabel.isEmpty())
            painter.drawText(below.translated(0, line), Qt::AlignHCenter | Qt::AlignTop,
                             tick.dateLabel);
    }

    // The curves, power first so that the temperatures lie on top.
    const int count = std::max(1, int(std::lround(plot.width())));
    const std::vector<Column> columns =
        levels.columns(layout.window.fromMs, layout.window.toMs, count);
    painter.setClipRect(plot);
    const double width = options.antialiased ? 1.2 : 1.0;
    if (options.showPower)
        drawLines(painter,
                  seriesLines(layout, timeline, columns, &Record::power, &Column::power,
                              &ChartLayout::yOfPower, 1.0),
                  powerColour, width);
    drawLines(painter,
              seriesLines(layout, timeline, columns, &Record::setpoint, &Column::setpoint,
                          &ChartLayout::yOfDegrees, 0.1),
              setpointColour, width);
    drawLines(painter,
              seriesLines(layout, timeline, columns, &Record::temperature, &Column::temperature,
                          &ChartLayout::yOfDegrees, 0.1),
              temperatureColour, width);
    if (options.markers != nullptr)
        drawMarkers(painter, layout, *options.markers, metrics, options.numberedMarkers);
    painter.setClipping(false);

    painter.setPen(QPen(textColour, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);

    // Legend above the plot.
    double x = plot.left();
    const auto legend = [&](const QColor& colour, const QString& text) {
        painter.fillRect(QRectF(x, plot.top() - 0.9 * line, line, line * 0.35), colour);
        painter.setPen(textColour);
        painter.drawText(QPointF(x + 1.4 * line, plot.top() - 0.5 * line), text);
        x += 2.4 * line + metrics.horizontalAdvance(text);
    };
    legend(temperatureColour, QStringLiteral("Temperature °C"));
    legend(setpointColour, QStringLiteral("Setpoint °C"));
    if (options.showPower)
        legend(powerColour, QStringLiteral("Power %"));
    legend(gapColour.darker(115), QStringLiteral("No data"));
    painter.restore();
}

} // namespace tkview
