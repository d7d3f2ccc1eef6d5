#include "ControllerSession.h"

#include "Data.h"
#include "PortAccess.h"

namespace tklink {

namespace {

// A controller that took the write is asked again within a poll period; three
// give room for a missed answer or two, and the bus slows down a controller
// only after three missed polls in a row.
int readBackTimeoutMs(int pollIntervalMs, int answerTimeoutMs) {
    return 3 * pollIntervalMs + answerTimeoutMs;
}

} // namespace

ControllerSession::ControllerSession(SerialPortControl::DeviceResolver deviceForPort, Clock now,
                                     Reconnect reconnect, QObject* parent)
    : QObject(parent), m_now(std::move(now)), m_reconnect(reconnect), m_port(deviceForPort, this),
      m_serialLine(new SerialLine(m_port, &m_port)), m_gateway(new GatewayLine(this)),
      m_portLine(new PortLine(*m_serialLine, *m_gateway, this)),
      m_deviceForPort(std::move(deviceForPort)), m_line(new LineOwner(*m_portLine, this)),
      m_pollTimer(this), m_recordTimer(this), m_alarmTimer(this),
      m_bus(new Bus(*m_line, m_now, this)), m_writer(new SetpointWriter(*m_line, this)) {
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
    m_alarmTimer.setObjectName(QStringLiteral("timerAlarms"));
    m_alarmTimer.setInterval(1000);
    connect(&m_alarmTimer, &QTimer::timeout, this, [this] {
        for (Controller* controller : controllers())
            controller->checkAlarms(m_now());
    });
    connect(&m_port, &SerialPortControl::deviceLost, this, [this] { m_reopenAfterLoss = true; });
    connect(m_gateway, &GatewayLine::stateChanged, this, &ControllerSession::onGatewayState);
    m_bus->setControllers({ControllerId{}});
    m_bus->setPaced(true);
    watchAlarms();
    m_writer->setAnswerTimeout(Bus::pollAnswerTimeoutMs);
    m_writer->setReadBackTimeout(readBackTimeoutMs(Bus::pollIntervalMs, Bus::pollAnswerTimeoutMs));
}

void ControllerSession::watchAlarms() {
    for (Controller* c : controllers()) {
        // Before anyone else hears of the poll's end: they find its alarms
        // looked at too.
        connect(c, &Controller::pollEnded, this, [this, c] { c->checkAlarms(m_now()); });
        // Values that change outside a poll (a late answer, a lost port) too.
        connect(c, &Controller::valuesCurrentChanged, this, [this, c] { c->checkAlarms(m_now()); });
    }
    connect(&shownController(), &Controller::alarmChanged, this, &ControllerSession::alarmChanged);
}

void ControllerSession::setBus(const QList<ControllerId>& controllers, const BusTiming& timing) {
    if (controllers.isEmpty() || !m_bus->paced() || m_bus->running())
        return;
    // The one controller there was goes, and what listened to it.
    m_bus->setPaced(false);
    m_bus->setControllers(controllers);
    m_bus->setTiming(timing);
    m_shown = 0;
    m_line->setExtraGapMs(timing.extraGapMs);
    m_writer->setAnswerTimeout(timing.answerTimeoutMs);
    m_writer->setReadBackTimeout(readBackTimeoutMs(timing.pollIntervalMs, timing.answerTimeoutMs));
    watchAlarms();
}

void ControllerSession::setShownController(int index) {
    if (index < 0 || index >= controllers().size() || index == m_shown)
        return;
    disconnect(&shownController(), &Controller::alarmChanged, this,
               &ControllerSession::alarmChanged);
    m_shown = index;
    connect(&shownController(), &Controller::alarmChanged, this, &ControllerSession::alarmChanged);
    Q_EMIT shownControllerChanged(index);
}

void ControllerSession::openPort() {
    m_reopenAfterLoss = false;
    tryPort();
}

void ControllerSession::tryPort() {
    const QString device = m_deviceForPort ? m_deviceForPort(Data::comPortNum) : QString();
    if (namesGateway(device)) {
        tryGateway(device);
        return;
    }
    m_gateway->close();
    m_portLine->useGateway(false);
    m_gatewayRefused.clear();
    open_port(m_port);
    m_reopenAfterLoss = m_reopenAfterLoss && !Data::portConnected;
    portChanged();
    Q_EMIT portOpenTried(Data::portConnected);
}

void ControllerSession::portChanged() {
    m_bus->portChanged();
}

void ControllerSession::tryGateway(const QString& address) {
    if (m_port.portOpen())
        m_port.setPortOpen(false);
    // The serial port's number names the device in the trail and the logs.
    m_port.setCommPort(Data::comPortNum);
    m_portLine->useGateway(true);
    m_reopenAfterLoss = false;
    const GatewayParse parsed = parseGatewayAddress(address);
    m_gatewayRefused = parsed.error;
    if (!parsed.address) {
        m_gateway->close();
    } else if (m_gateway->address() != *parsed.address ||
               (m_gateway->state() == GatewayLine::State::NotConnected &&
                m_gateway->retryInMs() == 0)) {
        m_gateway->open(*parsed.address);
    }
    Data::portConnected = m_gateway->isOpen();
    portChanged();
    Q_EMIT portOpenTried(Data::portConnected);
}

void ControllerSession::onGatewayState(GatewayLine::State state) {
    if (!m_portLine->onGateway())
        return;
    const bool connected = state == GatewayLine::State::Connected;
    if (connected != Data::portConnected) {
        Data::portConnected = connected;
        portChanged();
        // Back after an outage: asked at once, not at the next tick.
        if (connected && m_pollTimer.isActive())
            m_pollTimer.start(0);
    }
    Q_EMIT gatewayStateChanged(state);
}

void ControllerSession::start(int firstPollMs, int recordMs) {
    for (Controller* controller : controllers())
        controller->startAlarms(Data::alarms, m_now());
    m_pollTimer.start(firstPollMs);
    m_recordTimer.start(recordMs);
    m_alarmTimer.start();
}

void ControllerSession::stop() {
    m_pollTimer.stop();
    m_recordTimer.stop();
    m_alarmTimer.stop();
    m_bus->stop();
    closePort();
}

void ControllerSession::closePort() {
    if (m_port.portOpen())
        m_port.setPortOpen(false);
    m_gateway->close();
}

void ControllerSession::releasePort() {
    // Once the port is back, a write asked for before must not go out.
    m_writer->abandon(QStringLiteral("the port was lent to the controller search"));
    closePort();
    Data::portConnected = false;
    m_reopenAfterLoss = false;
    m_bus->portChanged();
}

void ControllerSession::applyAlarmSettings() {
    for (Controller* controller : controllers())
        controller->applyAlarmSettings(Data::alarms);
}

void ControllerSession::acknowledgeAlarms() {
    for (Controller* controller : controllers())
        controller->acknowledgeAlarms();
}

void ControllerSession::acknowledgeAlarm(alarms::Alarm alarm) {
    shownController().acknowledgeAlarm(alarm);
}

void ControllerSession::pollTick() {
    // Same number and speed as before: a replugged adapter comes back under
    // the name it had, and polling resumes without the operator.
    // A gateway's connection comes back by itself, on its own schedule.
    if (!Data::portConnected && !m_portLine->onGateway() &&
        (m_reconnect == Reconnect::BeforeEveryPoll || m_reopenAfterLoss))
        tryPort();
    if (m_bus->paced()) {
        if (Data::portConnected)
            m_pollTimer.setInterval(Bus::pollIntervalMs);
        m_bus->tick();
        return;
    }
    // The bus keeps its own schedule; this tick only watches the port.
    m_pollTimer.setInterval(m_bus->timing().pollIntervalMs);
    if (!Data::portConnected)
        m_bus->tellNotConnected();
    else if (!m_bus->running())
        m_bus->start();
}

} // namespace tklink
