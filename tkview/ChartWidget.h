#pragma once

// The chart on screen: keeps the picture in an image that follows the
// widget's size, redrawn only when the window of time or the options change;
// paintEvent copies it and adds the cursor line and the rubber band. Mouse
// and keys move the window of time.

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <optional>

#include "ChartPainter.h"
#include "TimeWindow.h"

namespace tkview {

struct Recordings;

class ChartWidget : public QWidget {
    Q_OBJECT

public:
    explicit ChartWidget(QWidget* parent = nullptr);

    // Shows recordings (not owned; nullptr for none), all of them.
    void setRecordings(const Recordings* recordings);
    void setShowPower(bool show);
    bool showPower() const { return m_options.showPower; }
    TimeWindow window() const { return m_window; }
    void setWindow(const TimeWindow& window);
    void showAll();
    // The chart as shown, drawn anew on painter over area (an image, an SVG, a PDF).
    void paintChartOn(QPainter& painter, const QRectF& area, bool vector) const;

Q_SIGNALS:
    void windowChanged(tkview::TimeWindow window);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    TimeWindow allTime() const;
    void redraw();
    void drawCursor(QPainter& painter) const;

    const Recordings* m_recordings = nullptr;
    ChartOptions m_options;
    TimeWindow m_window;
    ChartLayout m_layout;
    QImage m_picture;
    std::optional<QPoint> m_mouse;    // for the cursor line
    std::optional<QPoint> m_panFrom;  // while dragging to pan
    TimeWindow m_panWindow;           // the window when the drag began
    std::optional<QPoint> m_bandFrom; // while dragging a rubber band
};

} // namespace tkview
