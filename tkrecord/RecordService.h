#pragma once

// tkrecord's run: the shared session with the configured port opened without
// a scan and reopened before every poll while it is missing, its one
// controller or the controllers of its bus, and for each a record every
// interv_record seconds into one file a day. It prints one line per change
// of state and keeps the counts the metrics are made of. Works in the
// working directory, as the program does.

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ClientFeed.h"
#include "ClientServer.h"
#include "ControllerRecord.h"
#include "ControllerSession.h"
#include "MetricsText.h"
#include "RecorderCommand.h"
#include "RunEvent.h"
#include "SealKey.h"
#include "StateLog.h"
#include "WorkFolder.h"

namespace sealing {
class ProgramSeals;
}

namespace tkrecord {

// The trusted-keys line for this recorder's key: "HEX FOLDER recorder".
QString trustLine(const QByteArray& publicKey);

class RecordService : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    using Say = std::function<void(const QString& line)>;

    // An empty clock reads the system's; say prints a line.
    RecordService(Clock now, Say sayLine, QObject* parent = nullptr);
    ~RecordService() override;

    // The key that seals (sealing::recorderKeyPath() unless set); empty:
    // record without seals. A key that cannot be had stops start().
    void setKeyPath(const QString& path) { m_keyPath = path; }
    // What the files' run is, until a --run command changes it.
    void setRun(const sealing::RunIdentity& run) { m_run = run; }

    // Reads conf.ini, opens the port and starts polling and recording.
    // Returns why it did not start (a conf.ini that cannot be read, a bad
    // [Controllers] line), or an empty text.
    QString start();
    // Waits for the records in flight, then closes the port.
    void stop();

    // The first controller's.
    MetricsSnapshot snapshot() const;
    // Every controller's, in conf.ini's order.
    QList<ControllerMetrics> metrics() const;

    // The controllers are on a bus ([Controllers]).
    bool onBus() const { return m_session.onBus(); }
    // The line's time of the bus's last round of its answering controllers.
    std::optional<qint64> busRoundMs() const { return m_session.bus().lastRoundMs(); }

    // A mark or a new run sent by user; what went into the trail.
    CommandOutcome command(const RecorderCommand& command, const QString& user);
    // A client's request other than hello and watch, answered through reply.
    void serve(const ClientRequest& request, const Peer& peer, const ClientServer::Reply& reply);
    // Empty before start().
    const ClientFeed* feed() const { return m_feed.get(); }
    int clientCount() const { return m_clients ? m_clients->clientCount() : 0; }

Q_SIGNALS:
    // The run cannot go on (its folder is gone): polling has stopped, the
    // port is closed, and the caller exits with a failure, for the service
    // manager to start it again; stop() is not for such a run.
    void failed(const QString& reason);

public:
    // Every controller recorded, in conf.ini's order, after start(); before
    // it, the one controller of a file without [Controllers].
    const QList<tklink::Controller*>& controllers() const { return m_session.controllers(); }

private:
    void onPortOpenTried(bool opened);
    void recordTick();
    void onBusRound(qint64 roundMs, int answering);
    void say(const QString& line);
    void acknowledge(const ClientRequest& request, const Peer& peer,
                     const ClientServer::Reply& reply);
    void writeSetpoint(const ClientRequest& request, const Peer& peer,
                       const ClientServer::Reply& reply);
    QList<tklink::Controller*> chosen(const QString& name, QString* why) const;

    Clock m_now;
    Say m_say;
    tklink::ControllerSession m_session;
    StateLog m_log;
    QList<ControllerRecord*> m_records;
    std::unique_ptr<sealing::ProgramSeals> m_seals;
    QString m_keyPath = sealing::recorderKeyPath();
    std::optional<WorkFolderWatch> m_folder;
    // The controllers' own folders on a bus.
    std::vector<WorkFolderWatch> m_subFolders;
    sealing::RunIdentity m_run;
    std::unique_ptr<ClientFeed> m_feed;
    std::unique_ptr<ClientServer> m_clients;
    // The answer a setpoint write waits to give, and who asked.
    ClientServer::Reply m_setpointReply;
    QJsonValue m_setpointId;
    QString m_setpointUser;
};

} // namespace tkrecord
