#pragma once

// What the window shows of a recorder's controller, as pure functions: its
// row of the strip, the status line, and the graph's rings filled from the
// last hour the recorder sends at attach.

#include <QList>
#include <QString>

#include "ControllerStrip.h"
#include "CurveTrace.h"
#include "RecorderClient.h"

namespace app {

// The trace's period: one sample of the rings every tick.
inline constexpr qint64 traceTickMs = 2500;

// What is left of a controller the recorder told while it is away: its
// name, address and alarms, no value, the link "recorder not connected".
attach::RecorderValues notConnected(const attach::RecorderValues& told);

// As stripRow says it of a controller of the window's own bus; "Not
// connected" for a controller notConnected() left.
StripRow stripRow(const attach::RecorderValues& values);

// "Attached to the recorder in /var/lib/tkrecord/oven1", and the link's state
// after it when the controller does not answer: "… – link: no answer".
QString attachedStatusText(const QString& folder, const attach::RecorderValues& values);

// The rings as the trace would hold them had it run beside the recorder
// until nowMsecs: one sample a tick back from now, each the last poll at or
// before it ([msecs, measure, setpoint, power], oldest first, NaN where not
// current), no data where that poll is older than staleMs or there is none.
// The newest sample is the one before the next index.
display::HistoryRings ringsFromHistory(const QList<QList<double>>& points, qint64 nowMsecs,
                                       qint64 staleMs = 10000);

// told, ringsFromHistory(points, nowMsecs), with what the window traced
// itself before the first of points (a recorder that restarted keeps no
// past): slot by slot back from each one's newest.
display::HistoryRings tracedBefore(display::HistoryRings told, const display::HistoryRings& traced,
                                   const QList<QList<double>>& points, qint64 nowMsecs);

} // namespace app
