#include "Summary.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tkview {

namespace {

// Overshoot is the temperature above a setpoint it reached while heating,
// step by step: after the setpoint falls, the cool-down towards it is not.
class SetpointStep {
public:
    // Takes the next record; true when its temperature counts as overshoot
    // (above a setpoint it came up to from below within this step).
    bool next(const Record& r) {
        if (!r.hasTemperature() || r.setpoint == noValue)
            return false;
        if (r.setpoint != setpoint_) {
            setpoint_ = r.setpoint;
            below_ = false;
            reached_ = false;
        }
        if (r.temperature < r.setpoint)
            below_ = true;
        else if (below_)
            reached_ = true;
        return reached_ && r.temperature > r.setpoint;
    }

private:
    std::int16_t setpoint_ = noValue;
    bool below_ = false;
    bool reached_ = false;
};

// The step the record at `first` belongs to, fed with the records of it
// before `first`: a range may start after the setpoint was reached.
SetpointStep stepAt(const std::vector<Record>& records, std::size_t first) {
    SetpointStep step;
    const std::int16_t setpoint = records[first].setpoint;
    std::size_t start = first;
    while (start > 0 &&
           (records[start - 1].setpoint == setpoint || records[start - 1].setpoint == noValue))
        --start;
    for (std::size_t i = start; i < first; ++i)
        step.next(records[i]);
    return step;
}

} // namespace

Summary summarize(const Timeline& timeline, std::int64_t fromMs, std::int64_t toMs,
                  double bandDegrees) {
    Summary summary;
    summary.bandDegrees = bandDegrees;
    const std::vector<Record>& records = timeline.records;
    const std::size_t first = timeline.lowerBound(fromMs);
    const std::size_t last = timeline.lowerBound(toMs == INT64_MAX ? toMs : toMs + 1);
    if (first >= last)
        return summary;
    summary.firstMs = records[first].timeMs;
    summary.lastMs = records[last - 1].timeMs;
    summary.durationMs = summary.lastMs - summary.firstMs;
    summary.records = qint64(last - first);

    for (const Gap& gap : timeline.gaps) {
        const std::int64_t from = std::max(gap.fromMs, summary.firstMs);
        const std::int64_t to = std::min(gap.toMs, summary.lastMs);
        if (to > from) {
            ++summary.gapCount;
            summary.gapMs += to - from;
        }
    }

    // Compared in tenths, as the records hold them.
    const auto band = std::int64_t(std::llround(bandDegrees * 10));
    auto gap =
        std::upper_bound(timeline.gaps.begin(), timeline.gaps.end(), first,
                         [](std::size_t index, const Gap& g) { return index < g.firstIndexAfter; });
    std::int64_t sum = 0;
    qint64 count = 0;
    std::int16_t minimum = INT16_MAX;
    std::int16_t maximum = INT16_MIN;
    int overshoot = 0;
    SetpointStep step = stepAt(records, first);
    for (std::size_t i = first; i < last; ++i) {
        const Record& r = records[i];
        while (gap != timeline.gaps.end() && gap->firstIndexAfter <= i)
            ++gap;
        if (!r.hasTemperature())
            continue;
        sum += r.temperature;
        ++count;
        minimum = std::min(minimum, r.temperature);
        maximum = std::max(maximum, r.temperature);
        if (r.setpoint == noValue)
            continue;
        const int above = r.temperature - r.setpoint;
        if (step.next(r) && above > overshoot) {
            overshoot = above;
            summary.largestOvershootAtMs = r.timeMs;
        }
        // A record counts until the next one, unless a gap starts with it.
        const bool gapFollows = gap != timeline.gaps.end() && gap->lastIndexBefore == i;
        if (i + 1 < last && !gapFollows && std::abs(above) <= band)
            summary.withinBandMs += records[i + 1].timeMs - r.timeMs;
    }
    if (count > 0) {
        summary.minimum = degrees(minimum);
        summary.maximum = degrees(maximum);
        summary.mean = double(sum) / double(count) / 10.0;
    }
    if (overshoot > 0)
        summary.largestOvershoot = overshoot / 10.0;
    return summary;
}

std::optional<SetpointApproach> setpointApproach(const Timeline& timeline) {
    // Within this of its setpoint when it is set, a temperature holds it: the
    // controller's noise around it touches it without any approach.
    constexpr int heldTenths = 5;
    int side = 0; // below (-1) or above (+1) the setpoint being approached
    int approached = noValue;
    std::int64_t stepMs = 0;
    bool held = false;
    std::optional<SetpointApproach> heldAtStart;
    for (const Record& record : timeline.records) {
        if (!record.hasTemperature() || record.setpoint == noValue)
            continue;
        const int now = record.temperature < record.setpoint   ? -1
                        : record.temperature > record.setpoint ? 1
                                                               : 0;
        // A setpoint changed before it was reached is a new approach: the
        // change itself is no crossing.
        if (record.setpoint != approached) {
            side = 0;
            stepMs = record.timeMs;
            held = std::abs(record.temperature - record.setpoint) <= heldTenths;
            if (held && approached == noValue)
                heldAtStart = SetpointApproach{stepMs, stepMs};
            approached = record.setpoint;
        }
        if (held)
            continue;
        if (now == 0 || (side != 0 && now != side))
            return SetpointApproach{stepMs, record.timeMs};
        side = now;
    }
    return heldAtStart;
}

std::optional<std::int64_t> setpointReachedAt(const Timeline& timeline) {
    const std::optional<SetpointApproach> approach = setpointApproach(timeline);
    return approach ? std::optional(approach->reachedMs) : std::nullopt;
}

} // namespace tkview
