#pragma once

// Which slave addresses answer on a line the search found: each asked the
// poll request once, in turn, its answer checked as the bus checks it (an
// exception answer does not count: as in the search, it is some device, not
// a controller). Blocking, for tkrecord --probe, which does nothing else
// meanwhile.

#include <QList>
#include <QString>
#include <QStringList>

namespace tkrecord {

inline constexpr int defaultLastProbedAddress = 32;
// Long enough for a controller's answer, short enough for 32 silent ones.
inline constexpr int probeAnswerTimeoutMs = 200;

// Empty, with *error set, when the device does not open.
QList<int> answeringAddresses(const QString& device, qint32 speed, int lastAddress, QString* error);

// "[Controllers]" and one "controller-N=N" line per address.
QStringList controllersLines(const QList<int>& addresses);

} // namespace tkrecord
