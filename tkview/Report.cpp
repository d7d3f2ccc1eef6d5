#include "Report.h"

#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>

#include "ChartPainter.h"
#include "Options.h"
#include "Recordings.h"
#include "SealBanner.h"
#include "Summary.h"
#include "SummaryText.h"
#include "TrailText.h"
#include "Verification.h"

namespace tkview {

namespace {

// The page is drawn in points (1/72 inch): A4 landscape is 842 x 595.
constexpr int pointsPerInch = 72;
constexpr double margin = 36;

QFont reportFont(double points, bool bold = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

} // namespace

QString writeReport(const QString& fileName, const Recordings& recordings, const ChartView& view,
                    const QDateTime& madeAt) {
    QPdfWriter pdf(fileName);
    pdf.setResolution(pointsPerInch);
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                                  QMarginsF(0, 0, 0, 0), QPageLayout::Point));
    pdf.setTitle(QStringLiteral("Recording report"));
    pdf.setCreator(QStringLiteral("tkview ") + versionNumber());
    QPainter painter;
    if (!painter.begin(&pdf))
        return QStringLiteral("cannot write %1").arg(fileName);

    const Timeline& timeline = recordings.timeline;
    const QRectF page(0, 0, pdf.width(), pdf.height());
    const QRectF body = page.adjusted(margin, margin, -margin, -margin);
    int pageNumber = 1;
    const QString footer =
        QStringLiteral("tkview %1 · report made %2")
            .arg(versionNumber(), madeAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t")));
    const auto drawFooter = [&] {
        painter.setFont(reportFont(7.5));
        painter.setPen(Qt::darkGray);
        const QRectF line(body.left(), body.bottom() - 10, body.width(), 12);
        painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, footer);
        painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("page %1").arg(pageNumber));
        painter.setPen(Qt::black);
    };

    double y = body.top();
    painter.setFont(reportFont(15, true));
    painter.drawText(QPointF(body.left(), y + 15), QStringLiteral("Recording report"));
    const Summary summary =
        summarize(timeline, view.window.fromMs, view.window.toMs, view.bandDegrees);
    painter.setFont(reportFont(9.5));
    // A zoomed view says so: the figures are of the range shown, not of all.
    const QString period =
        QStringLiteral("%1 to %2 (%3)")
            .arg(timeText(view.window.fromMs, timeline.zone),
                 timeText(view.window.toMs, timeline.zone), durationText(view.window.span()));
    const bool whole =
        view.window.fromMs <= timeline.firstMs() && view.window.toMs >= timeline.lastMs();
    painter.drawText(QPointF(body.left(), y + 32),
                     whole ? QStringLiteral("Period: ") + period
                           : QStringLiteral("Shown range %1 of %2 to %3")
                                 .arg(period, timeText(timeline.firstMs(), timeline.zone),
                                      timeText(timeline.lastMs(), timeline.zone)));
    y += 44;
    y += drawSealBanner(painter, QRectF(body.left(), y, body.width(), 0),
                        sealBannerText(timeline, recordings.trail));
    // The load, as the trail names it: label and value side by side.
    // Only what the window covers: a later run's batch or an earlier event
    // would be laid to this load.
    const RunTrail trail =
        trailWithin(recordings.trail, timeline, view.window.fromMs, view.window.toMs);
    double lx = body.left();
    for (const auto& [name, value] : loadLines(trail)) {
        painter.setFont(reportFont(8.5));
        const double valueWidth =
            std::min(QFontMetricsF(painter.font()).horizontalAdvance(value), body.width() / 2);
        painter.setFont(reportFont(8));
        const double nameWidth = QFontMetricsF(painter.font()).horizontalAdvance(name) + 5;
        if (lx > body.left() && lx + nameWidth + valueWidth > body.right()) {
            lx = body.left();
            y += 13;
        }
        painter.setPen(Qt::darkGray);
        painter.drawText(QPointF(lx, y + 10), name);
        painter.setPen(Qt::black);
        painter.setFont(reportFont(8.5));
        painter.drawText(
            QPointF(lx + nameWidth, y + 10),
            QFontMetricsF(painter.font()).elidedText(value, Qt::ElideRight, valueWidth));
        lx += nameWidth + valueWidth + 18;
    }
    if (lx > body.left())
        y += 18;

    // Summary on the left, chart on the right, down to the first files (the
    // others follow on further pages).
    const double summaryWidth = 250;
    const double valueIndent = 78;
    // The space under the chart, its header and rows, up to three files.
    const double firstFiles = 42 + 24 * double(std::min<std::size_t>(timeline.files.size(), 3)) +
                              (timeline.skippedCount > 0 || !timeline.overlaps.empty() ? 16 : 0);
    const QRectF chartArea(body.left() + summaryWidth + 10, y, body.width() - summaryWidth - 10,
                           std::max(300.0, body.bottom() - 16 - firstFiles - y));
    painter.setFont(reportFont(9.5, true));
    painter.drawText(QPointF(body.left(), y + 12), QStringLiteral("Summary"));
    double sy = y + 28;
    for (const auto& [name, value] : summaryLines(summary, timeline.zone)) {
        painter.setFont(reportFont(8));
        painter.setPen(Qt::darkGray);
        painter.drawText(QPointF(body.left(), sy), name);
        painter.setPen(Qt::black);
        painter.setFont(reportFont(8.5));
        const QFontMetricsF metrics(painter.font());
        painter.drawText(QPointF(body.left() + valueIndent, sy),
                         metrics.elidedText(value, Qt::ElideRight, summaryWidth - valueIndent));
        sy += 16;
    }
    ChartOptions options;
    options.showPower = view.showPower;
    options.antialiased = true;
    options.font = reportFont(7);
    options.device = &pdf;
    options.markers = &trail.markers;
    options.numberedMarkers = true;
    const ChartLayout layout =
        chartLayout(chartArea, view.window, timeline, recordings.levels, options);
    paintChart(painter, layout, timeline, recordings.levels, options);
    y = std::max(sy, chartArea.bottom()) + 14;

    // The files, over as many pages as they need.
    const double rowHeight = 12;
    const auto drawFileHeader = [&] {
        painter.setFont(reportFont(9.5, true));
        painter.drawText(QPointF(body.left(), y + 10), QStringLiteral("Files"));
        y += 16;
        painter.setFont(reportFont(7.5, true));
        painter.drawText(QPointF(body.left(), y + 9), QStringLiteral("Name"));
        painter.drawText(QPointF(body.left() + 230, y + 9), QStringLiteral("Records"));
        painter.drawText(QPointF(body.left() + 290, y + 9), QStringLiteral("SHA-256"));
        y += rowHeight;
    };
    drawFileHeader();
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPointSizeF(7.5);
    for (const SourceFile& file : timeline.files) {
        if (y + 2 * rowHeight > body.bottom() - 16) {
            drawFooter();
            pdf.newPage();
            ++pageNumber;
            y = body.top();
            drawFileHeader();
        }
        painter.setFont(reportFont(7.5));
        painter.drawText(QPointF(body.left(), y + 9), file.name);
        painter.drawText(QRectF(body.left() + 230, y, 50, rowHeight), Qt::AlignRight | Qt::AlignTop,
                         QString::number(file.records));
        painter.setFont(mono);
        painter.drawText(QPointF(body.left() + 290, y + 9),
                         QString::fromLatin1(file.sha256.toHex()));
        // The seal's verdict under the checksum.
        y += rowHeight;
        painter.setFont(reportFont(7.5));
        painter.drawText(QPointF(body.left() + 290, y + 9),
                         QStringLiteral("Seal: ") + sealing::verdictText(file.seal));
        y += rowHeight;
    }
    if (timeline.skippedCount > 0 || !timeline.overlaps.empty()) {
        painter.setFont(reportFont(7.5));
        painter.drawText(QPointF(body.left(), y + 12),
                         QStringLiteral("Lines that could not be read and were skipped: %1. "
                                        "Files that overlap in time: %2.")
                             .arg(timeline.skippedCount)
                             .arg(timeline.overlaps.size()));
        y += 16;
    }
    if (!trail.isEmpty()) {
        const auto room = [&](double height) {
            if (y + height <= body.bottom() - 16)
                return;
            drawFooter();
            pdf.newPage();
            ++pageNumber;
            y = body.top();
        };
        const QList<EventRow> rows = eventRows(trail, timeline.zone);
        bool named = false;
        for (const EventRow& row : rows)
            named = named || !row.controller.isEmpty();
        // The number the chart marks each event with, then its time.
        const double timeAt = body.left() + 36;
        const double textAt = timeAt + (named ? 180 : 110);
        const auto drawEventHeader = [&] {
            painter.setFont(reportFont(9.5, true));
            painter.drawText(QPointF(body.left(), y + 22), QStringLiteral("Events and alarms"));
            y += 28;
            painter.setFont(reportFont(7.5, true));
            painter.drawText(QRectF(body.left(), y, 24, rowHeight), Qt::AlignRight | Qt::AlignTop,
                             QStringLiteral("No."));
            painter.drawText(QPointF(timeAt, y + 9), QStringLiteral("Time"));
            if (named)
                painter.drawText(QPointF(timeAt + 110, y + 9), QStringLiteral("Controller"));
            painter.drawText(QPointF(textAt, y + 9), QStringLiteral("Event"));
            y += rowHeight;
        };
        if (!rows.isEmpty()) {
            room(28 + 2 * rowHeight);
            drawEventHeader();
        }
        for (const EventRow& row : rows) {
            if (y + rowHeight > body.bottom() - 16) {
                room(body.height());
                drawEventHeader();
            }
            painter.setFont(reportFont(7.5));
            painter.drawText(QRectF(body.left(), y, 24, rowHeight), Qt::AlignRight | Qt::AlignTop,
                             row.number);
            painter.drawText(QPointF(timeAt, y + 9), row.time);
            painter.drawText(QPointF(timeAt + 110, y + 9), row.controller);
            painter.drawText(QPointF(textAt, y + 9),
                             QFontMetricsF(painter.font())
                                 .elidedText(row.text, Qt::ElideRight, body.right() - textAt));
            y += rowHeight;
        }
        if (const QString more = eventsLeftOutText(trail, rows.size()); !more.isEmpty()) {
            room(rowHeight + 4);
            painter.setFont(reportFont(7.5, true));
            painter.drawText(QPointF(timeAt, y + 13), more);
            y += rowHeight + 4;
        }
        // Signed on paper by whoever checks the load.
        room(60);
        y += 40;
        painter.setFont(reportFont(8.5));
        const double third = body.width() / 3;
        const QStringList signs{QStringLiteral("Checked by"), QStringLiteral("Date"),
                                QStringLiteral("Signature")};
        for (int i = 0; i < signs.size(); ++i) {
            const double x = body.left() + i * third;
            painter.drawText(QPointF(x, y), signs[i]);
            const double start = x + QFontMetricsF(painter.font()).horizontalAdvance(signs[i]) + 6;
            painter.drawLine(QPointF(start, y + 1), QPointF(x + third - 20, y + 1));
        }
    }
    // The files the banner only counted, one by one.
    const QStringList unverified = unverifiedFiles(timeline);
    if (unverified.size() > namedInBanner) {
        const auto heading = [&] {
            painter.setFont(reportFont(9.5, true));
            painter.drawText(QPointF(body.left(), y + 22), QStringLiteral("Files not verified"));
            y += 28;
        };
        if (y + 28 + 2 * rowHeight > body.bottom() - 16) {
            drawFooter();
            pdf.newPage();
            ++pageNumber;
            y = body.top();
        }
        heading();
        painter.setFont(reportFont(7.5));
        for (const QString& file : unverified) {
            if (y + rowHeight > body.bottom() - 16) {
                drawFooter();
                pdf.newPage();
                ++pageNumber;
                y = body.top();
                painter.setFont(reportFont(7.5));
            }
            painter.drawText(
                QPointF(body.left(), y + 9),
                QFontMetricsF(painter.font()).elidedText(file, Qt::ElideRight, body.width()));
            y += rowHeight;
        }
    }
    drawFooter();
    if (!painter.end() || !QFileInfo(fileName).isFile())
        return QStringLiteral("cannot write %1").arg(fileName);
    return {};
}

} // namespace tkview
