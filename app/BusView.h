#pragma once

// The window's side of a bus: which controller the read-outs, the status line
// and the trace show, each controller's own history kept while another is
// shown, the strip of all controllers, and the alarms of every controller on
// the band, the title, the notifications, the tone and the audit trail, each
// naming its controller. The shown controller's values are copied into Data,
// which the read-outs, the trace and the recorder read.

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

#include "AlarmRules.h"
#include "CurveTrace.h"

namespace tklink {
class ControllerSession;
}

namespace app {

class AlarmBand;
class AlarmNotifier;
class AlarmTone;
class ControllerStrip;

// "oven1" while no alarm waits; "ALARM oven3, oven4 – oven1" while alarms of
// oven3 and oven4 wait for the operator; "ALARM oven3, oven4" when oven3 is
// shown and waits too.
QString busTitle(const QString& shown, const QStringList& waiting);

class BusView : public QObject {
    Q_OBJECT

public:
    // What the window does with what the bus view decides.
    struct Hooks {
        std::function<void(bool current)> showReadouts; // from Data's values
        std::function<void(const QString& text)> showStatus;
        std::function<void()> redrawTrace;
        // The title's words before the program's name.
        std::function<void(const QString& words)> setTitle;
        std::function<void(const QString& event)> auditEvent;
        // A poll of the shown controller ended.
        std::function<void()> polled;
    };

    BusView(tklink::ControllerSession& session, ControllerStrip& strip, AlarmBand& band,
            AlarmTone& tone, Hooks hooks, QObject* parent = nullptr);
    ~BusView() override;

    // Shows controllers()[index]: its values, status and past at once.
    void show(int index);
    // A tick of the trace: the controllers not shown keep their samples.
    void storeSamples(const QString& timeOfDay);

private:
    void watch(int index);
    void copyShownValues();
    void alarmChanged(int index, const alarms::AlarmChange& change);
    void showAlarmState();
    void showRow(int index);

    tklink::ControllerSession& m_session;
    ControllerStrip& m_strip;
    AlarmBand& m_band;
    AlarmTone& m_tone;
    Hooks m_hooks;
    // Index by controller; the shown one's entry is spare, its rings in Data.
    std::vector<display::HistoryRings> m_rings;
    QStringList m_status;
    QList<AlarmNotifier*> m_notifiers;
    // The controller whose alarm the band shows, -1 when hidden.
    int m_bandController = -1;
};

} // namespace app
