#include "DrawingSurface.h"

#include <QtGlobal>

namespace display {

DrawingSurface::~DrawingSurface() = default;

void DrawingSurface::clear() {
    paintClear();
    m_textPosition = QPointF(0, 0);
}

void DrawingSurface::setForeColor(int red, int green, int blue) {
    // Each component is one byte, as in an RGB colour value.
    m_pen.colour = QColor(qBound(0, red, 255), qBound(0, green, 255), qBound(0, blue, 255));
}

void DrawingSurface::setLineWidth(int pixels) {
    m_pen.width = pixels;
}

void DrawingSurface::setLineStyle(LineStyle style) {
    m_pen.style = style;
}

void DrawingSurface::line(qreal x1, qreal y1, qreal x2, qreal y2) {
    paintLine(QPointF(x1, y1), QPointF(x2, y2), m_pen);
}

void DrawingSurface::setFontSize(qreal points) {
    m_fontSize = points;
}

void DrawingSurface::setTextX(qreal x) {
    m_textPosition.setX(x);
}

void DrawingSurface::setTextY(qreal y) {
    m_textPosition.setY(y);
}

void DrawingSurface::setTextPosition(qreal x, qreal y) {
    m_textPosition = QPointF(x, y);
}

void DrawingSurface::print(const QString& text) {
    paintText(m_textPosition, text, m_fontSize, m_pen.colour);
    m_textPosition = QPointF(0, m_textPosition.y() + textLineHeight(m_fontSize));
}

} // namespace display
