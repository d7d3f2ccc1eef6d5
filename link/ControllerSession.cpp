#include "ControllerSession.h"

#include "Data.h"
#include "PortAccess.h"

namespace tklink {

ControllerSession::ControllerSession(SerialPortControl::DeviceResolver deviceForPort, Clock now,
                                     Reconnect reconnect, QObject* parent)
    : QObject(parent), m_now(std::move(now)), m_reconnect(reconnect),
      m_port(std::move(deviceForPort), this), m_pollTimer(this), m_recordTimer(this),
      m_poll(new PollCycle(m_port, m_pollTimer, m_now, this)) {
    qRegisterMetaType<alarms::AlarmChange>();
    m_port.setObjectName(QStringLiteral("MSComm1"));
    m_pollTimer.setObjectName(QStringLiteral("timerGetFromControler"));
    m_recordTimer.setObjectName(QStringLiteral("timerRecording"));
    // A coarse timer may fire 5 % off: a record every 19 to 21 s.
    m_pollTimer.setTimerType(Qt::PreciseTimer);
    m_recordTimer.setTimerType(Qt::PreciseTimer);
    m_pollTimer.setInterval(windowFirstPollMs);
    m_recordTimer.setInterval(defaultRecordMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &ControllerSession::pollTick);
    connect(&m_recordTimer, &QTimer::timeout, this, &ControllerSession::recordDue);
    connect(&m_port, &SerialPortControl::deviceLost, this, [this] { m_reopenAfterLoss = true; });
    connect(m_poll, &PollCycle::pollEnded, this, &ControllerSession::checkAlarms);
    // The first answer ends its poll before its values count as current.
    connect(m_poll, &PollCycle::valuesCurrentChanged, this, &ControllerSession::checkAlarms);
}

void ControllerSession::openPort() {
    m_reopenAfterLoss = false;
    tryPort();
}

void ControllerSession::tryPort() {
    open_port(m_port);
    m_reopenAfterLoss = m_reopenAfterLoss && !Data::portConnected;
    m_poll->portChanged();
    Q_EMIT portOpenTried(Data::portConnected);
}

void ControllerSession::start(int firstPollMs, int recordMs) {
    m_alarms.emplace(Data::alarms, m_now());
    m_pollTimer.start(firstPollMs);
    m_recordTimer.start(recordMs);
}

void ControllerSession::stop() {
    m_pollTimer.stop();
    m_recordTimer.stop();
    closePort();
}

void ControllerSession::closePort() {
    if (m_port.portOpen())
        m_port.setPortOpen(false);
}

void ControllerSession::releasePort() {
    closePort();
    Data::portConnected = false;
    m_reopenAfterLoss = false;
    m_poll->portChanged();
}

void ControllerSession::applyAlarmSettings() {
    if (m_alarms)
        m_alarms->setSettings(Data::alarms);
}

void ControllerSession::acknowledgeAlarms() {
    if (m_alarms)
        tell(m_alarms->acknowledge());
}

void ControllerSession::acknowledgeAlarm(alarms::Alarm alarm) {
    if (m_alarms)
        tell(m_alarms->acknowledge(alarm));
}

void ControllerSession::checkAlarms() {
    if (!m_alarms)
        return;
    // Answers without a measurement keep the link up: their 8888 reaches the
    // rules as the no-data value it is.
    const bool answering = m_poll->answering();
    tell(m_alarms->update({m_now(), answering, answering ? Data::measureRaw / 10.0f : Data::NO_DATA,
                           answering ? Data::setpointRaw / 10.0f : Data::NO_DATA}));
}

void ControllerSession::tell(const QList<alarms::AlarmChange>& changes) {
    for (const alarms::AlarmChange& change : changes)
        Q_EMIT alarmChanged(change);
}

void ControllerSession::pollTick() {
    // Same number and speed as before: a replugged adapter comes back under
    // the name it had, and polling resumes without the operator.
    if (!Data::portConnected && (m_reconnect == Reconnect::BeforeEveryPoll || m_reopenAfterLoss))
        tryPort();
    m_poll->tick();
}

} // namespace tklink
