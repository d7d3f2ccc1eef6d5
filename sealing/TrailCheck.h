#pragma once

// Checking a folder's recordings against its audit trails, and a trail
// against the heads tkrecord left in the systemd journal, which the operator
// cannot rewrite. Pure on bytes, so every finding can be tested without a
// folder or a journal; each finding is one line for the verification's
// output.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <map>
#include <set>
#include <utility>

namespace sealing {

struct TrailFile {
    QString name; // audit.log, audit-1.log…
    QByteArray bytes;
};

// Entries out of order or missing, time going backwards, and recordings the
// trails know that are missing, rolled back or changed since they were
// closed, or that the trails do not know. trails in the order written.
QStringList trailFindings(const QList<TrailFile>& trails,
                          const std::map<QString, QByteArray>& recordings);
// The trails in folder, in the order written: audit-1.log…, audit.log.
QList<TrailFile> folderTrails(const QString& folder);
// The same for the trails and recordings in folder.
QStringList folderFindings(const QString& folder);

// Each "audit trail entry N, head H" that the user trustedUid left in
// journal (journalctl -o json: an object a line) that none of trails holds:
// entries cut, rewritten, or an older trail put back.
QStringList journalFindings(const QByteArray& journal, const QString& trustedUid,
                            const QList<TrailFile>& trails);
// Every entry of trails, with the head of its trail after it.
std::set<std::pair<qint64, QString>> entryHeads(const QList<TrailFile>& trails);
// tkrecord's line to the journal after each entry.
QString journalLine(qint64 sequence, const QString& head);

} // namespace sealing
