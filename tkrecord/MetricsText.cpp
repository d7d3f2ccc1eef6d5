#include "MetricsText.h"

#include <QLocale>

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

void sample(QByteArray& out, const QByteArray& name, const QByteArray& value) {
    out += name + ' ' + value + '\n';
}

} // namespace

QByteArray metricsText(const MetricsSnapshot& s) {
    QByteArray out;
    out.reserve(2048);
    family(out, "tk_temperature_celsius", "gauge",
           "Measured temperature; absent while the values are stale.");
    if (s.current)
        sample(out, "tk_temperature_celsius", number(s.temperatureCelsius));
    family(out, "tk_setpoint_celsius", "gauge", "Setpoint; absent while the values are stale.");
    if (s.current)
        sample(out, "tk_setpoint_celsius", number(s.setpointCelsius));
    family(out, "tk_output_power", "gauge",
           "Output power in the controller's unit; absent while the values are stale.");
    if (s.current)
        sample(out, "tk_output_power", number(s.outputPower));
    family(out, "tk_link_up", "gauge", "1 while the controller's answers are current, else 0.");
    sample(out, "tk_link_up", s.current ? "1" : "0");
    family(out, "tk_last_answer_timestamp_seconds", "gauge",
           "Unix time of the last valid answer; absent before the first one.");
    if (s.lastAnswerMsSinceEpoch)
        sample(out, "tk_last_answer_timestamp_seconds",
               number(double(*s.lastAnswerMsSinceEpoch) / 1000.0));
    family(out, "tk_polls_total", "counter", "Polls by their outcome.");
    const std::pair<const char*, quint64> polls[] = {
        {"ok", s.pollsOk},
        {"no_answer", s.pollsNoAnswer},
        {"bad_answer", s.pollsBadAnswer},
        {"exception", s.pollsException},
        {"not_connected", s.pollsNotConnected},
    };
    for (const auto& [result, count] : polls)
        sample(out, QByteArray("tk_polls_total{result=\"") + result + "\"}",
               QByteArray::number(count));
    family(out, "tk_records_total", "counter", "Records written whole to the disk.");
    sample(out, "tk_records_total", QByteArray::number(s.records));
    family(out, "tk_record_errors_total", "counter", "Records that could not be written.");
    sample(out, "tk_record_errors_total", QByteArray::number(s.recordErrors));
    family(out, "tk_log_lines_dropped_total", "counter",
           "State lines that could not be written to the output.");
    sample(out, "tk_log_lines_dropped_total", QByteArray::number(s.linesDropped));
    family(out, "tk_alarm_active", "gauge",
           "1 while the alarm's condition holds, else 0; limits from conf.ini [Alarms].");
    for (std::size_t i = 0; i < s.alarmsActive.size(); ++i)
        sample(out,
               QByteArray("tk_alarm_active{alarm=\"") +
                   alarms::metricLabel(alarms::allAlarms[i]).toLatin1() + "\"}",
               s.alarmsActive[i] ? "1" : "0");
    return out;
}

} // namespace tkrecord
