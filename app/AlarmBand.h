#pragma once

// The band above the graph, left of the read-outs, while an alarm is not
// normal: what, the value and since when, and the "Acknowledge" button. Red
// and flashing while unacknowledged, steady red once acknowledged, amber when
// cleared but not yet acknowledged.

#include <QFrame>
#include <QTimer>

#include "AlarmText.h"

class QLabel;
class QPushButton;

namespace app {

class AlarmBand : public QFrame {
    Q_OBJECT

public:
    explicit AlarmBand(QWidget* parent = nullptr);

    void showLook(const alarms::BandLook& look);
    alarms::BandColour colour() const { return m_colour; }

Q_SIGNALS:
    void acknowledgeClicked();

private:
    void paintColour(const QColor& colour);

    QLabel* m_text;
    QPushButton* m_acknowledge;
    QTimer m_flash;
    bool m_flashOn = false;
    alarms::BandColour m_colour = alarms::BandColour::Hidden;
};

} // namespace app
