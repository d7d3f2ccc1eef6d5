#pragma once

// One controller's recording in tkrecord: its folder (the working folder for
// the unnamed controller of a file without [Controllers], else a sub-folder
// named after it), a file a day there with its records and seals, its state
// lines and alarm events with its name in front, and the counts its metrics
// are made of.

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

#include "Controller.h"
#include "DailyFile.h"
#include "MetricsText.h"
#include "RecordWriter.h"
#include "RunEvent.h"
#include "StateLog.h"

namespace sealing {
class FileSealer;
class ProgramSeals;
} // namespace sealing

namespace tkrecord {

class ControllerRecord : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    using Say = std::function<void(const QString& line)>;

    // The day's file begins now; nothing is written yet.
    ControllerRecord(tklink::Controller& controller, Clock now, Say say, QObject* parent = nullptr);

    // The folder made if missing; false when it cannot be.
    bool makeFolder() const;
    // "… recording in FILE".
    QString recordingInLine() const;
    const QString& name() const { return m_controller.name(); }
    // What the run is, for the trail after each file's start; before sealWith.
    void setRun(const sealing::RunIdentity& run) { m_run = run; }
    // From now on the records are sealed and the trail names them.
    void sealWith(sealing::ProgramSeals& seals);
    // A new run from now on, written at once for the file open now; the
    // entry written, empty when the trail could not take it.
    QString newRun(const sealing::RunIdentity& run);
    void record(const QDateTime& now);
    // Waits for the record in flight, up to waitMs.
    void stop(int waitMs);

    ControllerMetrics metrics() const;

private:
    void onPollEnded(tklink::PollResult result);
    void onValuesCurrent(bool current);
    void onAlarmChanged(const alarms::AlarmChange& change);
    void onRecordFinished(bool ok, const QDateTime& when);
    // The file's path from the working folder.
    QString path(const QString& fileName) const;
    // The stamped line with the name after the stamp.
    QString named(const QString& line) const;
    void say(const QString& line);
    // The run's entry for the file just begun, after its start's entry.
    QString writeRun();
    // The file is not as this recorder wrote it (found): it is left as it
    // is, and the records go on in a new file; its name.
    QString beginAgain(const QDateTime& now, const QString& previous, const QString& found);
    // A record written or lost: a run of lost ones is said once as it
    // begins, and in the trail once as it ends, with its count.
    void noteRecord(bool ok, const QDateTime& when, const QString& file);

    tklink::Controller& m_controller;
    Clock m_now;
    Say m_say;
    QDateTime m_started;
    DailyFile m_file;
    recording::RecordWriter m_writer;
    StateLog m_log;
    sealing::ProgramSeals* m_seals = nullptr;
    std::shared_ptr<sealing::FileSealer> m_sealer;
    qint64 m_lost = 0; // records lost since the last one written
    QDateTime m_lostSince;
    QDateTime m_lostUntil;
    QString m_fileInFlight;
    MetricsSnapshot m_counts;
    sealing::RunIdentity m_run;
};

} // namespace tkrecord
