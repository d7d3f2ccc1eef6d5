#pragma once

// What the viewer has open: the merged timeline, its detail levels and what
// reading said, kept together because the levels point into the timeline.

#include <QStringList>

#include <memory>

#include "DetailLevels.h"
#include "RecordingReader.h"
#include "RunTrail.h"
#include "Timeline.h"

namespace tkview {

struct Recordings {
    QStringList paths; // as asked for
    Timeline timeline;
    DetailLevels levels;
    QStringList errors;   // files refused, one sentence each
    QStringList warnings; // files read with something to say about them
    RunTrail trail;       // what the audit trail beside the files says of them

    Recordings(const Recordings&) = delete;
    Recordings& operator=(const Recordings&) = delete;
    Recordings() = default;
};

// Reads paths (files and folders), their trails, and builds the detail levels.
std::unique_ptr<Recordings> openRecordings(const QStringList& paths);

} // namespace tkview
