#include "Recorder.h"

#include <QTimer>

#include "Data.h"
#include "RecordFormat.h"
#include "RecordWriter.h"
#include "TextFormats.h"

namespace recording {

namespace {

constexpr uint8_t recordingOn = 255;

} // namespace

Recorder::Recorder(QTimer& timerRecording, Clock now, QObject* parent)
    : QObject(parent), m_timer(timerRecording), m_now(std::move(now)),
      m_writer(new RecordWriter(this)) {
    if (!m_now)
        m_now = [] { return QDateTime::currentDateTime(); };
    connect(m_writer, &RecordWriter::finished, this, &Recorder::written);
}

void Recorder::startStop() {
    if (Data::recordingActive == 0)
        start();
    else
        stop();
}

void Recorder::start() {
    const QDateTime started = m_now();
    const QString name = recordFileNameFor(started);
    // A recording that cannot even write its header would show "started" and
    // then nothing but errors: it starts once its header is written, and a
    // click while the medium still holds a write is refused.
    if (!m_writer->append(name, headerLine(), started, true)) {
        reportError(started);
        return;
    }
    m_pending.emplace_back(Pending::Start, name);
}

void Recorder::stop() {
    m_writer->finish(Data::recordFileName);
    Q_EMIT statusText(QStringLiteral("Recording stopped."));
    Data::recordingActive = 0;
    Q_EMIT captionChanged(QStringLiteral("Start recording"));
    Q_EMIT recordingChanged(false, Data::recordFileName);
}

void Recorder::tick() {
    // Restarting the countdown here makes a period changed in the Parameters
    // dialog count from the next tick on.
    if (Data::recordTimerMs > 0) {
        m_timer.stop();
        m_timer.setInterval(Data::recordTimerMs);
        m_timer.start();
    }
    if (Data::recordingActive == 0) {
        Q_EMIT statusText(QStringLiteral("Not recording."));
        return;
    }
    const QDateTime now = m_now();
    const QString line = recordLine(now, Data::setpointRaw, Data::measureRaw, Data::powerRaw);
    // The previous record still in the medium: this one is lost, not queued
    // behind it, so a stalled medium never piles up records or memory.
    if (!m_writer->append(Data::recordFileName, line, now)) {
        reportError(now);
        return;
    }
    m_pending.emplace_back(Pending::Record, QString());
}

void Recorder::written(bool ok, const QDateTime& when) {
    if (m_pending.empty())
        return;
    const auto [what, startingFile] = m_pending.front();
    m_pending.pop_front();
    if (!ok) {
        reportError(when);
        return;
    }
    if (what == Pending::Start) {
        Data::recordFileName = startingFile;
        Q_EMIT statusText(QLatin1String("Recording in ") + Data::recordFileName +
                          QLatin1String(" started."));
        Data::recordingActive = recordingOn;
        Q_EMIT captionChanged(QStringLiteral("Stop recording"));
        Q_EMIT recordingChanged(true, Data::recordFileName);
    } else if (Data::recordingActive != 0) {
        // A record that lands after the click on stop leaves "Recording
        // stopped." in place.
        Q_EMIT statusText(QLatin1String("Recording in progress in file ") + Data::recordFileName +
                          QLatin1Char(' ') + statusTime(when.time()));
    }
}

void Recorder::reportError(const QDateTime& when) {
    Q_EMIT statusText(QLatin1String("Recording Error ") + statusTime(when.time()));
}

} // namespace recording
