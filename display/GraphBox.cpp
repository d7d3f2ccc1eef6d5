#include "GraphBox.h"

#include <QMouseEvent>
#include <QPainter>

namespace display {

GraphBox::GraphBox(QWidget* parent) : QWidget(parent) {
    // The picture covers every pixel of the widget.
    setAttribute(Qt::WA_OpaquePaintEvent);
    takeFontAndColours();
    m_surface.setChangedHandler([this] { update(); });
    followWidget();
}

GraphBox::~GraphBox() = default;

void GraphBox::setPersistentScale(qreal width, qreal height) {
    followWidget();
    m_surface.setScale(width, height);
}

const QImage& GraphBox::picture() {
    followWidget();
    return m_surface.image();
}

void GraphBox::paintEvent(QPaintEvent*) {
    // Moving to a screen with another pixel ratio reaches us only as a
    // repaint; the picture is redrawn for it before it is shown.
    followWidget();
    const QImage& image = m_surface.image();
    QPainter painter(this);
    if (image.isNull())
        painter.fillRect(rect(), m_surface.background());
    else
        painter.drawImage(QPointF(0, 0), image);
}

void GraphBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    followWidget();
}

void GraphBox::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange)
        takeFontAndColours();
}

void GraphBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_pressed = true;
    QWidget::mousePressEvent(event);
}

void GraphBox::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = event->button() == Qt::LeftButton && m_pressed &&
                       rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        m_pressed = false;
    QWidget::mouseReleaseEvent(event);
    if (click)
        Q_EMIT clicked();
}

void GraphBox::followWidget() {
    m_surface.resize(size(), devicePixelRatioF(), logicalDpiY());
}

void GraphBox::takeFontAndColours() {
    // The control's own font and colours are the drawing's defaults, as on a
    // picture box: the trace changes only the size, and the colour of each
    // thing it draws.
    m_surface.setFont(font());
    m_surface.setFontSize(font().pointSizeF());
    m_surface.setBackground(palette().color(backgroundRole()));
    const QColor fore = palette().color(foregroundRole());
    m_surface.setForeColor(fore.red(), fore.green(), fore.blue());
}

} // namespace display
