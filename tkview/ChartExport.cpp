#include "ChartExport.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSvgGenerator>

#include "ChartPainter.h"
#include "Recordings.h"

namespace tkview {

namespace {

void paint(QPainter& painter, const QRectF& area, const Recordings& recordings,
           const ChartView& view, bool vector) {
    ChartOptions options;
    options.showPower = view.showPower;
    options.antialiased = vector;
    options.font = QGuiApplication::font();
    options.device = painter.device();
    options.markers = &recordings.trail.markers;
    const ChartLayout layout =
        chartLayout(area, view.window, recordings.timeline, recordings.levels, options);
    paintChart(painter, layout, recordings.timeline, recordings.levels, options);
}

} // namespace

QString writeChartPng(const QString& fileName, const Recordings& recordings, const ChartView& view,
                      const QSize& size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        paint(painter, QRectF(QPointF(0, 0), size), recordings, view, false);
    }
    QImageWriter writer(fileName, "png");
    // Fast deflate: a chart is mostly white, and the default level costs more
    // time than it saves bytes.
    writer.setCompression(1);
    if (!writer.write(image))
        return QStringLiteral("cannot write %1: %2").arg(fileName, writer.errorString());
    return {};
}

QString writeChartSvg(const QString& fileName, const Recordings& recordings, const ChartView& view,
                      const QSize& size) {
    QSvgGenerator svg;
    svg.setFileName(fileName);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(QStringLiteral("Recording chart"));
    QPainter painter;
    if (!painter.begin(&svg))
        return QStringLiteral("cannot write %1").arg(fileName);
    paint(painter, QRectF(QPointF(0, 0), size), recordings, view, true);
    painter.end();
    // QSvgGenerator says nothing when its file could not be written.
    if (!QFileInfo(fileName).isFile() || QFileInfo(fileName).size() == 0)
        return QStringLiteral("cannot write %1").arg(fileName);
    return {};
}

} // namespace tkview
