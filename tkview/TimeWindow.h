#pragma once

// The span of time the chart shows, and how zooming and panning move it: pure,
// so the wheel, the keys and the rubber band all move it the same way.

#include <QtGlobal>

namespace tkview {

struct TimeWindow {
    qint64 fromMs = 0; // milliseconds since the epoch
    qint64 toMs = 0;

    qint64 span() const { return toMs - fromMs; }
    bool operator==(const TimeWindow&) const = default;
};

// The narrowest window the chart zooms to.
inline constexpr qint64 minimumSpanMs = 10'000;

// window scaled by factor (below 1 zooms in) keeping atMs at the same place,
// then kept within all.
TimeWindow zoomedAround(const TimeWindow& window, qint64 atMs, double factor,
                        const TimeWindow& all);

// window moved by byMs (positive: later), kept within all.
TimeWindow panned(const TimeWindow& window, qint64 byMs, const TimeWindow& all);

// [fromMs, toMs] in either order, at least minimumSpanMs wide, kept within all.
TimeWindow clampedWindow(qint64 fromMs, qint64 toMs, const TimeWindow& all);

} // namespace tkview
