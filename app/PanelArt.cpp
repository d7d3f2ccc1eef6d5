#include "PanelArt.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace app {

namespace {

void paintScrew(QPainter& painter, QPointF centre) {
    QRadialGradient head(centre - QPointF(1.5, 1.5), 6);
    head.setColorAt(0, QColor(200, 204, 210));
    head.setColorAt(1, QColor(70, 74, 80));
    painter.setPen(QPen(QColor(20, 22, 25), 1));
    painter.setBrush(head);
    painter.drawEllipse(centre, 5, 5);
    painter.setPen(QPen(QColor(40, 42, 46), 1.5));
    painter.drawLine(centre + QPointF(-3, 2), centre + QPointF(3, -2));
}

// A window cut into the panel: dark shadow at the top left, light edge at the
// bottom right, a few pixels around the control.
void paintBezel(QPainter& painter, const QRect& window) {
    // The read-outs stand 7 pixels above the graph: 3 pixels of rim each.
    const QRectF outer = QRectF(window).adjusted(-3, -3, 3, 3);
    QLinearGradient rim(outer.topLeft(), outer.bottomRight());
    rim.setColorAt(0, QColor(12, 13, 15));
    rim.setColorAt(1, QColor(120, 126, 134));
    painter.setPen(Qt::NoPen);
    painter.setBrush(rim);
    painter.drawRoundedRect(outer, 4, 4);
    painter.setBrush(QColor(8, 8, 8));
    painter.drawRect(QRectF(window).adjusted(-1, -1, 1, 1));
}

// Small engraved lettering: a dark cut with a light lower edge.
void paintEngraving(QPainter& painter, const PanelCaption& caption) {
    QFont font = painter.font();
    font.setPointSizeF(caption.pointSize);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    painter.setFont(font);
    painter.setPen(QColor(255, 255, 255, 40));
    painter.drawText(caption.area.translated(0, 1), static_cast<int>(caption.alignment),
                     caption.text);
    painter.setPen(QColor(200, 206, 214));
    painter.drawText(caption.area, static_cast<int>(caption.alignment), caption.text);
}

} // namespace

void paintPanelBackground(QPainter& painter, const QRect& area, const QList<QRect>& bezels,
                          const QList<PanelCaption>& captions) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient plate(area.topLeft(), area.bottomLeft());
    plate.setColorAt(0, QColor(58, 62, 68));
    plate.setColorAt(1, QColor(34, 37, 41));
    painter.fillRect(area, plate);

    // Fine horizontal brushing.
    for (int y = area.top(); y <= area.bottom(); y += 3) {
        const int shade = (y * 7919) % 9;
        painter.setPen(QColor(255, 255, 255, 4 + shade));
        painter.drawLine(area.left(), y, area.right(), y);
    }

    // The key column on the left, slightly darker.
    painter.fillRect(QRect(area.left(), area.top(), 92, area.height()), QColor(0, 0, 0, 40));
    painter.setPen(QColor(0, 0, 0, 90));
    painter.drawLine(area.left() + 92, area.top(), area.left() + 92, area.bottom());

    for (const QRect& window : bezels)
        paintBezel(painter, window);

    for (const PanelCaption& caption : captions)
        paintEngraving(painter, caption);

    const QRectF r = QRectF(area).adjusted(10, 10, -10, -10);
    for (const QPointF& corner : {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()})
        paintScrew(painter, corner);

    painter.restore();
}

PanelButton::PanelButton(const QString& caption, QWidget* parent) : QAbstractButton(parent) {
    setText(caption);
    setFocusPolicy(Qt::StrongFocus);
}

QSize PanelButton::sizeHint() const {
    return {89, 25};
}

void PanelButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF key = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const bool pressed = isDown();
    const bool enabled = isEnabled();

    QLinearGradient face(key.topLeft(), key.bottomLeft());
    if (!enabled) {
        face.setColorAt(0, QColor(78, 80, 84));
        face.setColorAt(1, QColor(70, 72, 76));
    } else if (pressed) {
        face.setColorAt(0, QColor(60, 64, 70));
        face.setColorAt(1, QColor(96, 102, 110));
    } else {
        face.setColorAt(0, QColor(176, 182, 190));
        face.setColorAt(0.5, QColor(128, 134, 142));
        face.setColorAt(1, QColor(92, 97, 104));
    }
    painter.setPen(QPen(QColor(16, 17, 19), 1));
    painter.setBrush(face);
    painter.drawRoundedRect(key, 4, 4);

    if (enabled && !pressed) {
        // Highlight along the top edge of a raised key.
        painter.setPen(QPen(QColor(255, 255, 255, 110), 1));
        painter.drawLine(key.topLeft() + QPointF(4, 1.5), key.topRight() + QPointF(-4, 1.5));
    }
    if (hasFocus()) {
        painter.setPen(QPen(QColor(255, 200, 40, 160), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(key.adjusted(2, 2, -2, -2), 3, 3);
    }

    painter.setFont(font());
    // Clear of the rounded edges: a caption as wide as the key wraps instead.
    const QRectF textArea = key.adjusted(4, 0, -4, 0).translated(pressed ? 1 : 0, pressed ? 1 : 0);
    if (enabled) {
        painter.setPen(pressed ? QColor(230, 230, 230) : QColor(15, 15, 15));
    } else {
        painter.setPen(QColor(130, 132, 136));
    }
    painter.drawText(textArea, Qt::AlignCenter | Qt::TextWordWrap, text());
}

} // namespace app
