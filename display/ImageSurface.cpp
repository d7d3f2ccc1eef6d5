#include "ImageSurface.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>

namespace display {

namespace {

// Lines are clipped to the image grown by this many device-independent
// pixels on every side, so that a wide pen still reaches the edge.
constexpr qreal clipMargin = 8;

// A dotted line is one pen width on, two off, as Qt's dot line.
constexpr int dotOn = 1;
constexpr int dotPeriod = 3;

// Cuts the segment a-b to the rectangle [left, right] x [top, bottom]
// (Liang-Barsky). Returns false when nothing of it lies inside. Besides
// sparing the rasterizer segments far outside the picture, this keeps huge
// coordinates out of its integer arithmetic. A cut end is put exactly on the
// edge that cuts it, so that a line along an axis keeps its place however far
// away its ends lie.
bool clipSegment(QPointF& a, QPointF& b, qreal left, qreal top, qreal right, qreal bottom) {
    const qreal dx = b.x() - a.x();
    const qreal dy = b.y() - a.y();
    enum Edge { None, Left, Right, Top, Bottom };
    // For each edge: p is the direction across it, q the distance of a from it
    // on the inner side.
    const struct {
        Edge edge;
        qreal p;
        qreal q;
    } edges[] = {{Left, -dx, a.x() - left},
                 {Right, dx, right - a.x()},
                 {Top, -dy, a.y() - top},
                 {Bottom, dy, bottom - a.y()}};
    qreal enter = 0;
    qreal leave = 1;
    Edge enterEdge = None;
    Edge leaveEdge = None;
    for (const auto& [edge, p, q] : edges) {
        if (p == 0) {
            if (q < 0)
                return false;
            continue;
        }
        const qreal t = q / p;
        if (p < 0) {
            if (t > leave)
                return false;
            if (t > enter) {
                enter = t;
                enterEdge = edge;
            }
        } else {
            if (t < enter)
                return false;
            if (t < leave) {
                leave = t;
                leaveEdge = edge;
            }
        }
    }
    const auto onEdge = [&](Edge edge, QPointF from) {
        switch (edge) {
        case Left:
            return QPointF(left, from.y() + (left - from.x()) * dy / dx);
        case Right:
            return QPointF(right, from.y() + (right - from.x()) * dy / dx);
        case Top:
            return QPointF(from.x() + (top - from.y()) * dx / dy, top);
        case Bottom:
            return QPointF(from.x() + (bottom - from.y()) * dx / dy, bottom);
        case None:
            break;
        }
        return from;
    };
    a = onEdge(enterEdge, a);
    b = onEdge(leaveEdge, b);
    return true;
}

bool isFinite(QPointF p) {
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

// First and last whole number n with n + 0.5 in (low, high]: the pixels whose
// centres lie in that stretch. A line at x = 0 thus lights column 0, and one
// at x = 5.6 column 5, as QPainter's one-pixel lines do.
std::pair<int, int> centresWithin(qreal low, qreal high) {
    // The values are clipped to the image and a margin, so they fit an int;
    // this is several times faster than std::floor without SSE4.1.
    const auto floorToInt = [](qreal value) {
        const int truncated = static_cast<int>(value);
        return value < truncated ? truncated - 1 : truncated;
    };
    return {floorToInt(low - 0.5) + 1, floorToInt(high - 0.5)};
}

// The pixels of the image, addressed along the line's major axis (u) and
// across it (v).
struct PixelGrid {
    QRgb* bits;
    qsizetype stride; // pixels per row
    int width;
    int height;
};

// Sets the pixels of a band `width` pixels wide around the segment from a to
// b, given in device pixels as (u, v) along the major axis u, so that
// |b.u - a.u| >= |b.v - a.v| and b.u != a.u. Every column whose centre lies
// within the segment, grown by `extension` at both ends, gets the pixels
// whose centres lie within half the band's height of the line. With
// dotWidth > 0 only the first of every three runs of dotWidth columns is set,
// counted from a.
template <bool SteepLine>
void fillBand(const PixelGrid& grid, qreal au, qreal av, qreal bu, qreal bv, qreal width,
              qreal extension, int dotWidth, QRgb colour) {
    const int uLimit = SteepLine ? grid.height : grid.width;
    const int vLimit = SteepLine ? grid.width : grid.height;
    const qreal du = bu - au;
    const qreal dv = bv - av;
    const qreal slope = dv / du;
    // Across a slanted band, a column holds more of it than its width.
    const qreal halfHeight = width / 2 * std::sqrt(du * du + dv * dv) / std::abs(du);

    const auto [firstU, lastU] =
        centresWithin(std::min(au, bu) - extension, std::max(au, bu) + extension);
    const int fromU = std::max(firstU, 0);
    const int toU = std::min(lastU, uLimit - 1);
    // Grid lines run straight along an axis: one span across for all columns.
    auto [firstV, lastV] = centresWithin(av - halfHeight, av + halfHeight);
    for (int u = fromU; u <= toU; ++u) {
        if (dotWidth > 0) {
            const int along = du > 0 ? u - firstU : lastU - u;
            if (along / dotWidth % dotPeriod >= dotOn)
                continue;
        }
        if (dv != 0) {
            const qreal v = av + slope * (u + 0.5 - au);
            std::tie(firstV, lastV) = centresWithin(v - halfHeight, v + halfHeight);
        }
        const int toV = std::min(lastV, vLimit - 1);
        for (int w = std::max(firstV, 0); w <= toV; ++w) {
            if constexpr (SteepLine)
                grid.bits[u * grid.stride + w] = colour;
            else
                grid.bits[w * grid.stride + u] = colour;
        }
    }
}

} // namespace

ImageSurface::ImageSurface() = default;

ImageSurface::~ImageSurface() = default;

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
    if (size == m_size && devicePixelRatio == m_devicePixelRatio && logicalDpi == m_logicalDpi)
        return;
    m_size = size;
    m_devicePixelRatio = devicePixelRatio;
    m_logicalDpi = logicalDpi;
    m_image = QImage();
    m_pixels = nullptr;
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
    // The caller may keep a copy, which the next line must not write into.
    m_pixels = nullptr;
    m_changed = false;
    return m_image;
}

void ImageSurface::setChangedHandler(std::function<void()> handler) {
    m_changedHandler = std::move(handler);
}

void ImageSurface::paintClear() {
    m_lines.clear();
    m_texts.clear();
    m_image.fill(m_background);
    markChanged();
}

QRgb* ImageSurface::pixels() {
    // Asked once per picture rather than per line: bits() checks whether the
    // image is shared every time.
    if (!m_pixels && !m_image.isNull())
        m_pixels = reinterpret_cast<QRgb*>(m_image.bits());
    return m_pixels;
}

void ImageSurface::paintLine(QPointF from, QPointF to, const Pen& pen) {
    if (pen.colour != m_lastColour) {
        m_lastColour = pen.colour;
        m_lastRgb = pen.colour.rgb();
    }
    m_lines.push_back(LineOp{from, to, m_lastRgb, pen.width, pen.style});
    renderLine(m_lines.back());
}

void ImageSurface::paintText(QPointF topLeft, const QString& text, qreal pointSize,
                             const QColor& colour) {
    m_texts.push_back(TextOp{topLeft, text, pointSize, colour, m_lines.size()});
    renderText(m_texts.back());
}

qreal ImageSurface::textLineHeight(qreal pointSize) const {
    if (m_pixelsPerUnitY <= 0 || m_image.isNull())
        return 0;
    // Metrics on the image's own resolution, so that the step down matches the
    // printed text.
    const QFontMetricsF metrics(fontAt(pointSize), &m_image);
    return metrics.lineSpacing() / m_pixelsPerUnitY;
}

void ImageSurface::renderLine(const LineOp& op) {
    QPointF a = toPixels(op.from);
    QPointF b = toPixels(op.to);
    const qreal left = -clipMargin;
    const qreal top = -clipMargin;
    const qreal right = m_size.width() + clipMargin;
    const qreal bottom = m_size.height() + clipMargin;
    // Most segments of a long history lie wholly left of the picture.
    if ((a.x() < left && b.x() < left) || (a.x() > right && b.x() > right) ||
        (a.y() < top && b.y() < top) || (a.y() > bottom && b.y() > bottom))
        return;
    QRgb* bits = pixels();
    if (!bits || !isFinite(a) || !isFinite(b))
        return;
    const bool inside = a.x() >= left && a.x() <= right && b.x() >= left && b.x() <= right &&
                        a.y() >= top && a.y() <= bottom && b.y() >= top && b.y() <= bottom;
    if (!inside && !clipSegment(a, b, left, top, right, bottom))
        return;

    // At ratio 1 a line one pixel wide lights the pixel it lies in. At ratio
    // r it is r device pixels wide (rounded), and moving it (r - 1) / 2 device
    // pixels right and down makes it light the same place: a line at x = 0
    // lights device columns 0 and 1 at ratio 2, not only column 0.
    const qreal ratio = m_devicePixelRatio;
    const qreal shift = (std::max(1, qRound(ratio)) - 1) / 2.0;
    a = a * ratio + QPointF(shift, shift);
    b = b * ratio + QPointF(shift, shift);
    // Pixels of the screen, however many device pixels one of them takes.
    const int width = std::max(1, qRound(std::max(op.width, 1) * ratio));
    const bool dotted = op.style == LineStyle::Dotted;
    const int dotWidth = dotted ? width : 0;
    // Solid lines get square ends half their width long, so that the short
    // segments of a curve overlap at their joints and even one shorter than a
    // pixel shows; dots end flat.
    const qreal extension = dotted ? 0.0 : width / 2.0;

    const PixelGrid grid{bits, m_image.bytesPerLine() / 4, m_image.width(), m_image.height()};
    const qreal dx = b.x() - a.x();
    const qreal dy = b.y() - a.y();
    if (dx == 0 && dy == 0) {
        // A point: a square of the pen's width.
        fillBand<false>(grid, a.x() - width / 2.0, a.y(), a.x() + width / 2.0, a.y(), width, 0, 0,
                        op.colour);
    } else if (std::abs(dx) >= std::abs(dy)) {
        fillBand<false>(grid, a.x(), a.y(), b.x(), b.y(), width, extension, dotWidth, op.colour);
    } else {
        fillBand<true>(grid, a.y(), a.x(), b.y(), b.x(), width, extension, dotWidth, op.colour);
    }
    markChanged();
}

void ImageSurface::renderText(const TextOp& op) {
    if (m_image.isNull())
        return;
    const QPointF at = toPixels(op.topLeft);
    // Far outside there is nothing to see, and the painter's fixed-point
    // glyph positions would overflow.
    constexpr qreal farAway = 1e5;
    if (!isFinite(at) || at.x() >= m_size.width() || at.y() >= m_size.height() ||
        at.x() < -farAway || at.y() < -farAway)
        return;
    const QFont font = fontAt(op.pointSize);
    QPainter painter(&m_image);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setFont(font);
    painter.setPen(op.colour);
    const QFontMetricsF metrics(font, &m_image);
    painter.drawText(QPointF(at.x(), at.y() + metrics.ascent()), op.text);
    markChanged();
}

void ImageSurface::redraw() {
    if (m_image.isNull())
        return;
    m_image.fill(m_background);
    auto text = m_texts.cbegin();
    for (size_t line = 0; line <= m_lines.size(); ++line) {
        for (; text != m_texts.cend() && text->linesBefore == line; ++text)
            renderText(*text);
        if (line < m_lines.size())
            renderLine(m_lines[line]);
    }
    markChanged();
}

void ImageSurface::updateUnits() {
    m_pixelsPerUnitX = m_scaleWidth > 0 ? m_size.width() / m_scaleWidth : 1.0;
    m_pixelsPerUnitY = m_scaleHeight > 0 ? m_size.height() / m_scaleHeight : 1.0;
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

} // namespace display
