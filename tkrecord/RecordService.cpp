#include "RecordService.h"

#include <QDir>

#include "AlarmText.h"
#include "AppInfo.h"
#include "ControlSection.h"
#include "ControllersSection.h"
#include "Data.h"
#include "Options.h"
#include "PortAccess.h"
#include "PortsSection.h"
#include "Profile.h"
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
    // A gateway's line runs at the speed set in the gateway: ours is not used.
    const auto gateway = settings::configuredGateway(Data::comPortNum);
    QString settingsText = gateway ? QStringLiteral("port %1 (gateway %2), a record every %3 s")
                                         .arg(QString::number(Data::comPortNum), gateway->text(),
                                              QString::number(recordMs / 1000))
                                   : QStringLiteral("port %1 (%2) at %3 bit/s, a record every %4 s")
                                         .arg(QString::number(Data::comPortNum),
                                              settings::configuredDevice(Data::comPortNum),
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
                                                      versionNumber(), sealing::AuditClock{},
                                                      sealing::ProgramSeals::Opening::Deferred);
    // What it writes is noted beside its key, and the folder compared with
    // what the last run noted before anything is written.
    if (!m_keyPath.isEmpty())
        m_seals->keepRecorderState();
    m_seals->open();
    for (const QString& found : m_seals->foundAtStart())
        say(stampedLine(started, found));
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
    // Clients are for a recorder that records: a folder where they cannot
    // reach it is said, and recording goes on.
    m_feed = std::make_unique<ClientFeed>(m_session.controllers());
    QStringList names;
    for (const ControllerRecord* record : std::as_const(m_records))
        names << record->name();
    m_clients = std::make_unique<ClientServer>(
        [this](const ClientRequest& request, const Peer& peer, const ClientServer::Reply& reply) {
            serve(request, peer, reply);
        },
        [this] { return m_feed->attachLines(); }, names);
    m_clients->setGreeting(greetingMembers(settings::configuredDevice(Data::comPortNum),
                                           Data::comPortSpeed, settings::configuredControl()));
    // The poll's end comes after its answer is taken and its alarms
    // checked: the clients get the controller as the poll left it.
    for (tklink::Controller* controller : m_session.controllers())
        connect(controller, &tklink::Controller::pollEnded, this,
                [this, controller](tklink::PollResult result) {
                    m_clients->publish(m_feed->take(*controller, result, m_now()));
                });
    connect(&m_session.bus(), &tklink::Bus::roundEnded, this, &RecordService::onBusRound);
    tklink::SetpointWriter& writer = m_session.setpointWriter();
    writer.setFunction(settings::configuredControl().setpointFunction);
    connect(&writer, &tklink::SetpointWriter::auditLine, this, [this](const QString& line) {
        m_seals->event(line + QStringLiteral("; by ") + sealing::quotedValue(m_setpointUser));
    });
    connect(&writer, &tklink::SetpointWriter::finished, this,
            [this](const tklink::SetpointChange& change, const tklink::SetpointOutcome& outcome) {
                const QString line = tklink::setpointAuditLine(change, outcome);
                say(stampedLine(m_now(), QStringLiteral("from %1: %2").arg(m_setpointUser, line)));
                if (!m_setpointReply)
                    return;
                const QString request = requestName(ClientRequest::Kind::Setpoint);
                // The window tells it as it tells a write of its own.
                const QJsonObject told{
                    {QStringLiteral("outcome"), tklink::setpointOutcomeLine(change, outcome)}};
                m_setpointReply(outcome.kind == tklink::SetpointOutcome::Kind::Accepted
                                    ? answerLine(request, m_setpointId, line, told)
                                    : refusalLine({request, m_setpointId, line}, told));
                m_setpointReply = {};
            });
    if (const QString why = m_clients->listen(QLatin1String(commandSocketName)); !why.isEmpty())
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

void RecordService::onBusRound(qint64 roundMs, int answering) {
    const QString line =
        m_log.busRound(m_now(), roundMs, answering, m_session.bus().timing().pollIntervalMs);
    if (line.isEmpty())
        return;
    say(line);
    // Without the stamp ("yyyy-MM-dd HH:mm:ss "): the trail keeps its own time.
    constexpr qsizetype stampLength = 20;
    m_seals->event(line.mid(stampLength));
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

QList<tklink::Controller*> RecordService::chosen(const QString& name, QString* why) const {
    QList<tklink::Controller*> found;
    QStringList names;
    for (tklink::Controller* controller : m_session.controllers()) {
        names << controller->name();
        if (name.isEmpty() || controller->name() == name)
            found << controller;
    }
    if (found.isEmpty())
        *why = names.value(0).isEmpty()
                   ? QStringLiteral("this recorder has no [Controllers]: --controller is for a bus")
                   : QStringLiteral("no controller \"%1\" here; there are %2")
                         .arg(name, names.join(QStringLiteral(", ")));
    return found;
}

void RecordService::serve(const ClientRequest& request, const Peer& peer,
                          const ClientServer::Reply& reply) {
    const QString name = requestName(request.kind);
    switch (request.kind) {
    case ClientRequest::Kind::Mark:
    case ClientRequest::Kind::Run: {
        RecorderCommand asked;
        if (request.kind == ClientRequest::Kind::Mark)
            asked.mark = request.text;
        asked.run = request.run;
        asked.controller = request.controller;
        const CommandOutcome done = command(asked, peer.user);
        reply(done.error.isEmpty() ? answerLine(name, request.id, done.written)
                                   : refusalLine({name, request.id, done.error}));
        return;
    }
    case ClientRequest::Kind::Acknowledge:
        acknowledge(request, peer, reply);
        return;
    case ClientRequest::Kind::Setpoint:
        writeSetpoint(request, peer, reply);
        return;
    case ClientRequest::Kind::Hello:
    case ClientRequest::Kind::Watch:
        break;
    }
    reply(refusalLine({name, request.id, QStringLiteral("not served here")}));
}

void RecordService::acknowledge(const ClientRequest& request, const Peer& peer,
                                const ClientServer::Reply& reply) {
    const QString name = requestName(request.kind);
    QString why;
    const QList<tklink::Controller*> controllers = chosen(request.controller, &why);
    if (controllers.isEmpty())
        return reply(refusalLine({name, request.id, why}));
    QStringList written;
    for (tklink::Controller* controller : controllers) {
        if (!controller->alarmRules() || !controller->alarmRules()->unacknowledged())
            continue;
        if (request.alarm)
            controller->acknowledgeAlarm(*request.alarm);
        else
            controller->acknowledgeAlarms();
        // The alarm's own entries say what changed; this one says who.
        const QString what =
            request.alarm ? alarms::metricLabel(*request.alarm) : QStringLiteral("all alarms");
        written << sealing::controllerEvent(
            controller->name(),
            QStringLiteral("acknowledged: %1; by %2").arg(what, sealing::quotedValue(peer.user)));
        if (!m_seals->event(written.last()))
            return reply(refusalLine(
                {name, request.id, QStringLiteral("the audit trail could not be written")}));
        m_clients->publish(m_feed->valuesLine(*controller));
    }
    for (const QString& event : std::as_const(written))
        say(stampedLine(m_now(), QStringLiteral("from %1: %2").arg(peer.user, event)));
    reply(answerLine(name, request.id,
                     written.isEmpty() ? QStringLiteral("no alarm waits for an acknowledgement")
                                       : written.join(QLatin1Char('\n'))));
}

void RecordService::writeSetpoint(const ClientRequest& request, const Peer& peer,
                                  const ClientServer::Reply& reply) {
    const QString name = requestName(request.kind);
    // A refused write is in the trail too, with who asked.
    const auto refuse = [&](const QString& why) {
        m_seals->event(sealing::controllerEvent(
            request.controller, QStringLiteral("setpoint write to %1 °C refused: %2; by %3")
                                    .arg(tklink::tenthsText(request.setpointTenths), why,
                                         sealing::quotedValue(peer.user))));
        reply(refusalLine({name, request.id, why}));
    };
    const settings::ControlRead& control = settings::configuredControl();
    if (!control.setpointWrite)
        return refuse(QStringLiteral("this recorder writes no setpoint ([Control] SetpointWrite=1 "
                                     "allows it)"));
    const QString writers =
        settings::getProfileString(QStringLiteral("Control"), QStringLiteral("Writers"), QString(),
                                   QLatin1String(settings::settingsFileName))
            .trimmed();
    if (writers.isEmpty())
        return refuse(QStringLiteral("no user may write a setpoint here ([Control] Writers names "
                                     "their group)"));
    if (!inGroup(peer, writers))
        return refuse(QStringLiteral("%1 is not in the group %2").arg(peer.user, writers));
    if (!control.limitsSet())
        return refuse(QStringLiteral("conf.ini [Control] needs both SetpointMin and SetpointMax"));
    const double degrees = request.setpointTenths / 10.0;
    if (degrees < *control.setpointMin || degrees > *control.setpointMax)
        return refuse(QStringLiteral("%1 °C is outside %2 to %3 °C")
                          .arg(tklink::tenthsText(request.setpointTenths))
                          .arg(*control.setpointMin)
                          .arg(*control.setpointMax));
    QString why;
    const QList<tklink::Controller*> controllers = chosen(request.controller, &why);
    if (controllers.size() != 1)
        // cppcheck-suppress knownConditionTrueFalse ; chosen() may say why
        return refuse(why.isEmpty() ? QStringLiteral("a setpoint is written to one controller: "
                                                     "name it")
                                    : why);
    if (m_setpointReply || m_session.setpointWriter().busy())
        return refuse(QStringLiteral("another setpoint write is under way"));
    m_setpointUser = peer.user;
    const QString notSent = m_session.setpointWriter().write(*controllers.first(),
                                                             request.setpointTenths, request.text);
    if (!notSent.isEmpty())
        return refuse(notSent);
    m_setpointReply = reply;
    m_setpointId = request.id;
}

void RecordService::say(const QString& line) {
    if (!line.isEmpty() && m_say)
        m_say(line);
}

} // namespace tkrecord
