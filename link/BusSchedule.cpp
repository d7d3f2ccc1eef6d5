#include "BusSchedule.h"

#include <algorithm>

namespace tklink {

int interFrameSilenceUs(int bitsPerSecond) {
    if (bitsPerSecond > 19200 || bitsPerSecond <= 0)
        return 1750;
    // 38.5 bit times, rounded up.
    return int((qint64(385) * 100000 + bitsPerSecond - 1) / bitsPerSecond);
}

int pollSpacingMs(int missedPolls, const BusTiming& timing) {
    const int beyondStale = missedPolls - timing.staleAfterPolls;
    if (beyondStale < 0)
        return timing.pollIntervalMs;
    qint64 spacing = timing.pollIntervalMs;
    for (int i = 0; i <= beyondStale && spacing < timing.maxBackoffMs; ++i)
        spacing *= 2;
    return int(std::min<qint64>(spacing, std::max(timing.maxBackoffMs, timing.pollIntervalMs)));
}

qint64 nextDueMs(qint64 dueMs, qint64 nowMs, int spacingMs) {
    const qint64 next = dueMs + spacingMs;
    // Served within half a spacing of its due time: keep the cadence.
    return nowMs - dueMs <= spacingMs / 2 ? next : nowMs + spacingMs;
}

int nextController(std::span<const qint64> dueMs) {
    if (dueMs.empty())
        return -1;
    return int(std::min_element(dueMs.begin(), dueMs.end()) - dueMs.begin());
}

qint64 nextSendMs(qint64 dueMs, qint64 lineFreeMs) {
    return std::max(dueMs, lineFreeMs);
}

BusSchedule::BusSchedule(int controllers, const BusTiming& timing, int bitsPerSecond)
    : m_timing(timing),
      m_gapMs((interFrameSilenceUs(bitsPerSecond) + 999) / 1000 + timing.extraGapMs),
      m_dueMs(std::size_t(std::max(0, controllers)), 0),
      m_asked(std::size_t(std::max(0, controllers)), false) {}

void BusSchedule::start(qint64 nowMs) {
    std::fill(m_dueMs.begin(), m_dueMs.end(), nowMs);
    std::fill(m_asked.begin(), m_asked.end(), false);
    m_lineFreeMs = nowMs;
}

BusSchedule::Next BusSchedule::next() const {
    const int controller = nextController(m_dueMs);
    if (controller < 0)
        return {};
    return {controller, nextSendMs(m_dueMs[std::size_t(controller)], m_lineFreeMs)};
}

void BusSchedule::sent(int controller, qint64 nowMs) {
    const auto c = std::size_t(controller);
    m_sentDueMs = m_asked[c] ? m_dueMs[c] : nowMs;
    m_asked[c] = true;
    m_sentAtMs = nowMs;
}

void BusSchedule::ended(int controller, qint64 nowMs, int missedPolls) {
    m_lineFreeMs = nowMs + m_gapMs;
    // After the outcome: an answer brings a backed-off controller back to
    // the poll interval at once.
    m_dueMs[std::size_t(controller)] =
        nextDueMs(m_sentDueMs, m_sentAtMs, pollSpacingMs(missedPolls, m_timing));
}

void BusSchedule::lineUsedUntil(qint64 nowMs) {
    m_lineFreeMs = nowMs + m_gapMs;
}

} // namespace tklink
