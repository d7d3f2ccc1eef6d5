#pragma once

// The poll-and-record session both programs run: the configured port, the
// poll timer, the bus of the controllers conf.ini names or, without
// [Controllers], the bus of the one controller at address 9 asked at each tick
// of the poll timer, the reconnection policy and the record timer. It says
// what happened as typed values; the window and tkrecord turn them into their
// own words and add what only they do (the read-outs and the Recorder;
// counters, daily files and log lines).

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

#include "AlarmRules.h"
#include "Bus.h"
#include "Controller.h"
#include "GatewayLine.h"
#include "LineOwner.h"
#include "PortLine.h"
#include "SerialLine.h"
#include "SerialPortControl.h"
#include "SetpointWrite.h"

namespace tklink {

class ControllerSession : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    // Who brings a missing port back.
    enum class Reconnect {
        // Only a port lost while polling (adapter pulled) is reopened, at each
        // tick; a failed open by the operator stays theirs to redo.
        AfterLoss,
        // Unattended: a missing port is reopened before every poll.
        BeforeEveryPoll,
    };

    // The record period when the settings set none.
    static constexpr int defaultRecordMs = 20000;
    // First poll after the start: the window leaves time for its start-up
    // box to be read; tkrecord polls at the poll period.
    static constexpr int windowFirstPollMs = 5000;
    static constexpr int headlessFirstPollMs = Bus::pollIntervalMs;

    ControllerSession(SerialPortControl::DeviceResolver deviceForPort, Clock now,
                      Reconnect reconnect, QObject* parent = nullptr);

    // The operator's (or start-up's) open of port Data::comPortNum at
    // Data::comPortSpeed; the outcome is in Data::portConnected and told by
    // portOpenTried. Whatever the outcome, the port is theirs again: a lost
    // adapter is no longer reopened by itself.
    void openPort();
    // Before start(): the controllers of a [Controllers] section, polled on
    // the bus on its own schedule with its timing; they replace the one
    // controller there was. Without a call, or with an empty list, the one
    // unnamed controller at address 9 is asked at each tick of the poll timer.
    void setBus(const QList<ControllerId>& controllers, const BusTiming& timing);
    // The controllers are on the bus's own schedule (conf.ini has [Controllers]).
    bool onBus() const { return !m_bus->paced(); }
    // Every controller in conf.ini's order; the one unnamed controller at
    // address 9 without [Controllers]. Never empty.
    const QList<Controller*>& controllers() const { return m_bus->controllers(); }
    // The one the window shows and whose alarms alarmChanged tells: the first
    // until setShownController.
    Controller& shownController() const { return *controllers().at(m_shown); }
    int shownIndex() const { return m_shown; }
    // Shows controllers()[index] from now on; an index out of range is ignored.
    void setShownController(int index);
    // Asks the controllers: on its own schedule, or paced by the poll timer.
    Bus& bus() { return *m_bus; }
    const Bus& bus() const { return *m_bus; }

    // Starts the poll timer (first poll after firstPollMs), the record
    // timer and the alarms with the limits in Data::alarms.
    void start(int firstPollMs, int recordMs);
    // Stops both timers and closes the port.
    void stop();
    void closePort();
    // Lends the port to another user (the controller search): closed, not
    // connected, and not reopened until openPort().
    void releasePort();

    SerialPortControl& port() { return m_port; }
    // The connection to the gateway, when the port names one.
    GatewayLine& gateway() { return *m_gateway; }
    // The last open was of a port that names a gateway, well or badly.
    bool onGateway() const { return m_portLine->onGateway(); }
    // The gateway's address is refused: why, for the operator; else empty.
    const QString& gatewayRefused() const { return m_gatewayRefused; }
    // The owner of the line: every exchange of the session goes through its
    // queue.
    LineOwner& line() { return *m_line; }
    // The operator's setpoint writes, between the polls of the bus.
    SetpointWriter& setpointWriter() { return *m_writer; }
    // The record timer; the Recorder sets its period from the settings.
    QTimer& recordTimer() { return m_recordTimer; }

    // Takes the limits in Data::alarms for every controller; the alarms keep
    // their states.
    void applyAlarmSettings();
    // Every controller's alarms.
    void acknowledgeAlarms();
    // The shown controller's alarm alone.
    void acknowledgeAlarm(alarms::Alarm alarm);
    // The shown controller's; empty before start().
    const std::optional<alarms::AlarmRules>& alarmRules() const {
        return shownController().alarmRules();
    }

Q_SIGNALS:
    void portOpenTried(bool opened);
    // The gateway's connection went to another state; Data::portConnected
    // follows it already.
    void gatewayStateChanged(tklink::GatewayLine::State state);
    // A tick of the record timer.
    void recordDue();
    // An alarm of the shown controller moved to another state; checked after
    // every poll. Each controller tells its own as Controller::alarmChanged.
    void alarmChanged(const alarms::AlarmChange& change);
    void shownControllerChanged(int index);

private:
    void pollTick();
    void tryPort();
    // tryPort for a port that names a gateway.
    void tryGateway(const QString& address);
    void onGatewayState(GatewayLine::State state);
    void portChanged();
    // Alarms of every controller looked at when its polls end, the shown
    // one's told on.
    void watchAlarms();

    Clock m_now;
    Reconnect m_reconnect;
    SerialPortControl m_port;
    SerialLine* m_serialLine;
    GatewayLine* m_gateway;
    PortLine* m_portLine;
    SerialPortControl::DeviceResolver m_deviceForPort;
    QString m_gatewayRefused;
    LineOwner* m_line;
    QTimer m_pollTimer;
    QTimer m_recordTimer;
    // The alarms are looked at on time, not only when a poll ends: a
    // backed-off controller's polls may be 30 s apart.
    QTimer m_alarmTimer;
    // The adapter went away while polling: reopened at each tick until it
    // opens or the operator opens a port.
    bool m_reopenAfterLoss = false;
    Bus* m_bus;
    int m_shown = 0;
    SetpointWriter* m_writer;
};

} // namespace tklink
