#include "MetricsText.h"

#include <QLocale>

#include <functional>

#include "AlarmText.h"

namespace tkrecord {

namespace {

// Shortest text that reads back as the same double, as Prometheus writes it.
QByteArray number(double value) {
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

void family(QByteArray& out, const char* name, const char* type, const char* help) {
    out += QByteArray("# HELP ") + name + ' ' + help + '\n';
    out += QByteArray("# TYPE ") + name + ' ' + type + '\n';
}

// "controller=...,address=..." for a named controller, else nothing. The
// names are letters, digits, '-' and '_', so nothing needs escaping.
QByteArray controllerLabels(const ControllerMetrics& c) {
    if (c.name.isEmpty())
        return {};
    return "controller=\"" + c.name.toUtf8() + "\",address=\"" + QByteArray::number(c.address) +
           '"';
}

// One sample line: the name, the controller's labels followed by the
// series' own, and the value.
void sample(QByteArray& out, const char* name, const QByteArray& controller, const QByteArray& own,
            const QByteArray& value) {
    out += name;
    if (!controller.isEmpty() || !own.isEmpty()) {
        out += '{' + controller;
        if (!controller.isEmpty() && !own.isEmpty())
            out += ',';
        out += own + '}';
    }
    out += ' ' + value + '\n';
}

using Values = std::function<void(QByteArray& out, const char* name, const QByteArray& labels,
                                  const MetricsSnapshot& values)>;

// A family announced once, then each controller's samples.
void perController(QByteArray& out, const QList<ControllerMetrics>& controllers, const char* name,
                   const char* type, const char* help, const Values& values) {
    family(out, name, type, help);
    for (const ControllerMetrics& c : controllers)
        values(out, name, controllerLabels(c), c.values);
}

// A value that is only served while the answers are current.
Values whileCurrent(double MetricsSnapshot::*field) {
    return [field](QByteArray& out, const char* name, const QByteArray& labels,
                   const MetricsSnapshot& s) {
        if (s.current)
            sample(out, name, labels, {}, number(s.*field));
    };
}

} // namespace

QByteArray metricsText(const QList<ControllerMetrics>& controllers, quint64 linesDropped) {
    QByteArray out;
    out.reserve(2048 * qsizetype(controllers.size() + 1));
    perController(out, controllers, "tk_temperature_celsius", "gauge",
                  "Measured temperature; absent while the values are stale.",
                  whileCurrent(&MetricsSnapshot::temperatureCelsius));
    perController(out, controllers, "tk_setpoint_celsius", "gauge",
                  "Setpoint; absent while the values are stale.",
                  whileCurrent(&MetricsSnapshot::setpointCelsius));
    perController(out, controllers, "tk_output_power", "gauge",
                  "Output power in the controller's unit; absent while the values are stale.",
                  whileCurrent(&MetricsSnapshot::outputPower));
    perController(
        out, controllers, "tk_link_up", "gauge",
        "1 while the controller's answers are current, else 0.",
        [](QByteArray& o, const char* name, const QByteArray& labels, const MetricsSnapshot& s) {
            sample(o, name, labels, {}, s.current ? "1" : "0");
        });
    perController(
        out, controllers, "tk_last_answer_timestamp_seconds", "gauge",
        "Unix time of the last valid answer; absent before the first one.",
        [](QByteArray& o, const char* name, const QByteArray& labels, const MetricsSnapshot& s) {
            if (s.lastAnswerMsSinceEpoch)
                sample(o, name, labels, {}, number(double(*s.lastAnswerMsSinceEpoch) / 1000.0));
        });
    perController(
        out, controllers, "tk_polls_total", "counter", "Polls by their outcome.",
        [](QByteArray& o, const char* name, const QByteArray& labels, const MetricsSnapshot& s) {
            const std::pair<const char*, quint64> polls[] = {
                {"ok", s.pollsOk},
                {"no_answer", s.pollsNoAnswer},
                {"bad_answer", s.pollsBadAnswer},
                {"exception", s.pollsException},
                {"not_connected", s.pollsNotConnected},
            };
            for (const auto& [result, count] : polls)
                sample(o, name, labels, QByteArray("result=\"") + result + '"',
                       QByteArray::number(count));
        });
    perController(
        out, controllers, "tk_records_total", "counter", "Records written whole to the disk.",
        [](QByteArray& o, const char* name, const QByteArray& labels, const MetricsSnapshot& s) {
            sample(o, name, labels, {}, QByteArray::number(s.records));
        });
    quint64 recordErrors = 0;
    for (const ControllerMetrics& c : controllers)
        recordErrors += c.values.recordErrors;
    family(out, "tk_record_errors_total", "counter", "Records that could not be written.");
    sample(out, "tk_record_errors_total", {}, {}, QByteArray::number(recordErrors));
    family(out, "tk_log_lines_dropped_total", "counter",
           "State lines that could not be written to the output.");
    sample(out, "tk_log_lines_dropped_total", {}, {}, QByteArray::number(linesDropped));
    perController(
        out, controllers, "tk_alarm_active", "gauge",
        "1 while the alarm's condition holds, else 0; limits from conf.ini [Alarms].",
        [](QByteArray& o, const char* name, const QByteArray& labels, const MetricsSnapshot& s) {
            for (std::size_t i = 0; i < s.alarmsActive.size(); ++i)
                sample(o, name, labels,
                       QByteArray("alarm=\"") +
                           alarms::metricLabel(alarms::allAlarms[i]).toLatin1() + '"',
                       s.alarmsActive[i] ? "1" : "0");
        });
    return out;
}

QByteArray busRoundMetricText(std::optional<qint64> roundMs) {
    QByteArray out;
    family(out, "tk_bus_round_seconds", "gauge",
           "Line time of the last round of the answering controllers, each asked once.");
    if (roundMs)
        sample(out, "tk_bus_round_seconds", {}, {}, number(double(*roundMs) / 1000.0));
    return out;
}

QByteArray metricsText(const MetricsSnapshot& snapshot) {
    return metricsText({ControllerMetrics{{}, 0, snapshot}}, snapshot.linesDropped);
}

} // namespace tkrecord
