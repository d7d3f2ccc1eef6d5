#pragma once

// What the audit trail beside the recordings says of them: the batch of each
// run whose file is shown, and the events, alarms and setpoint writes within
// their period, for the chart's markers and the report's tables. A recorder
// of one controller keeps its trail beside its files; on a bus, each
// controller's files lie in a sub-folder named after it and the trail in the
// folder above, where the controller's entries start with its name.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "RunEvent.h"
#include "TrailCheck.h"
#include "TrustedKeys.h"

namespace tkview {

struct Timeline;

// An event the chart marks at its time.
struct TrailMarker {
    std::int64_t timeMs = 0;
    QString controller; // for a bus controller's entry; empty otherwise
    QString text;       // the event as written, without the controller
    sealing::EventKind kind = sealing::EventKind::Other;

    bool operator==(const TrailMarker&) const = default;
};

// A run entry naming one of the shown files.
struct TrailRun {
    std::int64_t timeMs = 0;
    QString fileName; // as the entry names it
    QString controller;
    sealing::RunIdentity identity;
};

struct RunTrail {
    std::vector<TrailMarker> markers; // in time order
    std::vector<TrailRun> runs;       // in time order
    // Why trails beside the files were not taken ("audit.log differs from
    // line 5 on…"), for the banner.
    QStringList notVerified;
    // What the trails find of their folders' recordings ("REC_….csv:
    // missing (the audit trail knows it)"), for the banner too.
    QStringList recordingFindings;

    bool isEmpty() const { return markers.empty() && runs.empty(); }
};

// From trails in the order written: the runs naming one of fileNames (by the
// name without its folder) and the marked events, alarms and setpoint writes
// in [fromMs, toMs]; only those of controller when it is not empty.
RunTrail runTrailOf(const QList<sealing::TrailFile>& trails, const QString& controller,
                    const QStringList& fileNames, std::int64_t fromMs, std::int64_t toMs);

// The trails beside the timeline's files, read: only those that verify
// (every trail file intact under a key of trusted, nothing found in their
// entries) give runs and markers; why the rest do not is in notVerified.
RunTrail readRunTrail(const Timeline& timeline);
RunTrail readRunTrail(const Timeline& timeline, const sealing::TrustedKeys& trusted);

// Why the trails in folder cannot be taken (one line each; empty when they
// can), and into found what they say of its recordings.
QStringList trailProblems(const QString& folder, const sealing::TrustedKeys& trusted,
                          QStringList* found);

// The trail of a shown window: the markers within [fromMs, toMs], and for
// each file with records in it the run entries that name it from before
// toMs, the latest one given at or before fromMs and those after it.
RunTrail trailWithin(const RunTrail& trail, const Timeline& timeline, std::int64_t fromMs,
                     std::int64_t toMs);

// The UTC offsets a recorder wrote in its trail at the start of its files
// ("recording started" or a run entry naming the file), so that the files'
// local times are placed as the recorder meant them in any time zone.
class RecorderOffsets {
public:
    // The zone to read a file's local times in: `viewer` where it had the
    // recorder's offset at the file's start (or where the trail says
    // nothing), else the recorder's fixed offset.
    QTimeZone zoneOf(const QString& filePath, const QTimeZone& viewer);

private:
    // Trail folder to "controller/name" (or "name") to the start's time.
    std::map<QString, std::map<QString, QDateTime>> m_byFolder;
};

// A marker's label on the chart: short, as the chart has little room.
QString markerLabel(const TrailMarker& marker);

// "L-4711, part gear 12": the batch fields of a run that has any, for a
// caption; empty otherwise.
QString batchCaption(const sealing::RunIdentity& identity);

} // namespace tkview
