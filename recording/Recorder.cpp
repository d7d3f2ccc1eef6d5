#include "Recorder.h"

#include <QTimer>

#include "Data.h"
#include "RecordFile.h"
#include "RecordFormat.h"
#include "TextFormats.h"

namespace recording {

namespace {

constexpr uint8_t recordingOn = 255;

} // namespace

Recorder::Recorder(QTimer& timerRecording, Clock now, QObject* parent)
    : QObject(parent), m_timer(timerRecording), m_now(std::move(now)) {
    if (!m_now)
        m_now = [] { return QDateTime::currentDateTime(); };
}

void Recorder::startStop() {
    if (Data::recordingActive == 0)
        start();
    else
        stop();
}

void Recorder::start() {
    const QDateTime started = m_now();
    Data::recordFileName = recordFileNameFor(started);
    // A recording that cannot even write its header would show "started" and
    // then nothing but errors: it is refused at the click instead.
    if (!appendToRecordFile(Data::recordFileName, headerLine())) {
        reportError(started);
        return;
    }
    Q_EMIT statusText(QLatin1String("Recording in ") + Data::recordFileName +
                      QLatin1String(" started."));
    Data::recordingActive = recordingOn;
    Q_EMIT captionChanged(QStringLiteral("Stop recording"));
}

void Recorder::stop() {
    Q_EMIT statusText(QStringLiteral("Recording stopped."));
    Data::recordingActive = 0;
    Q_EMIT captionChanged(QStringLiteral("Start recording"));
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
    if (!appendToRecordFile(Data::recordFileName, line)) {
        reportError(now);
        return;
    }
    Q_EMIT statusText(QLatin1String("Recording in progress in file ") + Data::recordFileName +
                      QLatin1Char(' ') + statusTime(now.time()));
}

void Recorder::reportError(const QDateTime& when) {
    Q_EMIT statusText(QLatin1String("Recording Error ") + statusTime(when.time()));
}

} // namespace recording
