#include "CompareChart.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <array>
#include <cmath>

#include "ChartPainter.h"
#include "Options.h"
#include "RunCompare.h"
#include "SummaryText.h"

namespace tkview {

namespace {

const std::array<QColor, 8> runColours{{{0, 150, 0},
                                        {20, 80, 210},
                                        {210, 40, 40},
                                        {220, 130, 0},
                                        {130, 40, 170},
                                        {0, 150, 160},
                                        {120, 90, 40},
                                        {90, 90, 90}}};
const QColor textColour(40, 40, 40);

QColor runColour(std::size_t run) {
    return runColours.at(run % runColours.size());
}

// "+1:30:00", "−0:05:00": time since the runs' zero.
QString elapsedText(std::int64_t ms) {
    const std::int64_t minutes = std::llabs(ms) / 60'000;
    QString text =
        QStringLiteral("%1:%2").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
    return (ms < 0 ? QStringLiteral("−") : QStringLiteral("+")) + text;
}

// A step of a minute or more between the time labels: 1, 2, 5, 10, 15, 30
// minutes, 1, 2, 3, 6, 12 hours, then whole days.
std::int64_t elapsedStep(std::int64_t span, int labels) {
    constexpr std::int64_t minute = 60'000;
    for (const std::int64_t step : {1, 2, 5, 10, 15, 30, 60, 120, 180, 360, 720, 1440})
        if (span / (step * minute) <= labels)
            return step * minute;
    const std::int64_t day = 1440 * minute;
    return (span / labels / day + 1) * day;
}

QFont reportFont(double points, bool bold = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

} // namespace

void paintComparison(QPainter& painter, const QRectF& area, const Comparison& comparison,
                     const QFont& font, const QPaintDevice* device, bool antialiased) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, antialiased);
    painter.setFont(font);
    const QFontMetricsF metrics =
        device != nullptr ? QFontMetricsF(font, device) : QFontMetricsF(font);
    const double line = metrics.height();
    painter.fillRect(area, Qt::white);
    ChartLayout base;
    base.area = area;
    base.window = {comparison.fromMs(), comparison.toMs()};
    base.plot = area.adjusted(metrics.horizontalAdvance(QStringLiteral("0000.0")) + line,
                              1.6 * line, -line, -2.6 * line);
    double low = 1e9;
    double high = -1e9;
    for (const ComparedRun& run : comparison.runs) {
        const Recordings& r = *run.recordings;
        const Column all = r.levels.range(0, r.timeline.records.size());
        for (const Extent& e : {all.temperature, all.setpoint}) {
            if (!e.isEmpty()) {
                low = std::min(low, degrees(e.min));
                high = std::max(high, degrees(e.max));
            }
        }
    }
    fitDegrees(base, low, high, line);
    paintDegreesScale(painter, base, metrics);
    const QRectF& plot = base.plot;

    // Time since the zero, the zero itself drawn darker.
    QPen grid(QColor(225, 225, 225), 1);
    grid.setCosmetic(true);
    const int labels = std::max(
        2, int(plot.width() / (metrics.horizontalAdvance(QStringLiteral("+000:00")) + 2 * line)));
    const std::int64_t step = elapsedStep(base.window.span(), labels);
    for (std::int64_t t = base.window.fromMs / step * step; t <= base.window.toMs; t += step) {
        if (t < base.window.fromMs)
            continue;
        const double x = base.xOf(t);
        painter.setPen(t == 0 ? QPen(textColour, 0) : grid);
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        painter.setPen(textColour);
        painter.drawText(QRectF(x - 3 * line, plot.bottom() + line / 4, 6 * line, line),
                         Qt::AlignHCenter | Qt::AlignTop, elapsedText(t));
    }
    painter.drawText(QRectF(plot.left(), plot.bottom() + 1.3 * line, plot.width(), line),
                     Qt::AlignHCenter | Qt::AlignTop,
                     (comparison.align == Align::Start ? QStringLiteral("Hours since the start")
                                                       : QStringLiteral("Hours since the "
                                                                        "setpoint was reached")));

    // Each run in its own window of its own time, over the same plot.
    painter.setClipRect(plot);
    for (std::size_t i = 0; i < comparison.runs.size(); ++i) {
        const ComparedRun& run = comparison.runs[i];
        ChartLayout layout = base;
        layout.window = {base.window.fromMs + run.alignMs, base.window.toMs + run.alignMs};
        for (const bool setpoint : {true, false}) {
            QPen pen(runColour(i), setpoint ? 1.0 : (antialiased ? 1.4 : 1.5));
            pen.setCosmetic(true);
            pen.setStyle(setpoint ? Qt::DashLine : Qt::SolidLine);
            painter.setPen(pen);
            for (const QPolygonF& polyline :
                 curveLines(layout, run.recordings->timeline, run.recordings->levels, setpoint)) {
                if (polyline.size() == 1)
                    painter.drawPoint(polyline.front());
                else
                    painter.drawPolyline(polyline);
            }
        }
    }
    painter.setClipping(false);
    painter.setPen(QPen(textColour, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);

    // Legend: a run's colour and label; the setpoints dashed.
    double x = plot.left();
    const double room = plot.width() / double(std::max<std::size_t>(comparison.runs.size(), 1));
    for (std::size_t i = 0; i < comparison.runs.size(); ++i) {
        painter.fillRect(QRectF(x, plot.top() - 0.9 * line, line, line * 0.35), runColour(i));
        painter.setPen(textColour);
        painter.drawText(
            QPointF(x + 1.4 * line, plot.top() - 0.5 * line),
            metrics.elidedText(comparison.runs[i].label, Qt::ElideRight, room - 2.4 * line));
        x += std::min(room, 2.4 * line + metrics.horizontalAdvance(comparison.runs[i].label));
    }
    painter.restore();
}

QString writeComparisonReport(const QString& fileName, const Comparison& comparison,
                              const QDateTime& madeAt) {
    constexpr int pointsPerInch = 72;
    constexpr double margin = 36;
    QPdfWriter pdf(fileName);
    pdf.setResolution(pointsPerInch);
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                                  QMarginsF(0, 0, 0, 0), QPageLayout::Point));
    pdf.setTitle(QStringLiteral("Run comparison"));
    pdf.setCreator(QStringLiteral("tkview ") + versionNumber());
    QPainter painter;
    if (!painter.begin(&pdf))
        return QStringLiteral("cannot write %1").arg(fileName);
    const QRectF body =
        QRectF(0, 0, pdf.width(), pdf.height()).adjusted(margin, margin, -margin, -margin);
    painter.setFont(reportFont(15, true));
    painter.drawText(QPointF(body.left(), body.top() + 15), QStringLiteral("Run comparison"));
    painter.setFont(reportFont(9.5));
    painter.drawText(QPointF(body.left(), body.top() + 32), alignmentText(comparison.align));

    const QList<QStringList> rows = comparisonRows(comparison);
    const double rowHeight = 11.5;
    const double tableHeight = rowHeight * double(rows.size() + 1);
    const QRectF chartArea(body.left(), body.top() + 44, body.width(),
                           body.height() - 44 - tableHeight - 24);
    paintComparison(painter, chartArea, comparison, reportFont(7), &pdf, true);

    // Each run's summary in its own column, under its colour.
    const double nameWidth = 100;
    const double column =
        (body.width() - nameWidth) / double(std::max<std::size_t>(comparison.runs.size(), 1));
    double y = chartArea.bottom() + 10;
    for (const QStringList& row : rows) {
        const bool heading = &row == &rows.front();
        painter.setFont(reportFont(7.5, heading));
        painter.setPen(Qt::darkGray);
        painter.drawText(QPointF(body.left(), y + 9), row.value(0));
        const QFontMetricsF metrics(painter.font(), &pdf);
        for (qsizetype i = 1; i < row.size(); ++i) {
            const double x = body.left() + nameWidth + double(i - 1) * column;
            if (heading)
                painter.fillRect(QRectF(x, y + 3, 8, 4), runColour(std::size_t(i - 1)));
            painter.setPen(Qt::black);
            painter.drawText(QPointF(x + (heading ? 11 : 0), y + 9),
                             metrics.elidedText(row[i], Qt::ElideRight, column - 14));
        }
        y += rowHeight;
    }
    painter.setFont(reportFont(7.5));
    painter.setPen(Qt::darkGray);
    const QRectF footer(body.left(), body.bottom() - 10, body.width(), 12);
    painter.drawText(
        footer, Qt::AlignLeft | Qt::AlignVCenter,
        QStringLiteral("tkview %1 · report made %2")
            .arg(versionNumber(), madeAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t"))));
    if (!painter.end() || !QFileInfo(fileName).isFile())
        return QStringLiteral("cannot write %1").arg(fileName);
    return {};
}

QString writeComparisonPng(const QString& fileName, const Comparison& comparison,
                           const QSize& size) {
    QImage image(size, QImage::Format_RGB32);
    {
        QPainter painter(&image);
        paintComparison(painter, QRectF(QPointF(0, 0), size), comparison, QGuiApplication::font(),
                        nullptr, false);
    }
    if (!image.save(fileName, "png"))
        return QStringLiteral("cannot write %1").arg(fileName);
    return {};
}

} // namespace tkview
