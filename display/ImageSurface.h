#pragma once

// A drawing surface that paints into an off-screen image, the persistent
// picture of the graph: the widget only ever copies finished pictures from it.
//
// Coordinates are user units of a scale set once (110 x 110 for the graph),
// stretched to whatever pixel size the image has, so one unit across and one
// unit down may differ. Line widths and the dots of dotted lines stay in
// pixels, and texts keep their shape. Everything outside the image is clipped.
//
// The surface keeps the operations drawn since the last clear, so that a new
// size or device pixel ratio redraws the same picture sharp instead of
// stretching old pixels.

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QSize>

#include <functional>
#include <variant>
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
        Pen pen;
    };
    struct TextOp {
        QPointF topLeft;
        QString text;
        qreal pointSize;
        QColor colour;
    };

    void renderLine(const LineOp& op);
    void renderText(const TextOp& op);
    void redraw();
    void updateUnits();
    QPainter* painter();
    void endPainting();
    void markChanged();
    QFont fontAt(qreal pointSize) const;
    QPointF toPixels(QPointF user) const;

    QImage m_image;
    QPainter m_painter;
    QSize m_size;
    qreal m_devicePixelRatio = 1;
    int m_logicalDpi = 96;
    qreal m_scaleWidth = 0;
    qreal m_scaleHeight = 0;
    qreal m_pixelsPerUnitX = 1;
    qreal m_pixelsPerUnitY = 1;
    QColor m_background = Qt::black;
    QFont m_font;
    Pen m_painterPen;
    bool m_painterPenSet = false;
    std::vector<std::variant<LineOp, TextOp>> m_picture;
    bool m_changed = false;
    std::function<void()> m_changedHandler;
};

} // namespace display
