#pragma once

// What the audit trail notes about the clock itself: the wall clock jumping
// against the monotonic clock (set by hand, or by a time service catching up)
// and a change of UTC offset (summer time). Pure, so both can be tested
// without touching the machine's clock.

#include <QDateTime>
#include <QStringList>

namespace sealing {

struct ClockReading {
    QDateTime wall;
    qint64 monotonicMs = 0;
};

// A wall clock that moves more than this against the monotonic clock between
// two readings has been set.
inline constexpr qint64 clockJumpMs = 2000;

// The events between two readings, in the trail's words.
QStringList clockEvents(const ClockReading& before, const ClockReading& now);

// "2026-12-08T21:33:01+01:00": ISO 8601 with the UTC offset of wall.
QString isoTime(const QDateTime& wall);

} // namespace sealing
