#include "TrailText.h"

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

QList<EventRow> eventRows(const RunTrail& trail, const QTimeZone& zone) {
    QList<EventRow> rows;
    for (const TrailMarker& marker : trail.markers)
        rows.append({timeText(marker.timeMs, zone), marker.controller, marker.text});
    return rows;
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
        for (const EventRow& row : eventRows(trail, zone))
            html += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>")
                        .arg(row.time.toHtmlEscaped(),
                             (row.controller.isEmpty()
                                  ? row.text
                                  : row.controller + QStringLiteral(": ") + row.text)
                                 .toHtmlEscaped());
        html += QStringLiteral("</table>");
    }
    return html + QStringLiteral("<br>");
}

} // namespace tkview
