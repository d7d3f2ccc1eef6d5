#include "Timeline.h"

#include <algorithm>

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

} // namespace

void findGaps(Timeline& timeline) {
    const std::vector<Record>& records = timeline.records;
    timeline.gaps.clear();
    timeline.medianSpacingMs = medianSpacing(records);
    if (records.empty())
        return;
    const auto limit = std::int64_t(gapFactor * double(timeline.medianSpacingMs));
    // `last` is the last record with a temperature so far; a gap starts at the
    // first record when the timeline starts without one.
    std::size_t last = 0;
    bool lastHasTemperature = records[0].hasTemperature();
    for (std::size_t i = 1; i < records.size(); ++i) {
        if (!records[i].hasTemperature())
            continue;
        const bool missing = i != last + 1 || !lastHasTemperature;
        if (missing || records[i].timeMs - records[last].timeMs > limit)
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
