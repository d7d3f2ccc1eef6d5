#include "TrailText.h"

#include <QLocale>
#include <QStringList>

#include "SummaryText.h"

namespace tkview {

namespace {

void addDistinct(QStringList& values, const QString& value) {
    if (!value.isEmpty() && !values.contains(value))
        values << value;
}

} // namespace

QList<QPair<QString, QString>> loadLines(const RunTrail& trail) {
    QStringList equipment;
    for (const TrailRun& run : trail.runs)
        addDistinct(equipment, run.controller);
    for (const TrailMarker& marker : trail.markers)
        addDistinct(equipment, marker.controller);
    QList<QPair<QString, QString>> lines;
    if (!equipment.isEmpty())
        lines.append({QStringLiteral("Equipment"), equipment.join(QStringLiteral("; "))});
    const std::pair<QString, QString sealing::RunIdentity::*> fields[] = {
        {QStringLiteral("Batch"), &sealing::RunIdentity::batch},
        {QStringLiteral("Part"), &sealing::RunIdentity::part},
        {QStringLiteral("Customer"), &sealing::RunIdentity::customer},
        {QStringLiteral("Operator"), &sealing::RunIdentity::operatorName},
        {QStringLiteral("Note"), &sealing::RunIdentity::note},
    };
    for (const auto& [name, member] : fields) {
        QStringList values;
        for (const TrailRun& run : trail.runs)
            addDistinct(values, run.identity.*member);
        if (!values.isEmpty())
            lines.append({name, values.join(QStringLiteral("; "))});
    }
    return lines;
}

QList<EventRow> eventRows(const RunTrail& trail, const QTimeZone& zone, qsizetype limit) {
    QList<EventRow> rows;
    for (std::size_t i = 0; i < trail.markers.size() && rows.size() < limit; ++i) {
        const TrailMarker& marker = trail.markers[i];
        rows.append({QString::number(i + 1), timeText(marker.timeMs, zone), marker.controller,
                     marker.text});
    }
    return rows;
}

QString eventsLeftOutText(const RunTrail& trail, qsizetype listed) {
    const qsizetype more = qsizetype(trail.markers.size()) - listed;
    if (more <= 0)
        return {};
    return QStringLiteral("%1 more %2 in the audit trail, not listed here")
        .arg(QLocale(QLocale::English).toString(more),
             more == 1 ? QStringLiteral("event is") : QStringLiteral("events are"));
}

QString trailHtml(const RunTrail& trail, const QTimeZone& zone) {
    if (trail.isEmpty())
        return {};
    QString html = QStringLiteral("<b>Load</b><table>");
    for (const auto& [name, value] : loadLines(trail))
        html += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>")
                    .arg(name.toHtmlEscaped(), value.toHtmlEscaped());
    html += QStringLiteral("</table>");
    if (!trail.markers.empty()) {
        html += QStringLiteral("<b>Events and alarms</b><table>");
        const QList<EventRow> rows = eventRows(trail, zone);
        for (const EventRow& row : rows)
            html += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>")
                        .arg(row.time.toHtmlEscaped(),
                             (row.controller.isEmpty()
                                  ? row.text
                                  : row.controller + QStringLiteral(": ") + row.text)
                                 .toHtmlEscaped());
        html += QStringLiteral("</table>");
        if (const QString more = eventsLeftOutText(trail, rows.size()); !more.isEmpty())
            html += QStringLiteral("<i>%1</i><br>").arg(more.toHtmlEscaped());
    }
    return html + QStringLiteral("<br>");
}

} // namespace tkview
