#include "TrailCheck.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <sodium.h>

#include <optional>
#include <set>

#include "AuditTrail.h"
#include "RegularFile.h"
#include "Verification.h"

namespace sealing {

namespace {

struct Closed {
    qint64 records = 0;
    qint64 bytes = 0;
    QString hash;
};

QByteArray readWhole(const QString& path) {
    return readRegularFile(path).bytes;
}

} // namespace

QStringList trailFindings(const QList<TrailFile>& trails,
                          const std::map<QString, QByteArray>& recordings) {
    static const QRegularExpression started(QStringLiteral("^recording started: (.+)$"));
    // Closed at its end, or at the next start as a crash left it.
    static const QRegularExpression stopped(
        QStringLiteral("^recording (?:stopped|not closed): (.+?)(?: \\((\\d+) records, (\\d+) "
                       "bytes, hash ([0-9a-f]{64})\\))?$"));
    // Left as found, the records going on in another file.
    static const QRegularExpression leftAsFound(
        QStringLiteral("^recording changed while running: (.+?): "));
    // What the program itself found and wrote down: its trail or its clock
    // not as it left them. A change of UTC offset is summer time, not one.
    static const QRegularExpression ownFinding(
        QStringLiteral("^(audit trail (found|changed while running|removed while running|"
                       "missing)|clock earlier than the trail's last entry|wall clock jumped|"
                       "recording (found|changed while running)|recorder state)"));
    static const QRegularExpression keptAside(QStringLiteral("kept as (audit-\\d+\\.log)"));
    static const QRegularExpression programStarted(QStringLiteral("^started(,|$)"));
    // The trail the program found as it started was not the one it left:
    // how the run before ended is not known.
    static const QRegularExpression trailFoundAtStart(QStringLiteral("^audit trail found "));
    QStringList findings;
    std::set<QString> known;
    std::map<QString, Closed> closed;
    std::set<QString> open;   // started and not stopped since
    bool programRuns = false; // a "started" with no "stopped" after it yet
    std::set<QString> trailNames;
    for (const TrailFile& trail : trails)
        trailNames.insert(trail.name);
    for (const TrailFile& trail : trails) {
        qint64 lineNumber = 0;
        qint64 previous = 0;
        QDateTime previousTime;
        for (const QByteArray& line : trail.bytes.split('\n')) {
            if (line.trimmed().isEmpty())
                continue;
            ++lineNumber;
            const std::optional<TrailEntry> entry = parseTrailLine(line);
            if (!entry) {
                findings << QStringLiteral("%1: line %2 is not an entry")
                                .arg(trail.name)
                                .arg(lineNumber);
                continue;
            }
            const QString where = entry->sequence > 0
                                      ? QStringLiteral("entry %1").arg(entry->sequence)
                                      : QStringLiteral("line %1").arg(lineNumber);
            // Numbered from 1 in each file: a gap is a line taken out.
            if (entry->sequence > 0 && entry->sequence != previous + 1)
                findings << (previous == 0
                                 ? QStringLiteral("%1: begins at %2").arg(trail.name, where)
                                 : QStringLiteral("%1: %2 follows entry %3")
                                       .arg(trail.name, where)
                                       .arg(previous));
            previous = entry->sequence;
            if (previousTime.isValid() && entry->time < previousTime)
                findings << QStringLiteral("%1: %2 at %3 is earlier than the one before, at %4")
                                .arg(trail.name, where, isoTime(entry->time),
                                     isoTime(previousTime));
            previousTime = entry->time;
            if (ownFinding.match(entry->event).hasMatch()) {
                findings << QStringLiteral("%1: %2 says: %3").arg(trail.name, where, entry->event);
                const QRegularExpressionMatch kept = keptAside.match(entry->event);
                if (kept.hasMatch() && !trailNames.contains(kept.captured(1)))
                    findings << kept.captured(1) +
                                    QStringLiteral(": missing (the audit trail kept it aside "
                                                   "under this name)");
            }
            if (trailFoundAtStart.match(entry->event).hasMatch()) {
                programRuns = false;
                open.clear();
            }
            // Started again without having said "stopped": it was killed or
            // crashed, and the files it had open were never closed.
            if (programStarted.match(entry->event).hasMatch()) {
                if (programRuns)
                    findings << QStringLiteral("%1: %2: started again after a run that did not "
                                               "say \"stopped\" (a crash or a kill)")
                                    .arg(trail.name, where);
                for (const QString& name : open)
                    findings << name + QStringLiteral(": not closed: the recorder stopped "
                                                      "without closing it");
                open.clear();
                programRuns = true;
            } else if (entry->event == QLatin1String("stopped")) {
                programRuns = false;
            }
            if (const QRegularExpressionMatch match = started.match(entry->event);
                match.hasMatch()) {
                known.insert(match.captured(1));
                open.insert(match.captured(1));
            }
            if (const QRegularExpressionMatch match = leftAsFound.match(entry->event);
                match.hasMatch()) {
                known.insert(match.captured(1));
                open.erase(match.captured(1));
            }
            if (const QRegularExpressionMatch match = stopped.match(entry->event);
                match.hasMatch()) {
                known.insert(match.captured(1));
                open.erase(match.captured(1));
                if (match.hasCaptured(4))
                    closed[match.captured(1)] = {match.captured(2).toLongLong(),
                                                 match.captured(3).toLongLong(), match.captured(4)};
            }
        }
    }
    for (const QString& name : known) {
        const auto file = recordings.find(name);
        if (file == recordings.end()) {
            findings << name + QStringLiteral(": missing (the audit trail knows it)");
            continue;
        }
        const auto last = closed.find(name);
        if (last == closed.end())
            continue;
        const QByteArray& bytes = file->second;
        const Closed& at = last->second;
        if (bytes.size() < at.bytes)
            findings << QStringLiteral("%1: rolled back to %2 bytes (the audit trail closed it at "
                                       "%3 records, %4 bytes)")
                            .arg(name)
                            .arg(bytes.size())
                            .arg(at.records)
                            .arg(at.bytes);
        else if (trailHead(QByteArrayView(bytes).first(at.bytes)) != at.hash)
            findings << QStringLiteral(
                            "%1: not as the audit trail closed it (%2 records, %3 bytes)")
                            .arg(name)
                            .arg(at.records)
                            .arg(at.bytes);
        else if (bytes.size() > at.bytes)
            findings << QStringLiteral("%1: %2 bytes added after the audit trail closed it")
                            .arg(name)
                            .arg(bytes.size() - at.bytes);
    }
    for (const auto& [name, bytes] : recordings) {
        if (!known.contains(name))
            findings << name + QStringLiteral(": not in the audit trail");
    }
    return findings;
}

QList<TrailFile> folderTrails(const QString& folder) {
    const QDir dir(folder);
    // The trails kept aside, in the order they were, then the current one.
    QStringList kept = dir.entryList({QStringLiteral("audit-*.log")}, QDir::Files);
    std::sort(kept.begin(), kept.end(), [](const QString& a, const QString& b) {
        return a.mid(6).section(QLatin1Char('.'), 0, 0).toInt() <
               b.mid(6).section(QLatin1Char('.'), 0, 0).toInt();
    });
    QList<TrailFile> trails;
    for (const QString& name : kept)
        trails.append({name, readWhole(dir.filePath(name))});
    if (dir.exists(QLatin1String(auditFileName)))
        trails.append({auditFileName, readWhole(dir.filePath(QLatin1String(auditFileName)))});
    return trails;
}

QStringList folderFindings(const QString& folder) {
    const QList<TrailFile> trails = folderTrails(folder);
    if (trails.isEmpty())
        return {QStringLiteral("no audit trail")};
    const QDir dir(folder);
    std::map<QString, QByteArray> recordings;
    for (const QString& name : recordingsIn(folder))
        recordings[name] = readWhole(dir.filePath(name));
    return trailFindings(trails, recordings);
}

QString journalLine(qint64 sequence, const QString& head) {
    return QStringLiteral("audit trail entry %1, head %2").arg(sequence).arg(head);
}

std::set<std::pair<qint64, QString>> entryHeads(const QList<TrailFile>& trails) {
    std::set<std::pair<qint64, QString>> held;
    for (const TrailFile& trail : trails) {
        // Hashed as it goes: a year's trail is read once, not once an entry.
        crypto_generichash_state hashing{};
        crypto_generichash_init(&hashing, nullptr, 0, crypto_generichash_BYTES);
        for (qsizetype end = 0; end < trail.bytes.size();) {
            const qsizetype next = trail.bytes.indexOf('\n', end);
            if (next < 0)
                break;
            const QByteArrayView line = QByteArrayView(trail.bytes).sliced(end, next + 1 - end);
            end = next + 1;
            crypto_generichash_update(&hashing, reinterpret_cast<const unsigned char*>(line.data()),
                                      quint64(line.size()));
            if (const std::optional<TrailEntry> entry = parseTrailLine(line)) {
                crypto_generichash_state copy = hashing;
                QByteArray head(crypto_generichash_BYTES, '\0');
                crypto_generichash_final(&copy, reinterpret_cast<unsigned char*>(head.data()),
                                         std::size_t(head.size()));
                held.insert({entry->sequence, QString::fromLatin1(head.toHex())});
            }
        }
    }
    return held;
}

QStringList journalFindings(const QByteArray& journal, const QString& trustedUid,
                            const QList<TrailFile>& trails) {
    static const QRegularExpression headLine(
        QStringLiteral("audit trail entry (\\d+), head ([0-9a-f]{64})$"));
    // Every entry of every trail, with the head after it.
    const std::set<std::pair<qint64, QString>> held = entryHeads(trails);
    QStringList findings;
    bool seen = false;
    for (const QByteArray& line : journal.split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        // _UID is set by the journal itself, not by what wrote the line.
        if (entry.value(QLatin1String("_UID")).toString() != trustedUid)
            continue;
        const QRegularExpressionMatch match =
            headLine.match(entry.value(QLatin1String("MESSAGE")).toString());
        if (!match.hasMatch())
            continue;
        seen = true;
        if (!held.contains({match.captured(1).toLongLong(), match.captured(2)}))
            findings << QStringLiteral("entry %1, head %2: in the journal, in no audit trail")
                            .arg(match.captured(1), match.captured(2).left(16));
    }
    if (!seen)
        findings << QStringLiteral("no audit trail head in the journal from user id ") + trustedUid;
    return findings;
}

} // namespace sealing
