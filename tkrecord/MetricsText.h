#pragma once

// The live values in the Prometheus text exposition format (version 0.0.4).
// Pure: the server hands out whatever this returns.

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>

#include "AlarmRules.h"
#include <optional>

namespace tkrecord {

struct MetricsSnapshot {
    // The values are current: a valid answer came and the stale rule has
    // not put them back to their markers.
    bool current = false;
    double temperatureCelsius = 0;
    double setpointCelsius = 0;
    double outputPower = 0;
    std::optional<qint64> lastAnswerMsSinceEpoch;
    quint64 pollsOk = 0;
    quint64 pollsNoAnswer = 0;
    quint64 pollsBadAnswer = 0;
    quint64 pollsException = 0;
    quint64 pollsNotConnected = 0;
    quint64 records = 0;
    quint64 recordErrors = 0;
    // State lines the output did not take (its reader gone, a full pipe).
    quint64 linesDropped = 0;
    // As alarms::Alarm orders them.
    std::array<bool, alarms::allAlarms.size()> alarmsActive{};
};

// One controller of the recorder's bus. Without a name its series carry no
// labels of their own: the recorder of one controller and no [Controllers]
// section, whose metrics stay as they always were.
struct ControllerMetrics {
    QString name;
    int address = 0;
    MetricsSnapshot values;
};

// Every metric with its HELP and TYPE lines, each family's samples in the
// controllers' order; the three values only while current, so that a stale
// 888.8 never reaches a graph or an alert. Record errors and dropped state
// lines are the recorder's own: one unlabelled sample each, the errors summed.
QByteArray metricsText(const QList<ControllerMetrics>& controllers, quint64 linesDropped);

// The recorder of one unnamed controller.
QByteArray metricsText(const MetricsSnapshot& snapshot);

// A bus's last round of its answering controllers (each asked once), in
// seconds of the line's time: above the poll interval they cannot keep their
// pace. The family with no sample before the first round ends.
QByteArray busRoundMetricText(std::optional<qint64> roundMs);

// The Content-Type of that text.
inline constexpr char metricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

} // namespace tkrecord
