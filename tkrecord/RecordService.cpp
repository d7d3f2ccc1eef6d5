#include "RecordService.h"

#include <QDir>

#include "AppInfo.h"
#include "ControllersSection.h"
#include "Data.h"
#include "Options.h"
#include "PortAccess.h"
#include "PortsSection.h"
#include "ProgramSeals.h"
#include "SealKey.h"
#include "Settings.h"
#include "TrailCheck.h"
#include "TrustedKeys.h"

namespace tkrecord {

namespace {

// Long enough for a record on a slow card; a stalled medium is not waited
// out at a stop.
constexpr int stopWaitMs = 5000;

} // namespace

QString trustLine(const QByteArray& publicKey) {
    return sealing::TrustedKeys::lineFor(publicKey,
                                         QDir::current().dirName() + QStringLiteral(" recorder"));
}

RecordService::RecordService(Clock now, Say sayLine, QObject* parent)
    : QObject(parent), m_now(now ? std::move(now) : [] { return QDateTime::currentDateTime(); }),
      m_say(std::move(sayLine)),
      m_session([](int n) { return settings::configuredDevice(n); }, m_now,
                tklink::ControllerSession::Reconnect::BeforeEveryPoll) {
    connect(&m_session, &tklink::ControllerSession::recordDue, this, &RecordService::recordTick);
    connect(&m_session, &tklink::ControllerSession::portOpenTried, this,
            &RecordService::onPortOpenTried);
    connect(&m_session, &tklink::ControllerSession::gatewayStateChanged, this,
            [this](tklink::GatewayLine::State state) {
                const tklink::GatewayLine& gateway = m_session.gateway();
                say(m_log.gatewayState(m_now(), gateway.address().text(), state, gateway.reason(),
                                       gateway.retryInMs()));
            });
    connect(&m_session.port(), &tklink::SerialPortControl::deviceLost, this,
            [this] { say(m_log.portLost(m_now(), m_session.port().failureReason())); });
}

RecordService::~RecordService() = default;

QString RecordService::start() {
    const settings::SettingsRead read = settings::loadSettings(QLatin1String(appTitle));
    if (read.status == settings::ConfFileRead::Status::Unreadable)
        return QStringLiteral("cannot read the settings: ") + read.reason;
    // Unattended, an alarm left off by a typo would be silent for weeks.
    if (!read.alarmsRefused.isEmpty())
        return read.alarmsRefused.join(QLatin1Char('\n'));
    // A bad line is never skipped: a recorder that left out an oven would
    // look as if it recorded the plant.
    const settings::ControllersRead& bus = settings::configuredControllers();
    if (!bus.error.isEmpty())
        return bus.error;
    if (!read.portsRefused.isEmpty())
        return read.portsRefused;
    const bool hasSettings = read.status == settings::ConfFileRead::Status::Read;
    Data::measureRaw = Data::setpointRaw = Data::NO_DATA_RAW;
    Data::powerRaw = 0;
    Data::recordTimerMs = Data::intervRecord * 1000;
    const int recordMs =
        Data::recordTimerMs > 0 ? Data::recordTimerMs : tklink::ControllerSession::defaultRecordMs;
    if (bus.bus)
        m_session.setBus(bus.controllers, bus.timing);

    const QDateTime started = m_now();
    m_folder.emplace();
    QString settingsText =
        QStringLiteral("port %1 (%2) at %3 bit/s, a record every %4 s")
            .arg(QString::number(Data::comPortNum), settings::configuredDevice(Data::comPortNum),
                 Data::comPortSpeed, QString::number(recordMs / 1000));
    if (bus.bus) {
        QStringList names;
        for (const tklink::ControllerId& id : bus.controllers)
            names << QStringLiteral("%1 at %2").arg(id.name).arg(id.address);
        settingsText += QStringLiteral(", controllers ") + names.join(QStringLiteral(", "));
    }
    say(stampedLine(started, QStringLiteral("tkrecord %1 in %2: %3%4")
                                 .arg(versionNumber(), QDir::currentPath(), settingsText,
                                      hasSettings ? QString()
                                                  : QStringLiteral(" (no conf.ini: defaults)"))) +
        (read.intervalRefused.isEmpty()
             ? QString()
             : QStringLiteral(" (") + read.intervalRefused + QLatin1Char(')')));
    m_seals = std::make_unique<sealing::ProgramSeals>(m_keyPath, QStringLiteral("tkrecord"),
                                                      versionNumber());
    // Records that look sealed but are not would be worse than none.
    if (m_seals->keyFingerprint().isEmpty() && !m_keyPath.isEmpty())
        return QStringLiteral("cannot seal: %1 (--no-seal records without seals)")
            .arg(m_seals->keyProblem());
    for (tklink::Controller* controller : m_session.controllers()) {
        auto* record = new ControllerRecord(
            *controller, m_now, [this](const QString& line) { say(line); }, this);
        if (!record->makeFolder())
            return QStringLiteral("cannot make the folder ") + controller->name();
        if (!controller->name().isEmpty())
            m_subFolders.emplace_back(controller->name());
        m_records.append(record);
        // The port's state in the trail at each poll; it writes changes only.
        connect(controller, &tklink::Controller::pollEnded, this,
                [this] { m_seals->portState(Data::portConnected, m_session.port().deviceName()); });
        say(record->recordingInLine());
    }
    // The trail's head goes to the journal, which the operator cannot rewrite:
    // the one so far, then after each entry.
    const auto sayHead = [this](qint64 sequence, const QString& head) {
        say(stampedLine(m_now(), sealing::journalLine(sequence, head)));
    };
    sayHead(m_seals->trail().sequence(), m_seals->trail().head());
    connect(&m_seals->trail(), &sealing::AuditTrail::entryWritten, this, sayHead);
    say(stampedLine(started,
                    m_seals->keyFingerprint().isEmpty()
                        ? QStringLiteral("not sealing: ") + m_seals->keyProblem()
                        : QStringLiteral("sealing with key ") + m_seals->keyFingerprint()));
    if (m_seals->keyMade())
        say(stampedLine(
            started,
            QStringLiteral("new seal key: for tkview to trust it, add to %1: %2")
                .arg(sealing::TrustedKeys::systemPath(), trustLine(m_seals->publicKey()))));
    for (ControllerRecord* record : m_records) {
        record->setRun(m_run);
        record->sealWith(*m_seals);
    }
    // Marks are for a recorder that records: a folder where they cannot
    // reach it is said, and recording goes on.
    m_commands = std::make_unique<CommandServer>(
        [this](const RecorderCommand& c, const QString& user) { return command(c, user); });
    if (const QString why = m_commands->listen(); !why.isEmpty())
        say(stampedLine(started, why));

    m_session.openPort();
    m_session.start(tklink::ControllerSession::headlessFirstPollMs, recordMs);
    return {};
}

void RecordService::stop() {
    m_session.stop();
    for (ControllerRecord* record : m_records)
        record->stop(stopWaitMs);
    say(stampedLine(m_now(), QStringLiteral("stopped")));
}

void RecordService::onPortOpenTried(bool opened) {
    const QString device = m_session.port().deviceName();
    // A gateway tells its connection's states as they come.
    if (m_session.onGateway()) {
        if (!m_session.gatewayRefused().isEmpty())
            say(m_log.portNotOpened(m_now(), device, m_session.gatewayRefused()));
        m_seals->portState(opened, device);
        return;
    }
    say(opened ? m_log.portOpened(m_now(), device, Data::comPortSpeed)
               : m_log.portNotOpened(m_now(), device, m_session.port().failureReason()));
    m_seals->portState(opened, device);
}

void RecordService::recordTick() {
    const QDateTime now = m_now();
    // Records written on would vanish with the folder; a restart by the
    // service manager finds the folder made again, or says it is missing.
    // Nothing more is written: the records, seals and trail would go where
    // nobody finds them.
    QString lost = m_folder->lost();
    for (const WorkFolderWatch& folder : m_subFolders)
        lost = lost.isEmpty() ? folder.lost() : lost;
    if (!lost.isEmpty()) {
        m_session.stop();
        say(stampedLine(now, lost));
        Q_EMIT failed(lost);
        return;
    }
    for (ControllerRecord* record : m_records)
        record->record(now);
}

MetricsSnapshot RecordService::snapshot() const {
    return m_records.isEmpty() ? MetricsSnapshot{} : m_records.first()->metrics().values;
}

QList<ControllerMetrics> RecordService::metrics() const {
    QList<ControllerMetrics> all;
    for (const ControllerRecord* record : m_records)
        all.append(record->metrics());
    return all;
}

CommandOutcome RecordService::command(const RecorderCommand& command, const QString& user) {
    QList<ControllerRecord*> chosen;
    QStringList names;
    for (ControllerRecord* record : std::as_const(m_records)) {
        names << record->name();
        if (command.controller.isEmpty() || record->name() == command.controller)
            chosen << record;
    }
    if (chosen.isEmpty())
        return {
            {},
            names.first().isEmpty()
                ? QStringLiteral("this recorder has no [Controllers]: --controller is for a bus")
                : QStringLiteral("no controller \"%1\" here; there are %2")
                      .arg(command.controller, names.join(QStringLiteral(", ")))};
    QStringList written;
    if (command.mark) {
        if (sealing::oneLine(*command.mark).isEmpty())
            return {{}, QStringLiteral("an event needs words")};
        written << sealing::controllerEvent(command.controller,
                                            sealing::markEvent(*command.mark, user));
        if (!m_seals->event(written.last()))
            return {{}, QStringLiteral("the audit trail could not be written")};
    } else {
        sealing::RunIdentity run = command.run;
        run.operatorName = user;
        if (command.controller.isEmpty())
            m_run = run;
        for (ControllerRecord* record : std::as_const(chosen)) {
            written << record->newRun(run);
            if (written.last().isEmpty())
                return {{}, QStringLiteral("the audit trail could not be written")};
        }
    }
    for (const QString& event : std::as_const(written))
        say(stampedLine(m_now(), QStringLiteral("from %1: %2").arg(user, event)));
    return {written.join(QLatin1Char('\n')), {}};
}

void RecordService::say(const QString& line) {
    if (!line.isEmpty() && m_say)
        m_say(line);
}

} // namespace tkrecord
