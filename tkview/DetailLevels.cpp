#include "DetailLevels.h"

#include <algorithm>

namespace tkview {

namespace {

void widen(Extent& extent, std::int16_t value) {
    if (value == noValue)
        return;
    if (extent.isEmpty()) {
        extent.min = extent.max = value;
        return;
    }
    extent.min = std::min(extent.min, value);
    extent.max = std::max(extent.max, value);
}

void widen(Extent& extent, const Extent& other) {
    if (other.isEmpty())
        return;
    widen(extent, other.min);
    widen(extent, other.max);
}

} // namespace

DetailLevels::DetailLevels(const Timeline& timeline) : timeline_(&timeline) {
    // Level 0 from the records, each further level from the one below; only
    // whole buckets are kept, the ragged ends are summed from below.
    const std::vector<Record>& records = timeline.records;
    std::vector<Bucket> level(records.size() / fanout);
    for (std::size_t b = 0; b < level.size(); ++b) {
        Bucket& bucket = level[b];
        for (std::size_t i = b * fanout; i < (b + 1) * fanout; ++i) {
            widen(bucket.temperature, records[i].temperature);
            widen(bucket.setpoint, records[i].setpoint);
            widen(bucket.power, records[i].power);
        }
    }
    while (!level.empty()) {
        std::vector<Bucket> above(level.size() / fanout);
        for (std::size_t b = 0; b < above.size(); ++b)
            for (std::size_t i = b * fanout; i < (b + 1) * fanout; ++i) {
                widen(above[b].temperature, level[i].temperature);
                widen(above[b].setpoint, level[i].setpoint);
                widen(above[b].power, level[i].power);
            }
        levels_.push_back(std::move(level));
        level = std::move(above);
    }
}

Column DetailLevels::range(std::size_t first, std::size_t last) const {
    Column column;
    if (!timeline_ || first >= last)
        return column;
    const std::vector<Record>& records = timeline_->records;
    last = std::min(last, records.size());
    column.records = std::uint32_t(last - first);
    const auto addRecord = [&](std::size_t i) {
        widen(column.temperature, records[i].temperature);
        widen(column.setpoint, records[i].setpoint);
        widen(column.power, records[i].power);
    };
    const auto addBucket = [&](const Bucket& bucket) {
        widen(column.temperature, bucket.temperature);
        widen(column.setpoint, bucket.setpoint);
        widen(column.power, bucket.power);
    };
    // Records up to the first whole bucket and after the last, then the
    // same at each level until a level covers what is left.
    std::size_t lo = first;
    std::size_t hi = last;
    while (lo < hi && lo % fanout != 0)
        addRecord(lo++);
    while (hi > lo && hi % fanout != 0)
        addRecord(--hi);
    lo /= fanout;
    hi /= fanout;
    for (std::size_t k = 0; k < levels_.size() && lo < hi; ++k) {
        const std::vector<Bucket>& level = levels_[k];
        const bool top = k + 1 == levels_.size();
        while (lo < hi && (top || lo % fanout != 0))
            addBucket(level[lo++]);
        while (hi > lo && hi % fanout != 0)
            addBucket(level[--hi]);
        lo /= fanout;
        hi /= fanout;
    }

    // The first and last records with a temperature, past no-data runs by
    // way of the gaps they belong to.
    if (!column.temperature.isEmpty()) {
        const std::vector<Gap>& gaps = timeline_->gaps;
        const auto gapAfter = [&](std::size_t i) {
            return std::upper_bound(
                gaps.begin(), gaps.end(), i,
                [](std::size_t index, const Gap& gap) { return index < gap.firstIndexAfter; });
        };
        std::size_t f = first;
        if (!records[f].hasTemperature()) {
            const auto gap = gapAfter(f);
            f = gap != gaps.end() ? gap->firstIndexAfter : last;
        }
        std::size_t l = last - 1;
        if (!records[l].hasTemperature()) {
            const auto gap = gapAfter(l);
            l = gap != gaps.end() ? gap->lastIndexBefore : first;
        }
        column.firstIndex = std::uint32_t(f);
        column.lastIndex = std::uint32_t(l);
    }
    return column;
}

std::vector<Column> DetailLevels::columns(std::int64_t fromMs, std::int64_t toMs, int count) const {
    std::vector<Column> columns(std::size_t(std::max(count, 0)));
    if (!timeline_ || count <= 0 || toMs <= fromMs)
        return columns;
    const Timeline& timeline = *timeline_;
    const std::vector<Gap>& gaps = timeline.gaps;
    const double width = double(toMs - fromMs) / count;
    std::size_t begin = timeline.lowerBound(fromMs);
    // The last record with a temperature before the range, so that the
    // first column knows whether a gap lies before it.
    std::int64_t previousLast = -1;
    if (begin > 0) {
        const Column before = range(begin - 1, begin);
        if (!before.temperature.isEmpty())
            previousLast = before.lastIndex;
        else if (auto gap = std::upper_bound(
                     gaps.begin(), gaps.end(), begin - 1,
                     [](std::size_t index, const Gap& g) { return index < g.firstIndexAfter; });
                 gap != gaps.end() && timeline.records[gap->lastIndexBefore].hasTemperature())
            previousLast = gap->lastIndexBefore;
    }
    for (int c = 0; c < count; ++c) {
        const auto end = c + 1 == count
                             ? timeline.lowerBound(toMs + 1)
                             : timeline.lowerBound(fromMs + std::int64_t(width * (c + 1)));
        Column& column = columns[std::size_t(c)];
        column = range(begin, end);
        begin = end;
        if (column.temperature.isEmpty())
            continue;
        if (previousLast >= 0) {
            // A gap ends after the previous column's last record and by the
            // first record of this one.
            const auto gap = std::upper_bound(
                gaps.begin(), gaps.end(), std::size_t(previousLast),
                [](std::size_t index, const Gap& g) { return index < g.firstIndexAfter; });
            column.breakBefore = gap != gaps.end() && gap->firstIndexAfter <= column.firstIndex;
        }
        previousLast = column.lastIndex;
    }
    return columns;
}

std::size_t DetailLevels::memoryBytes() const {
    std::size_t bytes = 0;
    for (const std::vector<Bucket>& level : levels_)
        bytes += level.capacity() * sizeof(Bucket);
    return bytes;
}

} // namespace tkview
