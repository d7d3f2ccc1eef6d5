#include "Timeline.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace tkview {

std::size_t Timeline::lowerBound(std::int64_t timeMs) const {
    const auto it =
        std::lower_bound(records.begin(), records.end(), timeMs,
                         [](const Record& record, std::int64_t t) { return record.timeMs < t; });
    return std::size_t(it - records.begin());
}

} // namespace tkview

namespace tkview {

namespace {

// The median of the spacings between neighbouring records, from at most
// about 65536 of them spread over the timeline: enough for a median, and
// cheap for a million records.
std::int64_t medianSpacing(const std::vector<Record>& records) {
    if (records.size() < 2)
        return 0;
    const std::size_t pairs = records.size() - 1;
    const std::size_t step = std::max<std::size_t>(1, pairs / 65536);
    std::vector<std::int64_t> spacings;
    spacings.reserve(pairs / step + 1);
    // Records in the same second or minute (a spreadsheet that dropped the
    // seconds) do not make the spacing zero.
    for (std::size_t i = 0; i < pairs; i += step)
        if (records[i + 1].timeMs > records[i].timeMs)
            spacings.push_back(records[i + 1].timeMs - records[i].timeMs);
    if (spacings.empty())
        return 0;
    const auto middle = spacings.begin() + std::ptrdiff_t(spacings.size() / 2);
    std::nth_element(spacings.begin(), middle, spacings.end());
    return *middle;
}

// Records counted on each side of a spacing for the spacing usual there.
constexpr int neighbourSpacings = 5;

// The median of up to neighbourSpacings spacings, going from record `from`
// by `direction` (-1 back, +1 on); spacings of zero (records on one time)
// are passed over. 0 when there is none.
std::int64_t spacingNear(const std::vector<Record>& records, std::size_t from, int direction) {
    std::int64_t found[neighbourSpacings];
    int count = 0;
    auto i = std::ptrdiff_t(from);
    const auto size = std::ptrdiff_t(records.size());
    for (; count < neighbourSpacings && i + direction >= 0 && i + direction < size;
         i += direction) {
        const std::int64_t spacing =
            std::abs(records[std::size_t(i + direction)].timeMs - records[std::size_t(i)].timeMs);
        if (spacing > 0)
            found[count++] = spacing;
    }
    if (count == 0)
        return 0;
    std::nth_element(found, found + count / 2, found + count);
    return found[count / 2];
}

// The smallest spacing above zero: no usual spacing is shorter, so a
// spacing no longer than gapFactor times it is never a gap.
std::int64_t shortestSpacing(const std::vector<Record>& records) {
    std::int64_t shortest = std::numeric_limits<std::int64_t>::max();
    for (std::size_t i = 1; i < records.size(); ++i) {
        const std::int64_t spacing = records[i].timeMs - records[i - 1].timeMs;
        if (spacing > 0 && spacing < shortest)
            shortest = spacing;
    }
    return shortest;
}

} // namespace

bool isGapSpacing(const std::vector<Record>& records, std::size_t before, std::size_t after) {
    const std::int64_t spacing = records[after].timeMs - records[before].timeMs;
    // The usual spacing on each side, the longer of them: where the record
    // interval changes from 20 s to 5 s, the 20-s records are no gap.
    const std::int64_t usual =
        std::max(spacingNear(records, before, -1), spacingNear(records, after, +1));
    return usual > 0 && double(spacing) > gapFactor * double(usual);
}

void findGaps(Timeline& timeline) {
    const std::vector<Record>& records = timeline.records;
    timeline.gaps.clear();
    timeline.medianSpacingMs = medianSpacing(records);
    if (records.empty())
        return;
    const auto limit = std::int64_t(gapFactor * double(shortestSpacing(records)));
    // `last` is the last record with a temperature so far; a gap starts at the
    // first record when the timeline starts without one.
    std::size_t last = 0;
    bool lastHasTemperature = records[0].hasTemperature();
    for (std::size_t i = 1; i < records.size(); ++i) {
        if (!records[i].hasTemperature())
            continue;
        const bool missing = i != last + 1 || !lastHasTemperature;
        if (missing ||
            (records[i].timeMs - records[last].timeMs > limit && isGapSpacing(records, last, i)))
            timeline.gaps.push_back(
                {records[last].timeMs, records[i].timeMs, std::uint32_t(i), std::uint32_t(last)});
        last = i;
        lastHasTemperature = true;
    }
    if (last + 1 < records.size() || !lastHasTemperature)
        timeline.gaps.push_back({records[last].timeMs, records.back().timeMs,
                                 std::uint32_t(records.size()), std::uint32_t(last)});
}

} // namespace tkview
