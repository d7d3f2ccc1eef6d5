#pragma once

// What the audit trail notes about the clock itself: the wall clock jumping
// against the time that really went by (set by hand, or by a time service
// catching up) and a change of UTC offset (summer time). Pure, so both can be
// tested without touching the machine's clock.

#include <QDateTime>
#include <QStringList>

namespace sealing {

// The kernel's steady clocks, in ms from any origin.
struct SteadyClocks {
    qint64 rawMs = 0;       // CLOCK_MONOTONIC_RAW: never slewed, stops in a suspend
    qint64 monotonicMs = 0; // CLOCK_MONOTONIC: slewed, stops in a suspend
    qint64 bootMs = 0;      // CLOCK_BOOTTIME: CLOCK_MONOTONIC plus the suspends
};

// The time gone by since any origin, as a clock that a time service's slew
// does not slow and that counts a suspend: the raw clock plus the suspends.
qint64 elapsedMs(const SteadyClocks& clocks);
// The system's steady clocks now.
SteadyClocks steadyClocksNow();

struct ClockReading {
    QDateTime wall;
    qint64 elapsedMs = 0; // elapsedMs() of the steady clocks
};

// A wall clock that moves more than this against the elapsed time between
// two readings has been set; a suspend moves both alike.
inline constexpr qint64 clockJumpMs = 2000;

// The events between two readings, in the trail's words.
QStringList clockEvents(const ClockReading& before, const ClockReading& now);

// "2026-12-08T21:33:01+01:00": ISO 8601 with the UTC offset of wall.
QString isoTime(const QDateTime& wall);

} // namespace sealing
