#pragma once

// The drawing operations the curve trace uses, in the terms of the picture
// box it was designed for: a foreground colour, a pen width in pixels, a solid
// or dotted style, lines between points in user units, and a text position
// that printing moves to the start of the next text line.
//
// This class keeps that state and the text-position rule; a concrete surface
// only puts finished lines and texts somewhere (an image, or a record that
// tests read).

#include <QColor>
#include <QPointF>
#include <QString>

namespace display {

enum class LineStyle { Solid, Dotted };

class DrawingSurface {
public:
    DrawingSurface() = default;
    DrawingSurface(const DrawingSurface&) = delete;
    DrawingSurface& operator=(const DrawingSurface&) = delete;
    virtual ~DrawingSurface();

    // Fills the whole picture with the background colour; the text position
    // goes back to (0, 0).
    void clear();

    void setForeColor(int red, int green, int blue);
    QColor foreColor() const { return m_pen.colour; }

    // Pixels, whatever the user scale.
    void setLineWidth(int pixels);
    int lineWidth() const { return m_pen.width; }

    void setLineStyle(LineStyle style);
    LineStyle lineStyle() const { return m_pen.style; }

    // In the foreground colour, width and style.
    void line(qreal x1, qreal y1, qreal x2, qreal y2);

    void setFontSize(qreal points);
    qreal fontSize() const { return m_fontSize; }

    // Top-left corner of the next printed text, in user units.
    void setTextX(qreal x);
    void setTextY(qreal y);
    void setTextPosition(qreal x, qreal y);
    QPointF textPosition() const { return m_textPosition; }

    // Prints at the text position in the foreground colour and ends the line:
    // the position moves to x = 0, one text line below the printed text.
    void print(const QString& text);

    struct Pen {
        QColor colour;
        int width = 1;
        LineStyle style = LineStyle::Solid;
    };

protected:
    virtual void paintClear() = 0;
    virtual void paintLine(QPointF from, QPointF to, const Pen& pen) = 0;
    virtual void paintText(QPointF topLeft, const QString& text, qreal pointSize,
                           const QColor& colour) = 0;
    // Height of one text line at this font size, in user units down.
    virtual qreal textLineHeight(qreal pointSize) const = 0;

private:
    Pen m_pen{QColor(0, 255, 0), 1, LineStyle::Solid};
    qreal m_fontSize = 8.25;
    QPointF m_textPosition;
};

} // namespace display
