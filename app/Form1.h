#pragma once

// The main window: read-outs, graph, status lines, the three keys, the three
// timers and the serial port. Its construction runs the start-up sequence;
// closing it releases the port.

#include <QDateTime>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <utility>

#include "RunActions.h"
#include "SerialPortControl.h"

namespace display {
class GraphBox;
}
namespace tklink {
class ControllerSession;
}

class QLabel;
class QLineEdit;
class QTimer;

namespace recording {
class Recorder;
}
namespace sealing {
class ProgramSeals;
}
namespace settings {
class Parameters_dialog;
}

namespace alarms {
struct AlarmChange;
}

namespace app {

class AlarmBand;
class AlarmNotifier;
class AlarmTone;
class AttachedMode;
class BusView;
class ControllerStrip;
class PanelButton;
class SetpointAction;

// What the main window takes from the outside world. Empty members get the
// real thing: port numbers named by conf.ini and the platform, a modal
// message box (detail is its informative text), the system clock, and the
// run's and the marked event's dialogs.
struct Form1Seams {
    tklink::SerialPortControl::DeviceResolver deviceForPort;
    std::function<void(const QString& caption, const QString& text, const QString& detail)>
        showError;
    std::function<QDateTime()> now;
    RunAsks runAsks;
    // The client area the screen leaves for the window.
    std::function<QSize()> screenRoom;
};

class Form1 : public QWidget {
    Q_OBJECT

public:
    explicit Form1(Form1Seams seams = {}, QWidget* parent = nullptr);
    ~Form1() override;

    // (Re)opens the configured port; the outcome is in Data::portConnected.
    void open_port();

    tklink::SerialPortControl& serialPort();

    // Shows the Parameters dialog, loading it first when it is not open.
    void showParameters();
    settings::Parameters_dialog* parametersDialog() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void createControls();
    void load();
    void unload();
    void traceCurves();
    // Data's values, or the no-data placeholder.
    void showReadouts(bool current);
    void attachToRecorder(const QString& folder);
    // The strip of rows controllers under the panel, made afresh, the window
    // grown to hold it; none for fewer than two.
    ControllerStrip* placeStrip(int rows);
    // Puts the session on the bus of conf.ini's [Controllers] when onBus, and
    // shows the first controller (the one at address 9 without a bus); with
    // several, through showBus.
    void followBus(bool onBus);
    // The strip of every controller under the panel, the one shown chosen
    // there, and every controller's alarms and records.
    void showBus();
    // Band, title, notification and tone after an alarm changed state.
    void showAlarms(const alarms::AlarmChange& change);
    QStringList presentDevices() const;
    // The trail, opened at the first call: the turn after the first paint,
    // or an event before it.
    sealing::ProgramSeals& seals();

    Form1Seams m_seams;
    QPointer<settings::Parameters_dialog> m_parameters;
    // The panel behind the controls, drawn once for the window's size and
    // pixel ratio: a read-out or a status line that changes repaints the panel
    // under it, and drawing the panel afresh costs some 20 ms each time.
    QImage m_panel;
    // The read-outs' font at their design size, and the room for a text.
    QFont m_readoutFont;
    QSize m_readoutRoom;

    display::GraphBox* Graph = nullptr;
    QLineEdit* meas_box = nullptr;
    QLineEdit* setp_box = nullptr;
    QLineEdit* status_field = nullptr;
    QLineEdit* recording_field = nullptr;
    PanelButton* parametersButton = nullptr;
    PanelButton* Start_stop_recording = nullptr;
    PanelButton* exitButton = nullptr;
    PanelButton* markEventButton = nullptr;
    PanelButton* runButton = nullptr;
    QLabel* versionLabel = nullptr;
    // The shown controller's name, beside the read-outs; empty without names.
    QLabel* shownName = nullptr;
    QTimer* timerTraceCurves = nullptr;
    // The port, the poll and record timers and the poll cycle.
    tklink::ControllerSession* m_session = nullptr;
    recording::Recorder* m_recorder = nullptr;
    AlarmBand* m_alarmBand = nullptr;
    AlarmNotifier* m_notifier = nullptr;
    AlarmTone* m_tone = nullptr;
    // On a bus only.
    ControllerStrip* m_strip = nullptr;
    BusView* m_busView = nullptr;
    // "Setpoint…", when conf.ini allows writes.
    SetpointAction* m_setpointAction = nullptr;
    AttachedMode* m_attached = nullptr;
    // The key, the recordings' seals and audit.log: "stopped" goes in with
    // the window.
    std::unique_ptr<sealing::ProgramSeals> m_seals;
    std::unique_ptr<RunActions> m_run;
    QList<std::pair<QString, QString>> m_savedSettings;
};

} // namespace app
