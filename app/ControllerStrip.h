#pragma once

// The controllers of a bus, one compact row each under the panel: name,
// address, temperature, setpoint, link and alarm, the row coloured as the
// alarm band would be for it. A click on a row asks for that controller to
// be shown; the strip itself only shows what it is given.

#include <QStringList>
#include <QTableWidget>

#include "AlarmText.h"

namespace tklink {
class Controller;
}

namespace app {

struct StripRow {
    QStringList cells;
    alarms::BandColour colour = alarms::BandColour::Hidden;
};

// "oven2", "10", "215.3 °C", "200.0 °C", "Link ok", "High temperature
// active"; "–" for values that are not current.
StripRow stripRow(const tklink::Controller& controller);

class ControllerStrip : public QTableWidget {
    Q_OBJECT

public:
    explicit ControllerStrip(int rows, QWidget* parent = nullptr);

    // The height that holds every row, up to a few; more rows scroll.
    int fittingHeight() const;
    // The height that holds the headings and one row.
    int leastHeight() const;
    void showRow(int row, const StripRow& content);
    // The row of the controller shown above, marked.
    void markShown(int row);

Q_SIGNALS:
    void chosen(int row);

private:
    int m_shown = -1;
};

} // namespace app
