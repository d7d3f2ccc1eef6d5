#pragma once

// The pictures of the front panel, drawn in code: the window's background and
// the three looks of the picture buttons.

#include <QAbstractButton>
#include <QList>
#include <QRect>

class QPainter;

namespace app {

// Lettering engraved into the panel.
struct PanelCaption {
    QRect area;
    QString text;
    qreal pointSize = 7;
    Qt::Alignment alignment = Qt::AlignCenter;
};

// Brushed dark metal with recessed bezels around the given windows (the graph,
// the read-outs, the status lines), engraved captions and four screws.
void paintPanelBackground(QPainter& painter, const QRect& area, const QList<QRect>& bezels,
                          const QList<PanelCaption>& captions);

// A push button with the panel's key picture behind its caption: raised when
// normal, sunken while pressed, flat and dim when disabled.
class PanelButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit PanelButton(const QString& caption, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace app
