#pragma once

// The panel beside the chart: the summary of the shown range, and the band
// around the setpoint that it counts time in.

#include <QList>
#include <QWidget>

#include "Summary.h"

class QDoubleSpinBox;
class QFormLayout;
class QLabel;
class QTimeZone;

namespace tkview {

class SummaryPanel : public QWidget {
    Q_OBJECT

public:
    explicit SummaryPanel(QWidget* parent = nullptr);

    void showSummary(const Summary& summary, const QTimeZone& zone);
    double band() const;

Q_SIGNALS:
    void bandChanged(double degrees);

private:
    QFormLayout* m_form;
    QList<QLabel*> m_names;
    QList<QLabel*> m_values;
    QDoubleSpinBox* m_band;
};

} // namespace tkview
