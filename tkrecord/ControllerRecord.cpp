#include "ControllerRecord.h"

#include <QDir>
#include <QFileInfo>

#include "AlarmText.h"
#include "ClockWatch.h"
#include "FileSealer.h"
#include "ProgramSeals.h"
#include "RecordFormat.h"

namespace tkrecord {

namespace {

// "yyyy-MM-dd HH:mm:ss ", as stampedLine begins.
constexpr qsizetype stampLength = 20;

} // namespace

ControllerRecord::ControllerRecord(tklink::Controller& controller, Clock now, Say say,
                                   QObject* parent)
    : QObject(parent), m_controller(controller), m_now(std::move(now)), m_say(std::move(say)),
      m_started(m_now()), m_file(m_started) {
    connect(&controller, &tklink::Controller::pollEnded, this, &ControllerRecord::onPollEnded);
    // A late answer too: its values are current, so its time is the last answer's.
    connect(&controller, &tklink::Controller::answered, this, [this] {
        m_counts.lastAnswerMsSinceEpoch = m_controller.lastAnswer().toMSecsSinceEpoch();
    });
    connect(&controller, &tklink::Controller::valuesCurrentChanged, this,
            &ControllerRecord::onValuesCurrent);
    connect(&controller, &tklink::Controller::alarmChanged, this,
            &ControllerRecord::onAlarmChanged);
    connect(&m_writer, &recording::RecordWriter::finished, this,
            &ControllerRecord::onRecordFinished);
}

bool ControllerRecord::makeFolder() const {
    return m_controller.name().isEmpty() || QDir().mkpath(m_controller.name());
}

QString ControllerRecord::recordingInLine() const {
    return named(StateLog::recordingIn(m_started, path(m_file.current())));
}

void ControllerRecord::sealWith(sealing::ProgramSeals& seals) {
    m_seals = &seals;
    m_sealer = seals.sealRecordsOf(m_writer, m_controller.name());
    seals.recordingStarted(path(m_file.current()));
    writeRun();
}

QString ControllerRecord::newRun(const sealing::RunIdentity& run) {
    m_run = run;
    return writeRun();
}

QString ControllerRecord::writeRun() {
    QString event = sealing::runEvent(path(m_file.current()), m_run);
    return m_seals->event(event) ? event : QString();
}

QString ControllerRecord::path(const QString& fileName) const {
    return m_controller.name().isEmpty() ? fileName
                                         : m_controller.name() + QLatin1Char('/') + fileName;
}

QString ControllerRecord::named(const QString& line) const {
    if (line.isEmpty() || m_controller.name().isEmpty())
        return line;
    return line.left(stampLength) + m_controller.name() + QStringLiteral(": ") +
           line.mid(stampLength);
}

void ControllerRecord::record(const QDateTime& now) {
    bool begun = false;
    const QString previous = path(m_file.current());
    QString file = path(m_file.fileFor(now, &begun));
    if (begun) {
        m_writer.finish(previous);
        m_seals->recordingStopped(previous);
        say(named(StateLog::recordingIn(now, file)));
        m_seals->recordingStarted(file);
        writeRun();
    }
    // Asked while no record is in flight: the file as its last record left it.
    if (m_sealer && !m_writer.busy()) {
        if (const QString found = m_sealer->changedSince(file); !found.isEmpty())
            file = beginAgain(now, file, found);
    }
    const tklink::ControllerValues& v = m_controller.values();
    const QString line = recording::recordLine(now, v.setpointRaw, v.measureRaw, v.powerRaw);
    if (!m_writer.append(file, line, now)) {
        // The record before is still being written: this one is lost.
        ++m_counts.recordErrors;
        noteRecord(false, now, file);
        return;
    }
    m_fileInFlight = file;
}

QString ControllerRecord::beginAgain(const QDateTime& now, const QString& previous,
                                     const QString& found) {
    // Never sealed on nor closed: whatever is there now is not the recorder's.
    m_sealer->forget(previous);
    QString next = path(m_file.beginAgain(now, [&](const QString& name) {
        return path(name) == previous || QFileInfo::exists(path(name));
    }));
    const QString event =
        QStringLiteral("recording changed while running: %1: %2; recording goes on in %3")
            .arg(previous, found, next);
    say(named(stampedLine(now, event)));
    m_seals->event(event);
    say(named(StateLog::recordingIn(now, next)));
    m_seals->recordingStarted(next);
    writeRun();
    return next;
}

void ControllerRecord::noteRecord(bool ok, const QDateTime& when, const QString& file) {
    QString line = m_log.recordWritten(when, ok, file);
    if (!ok) {
        if (m_lost++ == 0)
            m_lostSince = when;
        m_lostUntil = when;
    } else if (m_lost > 0) {
        // The record that lands may be the one that was still being written
        // when the first was lost: the span is the lost records' own.
        const QString lost = QStringLiteral("%1 records not written from %2 to %3")
                                 .arg(m_lost)
                                 .arg(sealing::isoTime(m_lostSince), sealing::isoTime(m_lostUntil));
        line += QStringLiteral(" (%1)").arg(lost);
        // Once the disk takes lines again: the trail could not take it before.
        if (m_seals)
            m_seals->event(sealing::controllerEvent(
                m_controller.name(), QStringLiteral("records lost: %1, %2").arg(file, lost)));
        m_lost = 0;
    }
    say(named(line));
}

void ControllerRecord::stop(int waitMs) {
    const QString file = path(m_file.current());
    m_writer.finish(file);
    m_writer.waitForIdle(waitMs);
    m_seals->recordingStopped(file);
}

void ControllerRecord::onPollEnded(tklink::PollResult result) {
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

void ControllerRecord::onAlarmChanged(const alarms::AlarmChange& change) {
    const alarms::AlarmRules& rules = *m_controller.alarmRules();
    const alarms::AlarmStatus& status = rules.status(change.alarm);
    m_counts.alarmsActive[std::size_t(change.alarm)] = rules.active(change.alarm);
    say(named(stampedLine(m_now(),
                          QStringLiteral("alarm %1 %2: %3")
                              .arg(alarms::metricLabel(change.alarm), alarms::stateWord(change.to),
                                   alarms::bandText(change.alarm, status)))));
    const QString event = alarms::auditEvent(change, status);
    m_seals->event(
        m_controller.name().isEmpty() ? event : m_controller.name() + QStringLiteral(": ") + event);
}

void ControllerRecord::onValuesCurrent(bool current) {
    m_counts.current = current;
    say(named(m_log.valuesCurrent(m_now(), current, Data::portConnected, m_controller.answering(),
                                  m_controller.missReason())));
}

void ControllerRecord::onRecordFinished(bool ok, const QDateTime& when) {
    ++(ok ? m_counts.records : m_counts.recordErrors);
    noteRecord(ok, when, m_fileInFlight);
}

ControllerMetrics ControllerRecord::metrics() const {
    MetricsSnapshot s = m_counts;
    const tklink::ControllerValues& v = m_controller.values();
    s.temperatureCelsius = double(v.measureRaw) / 10.0;
    s.setpointCelsius = double(v.setpointRaw) / 10.0;
    s.outputPower = double(v.powerRaw);
    return {m_controller.name(), m_controller.address(), s};
}

void ControllerRecord::say(const QString& line) {
    if (!line.isEmpty() && m_say)
        m_say(line);
}

} // namespace tkrecord
