#pragma once

// tkrecord's run: the shared session with the configured port opened without
// a scan and reopened before every poll while it is missing, and a record
// every interv_record seconds into one file a day. It prints one line
// per change of state and keeps the counts the metrics are made of. Works in
// the working directory, as the program does.

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "ControllerSession.h"
#include "DailyFile.h"
#include "MetricsText.h"
#include "RecordWriter.h"
#include "StateLog.h"
#include "WorkFolder.h"

namespace sealing {
class ProgramSeals;
}

namespace tkrecord {

class RecordService : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    using Say = std::function<void(const QString& line)>;

    // An empty clock reads the system's; say prints a line.
    RecordService(Clock now, Say sayLine, QObject* parent = nullptr);
    ~RecordService() override;

    // Reads conf.ini, opens the port and starts polling and recording.
    // Returns why it did not start (a conf.ini that cannot be read), or an
    // empty text.
    QString start();
    // Waits for the record in flight, then closes the port.
    void stop();

    MetricsSnapshot snapshot() const;

Q_SIGNALS:
    // The run cannot go on (its folder is gone): polling has stopped, the
    // port is closed, and the caller exits with a failure, for the service
    // manager to start it again; stop() is not for such a run.
    void failed(const QString& reason);

public:
    tklink::PollCycle& pollCycle() { return m_session.pollCycle(); }

private:
    void onPortOpenTried(bool opened);
    void onAlarmChanged(const alarms::AlarmChange& change);
    void recordTick();
    void onPollEnded(tklink::PollResult result);
    void onValuesCurrent(bool current);
    void onRecordFinished(bool ok, const QDateTime& when);
    void say(const QString& line);

    Clock m_now;
    Say m_say;
    tklink::ControllerSession m_session;
    recording::RecordWriter m_writer;
    StateLog m_log;
    std::optional<DailyFile> m_file;
    QString m_fileInFlight;
    MetricsSnapshot m_counts;
    std::unique_ptr<sealing::ProgramSeals> m_seals;
    std::optional<WorkFolderWatch> m_folder;
};

} // namespace tkrecord
