#pragma once

// The figures of a stretch of a timeline that the viewer shows beside the
// chart and prints in the report.

#include <cstdint>
#include <optional>

#include "Timeline.h"

namespace tkview {

struct Summary {
    std::int64_t firstMs = 0; // time of the first record in the range
    std::int64_t lastMs = 0;  // time of the last record in the range
    std::int64_t durationMs = 0;
    qint64 records = 0;     // no-data records included
    int gapCount = 0;       // gaps that end or start within the range
    std::int64_t gapMs = 0; // the part of those gaps inside the range
    // In degrees; empty when the range has no temperature.
    std::optional<double> minimum;
    std::optional<double> maximum;
    std::optional<double> mean;
    // The largest temperature minus setpoint, when a temperature went above
    // a setpoint it had reached while heating, and when it did.
    std::optional<double> largestOvershoot;
    std::int64_t largestOvershootAtMs = 0;
    // Time in which the temperature stayed within the band around the
    // setpoint: each record counts up to the next one, gaps not at all.
    double bandDegrees = 5.0;
    std::int64_t withinBandMs = 0;
};

// The summary of the records whose times lie in [fromMs, toMs].
Summary summarize(const Timeline& timeline, std::int64_t fromMs, std::int64_t toMs,
                  double bandDegrees = 5.0);

// An approach to a setpoint: from the record that set it (the step, or the
// first record) to the first whose temperature reached it from the side it
// approached it.
struct SetpointApproach {
    std::int64_t stepMs = 0;
    std::int64_t reachedMs = 0;
};

// The first approach of the timeline. A setpoint the temperature already
// held when it was set (an oven idling at it) is no approach; when that is
// all there is, the setpoint counts as reached at its first record. None
// when the setpoint was never reached.
std::optional<SetpointApproach> setpointApproach(const Timeline& timeline);

// The time of setpointApproach's reaching.
std::optional<std::int64_t> setpointReachedAt(const Timeline& timeline);

} // namespace tkview
