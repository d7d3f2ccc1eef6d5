#include "TimeWindow.h"

#include <algorithm>
#include <cmath>

namespace tkview {

TimeWindow clampedWindow(qint64 fromMs, qint64 toMs, const TimeWindow& all) {
    if (toMs < fromMs)
        std::swap(fromMs, toMs);
    const qint64 allSpan = std::max(all.span(), minimumSpanMs);
    qint64 span = std::clamp(toMs - fromMs, minimumSpanMs, allSpan);
    if (span != toMs - fromMs) {
        const qint64 middle = fromMs + (toMs - fromMs) / 2;
        fromMs = middle - span / 2;
    }
    fromMs = std::clamp(fromMs, all.fromMs, std::max(all.fromMs, all.fromMs + allSpan - span));
    if (all.span() < minimumSpanMs) // a short recording sits at the left
        fromMs = all.fromMs;
    return {fromMs, fromMs + span};
}

TimeWindow zoomedAround(const TimeWindow& window, qint64 atMs, double factor,
                        const TimeWindow& all) {
    const auto scaled = [&](qint64 t) {
        return atMs + qint64(std::llround(double(t - atMs) * factor));
    };
    qint64 from = scaled(window.fromMs);
    qint64 to = scaled(window.toMs);
    if (to - from < minimumSpanMs) { // keep atMs where it was on screen
        const double share =
            window.span() > 0 ? double(atMs - window.fromMs) / double(window.span()) : 0.5;
        from = atMs - qint64(share * double(minimumSpanMs));
        to = from + minimumSpanMs;
    }
    return clampedWindow(from, to, all);
}

TimeWindow panned(const TimeWindow& window, qint64 byMs, const TimeWindow& all) {
    return clampedWindow(window.fromMs + byMs, window.toMs + byMs, all);
}

} // namespace tkview
