#include "RecordService.h"

#include <QDir>

#include "AlarmText.h"
#include "AppInfo.h"
#include "Data.h"
#include "Options.h"
#include "PortAccess.h"
#include "PortsSection.h"
#include "ProgramSeals.h"
#include "RecordFormat.h"
#include "Settings.h"
#include "TrailCheck.h"

namespace tkrecord {

namespace {

// Long enough for a record on a slow card; a stalled medium is not waited
// out at a stop.
constexpr int stopWaitMs = 5000;

} // namespace

RecordService::RecordService(Clock now, Say sayLine, QObject* parent)
    : QObject(parent), m_now(now ? std::move(now) : [] { return QDateTime::currentDateTime(); }),
      m_say(std::move(sayLine)),
      m_session([](int n) { return settings::configuredDevice(n); }, m_now,
                tklink::ControllerSession::Reconnect::BeforeEveryPoll) {
    tklink::PollCycle* poll = &m_session.pollCycle();
    connect(&m_session, &tklink::ControllerSession::recordDue, this, &RecordService::recordTick);
    connect(&m_session, &tklink::ControllerSession::portOpenTried, this,
            &RecordService::onPortOpenTried);
    connect(&m_session, &tklink::ControllerSession::alarmChanged, this,
            &RecordService::onAlarmChanged);
    connect(poll, &tklink::PollCycle::pollEnded, this, &RecordService::onPollEnded);
    // A late answer too: its values are current, so its time is the last answer's.
    connect(poll, &tklink::PollCycle::answered, this,
            [this] { m_counts.lastAnswerMsSinceEpoch = m_now().toMSecsSinceEpoch(); });
    connect(poll, &tklink::PollCycle::valuesCurrentChanged, this, &RecordService::onValuesCurrent);
    connect(&m_writer, &recording::RecordWriter::finished, this, &RecordService::onRecordFinished);
    connect(&m_session.port(), &tklink::SerialPortControl::deviceLost, this,
            [this] { say(m_log.portLost(m_now(), m_session.port().failureReason())); });
}

RecordService::~RecordService() = default;

QString RecordService::start() {
    const settings::SettingsRead read = settings::loadSettings(QLatin1String(appTitle));
    if (read.status == settings::ConfFileRead::Status::Unreadable)
        return QStringLiteral("cannot read the settings: ") + read.reason;
    const bool hasSettings = read.status == settings::ConfFileRead::Status::Read;
    Data::measureRaw = Data::setpointRaw = Data::NO_DATA_RAW;
    Data::powerRaw = 0;
    Data::recordTimerMs = Data::intervRecord * 1000;
    const int recordMs =
        Data::recordTimerMs > 0 ? Data::recordTimerMs : tklink::ControllerSession::defaultRecordMs;

    const QDateTime started = m_now();
    m_file.emplace(started);
    const QString settingsText =
        QStringLiteral("port %1 (%2) at %3 bit/s, a record every %4 s")
            .arg(QString::number(Data::comPortNum), settings::configuredDevice(Data::comPortNum),
                 Data::comPortSpeed, QString::number(recordMs / 1000));
    say(stampedLine(started, QStringLiteral("tkrecord %1 in %2: %3%4")
                                 .arg(versionNumber(), QDir::currentPath(), settingsText,
                                      hasSettings ? QString()
                                                  : QStringLiteral(" (no conf.ini: defaults)"))) +
        (read.intervalRefused.isEmpty()
             ? QString()
             : QStringLiteral(" (") + read.intervalRefused + QLatin1Char(')')));
    say(StateLog::recordingIn(started, m_file->current()));
    m_seals = std::make_unique<sealing::ProgramSeals>(sealing::workFolderKeyPath(),
                                                      QStringLiteral("tkrecord"), versionNumber());
    m_seals->sealRecordsOf(m_writer);
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
    m_seals->recordingStarted(m_file->current());

    m_session.openPort();
    m_session.start(tklink::ControllerSession::headlessFirstPollMs, recordMs);
    return {};
}

void RecordService::stop() {
    m_session.stop();
    m_writer.finish(m_file->current());
    m_writer.waitForIdle(stopWaitMs);
    m_seals->recordingStopped(m_file->current());
    say(stampedLine(m_now(), QStringLiteral("stopped")));
}

void RecordService::onPortOpenTried(bool opened) {
    const QString device = m_session.port().deviceName();
    say(opened ? m_log.portOpened(m_now(), device, Data::comPortSpeed)
               : m_log.portNotOpened(m_now(), device, m_session.port().failureReason()));
    m_seals->portState(opened, device);
}

void RecordService::recordTick() {
    const QDateTime now = m_now();
    bool begun = false;
    const QString previous = m_file->current();
    const QString file = m_file->fileFor(now, &begun);
    if (begun) {
        m_writer.finish(previous);
        m_seals->recordingStopped(previous);
        say(StateLog::recordingIn(now, file));
        m_seals->recordingStarted(file);
    }
    const QString line =
        recording::recordLine(now, Data::setpointRaw, Data::measureRaw, Data::powerRaw);
    if (!m_writer.append(file, line, now)) {
        // The record before is still being written: this one is lost.
        ++m_counts.recordErrors;
        say(m_log.recordWritten(now, false, file));
        return;
    }
    m_fileInFlight = file;
}

void RecordService::onPollEnded(tklink::PollResult result) {
    m_seals->portState(Data::portConnected, m_session.port().deviceName());
    switch (result) {
    case tklink::PollResult::Ok:
        ++m_counts.pollsOk;
        break;
    case tklink::PollResult::NoAnswer:
        ++m_counts.pollsNoAnswer;
        break;
    case tklink::PollResult::BadAnswer:
        ++m_counts.pollsBadAnswer;
        break;
    case tklink::PollResult::Exception:
        ++m_counts.pollsException;
        break;
    case tklink::PollResult::NotConnected:
        ++m_counts.pollsNotConnected;
        break;
    }
}

void RecordService::onAlarmChanged(const alarms::AlarmChange& change) {
    const alarms::AlarmStatus& status = m_session.alarmRules()->status(change.alarm);
    m_counts.alarmsActive[std::size_t(change.alarm)] = m_session.alarmRules()->active(change.alarm);
    say(stampedLine(m_now(),
                    QStringLiteral("alarm %1 %2: %3")
                        .arg(alarms::metricLabel(change.alarm), alarms::stateWord(change.to),
                             alarms::bandText(change.alarm, status))));
    m_seals->event(alarms::auditEvent(change, status));
}

void RecordService::onValuesCurrent(bool current) {
    m_counts.current = current;
    say(m_log.valuesCurrent(m_now(), current, Data::portConnected));
}

void RecordService::onRecordFinished(bool ok, const QDateTime& when) {
    ++(ok ? m_counts.records : m_counts.recordErrors);
    say(m_log.recordWritten(when, ok, m_fileInFlight));
}

MetricsSnapshot RecordService::snapshot() const {
    MetricsSnapshot s = m_counts;
    s.temperatureCelsius = double(Data::measureRaw) / 10.0;
    s.setpointCelsius = double(Data::setpointRaw) / 10.0;
    s.outputPower = double(Data::powerRaw);
    return s;
}

void RecordService::say(const QString& line) {
    if (!line.isEmpty() && m_say)
        m_say(line);
}

} // namespace tkrecord
