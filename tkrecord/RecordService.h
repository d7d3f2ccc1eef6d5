#pragma once

// tkrecord's run: the configured port opened without a scan and reopened at
// every poll period while it is missing, the program's own poll cycle, and a
// record every interv_record seconds into one file a day. It prints one line
// per change of state and keeps the counts the metrics are made of. Works in
// the working directory, as the program does.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

#include "DailyFile.h"
#include "MetricsText.h"
#include "PollCycle.h"
#include "RecordWriter.h"
#include "SerialPortControl.h"
#include "StateLog.h"

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
    void start();
    // Waits for the record in flight, then closes the port.
    void stop();

    MetricsSnapshot snapshot() const;
    tklink::PollCycle& pollCycle() { return m_poll; }

private:
    void pollTick();
    void openPort();
    void recordTick();
    void onPollEnded(tklink::PollResult result);
    void onValuesCurrent(bool current);
    void onRecordFinished(bool ok, const QDateTime& when);
    void say(const QString& line);

    Clock m_now;
    Say m_say;
    tklink::SerialPortControl m_port;
    QTimer m_pollTimer;
    QTimer m_recordTimer;
    tklink::PollCycle m_poll;
    recording::RecordWriter m_writer;
    StateLog m_log;
    std::optional<DailyFile> m_file;
    QString m_fileInFlight;
    MetricsSnapshot m_counts;
    std::unique_ptr<sealing::ProgramSeals> m_seals;
};

} // namespace tkrecord
