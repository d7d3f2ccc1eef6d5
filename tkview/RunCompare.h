#pragma once

// Runs laid over each other. A run is what one --compare argument names: a
// recording, a folder of the recordings of one run, or files joined by
// commas; its records are read as one timeline, and its label is the batch
// the trail gives its files, else its first file's name. Runs are aligned at
// their first record, or at the moment their temperature first reached the
// setpoint.

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Recordings.h"
#include "Summary.h"

namespace tkview {

enum class Align { Start, Setpoint };

struct ComparedRun {
    QStringList paths; // as given
    std::unique_ptr<Recordings> recordings;
    QString label;
    std::optional<std::int64_t> setpointReachedMs;
    std::int64_t setpointStepMs = 0; // when the setpoint reached was set
    std::int64_t alignMs = 0;        // the moment laid at the chart's zero
    Summary summary;                 // of the whole run
};

struct Comparison {
    std::vector<ComparedRun> runs; // those with records, in the order given
    Align align = Align::Start;
    QStringList problems;       // runs left out, and runs aligned otherwise than asked
    QStringList leftOut;        // the arguments of runs without records
    QStringList alignedAtStart; // labels of runs that never reached their setpoint, when
                                // aligned at it

    // The chart's span around the runs' zero.
    std::int64_t fromMs() const;
    std::int64_t toMs() const;
};

// The runs of a command line: each argument one run, files split at commas.
QList<QStringList> runArguments(const QStringList& paths);

// Reads and aligns the runs.
Comparison compareRuns(const QList<QStringList>& runs, Align align, double bandDegrees = 5.0);

// The rows of the side-by-side table: a name, then a value per run.
QList<QStringList> comparisonRows(const Comparison& comparison);

// "Aligned at the start of each run" or "... the setpoint".
QString alignmentText(Align align);

// What a reader of the comparison must know besides: runs aligned otherwise
// than asked, runs left out. One sentence each.
QStringList comparisonNotes(const Comparison& comparison);

} // namespace tkview
