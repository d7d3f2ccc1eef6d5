#pragma once

// A minimum/maximum summary of a timeline at coarser and coarser levels, built
// once after reading, so that a chart of any zoom is drawn from one
// minimum/maximum per pixel column in a time that does not grow with the
// number of records, and no spike disappears at any zoom.

#include <cstdint>
#include <vector>

#include "Timeline.h"

namespace tkview {

// The smallest and largest value of a run of records, noValue for both when
// the run has none.
struct Extent {
    std::int16_t min = noValue;
    std::int16_t max = noValue;
    bool isEmpty() const { return min == noValue; }
};

// What one pixel column of a chart holds.
struct Column {
    Extent temperature;
    Extent setpoint;
    Extent power;
    std::uint32_t records = 0; // records in the column, no-data ones included
    // The line must not join this column to the previous column that has a
    // temperature: a gap lies between them.
    bool breakBefore = false;
    // The first and last records with a temperature in the column, to join
    // neighbouring columns as the records do (valid when !temperature.isEmpty()).
    std::uint32_t firstIndex = 0;
    std::uint32_t lastIndex = 0;
};

class DetailLevels {
public:
    DetailLevels() = default;
    // Keeps a pointer to timeline, which must outlive this object unchanged.
    explicit DetailLevels(const Timeline& timeline);

    // The columns of [fromMs, toMs] cut into `count` equal slices of time: a
    // window is shown with the record at its end, so the last column takes it.
    std::vector<Column> columns(std::int64_t fromMs, std::int64_t toMs, int count) const;

    // The extents of the records [first, last) (indexes into the timeline).
    Column range(std::size_t first, std::size_t last) const;

    // Bytes held by the summary, for the memory budget.
    std::size_t memoryBytes() const;

private:
    struct Bucket {
        Extent temperature;
        Extent setpoint;
        Extent power;
    };
    const Timeline* timeline_ = nullptr;
    // levels_[k] has one bucket per fanout^(k+1) records.
    std::vector<std::vector<Bucket>> levels_;
    static constexpr std::size_t fanout = 16;
};

} // namespace tkview
