#include "ImageSurface.h"

#include <QFontMetricsF>
#include <QPen>

#include <cmath>
#include <utility>

namespace display {

namespace {

// Lines are clipped to the image grown by this many device-independent
// pixels on every side, so that a pen up to this wide still reaches the edge
// and its round caps stay outside.
constexpr qreal clipMargin = 8;

// Cuts the segment a-b to the rectangle [left, right] x [top, bottom]
// (Liang-Barsky). Returns false when nothing of it lies inside. Besides
// saving the painter from segments far outside the picture, this keeps
// huge coordinates away from its fixed-point rasterizer.
bool clipSegment(QPointF& a, QPointF& b, qreal left, qreal top, qreal right, qreal bottom) {
    const qreal dx = b.x() - a.x();
    const qreal dy = b.y() - a.y();
    qreal enter = 0;
    qreal leave = 1;
    // For each edge: p is the direction across it, q the distance of a from it
    // on the inner side.
    const std::pair<qreal, qreal> edges[] = {
        {-dx, a.x() - left}, {dx, right - a.x()}, {-dy, a.y() - top}, {dy, bottom - a.y()}};
    for (const auto& [p, q] : edges) {
        if (p == 0) {
            if (q < 0)
                return false;
            continue;
        }
        const qreal t = q / p;
        if (p < 0) {
            if (t > leave)
                return false;
            if (t > enter)
                enter = t;
        } else {
            if (t < enter)
                return false;
            if (t < leave)
                leave = t;
        }
    }
    const QPointF start = a;
    if (enter > 0)
        a = QPointF(start.x() + enter * dx, start.y() + enter * dy);
    if (leave < 1)
        b = QPointF(start.x() + leave * dx, start.y() + leave * dy);
    return true;
}

bool isFinite(QPointF p) {
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

} // namespace

ImageSurface::ImageSurface() = default;

ImageSurface::~ImageSurface() {
    endPainting();
}

void ImageSurface::setBackground(const QColor& colour) {
    if (colour == m_background)
        return;
    m_background = colour;
    redraw();
}

void ImageSurface::setFont(const QFont& font) {
    if (font == m_font)
        return;
    m_font = font;
    redraw();
}

void ImageSurface::setScale(qreal width, qreal height) {
    m_scaleWidth = width;
    m_scaleHeight = height;
    updateUnits();
    redraw();
}

void ImageSurface::resize(QSize size, qreal devicePixelRatio, int logicalDpi) {
    if (devicePixelRatio <= 0)
        devicePixelRatio = 1;
    if (logicalDpi <= 0)
        logicalDpi = 96;
    if (size == m_size && devicePixelRatio == m_devicePixelRatio && logicalDpi == m_logicalDpi &&
        !m_image.isNull())
        return;
    endPainting();
    m_size = size;
    m_devicePixelRatio = devicePixelRatio;
    m_logicalDpi = logicalDpi;
    m_image = QImage();
    if (!size.isEmpty()) {
        m_image = QImage((QSizeF(size) * devicePixelRatio).toSize(), QImage::Format_RGB32);
        m_image.setDevicePixelRatio(devicePixelRatio);
        const int dotsPerMeter = qRound(logicalDpi / 0.0254);
        m_image.setDotsPerMeterX(dotsPerMeter);
        m_image.setDotsPerMeterY(dotsPerMeter);
    }
    updateUnits();
    redraw();
}

const QImage& ImageSurface::image() {
    endPainting();
    m_changed = false;
    return m_image;
}

void ImageSurface::setChangedHandler(std::function<void()> handler) {
    m_changedHandler = std::move(handler);
}

void ImageSurface::paintClear() {
    m_picture.clear();
    if (QPainter* p = painter())
        p->fillRect(QRectF(QPointF(0, 0), QSizeF(m_size)), m_background);
    markChanged();
}

void ImageSurface::paintLine(QPointF from, QPointF to, const Pen& pen) {
    m_picture.emplace_back(LineOp{from, to, pen});
    renderLine(std::get<LineOp>(m_picture.back()));
}

void ImageSurface::paintText(QPointF topLeft, const QString& text, qreal pointSize,
                             const QColor& colour) {
    m_picture.emplace_back(TextOp{topLeft, text, pointSize, colour});
    renderText(std::get<TextOp>(m_picture.back()));
}

qreal ImageSurface::textLineHeight(qreal pointSize) const {
    if (m_pixelsPerUnitY <= 0)
        return 0;
    // Metrics on the image's own resolution, so that the step down matches the
    // printed text.
    const QFontMetricsF metrics(fontAt(pointSize), m_image.isNull() ? nullptr : &m_image);
    return metrics.lineSpacing() / m_pixelsPerUnitY;
}

void ImageSurface::renderLine(const LineOp& op) {
    QPointF a = toPixels(op.from);
    QPointF b = toPixels(op.to);
    if (!isFinite(a) || !isFinite(b))
        return;
    if (!clipSegment(a, b, -clipMargin, -clipMargin, m_size.width() + clipMargin,
                     m_size.height() + clipMargin))
        return;
    QPainter* p = painter();
    if (!p)
        return;
    if (!m_painterPenSet || op.pen.colour != m_painterPen.colour ||
        op.pen.width != m_painterPen.width || op.pen.style != m_painterPen.style) {
        // Cosmetic, so that no transform widens it; the width is in
        // device-independent pixels, hence times the pixel ratio.
        QPen qpen(op.pen.colour, qMax(1, op.pen.width) * m_devicePixelRatio,
                  op.pen.style == LineStyle::Dotted ? Qt::DotLine : Qt::SolidLine);
        qpen.setCosmetic(true);
        // Flat ends keep dots as long as the pen is wide at every width;
        // round ends join the segments of a curve without notches.
        qpen.setCapStyle(op.pen.style == LineStyle::Dotted ? Qt::FlatCap : Qt::RoundCap);
        qpen.setJoinStyle(Qt::RoundJoin);
        p->setPen(qpen);
        m_painterPen = op.pen;
        m_painterPenSet = true;
    }
    p->drawLine(a, b);
    markChanged();
}

void ImageSurface::renderText(const TextOp& op) {
    const QPointF at = toPixels(op.topLeft);
    // Far outside there is nothing to see, and the painter's fixed-point
    // glyph positions would overflow.
    constexpr qreal farAway = 1e5;
    if (!isFinite(at) || at.x() >= m_size.width() || at.y() >= m_size.height() ||
        at.x() < -farAway || at.y() < -farAway)
        return;
    QPainter* p = painter();
    if (!p)
        return;
    const QFont font = fontAt(op.pointSize);
    p->setFont(font);
    p->setPen(op.colour);
    m_painterPenSet = false;
    const QFontMetricsF metrics(font, &m_image);
    p->drawText(QPointF(at.x(), at.y() + metrics.ascent()), op.text);
    markChanged();
}

void ImageSurface::redraw() {
    if (m_image.isNull())
        return;
    if (QPainter* p = painter())
        p->fillRect(QRectF(QPointF(0, 0), QSizeF(m_size)), m_background);
    for (const auto& op : m_picture) {
        if (const auto* line = std::get_if<LineOp>(&op))
            renderLine(*line);
        else
            renderText(std::get<TextOp>(op));
    }
    markChanged();
}

void ImageSurface::updateUnits() {
    m_pixelsPerUnitX = m_scaleWidth > 0 ? m_size.width() / m_scaleWidth : 1.0;
    m_pixelsPerUnitY = m_scaleHeight > 0 ? m_size.height() / m_scaleHeight : 1.0;
}

QPainter* ImageSurface::painter() {
    if (m_image.isNull())
        return nullptr;
    if (!m_painter.isActive()) {
        if (!m_painter.begin(&m_image))
            return nullptr;
        // Crisp one-pixel grid lines and dots, as on the original picture box;
        // texts stay smooth.
        m_painter.setRenderHint(QPainter::Antialiasing, false);
        m_painter.setRenderHint(QPainter::TextAntialiasing, true);
        m_painterPenSet = false;
    }
    return &m_painter;
}

void ImageSurface::endPainting() {
    if (m_painter.isActive())
        m_painter.end();
}

void ImageSurface::markChanged() {
    if (m_changed)
        return;
    m_changed = true;
    if (m_changedHandler)
        m_changedHandler();
}

QFont ImageSurface::fontAt(qreal pointSize) const {
    QFont font = m_font;
    if (pointSize > 0)
        font.setPointSizeF(pointSize);
    return font;
}

QPointF ImageSurface::toPixels(QPointF user) const {
    return {user.x() * m_pixelsPerUnitX, user.y() * m_pixelsPerUnitY};
}

} // namespace display
