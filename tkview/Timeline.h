#pragma once

// The records of one or more recordings on one time axis, as tkview shows and
// exports them. Values stay in the recording's raw units (temperatures in
// tenths of a degree, power as the controller sends it) so that a record costs
// 16 bytes; the helpers below turn them into degrees.

#include <QByteArray>
#include <QString>
#include <QTimeZone>

#include "Verification.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace tkview {

// A value the controller did not give: the recording's 8888 marker, never a
// point at 888.8 degrees.
inline constexpr std::int16_t noValue = std::numeric_limits<std::int16_t>::min();

struct Record {
    std::int64_t timeMs = 0;            // milliseconds since 1970-01-01 00:00 UTC
    std::int16_t temperature = noValue; // tenths of a degree
    std::int16_t setpoint = noValue;    // tenths of a degree
    std::int16_t power = noValue;       // raw register value (percent)

    // A record the temperature line is drawn through.
    bool hasTemperature() const { return temperature != noValue; }
};
static_assert(sizeof(Record) == 16);

inline double degrees(std::int16_t tenths) {
    return tenths / 10.0;
}

// A stretch without a temperature: either a no-data record or records further
// apart than the gap limit. It runs from the last record with a temperature
// before it (or the first record) to the first one after it (or the last).
struct Gap {
    std::int64_t fromMs = 0;
    std::int64_t toMs = 0;
    std::uint32_t firstIndexAfter = 0; // index of the record that ends the gap
    // Index of the record that starts it (the last with a temperature before
    // it, or the first record).
    std::uint32_t lastIndexBefore = 0;
};

// A line of a file that could not be read.
struct SkippedLine {
    QString file;          // the file's name, without its folder
    qint64 lineNumber = 0; // 1 for the header line
    QString reason;
};

struct SourceFile {
    QString path;
    QString name;       // without its folder
    qint64 records = 0; // records read, no-data records included
    qint64 skippedLines = 0;
    qint64 sameTime = 0;   // records on the time of the record before them
    QByteArray sha256;     // of the file's bytes, 32 bytes
    sealing::Verdict seal; // of the same bytes, read once with the records
    std::int64_t firstMs = 0;
    std::int64_t lastMs = 0;
    bool dayFirst = true; // how the file's dates were read
};

// Two files whose periods cover each other for a while.
struct Overlap {
    int firstFile = 0; // indexes into Timeline::files
    int secondFile = 0;
    std::int64_t fromMs = 0;
    std::int64_t toMs = 0;
};

struct Timeline {
    std::vector<Record> records;      // in time order
    std::vector<Gap> gaps;            // in time order
    std::int64_t medianSpacingMs = 0; // over the whole timeline
    std::vector<SourceFile> files;    // in the order of their first record
    std::vector<Overlap> overlaps;
    std::vector<SkippedLine> skipped; // the first maxListedSkippedLines of them
    qint64 skippedCount = 0;          // all of them
    QTimeZone zone;                   // the zone the recordings' local times were read in

    static constexpr int maxListedSkippedLines = 20;

    bool isEmpty() const { return records.empty(); }
    std::int64_t firstMs() const { return records.empty() ? 0 : records.front().timeMs; }
    std::int64_t lastMs() const { return records.empty() ? 0 : records.back().timeMs; }
    // Index of the first record at or after timeMs (records.size() when none).
    std::size_t lowerBound(std::int64_t timeMs) const;
};

// A gap is a spacing longer than this many times the spacing usual around it
// (the records' own spacing, which may change within a recording).
inline constexpr double gapFactor = 2.5;

// Whether the spacing between records `before` and `after` (neighbours, or
// with only records without a temperature between them) is a gap.
bool isGapSpacing(const std::vector<Record>& records, std::size_t before, std::size_t after);

// Sets medianSpacingMs and gaps from the records.
void findGaps(Timeline& timeline);

} // namespace tkview
