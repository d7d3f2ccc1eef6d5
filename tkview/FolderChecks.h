#pragma once

// What --verify adds to the seals' verdicts: each folder's recordings against
// its audit trail and, with --journal, the trail against the head tkrecord
// left in the systemd journal.

#include <QStringList>

#include "Options.h"

namespace tkview {

// One line per finding, each naming the file it is about; empty when all agree.
QStringList folderChecks(const Options& options);

// What a verification of folders cannot tell without the heads tkrecord
// left in the journal: one line, or empty when --journal was given or no
// folder was named.
QString folderLimits(const Options& options);

} // namespace tkview
