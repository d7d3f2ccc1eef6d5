#pragma once

// The recording of the main window: the start/stop key, the record timer's
// tick and the recording status line. It reads and writes the recording
// variables of Data and touches no widget: the main window forwards the key's
// click and the timer's timeout, and shows the texts that come back. Files
// are written by a RecordWriter, so a start or a record shows its outcome a
// moment after the click or the tick.

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <utility>

class QTimer;

namespace recording {

class FolderLock;
class RecordWriter;

class Recorder : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    // timerRecording is the main window's record timer, whose period each
    // tick sets from Data::recordTimerMs. An empty clock reads the system's.
    Recorder(QTimer& timerRecording, Clock now, QObject* parent = nullptr);
    ~Recorder() override;

    // The click on Start_stop_recording: starts a recording when none runs,
    // stops the running one otherwise.
    void startStop();

    // Exit: the running recording, if any, stops as at a click on the key.
    void stopRecording();

    // The timeout of timerRecording: one record while a recording runs.
    void tick();

    RecordWriter& writer() { return *m_writer; }
    // Every writer: the one above, then the bus's other controllers'.
    QList<RecordWriter*> writers() const;
    // Waits up to ms for the records in flight of every writer.
    bool waitForIdle(int ms);

    // A controller of a bus: its folder, named after it, and its raw values
    // (setpoint, temperature, power).
    struct Channel {
        QString folder;
        std::function<std::array<float, 3>()> values;
    };
    // Before the first start: each recording then records every channel,
    // one file each in its own folder with the same name, as tkrecord does,
    // rather than Data's values in the working folder.
    void setChannels(QList<Channel> channels);

Q_SIGNALS:
    // The new text of recording_field.
    void statusText(const QString& text);
    // The new caption of Start_stop_recording.
    void captionChanged(const QString& caption);
    // A recording into fileName began (its header written) or ended.
    void recordingChanged(bool on, const QString& fileName);

private:
    void start();
    void stop();
    void written(bool ok, const QDateTime& when);
    void reportError(const QDateTime& when);
    // The bus's files beside the first channel's: their header, their record.
    bool appendOthers(const QString& name, const QDateTime& when, bool header);
    // "Recording 4 controllers in FOLDER".
    QString busText() const;

    enum class Pending { Start, Record };

    QTimer& m_timer;
    Clock m_now;
    RecordWriter* m_writer;
    // Held from the click on start to the click on stop.
    std::unique_ptr<FolderLock> m_folderLock;
    // What each write handed to the writer is for, oldest first: a result can
    // come after the writer has taken the next write already.
    std::deque<std::pair<Pending, QString>> m_pending;
    QList<Channel> m_channels;
    // The writers of channels 1 to n; channel 0 has m_writer.
    QList<RecordWriter*> m_others;
    // The name of the bus's files while recording.
    QString m_busFile;
};

} // namespace recording
