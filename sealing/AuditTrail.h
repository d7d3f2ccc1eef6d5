#pragma once

// audit.log: one line per event, appended and synced like a record and sealed
// like a recording (audit.log.seal), never finished. Each line starts with its
// number in the file; the event is everything after the sixth field's start,
// so fields may be added before it:
//
//   7;2026-12-08T21:33:01+01:00;alice;bench-pc;tkcontrol 1.02;recording started: REC_….csv
//
// A trail is never adopted as found: one that is not what this program last
// wrote (changed, cut, removed, sealed by another key) is kept aside as
// audit-N.log, and a new audit.log starts with what was found and the last
// head known, the BLAKE2b-256 of the trail's bytes up to its last entry.
//
// Written on the caller's thread: events are rare, and one that cannot wait
// for the disk is not worth keeping out of the trail. The clock itself is
// watched: a jump of the wall clock and a change of UTC offset are events.

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
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
    std::function<SteadyClocks()> steady;
};

// Where the recorder last left its trail: its last entry and the head after it.
struct TrailMark {
    qint64 entry = 0;
    QString head;
};

class AuditTrail : public QObject {
    Q_OBJECT

public:
    // Appends to path (audit.log); key signs its seal, none leaves it
    // unsealed. An existing trail that is not intact under key, or (with
    // left) not the one whose last entry and head the program noted where
    // only it may write, is kept aside and a new one says so before the
    // first event.
    AuditTrail(QString path, const std::optional<SealKey>& key, const QString& program,
               const QString& version, AuditClock clock = {}, QObject* parent = nullptr,
               const std::optional<TrailMark>& left = std::nullopt);
    ~AuditTrail() override;

    // One event; the clock's own events come first when it moved.
    // False when it could not be written (the disk full, the file read-only).
    bool record(const QString& event);
    // Notes a jump or an offset change since the last reading (called every
    // second by the trail's own timer, and before each event).
    void checkClock();

    // The last entry's number, and the head after it.
    qint64 sequence() const { return m_sequence; }
    QString head() const;

    // What the trail found as it opened (kept aside, missing), as written.
    const QStringList& foundAtStart() const { return m_foundAtStart; }

    // "started, key 0123456789abcdef" or "started, unsealed: REASON".
    static QString startedEvent(const std::optional<SealKey>& key, const QString& keyProblem);

Q_SIGNALS:
    // An entry is on the disk: its number, and the trail's head after it.
    void entryWritten(qint64 sequence, const QString& head);

private:
    bool write(const QDateTime& wall, const QString& event);
    bool append(const QDateTime& wall, const QString& event);
    void adopt(const QByteArray& found, const QDateTime& wall);
    void checkFile(const QDateTime& wall);
    QString keepAside();
    QString missingNote(const std::optional<TrailMark>& left) const;
    ClockReading reading() const;

    QString m_path;
    QString m_source; // user;host;program version
    AuditClock m_clock;
    std::unique_ptr<FileSealer> m_sealer;
    ClockReading m_last;
    QTimer m_clockTimer;
    QByteArray m_written;    // the trail's bytes as this program knows them
    qint64 m_sequence = 0;   // the last entry's number
    bool m_lineOpen = false; // an unsealed trail ends in a line a crash cut short
    QStringList m_foundAtStart;
};

// One line of a trail. Lines written before entries were numbered have 0.
struct TrailEntry {
    qint64 sequence = 0;
    QDateTime time;
    QString event;
};
std::optional<TrailEntry> parseTrailLine(QByteArrayView line);

// How a trail found differs from the one left (its last entry and head), in
// words; empty when it is that one.
QString trailAgainstMark(const QByteArray& found, const TrailMark& left);

// The BLAKE2b-256 of bytes, hex: a trail's head, a recording's hash.
QString trailHead(QByteArrayView bytes);
// "3 records, 151 bytes, hash …" of a recording's bytes, said when it stops.
QString fileSummary(QByteArrayView bytes, int headerLines = 1);

// The user the program runs as, and the machine's name.
QString systemUserName();
QString hostName();

} // namespace sealing
