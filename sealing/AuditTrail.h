#pragma once

// audit.log: one line per event, appended and synced like a record and sealed
// like a recording (audit.log.seal), never finished:
//
//   2026-12-08T21:33:01+01:00;alice;bench-pc;tkcontrol 1.02;recording started: REC_….csv
//
// Written on the caller's thread: events are rare, and one that cannot wait
// for the disk is not worth keeping out of the trail. The clock itself is
// watched: a jump of the wall clock and a change of UTC offset are events.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

#include "ClockWatch.h"
#include "SealKey.h"

namespace sealing {

class FileSealer;

inline constexpr QLatin1String auditFileName{"audit.log"};

// Where an event's time comes from; empty members read the system's clocks.
struct AuditClock {
    std::function<QDateTime()> wall;
    std::function<qint64()> monotonicMs;
};

class AuditTrail : public QObject {
    Q_OBJECT

public:
    // Appends to path (audit.log); key signs its seal, none leaves it
    // unsealed. An existing trail that is not intact gets a line saying so
    // before the first event, and is sealed again from there.
    AuditTrail(QString path, const std::optional<SealKey>& key, const QString& program,
               const QString& version, AuditClock clock = {}, QObject* parent = nullptr);
    ~AuditTrail() override;

    // One event; the clock's own events come first when it moved.
    void record(const QString& event);
    // Notes a jump or an offset change since the last reading (called every
    // second by the trail's own timer, and before each event).
    void checkClock();

    // "started, key 0123456789abcdef" or "started, unsealed: REASON".
    static QString startedEvent(const std::optional<SealKey>& key, const QString& keyProblem);

private:
    void write(const QDateTime& wall, const QString& event);
    ClockReading reading() const;

    QString m_path;
    QString m_source; // user;host;program version
    AuditClock m_clock;
    std::unique_ptr<FileSealer> m_sealer;
    ClockReading m_last;
    QTimer m_clockTimer;
    bool m_lineOpen = false; // the trail ends in a line a crash cut short
};

// The user the program runs as, and the machine's name.
QString systemUserName();
QString hostName();

} // namespace sealing
