#pragma once

// The picture box `Graph` of the main window: a persistent picture that the
// curve trace draws on and that the widget repaints from, and a click that
// the main window turns into the Parameters action.

#include <QImage>
#include <QWidget>

#include "ImageSurface.h"

namespace display {

class GraphBox : public QWidget {
    Q_OBJECT

public:
    explicit GraphBox(QWidget* parent = nullptr);
    ~GraphBox() override;

    // Start-up: from now on the picture uses a user scale of width units
    // across and height units down, however many pixels the widget has.
    void setPersistentScale(qreal width, qreal height);

    DrawingSurface& surface() { return m_surface; }

    // The picture as drawn so far, at the widget's size and pixel ratio.
    const QImage& picture();

Q_SIGNALS:
    // A left-button click anywhere on the picture.
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void followWidget();
    void takeFontAndColours();

    ImageSurface m_surface;
    bool m_pressed = false;
};

} // namespace display
