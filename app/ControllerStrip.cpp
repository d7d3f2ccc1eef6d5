#include "ControllerStrip.h"

#include <QHeaderView>

#include <algorithm>

#include "Controller.h"

namespace app {

namespace {

constexpr int stripRowHeight = 20;
// More rows than this scroll rather than grow the window off the screen.
constexpr int mostRowsInSight = 8;
constexpr int columnWidths[] = {150, 70, 110, 110, 120};
const QStringList headings{QStringLiteral("Controller"),  QStringLiteral("Address"),
                           QStringLiteral("Temperature"), QStringLiteral("Setpoint"),
                           QStringLiteral("Link"),        QStringLiteral("Alarm")};

QString degrees(float raw, bool current) {
    if (!current || raw == Data::NO_DATA_RAW)
        return QStringLiteral("–");
    return QString::number(double(raw) / 10.0, 'f', 1) + QStringLiteral(" °C");
}

QString linkWord(const tklink::Controller& c) {
    if (c.valuesCurrent())
        return QStringLiteral("Link ok");
    if (c.answering())
        return QStringLiteral("No measurement");
    if (!c.lastAnswer().isValid() && c.missedPolls() == 0)
        return QStringLiteral("Waiting");
    return QStringLiteral("No answer");
}

} // namespace

StripRow stripRow(const tklink::Controller& c) {
    const tklink::ControllerValues& v = c.values();
    QString alarm = QStringLiteral("Normal");
    alarms::BandColour colour = alarms::BandColour::Hidden;
    if (c.alarmRules()) {
        if (const std::optional<alarms::Alarm> a = alarms::mostPressing(*c.alarmRules()))
            alarm = alarms::alarmName(*a) + QLatin1Char(' ') +
                    alarms::stateWord(c.alarmRules()->status(*a).state);
        colour = alarms::bandLook(*c.alarmRules()).colour;
    }
    return {{c.name(), QString::number(c.address()), degrees(v.measureRaw, c.valuesCurrent()),
             degrees(v.setpointRaw, c.valuesCurrent()), linkWord(c), alarm},
            colour};
}

ControllerStrip::ControllerStrip(int rows, QWidget* parent)
    : QTableWidget(rows, int(headings.size()), parent) {
    setObjectName(QStringLiteral("controllerStrip"));
    setHorizontalHeaderLabels(headings);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(stripRowHeight);
    horizontalHeader()->setFixedHeight(stripRowHeight);
    // The alarm's words take what the others leave.
    for (int c = 0; c + 1 < columnCount(); ++c)
        horizontalHeader()->resizeSection(c, columnWidths[c]);
    horizontalHeader()->setStretchLastSection(true);
    setEditTriggers(NoEditTriggers);
    setSelectionMode(NoSelection);
    setFocusPolicy(Qt::NoFocus);
    setShowGrid(false);
    setToolTip(QStringLiteral("Click a controller to show it"));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::black);
    palette.setColor(QPalette::Text, Qt::green);
    setPalette(palette);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columnCount(); ++c)
            setItem(r, c, new QTableWidgetItem);
    connect(this, &QTableWidget::cellClicked, this, [this](int row, int) { Q_EMIT chosen(row); });
}

int ControllerStrip::fittingHeight() const {
    return stripRowHeight * (1 + std::min(rowCount(), mostRowsInSight)) + 2 * frameWidth();
}

int ControllerStrip::leastHeight() const {
    return stripRowHeight * 2 + 2 * frameWidth();
}

void ControllerStrip::showRow(int row, const StripRow& content) {
    if (row < 0 || row >= rowCount())
        return;
    QColor back = Qt::black;
    QColor text = Qt::green;
    switch (content.colour) {
    case alarms::BandColour::FlashingRed:
        back = QColor(200, 0, 0);
        text = Qt::white;
        break;
    case alarms::BandColour::Red:
        // Acknowledged: still active, nothing left to do; dark, not bright.
        back = QColor(90, 0, 0);
        text = QColor(255, 160, 160);
        break;
    case alarms::BandColour::Amber:
        back = QColor(255, 176, 0);
        text = Qt::black;
        break;
    case alarms::BandColour::Hidden:
        break;
    }
    for (int c = 0; c < columnCount() && c < content.cells.size(); ++c) {
        QTableWidgetItem* cell = item(row, c);
        cell->setText(c == 0 && row == m_shown ? QStringLiteral("▶ ") + content.cells[c]
                                               : content.cells[c]);
        cell->setBackground(back);
        cell->setForeground(text);
        QFont font = cell->font();
        font.setBold(row == m_shown);
        cell->setFont(font);
    }
}

void ControllerStrip::markShown(int row) {
    m_shown = row;
}

} // namespace app
