#pragma once

// When the bus asks which controller: pure arithmetic on milliseconds of a
// monotonic clock, so that a fake clock can drive it.

#include <QtGlobal>

#include <span>
#include <vector>

namespace tklink {

struct BusTiming {
    // Every controller answering is asked this often while the line has room.
    int pollIntervalMs = 2000;
    // A controller answers within tens of milliseconds: 8 + 11 bytes take
    // 20 ms at 9600 bit/s, and a slow converter or controller adds as much
    // again. 200 ms leaves room for ten silent controllers in a 2 s round.
    int answerTimeoutMs = 200;
    // Added to the Modbus silence between frames, for slow converters.
    int extraGapMs = 0;
    // A stale controller is asked less and less often, at most this far apart.
    int maxBackoffMs = 30000;
    // Polls in a row without an answer after which a controller is stale.
    int staleAfterPolls = 3;
};

// The Modbus RTU silence between frames in microseconds: 3.5 characters of
// 11 bits (38.5 bit times), and 1750 µs at any speed above 19200 bit/s,
// where timers could not keep the shorter gap. At 9600 bit/s:
// 38.5 / 9600 s = 4011 µs, rounded up.
int interFrameSilenceUs(int bitsPerSecond);

// The time between a controller's polls after missedPolls polls in a row
// without a valid answer: the poll interval until it is stale, then twice as
// long for each further miss (4, 8, 16 s), never more than maxBackoffMs.
int pollSpacingMs(int missedPolls, const BusTiming& timing);

// The next due time of a controller polled at dueMs and asked again
// spacingMs later. Keeps the cadence of a controller served on time; one the
// line made late starts its spacing from nowMs instead of queueing polls
// it can no longer have.
qint64 nextDueMs(qint64 dueMs, qint64 nowMs, int spacingMs);

// The controller to ask next: the one due first; on a tie the one whose own
// due time (ownDueMs, before any holding back) is the oldest, so that held
// back controllers take their turns; then the earlier in the list. -1 for an
// empty list.
int nextController(std::span<const qint64> dueMs, std::span<const qint64> ownDueMs);

// When a stale controller due at dueMs may be asked: the line gives stale
// controllers at most one request per poll interval, so that any number of
// silent ones cannot slow the answering ones; staleFreeMs is when the next
// such request may go.
qint64 staleDueMs(qint64 dueMs, qint64 staleFreeMs);

// When the next request may go: its due time, but never before the line is
// free (the end of the last exchange plus the silence and the extra gap).
qint64 nextSendMs(qint64 dueMs, qint64 lineFreeMs);

// The schedule of one bus: each controller's due time and when the line is
// free again. Told what happened at which time, it says who goes next and
// when; it never reads a clock itself.
class BusSchedule {
public:
    struct Next {
        int controller = -1; // -1: no controllers
        qint64 atMs = 0;
    };

    BusSchedule(int controllers, const BusTiming& timing, int bitsPerSecond);

    // Every controller due at nowMs, in list order.
    void start(qint64 nowMs);
    // Who is asked next, and when.
    Next next() const;
    // The request to controller went out at nowMs.
    void sent(int controller, qint64 nowMs);
    // Its exchange ended at nowMs, leaving it missedPolls polls in a row
    // without a valid answer (0 after one).
    void ended(int controller, qint64 nowMs, int missedPolls);
    // Another exchange (a one-off write) held the line until nowMs.
    void lineUsedUntil(qint64 nowMs);

private:
    BusTiming m_timing;
    // The silence and the extra gap, whole milliseconds, rounded up.
    qint64 m_gapMs;
    std::vector<qint64> m_dueMs;
    // Stale (staleAfterPolls misses in a row) after its last exchange.
    std::vector<bool> m_stale;
    // Answered since start. One that has not yet answered may be one of many
    // silent ones: until it does, it is asked only where it holds up no
    // answering controller, as a stale one is.
    std::vector<bool> m_answered;
    // When the line may next ask again a stale or not yet answering one.
    qint64 m_staleFreeMs = 0;
    // Stale, or not yet answering: asked only where the line has room.
    bool doubtful(std::size_t controller) const;
    // The line's time one round of the answering ones takes, each at its
    // last exchange.
    qint64 answeringLineMs() const;
    // A doubtful one's whole time-out fits in each interval beside them.
    bool roomForDoubtful() const;
    // The due times as the line sees them, doubtful ones held back.
    std::vector<qint64> effectiveDue() const;
    // Asked at least once: its cadence counts from its first request, since
    // at the start all are due at once and only one can go.
    std::vector<bool> m_asked;
    // Each one's last answered exchange on the line, the silence after it
    // included.
    std::vector<qint64> m_exchangeMs;
    qint64 m_lineFreeMs = 0;
    qint64 m_sentDueMs = 0;
    qint64 m_sentAtMs = 0;
};

} // namespace tklink
