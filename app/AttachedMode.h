#pragma once

// The window attached to a running tkrecord instead of opening the port the
// recorder holds. It shows the recorder's controllers as the window shows
// its own bus: the read-outs, status line and graph of the one shown (the
// graph filled at once with the last hour the recorder keeps), the strip of
// all of them when there are several, and their alarms on the band, the
// title, the tone and the notifications. What the operator does goes to the
// recorder, which writes it into its trail with the user the kernel names:
// acknowledgements, "New run…", "Mark event…" and "Setpoint…" (the same
// dialog as the window's own, with the recorder's limits and outcome). The
// recorder records all the time: there is no "Stop recording" here.

#include <QDateTime>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

#include "CurveTrace.h"
#include "RecorderClient.h"

class QAbstractButton;
class QLabel;
class QLineEdit;
class QWidget;

namespace settings {
class Setpoint_dialog;
}

namespace app {

class AlarmBand;
class AlarmNotifier;
class AlarmTone;
class ControllerStrip;

struct AttachedWidgets {
    QWidget* window;
    QLineEdit* status;
    QLineEdit* recording;
    QLineEdit* setpointReadout;
    QAbstractButton* startStop;
    QAbstractButton* mark;
    QLabel* shownName;
    AlarmBand* band;
    AlarmTone* tone;
    // The keys' font, for "Setpoint…".
    QFont keyFont;
    std::function<QDateTime()> now;
    // Shows the read-outs from Data, current or not.
    std::function<void(bool current)> showReadouts;
    // Asks the operator for a text (the event, the batch); empty: cancelled.
    std::function<QString(const QString& question)> ask;
    // The title's words before the program's name; empty: the name alone.
    std::function<void(const QString& words)> setTitle;
    // Draws the graph again from Data's rings.
    std::function<void()> redrawTrace;
    // The strip of rows controllers under the panel, made afresh in place of
    // the one before; none for fewer than two.
    std::function<ControllerStrip*(int rows)> makeStrip;
};

class AttachedMode : public QObject {
    Q_OBJECT

public:
    AttachedMode(const QString& folder, AttachedWidgets widgets, QObject* parent = nullptr);
    ~AttachedMode() override;

    attach::RecorderClient& client() { return m_client; }
    // Shows the recorder's index-th controller: its values, status and past.
    void show(int index);
    // A tick of the trace: the controllers not shown keep their samples.
    void storeSamples(const QString& timeOfDay);
    // Null while the recorder writes no setpoints.
    QAbstractButton* setpointButton() const { return m_setpointButton; }
    settings::Setpoint_dialog* setpointDialog() const { return m_setpointDialog.data(); }
    // Opens the setpoint dialog for the controller shown.
    void openSetpoint();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Controller {
        attach::RecorderValues values;
        display::HistoryRings rings; // the shown one's are Data's
        AlarmNotifier* notifier = nullptr;
    };

    void onAttached(bool attached);
    void onHistory(const QString& controller, const QList<QList<double>>& points);
    void onValues(const attach::RecorderValues& values);
    void takeControllers();
    void tellAlarmChanges(int index, const alarms::AlarmStatuses& before);
    void showAlarmState();
    void showShown();
    void showRow(int index);
    void showSetpointController();
    void acknowledge(int index, std::optional<alarms::Alarm> alarm);
    int indexOf(const QString& controller) const;
    void shownNothing();

    attach::RecorderClient m_client;
    AttachedWidgets m_widgets;
    QStringList m_names;
    std::vector<Controller> m_controllers;
    int m_shown = 0;
    // The controller whose alarm the band shows, -1 when hidden.
    int m_bandController = -1;
    ControllerStrip* m_strip = nullptr;
    QAbstractButton* m_setpointButton = nullptr;
    QPointer<settings::Setpoint_dialog> m_setpointDialog;
};

} // namespace app
