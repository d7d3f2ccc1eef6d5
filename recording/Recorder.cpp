#include "Recorder.h"

#include <QDir>
#include <QTimer>

#include <algorithm>

#include "Data.h"
#include "FolderLock.h"
#include "RecordFormat.h"
#include "RecordWriter.h"
#include "TextFormats.h"

namespace recording {

namespace {

constexpr uint8_t recordingOn = 255;

} // namespace

Recorder::Recorder(QTimer& timerRecording, Clock now, QObject* parent)
    : QObject(parent), m_timer(timerRecording), m_now(std::move(now)),
      m_writer(new RecordWriter(this)), m_folderLock(std::make_unique<FolderLock>()) {
    if (!m_now)
        m_now = [] { return QDateTime::currentDateTime(); };
    connect(m_writer, &RecordWriter::finished, this, &Recorder::written);
}

Recorder::~Recorder() = default;

QList<RecordWriter*> Recorder::writers() const {
    return QList<RecordWriter*>{m_writer} + m_others;
}

bool Recorder::waitForIdle(int ms) {
    bool idle = true;
    for (RecordWriter* writer : writers())
        idle = writer->waitForIdle(ms) && idle;
    return idle;
}

void Recorder::setChannels(QList<Channel> channels) {
    m_channels = std::move(channels);
    for (qsizetype i = 1; i < m_channels.size(); ++i) {
        auto* writer = new RecordWriter(this);
        connect(writer, &RecordWriter::finished, this, [this](bool ok, const QDateTime& when) {
            if (!ok)
                reportError(when);
        });
        m_others << writer;
    }
}

QString Recorder::busText() const {
    return QStringLiteral("Recording %1 controllers in %2")
        .arg(m_channels.size())
        .arg(QDir::currentPath());
}

bool Recorder::appendOthers(const QString& name, const QDateTime& when, bool header) {
    bool all = true;
    for (qsizetype i = 1; i < m_channels.size(); ++i) {
        const Channel& channel = m_channels[i];
        const std::array<float, 3> v = channel.values();
        const QString line = header ? headerLine() : recordLine(when, v[0], v[1], v[2]);
        all =
            m_others[i - 1]->append(channel.folder + QLatin1Char('/') + name, line, when, header) &&
            all;
    }
    return all;
}

void Recorder::startStop() {
    if (Data::recordingActive == 0)
        start();
    else
        stop();
}

void Recorder::start() {
    // Not while tkrecord or another window records here: both would write
    // the same second's file. A lock file that cannot be written (a full
    // disk) leaves the refusal to the header's own write.
    if (m_folderLock->take() == FolderLock::Outcome::HeldByOther) {
        Q_EMIT statusText(QStringLiteral("Not recording: ") + m_folderLock->refusal() +
                          QLatin1Char('.'));
        return;
    }
    const QDateTime started = m_now();
    QString name = recordFileNameFor(started);
    if (!m_channels.isEmpty()) {
        for (const Channel& channel : std::as_const(m_channels))
            QDir().mkpath(channel.folder);
        m_busFile = name;
        if (!appendOthers(name, started, true))
            reportError(started);
        name = m_channels.first().folder + QLatin1Char('/') + name;
    }
    // A recording that cannot even write its header would show "started" and
    // then nothing but errors: it starts once its header is written, and a
    // click while the medium still holds a write is refused.
    if (!m_writer->append(name, headerLine(), started, true)) {
        const bool startInFlight =
            std::any_of(m_pending.begin(), m_pending.end(),
                        [](const auto& p) { return p.first == Pending::Start; });
        if (!startInFlight)
            m_folderLock->release();
        reportError(started);
        return;
    }
    m_pending.emplace_back(Pending::Start, name);
}

void Recorder::stop() {
    m_writer->finish(Data::recordFileName);
    for (qsizetype i = 1; i < m_channels.size(); ++i)
        m_others[i - 1]->finish(m_channels[i].folder + QLatin1Char('/') + m_busFile);
    Q_EMIT statusText(QStringLiteral("Recording stopped."));
    Data::recordingActive = 0;
    m_folderLock->release();
    Q_EMIT captionChanged(QStringLiteral("Start recording"));
    Q_EMIT recordingChanged(false, Data::recordFileName);
    for (qsizetype i = 1; i < m_channels.size(); ++i)
        Q_EMIT recordingChanged(false, m_channels[i].folder + QLatin1Char('/') + m_busFile);
}

void Recorder::stopRecording() {
    if (Data::recordingActive != 0)
        stop();
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
    std::array<float, 3> values{Data::setpointRaw, Data::measureRaw, Data::powerRaw};
    if (!m_channels.isEmpty()) {
        values = m_channels.first().values();
        if (!appendOthers(m_busFile, now, false))
            reportError(now);
    }
    const QString line = recordLine(now, values[0], values[1], values[2]);
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
        if (what == Pending::Start && Data::recordingActive == 0)
            m_folderLock->release();
        reportError(when);
        return;
    }
    if (what == Pending::Start) {
        Data::recordFileName = startingFile;
        Q_EMIT statusText(m_channels.isEmpty()
                              ? QLatin1String("Recording in ") + Data::recordFileName +
                                    QLatin1String(" started.")
                              : busText() + QLatin1String(" started."));
        Data::recordingActive = recordingOn;
        Q_EMIT captionChanged(QStringLiteral("Stop recording"));
        Q_EMIT recordingChanged(true, Data::recordFileName);
        for (qsizetype i = 1; i < m_channels.size(); ++i)
            Q_EMIT recordingChanged(true, m_channels[i].folder + QLatin1Char('/') + m_busFile);
    } else if (Data::recordingActive != 0) {
        // A record that lands after the click on stop leaves "Recording
        // stopped." in place.
        Q_EMIT statusText((m_channels.isEmpty() ? QLatin1String("Recording in progress in file ") +
                                                      Data::recordFileName
                                                : busText()) +
                          QLatin1Char(' ') + statusTime(when.time()));
    }
}

void Recorder::reportError(const QDateTime& when) {
    Q_EMIT statusText(QLatin1String("Recording Error ") + statusTime(when.time()));
}

} // namespace recording
