#pragma once

// Reading recordings as tkcontrol and tkrecord wrote them, in whatever locale,
// and as a spreadsheet saved them again, into one timeline. Only regular files
// are read, and nothing is ever written to them.

#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <functional>

#include "Timeline.h"

namespace tkview {

struct ReadResult {
    Timeline timeline;
    // One sentence per file or folder that could not be read or is not a
    // recording ("REC_x.csv: not a recording: ..."); the others are read.
    QStringList errors;
    // Files read whose records call for a word: records on one time, a name
    // whose date is not the records' date.
    QStringList warnings;
};

// Reads the given files and folders (a folder stands for every REC_*.csv in
// it) into one timeline. Local times are read in `zone`.
ReadResult readRecordings(const QStringList& paths,
                          const QTimeZone& zone = QTimeZone::systemTimeZone());

// The same, each file's local times read in the zone zoneOf gives for its
// path (the recorder's, where its trail says it).
ReadResult readRecordings(const QStringList& paths, const QTimeZone& zone,
                          const std::function<QTimeZone(const QString& path)>& zoneOf);

// Called with a file's path after each block read from it, before the next:
// a test's way to change a file while it is read. None by default.
void setBetweenBlocks(std::function<void(const QString& path)> hook);

// The REC_*.csv files of a folder, by name.
QStringList recordingsInFolder(const QString& folder);

// The files paths stand for, each with its size and time of change: when it
// differs from an earlier one, a file grew or changed, or one came or went.
QString recordingsState(const QStringList& paths);

} // namespace tkview
