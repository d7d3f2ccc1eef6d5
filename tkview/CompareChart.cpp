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
#include <vector>

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

QPen runPen(std::size_t run, double width) {
    const RunLook look = runLook(run);
    QPen pen(look.colour, width);
    pen.setCosmetic(true);
    if (!look.dashes.isEmpty())
        pen.setDashPattern(look.dashes);
    return pen;
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

struct LegendItem {
    std::size_t run = 0;
    int row = 0;
    double x = 0;
    QString label;
};

// The legend's entries from left to right, a new row where one would pass
// right; a label longer than a third of the width is cut.
std::vector<LegendItem> legendItems(const Comparison& comparison, const QFontMetricsF& metrics,
                                    double left, double right) {
    const double line = metrics.height();
    std::vector<LegendItem> items;
    double x = left;
    int row = 0;
    for (std::size_t i = 0; i < comparison.runs.size(); ++i) {
        const QString label = metrics.elidedText(comparison.runs[i].label, Qt::ElideRight,
                                                 std::max(line, (right - left) / 3));
        const double width = 2.2 * line + metrics.horizontalAdvance(label) + 1.2 * line;
        if (x > left && x + width > right) {
            x = left;
            ++row;
        }
        items.push_back({i, row, x, label});
        x += width;
    }
    return items;
}

QFont reportFont(double points, bool bold = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

} // namespace

RunLook runLook(std::size_t run) {
    // Dash, dash-dot, dots, long dash: each readable at a line's width.
    static const std::array<QList<qreal>, 5> breaks{
        {{}, {6, 2.5}, {6, 2, 1, 2}, {1, 1.6}, {12, 3}}};
    return {runColours.at(run % runColours.size()),
            breaks.at((run / runColours.size()) % breaks.size())};
}

QStringList wrappedLines(const QString& text, const QFontMetricsF& metrics, double width) {
    QStringList lines;
    QString current;
    const auto fits = [&](const QString& candidate) {
        return metrics.horizontalAdvance(candidate) <= width;
    };
    for (QString word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString joined = current.isEmpty() ? word : current + QLatin1Char(' ') + word;
        if (fits(joined)) {
            current = joined;
            continue;
        }
        if (!current.isEmpty())
            lines << current;
        current.clear();
        // A word wider than the line alone is cut where it must be.
        while (!fits(word)) {
            qsizetype take = 1;
            while (take < word.size() && fits(word.left(take + 1)))
                ++take;
            lines << word.left(take);
            word = word.mid(take);
        }
        current = word;
    }
    if (!current.isEmpty() || lines.isEmpty())
        lines << current;
    return lines;
}

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
    const double left = metrics.horizontalAdvance(QStringLiteral("0000.0")) + line;
    const std::vector<LegendItem> legend =
        legendItems(comparison, metrics, area.left() + left, area.right() - line);
    const int legendRows = legend.empty() ? 1 : legend.back().row + 1;
    base.plot = area.adjusted(left, (legendRows * 1.1 + 0.5) * line, -line, -2.6 * line);
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
            QPen pen = runPen(i, antialiased ? 1.4 : 1.5);
            if (setpoint) {
                pen.setWidthF(0.8);
                pen.setStyle(Qt::DashLine);
            }
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

    // Legend: each run's line and label, in as many rows as it takes.
    for (const LegendItem& item : legend) {
        const double y = area.top() + (item.row + 0.7) * 1.1 * line;
        painter.setPen(runPen(item.run, antialiased ? 1.4 : 1.5));
        painter.drawLine(QPointF(item.x, y - 0.3 * line),
                         QPointF(item.x + 1.8 * line, y - 0.3 * line));
        painter.setPen(textColour);
        painter.drawText(QPointF(item.x + 2.2 * line, y), item.label);
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
    double top = body.top() + 44;
    // Runs aligned otherwise than asked, and runs left out, said on the page.
    painter.setFont(reportFont(8));
    for (const QString& note : comparisonNotes(comparison)) {
        const QRectF room(body.left(), top, body.width(), body.height() / 4);
        const QRectF used = painter.boundingRect(room, Qt::TextWordWrap, note);
        painter.drawText(room, Qt::TextWordWrap, note);
        top += used.height() + 4;
    }

    // Each run's summary in its own column, under its look; cells wrap
    // rather than lose their end.
    const QList<QStringList> rows = comparisonRows(comparison);
    const double nameWidth = 100;
    const double column =
        (body.width() - nameWidth) / double(std::max<std::size_t>(comparison.runs.size(), 1));
    const double lineHeight = 9.5;
    const auto cellLines = [&](const QStringList& row, qsizetype i) {
        const QFontMetricsF metrics(reportFont(7.5, &row == &rows.front()), &pdf);
        QStringList lines = wrappedLines(row[i], metrics, i == 0 ? nameWidth - 6 : column - 6);
        // A run's heading has its line above its label.
        if (i > 0 && &row == &rows.front())
            lines.prepend(QString());
        return lines;
    };
    QList<double> heights;
    double tableHeight = 0;
    for (const QStringList& row : rows) {
        qsizetype most = 1;
        for (qsizetype i = 0; i < row.size(); ++i)
            most = std::max(most, cellLines(row, i).size());
        heights << double(most) * lineHeight + 2;
        tableHeight += heights.back();
    }
    // A table taller than a third of the page gets a page of its own, so
    // that the chart keeps its size.
    const bool ownPage = tableHeight > body.height() / 3;
    const QRectF chartArea(body.left(), top, body.width(),
                           body.bottom() - 16 - top - (ownPage ? 0 : tableHeight + 10));
    paintComparison(painter, chartArea, comparison, reportFont(7), &pdf, true);

    double y = chartArea.bottom() + 10;
    const auto footerLine = [&] {
        painter.setFont(reportFont(7.5));
        painter.setPen(Qt::darkGray);
        const QRectF footer(body.left(), body.bottom() - 10, body.width(), 12);
        painter.drawText(
            footer, Qt::AlignLeft | Qt::AlignVCenter,
            QStringLiteral("tkview %1 · report made %2")
                .arg(versionNumber(), madeAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t"))));
    };
    if (ownPage) {
        footerLine();
        pdf.newPage();
        y = body.top();
    }
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const QStringList& row = rows[r];
        if (y + heights[r] > body.bottom() - 16) {
            footerLine();
            pdf.newPage();
            y = body.top();
        }
        const bool heading = r == 0;
        for (qsizetype i = 0; i < row.size(); ++i) {
            const double x =
                i == 0 ? body.left() : body.left() + nameWidth + double(i - 1) * column;
            if (heading && i > 0) {
                QPen pen = runPen(std::size_t(i - 1), 1.4);
                painter.setPen(pen);
                painter.drawLine(QPointF(x, y + 5), QPointF(x + 24, y + 5));
            }
            painter.setFont(reportFont(7.5, heading));
            painter.setPen(i == 0 ? Qt::darkGray : Qt::black);
            double ly = y + 7.5;
            for (const QString& text : cellLines(row, i)) {
                painter.drawText(QPointF(x, ly), text);
                ly += lineHeight;
            }
        }
        y += heights[r];
    }
    footerLine();
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
