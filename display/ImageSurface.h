#pragma once

// A drawing surface that paints into an off-screen image, the persistent
// picture of the graph: the widget only ever copies finished pictures from it.
//
// Coordinates are user units of a scale set once (110 x 110 for the graph),
// stretched to whatever pixel size the image has, so one unit across and one
// unit down may differ. Line widths and the dots of dotted lines stay in
// pixels, and texts keep their shape. Everything outside the image is clipped.
//
// Lines are set into the image's pixels here rather than through QPainter:
// a tick draws up to 10,000 curve segments two pixels wide, and QPainter's
// stroker takes about 2 microseconds for each (see docs/benchmarks.md).
// Texts go through QPainter.
//
// The surface keeps the operations drawn since the last clear, so that a new
// size or device pixel ratio redraws the same picture sharp instead of
// stretching old pixels.

#include <QFont>
#include <QImage>
#include <QSize>

#include <functional>
#include <vector>

#include "DrawingSurface.h"

namespace display {

class ImageSurface : public DrawingSurface {
public:
    ImageSurface();
    ~ImageSurface() override;

    // Used by clear; changing it redraws the picture on the new colour.
    void setBackground(const QColor& colour);
    QColor background() const { return m_background; }

    // Family and style of printed texts; their size comes from setFontSize.
    void setFont(const QFont& font);

    // The user scale: units across and down the whole image. Zero or less
    // means pixels, which is what the surface uses until a scale is set.
    void setScale(qreal width, qreal height);
    QSizeF scale() const { return {m_scaleWidth, m_scaleHeight}; }

    // Size in device-independent pixels, the device pixel ratio of the screen
    // and its logical dots per inch (which turn point sizes into pixels).
    void resize(QSize size, qreal devicePixelRatio, int logicalDpi = 96);
    QSize size() const { return m_size; }
    qreal devicePixelRatio() const { return m_devicePixelRatio; }

    // The finished picture, with all drawing so far in it.
    const QImage& image();

    // Called once when the picture changes after the last call to image(),
    // so that a widget can schedule a repaint.
    void setChangedHandler(std::function<void()> handler);

protected:
    void paintClear() override;
    void paintLine(QPointF from, QPointF to, const Pen& pen) override;
    void paintText(QPointF topLeft, const QString& text, qreal pointSize,
                   const QColor& colour) override;
    qreal textLineHeight(qreal pointSize) const override;

private:
    struct LineOp {
        QPointF from;
        QPointF to;
        QRgb colour;
        int width;
        LineStyle style;
    };
    struct TextOp {
        QPointF topLeft;
        QString text;
        qreal pointSize;
        QColor colour;
        size_t linesBefore; // lines drawn before it since the last clear
    };

    void renderLine(const LineOp& op);
    void renderText(const TextOp& op);
    void redraw();
    void updateUnits();
    void markChanged();
    QFont fontAt(qreal pointSize) const;
    QPointF toPixels(QPointF user) const {
        return {user.x() * m_pixelsPerUnitX, user.y() * m_pixelsPerUnitY};
    }
    QRgb* pixels();

    QImage m_image;
    QRgb* m_pixels = nullptr; // m_image's pixels while no copy of it may exist
    QSize m_size;
    qreal m_devicePixelRatio = 1;
    int m_logicalDpi = 96;
    qreal m_scaleWidth = 0;
    qreal m_scaleHeight = 0;
    qreal m_pixelsPerUnitX = 1;
    qreal m_pixelsPerUnitY = 1;
    QColor m_background = Qt::black;
    QFont m_font;
    QColor m_lastColour;
    QRgb m_lastRgb = 0;
    // The picture since the last clear, in drawing order.
    std::vector<LineOp> m_lines;
    std::vector<TextOp> m_texts;
    bool m_changed = false;
    std::function<void()> m_changedHandler;
};

} // namespace display
