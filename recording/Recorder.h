#pragma once

// The recording of the main window: the start/stop key, the record timer's
// tick and the recording status line. It reads and writes the recording
// variables of Data and touches no widget: the main window forwards the key's
// click and the timer's timeout, and shows the texts that come back. Files
// are written by a RecordWriter, so a start or a record shows its outcome a
// moment after the click or the tick.

#include <QDateTime>
#include <QObject>
#include <QString>

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

    enum class Pending { Start, Record };

    QTimer& m_timer;
    Clock m_now;
    RecordWriter* m_writer;
    // Held from the click on start to the click on stop.
    std::unique_ptr<FolderLock> m_folderLock;
    // What each write handed to the writer is for, oldest first: a result can
    // come after the writer has taken the next write already.
    std::deque<std::pair<Pending, QString>> m_pending;
};

} // namespace recording
