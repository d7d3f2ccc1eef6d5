#include "ChartWidget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>

#include "Recordings.h"
#include "SummaryText.h"

namespace tkview {

namespace {

constexpr double zoomStep = 1.5; // per key press or wheel notch

QString valueText(std::int16_t raw, double scale, const char* unit) {
    return raw == noValue
               ? QStringLiteral("no data")
               : QString::number(raw * scale, 'f', scale < 1 ? 1 : 0) + QString::fromUtf8(unit);
}

} // namespace

ChartWidget::ChartWidget(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(400, 250);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_options.font = font();
}

void ChartWidget::setRecordings(const Recordings* recordings) {
    m_recordings = recordings;
    m_options.markers = recordings != nullptr ? &recordings->trail.markers : nullptr;
    m_window = allTime();
    redraw();
    Q_EMIT windowChanged(m_window);
}

void ChartWidget::setShowPower(bool show) {
    m_options.showPower = show;
    redraw();
}

void ChartWidget::setWindow(const TimeWindow& window) {
    const TimeWindow kept = clampedWindow(window.fromMs, window.toMs, allTime());
    if (kept == m_window)
        return;
    m_window = kept;
    redraw();
    Q_EMIT windowChanged(m_window);
}

void ChartWidget::showAll() {
    setWindow(allTime());
}

TimeWindow ChartWidget::allTime() const {
    if (m_recordings == nullptr || m_recordings->timeline.isEmpty())
        return {0, minimumSpanMs};
    return {m_recordings->timeline.firstMs(), m_recordings->timeline.lastMs()};
}

void ChartWidget::paintChartOn(QPainter& painter, const QRectF& area, bool vector) const {
    if (m_recordings == nullptr)
        return;
    ChartOptions options = m_options;
    options.antialiased = vector;
    const ChartLayout layout =
        chartLayout(area, m_window, m_recordings->timeline, m_recordings->levels, options);
    paintChart(painter, layout, m_recordings->timeline, m_recordings->levels, options);
}

void ChartWidget::redraw() {
    const qreal ratio = devicePixelRatioF();
    m_picture = QImage(size() * ratio, QImage::Format_RGB32);
    m_picture.setDevicePixelRatio(ratio);
    if (m_recordings != nullptr) { // paintChart fills the whole picture
        QPainter painter(&m_picture);
        m_layout = chartLayout(QRectF(rect()), m_window, m_recordings->timeline,
                               m_recordings->levels, m_options);
        paintChart(painter, m_layout, m_recordings->timeline, m_recordings->levels, m_options);
    } else {
        m_picture.fill(Qt::white);
        QPainter painter(&m_picture);
        painter.setPen(Qt::darkGray);
        painter.drawText(rect(), Qt::AlignCenter,
                         QStringLiteral("Open recordings with File ▸ Open, or drop them here."));
    }
    update();
}

void ChartWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, m_picture);
    drawCursor(painter);
    if (m_bandFrom && m_mouse) {
        const QRectF band = QRectF(QPointF(*m_bandFrom), QPointF(*m_mouse)).normalized();
        painter.fillRect(
            QRectF(band.left(), m_layout.plot.top(), band.width(), m_layout.plot.height()),
            QColor(60, 120, 220, 50));
    }
}

void ChartWidget::drawCursor(QPainter& painter) const {
    if (m_recordings == nullptr || !m_mouse || m_bandFrom ||
        !m_layout.plot.contains(QPointF(*m_mouse)) || m_recordings->timeline.isEmpty())
        return;
    const Timeline& timeline = m_recordings->timeline;
    const std::int64_t at = m_layout.timeAt(m_mouse->x());
    std::size_t i = std::min(timeline.lowerBound(at), timeline.records.size() - 1);
    if (i > 0 && at - timeline.records[i - 1].timeMs < timeline.records[i].timeMs - at)
        --i;
    const Record& record = timeline.records[i];
    const double x = m_layout.xOf(record.timeMs);
    painter.setPen(QPen(QColor(80, 80, 80), 0, Qt::DashLine));
    painter.drawLine(QPointF(x, m_layout.plot.top()), QPointF(x, m_layout.plot.bottom()));
    const QStringList lines{
        timeText(record.timeMs, timeline.zone),
        QStringLiteral("Temperature %1").arg(valueText(record.temperature, 0.1, " °C")),
        QStringLiteral("Setpoint %1").arg(valueText(record.setpoint, 0.1, " °C")),
        QStringLiteral("Power %1").arg(valueText(record.power, 1.0, " %"))};
    const QFontMetrics metrics(font());
    int width = 0;
    for (const QString& line : lines)
        width = std::max(width, metrics.horizontalAdvance(line));
    QRectF box(0, m_layout.plot.top() + 6, double(width + 12),
               double(lines.size() * metrics.height() + 8));
    box.moveLeft(x + 8 + box.width() < m_layout.plot.right() ? x + 8 : x - 8 - box.width());
    painter.setPen(QColor(120, 120, 120));
    painter.setBrush(QColor(255, 255, 255, 230));
    painter.drawRect(box);
    painter.setPen(Qt::black);
    for (int n = 0; n < lines.size(); ++n)
        painter.drawText(
            QPointF(box.left() + 6, box.top() + 4 + metrics.ascent() + n * metrics.height()),
            lines[n]);
}

void ChartWidget::resizeEvent(QResizeEvent*) {
    redraw();
}

void ChartWidget::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0 || m_recordings == nullptr)
        return;
    const std::int64_t at = m_layout.timeAt(event->position().x());
    setWindow(zoomedAround(m_window, at, std::pow(zoomStep, -notches), allTime()));
    event->accept();
}

void ChartWidget::mousePressEvent(QMouseEvent* event) {
    m_mouse = event->position().toPoint();
    const bool band =
        event->button() == Qt::RightButton ||
        (event->button() == Qt::LeftButton && event->modifiers().testFlag(Qt::ShiftModifier));
    if (band)
        m_bandFrom = m_mouse;
    else if (event->button() == Qt::LeftButton) {
        m_panFrom = m_mouse;
        m_panWindow = m_window;
        setCursor(Qt::ClosedHandCursor);
    }
}

void ChartWidget::mouseMoveEvent(QMouseEvent* event) {
    m_mouse = event->position().toPoint();
    if (m_panFrom && m_layout.plot.width() > 0) {
        const double shift = double(m_panFrom->x() - m_mouse->x()) / m_layout.plot.width();
        setWindow(panned(m_panWindow, std::int64_t(shift * double(m_panWindow.span())), allTime()));
    }
    update();
}

void ChartWidget::mouseReleaseEvent(QMouseEvent* event) {
    m_mouse = event->position().toPoint();
    if (m_bandFrom) {
        const QPoint from = *m_bandFrom;
        m_bandFrom.reset();
        if (std::abs(from.x() - m_mouse->x()) > 3)
            setWindow(
                clampedWindow(m_layout.timeAt(from.x()), m_layout.timeAt(m_mouse->x()), allTime()));
    }
    m_panFrom.reset();
    unsetCursor();
    update();
}

void ChartWidget::mouseDoubleClickEvent(QMouseEvent*) {
    showAll();
}

void ChartWidget::keyPressEvent(QKeyEvent* event) {
    const std::int64_t middle = m_window.fromMs + m_window.span() / 2;
    const std::int64_t tenth = m_window.span() / 10;
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
    case Qt::Key_Up:
        setWindow(zoomedAround(m_window, middle, 1 / zoomStep, allTime()));
        break;
    case Qt::Key_Minus:
    case Qt::Key_Down:
        setWindow(zoomedAround(m_window, middle, zoomStep, allTime()));
        break;
    case Qt::Key_Left:
        setWindow(panned(m_window, -tenth, allTime()));
        break;
    case Qt::Key_Right:
        setWindow(panned(m_window, tenth, allTime()));
        break;
    case Qt::Key_Home:
        showAll();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void ChartWidget::leaveEvent(QEvent*) {
    m_mouse.reset();
    update();
}

} // namespace tkview
