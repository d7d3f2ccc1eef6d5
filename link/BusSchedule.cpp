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

int nextController(std::span<const qint64> dueMs, std::span<const qint64> ownDueMs) {
    int best = -1;
    for (std::size_t c = 0; c < dueMs.size() && c < ownDueMs.size(); ++c) {
        const auto b = std::size_t(best);
        if (best < 0 || dueMs[c] < dueMs[b] || (dueMs[c] == dueMs[b] && ownDueMs[c] < ownDueMs[b]))
            best = int(c);
    }
    return best;
}

qint64 staleDueMs(qint64 dueMs, qint64 staleFreeMs) {
    return std::max(dueMs, staleFreeMs);
}

qint64 nextSendMs(qint64 dueMs, qint64 lineFreeMs) {
    return std::max(dueMs, lineFreeMs);
}

BusSchedule::BusSchedule(int controllers, const BusTiming& timing, int bitsPerSecond)
    : m_timing(timing),
      m_gapMs((interFrameSilenceUs(bitsPerSecond) + 999) / 1000 + timing.extraGapMs),
      m_dueMs(std::size_t(std::max(0, controllers)), 0),
      m_stale(std::size_t(std::max(0, controllers)), false),
      m_answered(std::size_t(std::max(0, controllers)), false),
      m_asked(std::size_t(std::max(0, controllers)), false),
      m_exchangeMs(std::size_t(std::max(0, controllers)), 0) {}

void BusSchedule::start(qint64 nowMs) {
    std::fill(m_dueMs.begin(), m_dueMs.end(), nowMs);
    std::fill(m_asked.begin(), m_asked.end(), false);
    std::fill(m_stale.begin(), m_stale.end(), false);
    std::fill(m_answered.begin(), m_answered.end(), false);
    std::fill(m_exchangeMs.begin(), m_exchangeMs.end(), 0);
    m_lineFreeMs = nowMs;
    m_staleFreeMs = nowMs;
}

bool BusSchedule::doubtful(std::size_t controller) const {
    return m_stale[controller] || !m_answered[controller];
}

qint64 BusSchedule::answeringLineMs() const {
    qint64 total = 0;
    for (std::size_t c = 0; c < m_exchangeMs.size(); ++c)
        if (!doubtful(c))
            total += m_exchangeMs[c];
    return total;
}

bool BusSchedule::roomForDoubtful() const {
    return answeringLineMs() + m_timing.answerTimeoutMs + m_gapMs <= m_timing.pollIntervalMs;
}

std::vector<qint64> BusSchedule::effectiveDue() const {
    std::vector<qint64> due = m_dueMs;
    for (std::size_t c = 0; c < due.size(); ++c) {
        // The first request is not held back, so that each controller is
        // asked soon after start; the room check below still guards the
        // answering ones.
        if (doubtful(c) && m_asked[c])
            due[c] = staleDueMs(due[c], m_staleFreeMs);
    }
    return due;
}

BusSchedule::Next BusSchedule::next() const {
    const std::vector<qint64> due = effectiveDue();
    const int controller = nextController(due, m_dueMs);
    if (controller < 0)
        return {};
    const qint64 at = nextSendMs(due[std::size_t(controller)], m_lineFreeMs);
    if (!doubtful(std::size_t(controller)))
        return {controller, at};
    // A doubtful controller's request must not hold up an answering one: it
    // goes only where its whole time-out fits before the next one is due.
    int live = -1;
    for (std::size_t c = 0; c < m_dueMs.size(); ++c) {
        if (!doubtful(c) && (live < 0 || m_dueMs[c] < m_dueMs[std::size_t(live)]))
            live = int(c);
    }
    // When the answering ones alone fill the interval, no such place ever
    // comes: then the doubtful ones take their bounded turns regardless.
    if (live >= 0 && roomForDoubtful() &&
        at + m_timing.answerTimeoutMs + m_gapMs > m_dueMs[std::size_t(live)])
        return {live, nextSendMs(m_dueMs[std::size_t(live)], m_lineFreeMs)};
    return {controller, at};
}

void BusSchedule::sent(int controller, qint64 nowMs) {
    const auto c = std::size_t(controller);
    m_sentDueMs = m_asked[c] ? m_dueMs[c] : nowMs;
    // One such request per interval, or per round of the answering ones
    // when a round takes longer.
    if (doubtful(c) && m_asked[c])
        m_staleFreeMs = nowMs + std::max<qint64>(m_timing.pollIntervalMs, answeringLineMs());
    m_asked[c] = true;
    m_sentAtMs = nowMs;
}

void BusSchedule::ended(int controller, qint64 nowMs, int missedPolls) {
    m_lineFreeMs = nowMs + m_gapMs;
    // A missed poll's time-out is not what asking it takes once it answers.
    if (missedPolls == 0)
        m_exchangeMs[std::size_t(controller)] = nowMs - m_sentAtMs + m_gapMs;
    m_stale[std::size_t(controller)] = missedPolls >= m_timing.staleAfterPolls;
    if (missedPolls == 0)
        m_answered[std::size_t(controller)] = true;
    // After the outcome: an answer brings a backed-off controller back to
    // the poll interval at once.
    m_dueMs[std::size_t(controller)] =
        nextDueMs(m_sentDueMs, m_sentAtMs, pollSpacingMs(missedPolls, m_timing));
}

void BusSchedule::lineUsedUntil(qint64 nowMs) {
    m_lineFreeMs = nowMs + m_gapMs;
}

} // namespace tklink
