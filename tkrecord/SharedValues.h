#pragma once

// What the recorder shares with other systems (MQTT, the Modbus TCP share):
// each controller's latest values, link and alarms, taken from the signals
// its controller gives, never from the line. A change is told once per
// poll, after every signal of that poll has come.

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <optional>

#include "AlarmRules.h"
#include "Controller.h"
#include "ShareRequest.h"

namespace tkrecord {

struct SharedController {
    QString name;
    uint8_t address = 0;
    // Raw register values; only while current.
    std::optional<tklink::ControllerValues> values;
    // Valid answers come (perhaps without a measurement).
    bool linkUp = false;
    // The metric labels of the alarms active now, in alarms::allAlarms order.
    QStringList alarms;
    // The last valid answer's time; invalid before the first.
    QDateTime answeredAt;

    // All but the time: a new answer with the same values is no change.
    bool sameState(const SharedController& other) const {
        return values == other.values && linkUp == other.linkUp && alarms == other.alarms;
    }
};

// An alarm raised, acknowledged or cleared.
struct SharedAlarmEvent {
    QString event; // "raised", "acknowledged", "cleared"
    alarms::Alarm alarm;
    QDateTime at;
};

// The event word of a change: "raised", "acknowledged" or "cleared".
QString alarmEventWord(const alarms::AlarmChange& change);

class SharedValues : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    explicit SharedValues(Clock now, QObject* parent = nullptr);

    // Follows controller from now on; its index is the order of the calls.
    void watch(tklink::Controller& controller);
    const QList<SharedController>& controllers() const { return m_shared; }
    // The registers of the controller at that address while its values are
    // current.
    std::optional<ShareRegisters> registers(uint8_t unit) const;

Q_SIGNALS:
    // Once per poll at most, with the state as it is then.
    void changed(int index);
    // As it happens, in order, before the changed() of its poll.
    void alarmEvent(int index, const tkrecord::SharedAlarmEvent& event);

private:
    void update(int index);
    void tellChanges();

    Clock m_now;
    QList<tklink::Controller*> m_controllers;
    QList<SharedController> m_shared;
    QList<bool> m_dirty;
    // Zero-time and single-shot: fires once the poll's signals are all in.
    QTimer m_tell;
};

} // namespace tkrecord
