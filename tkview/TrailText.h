#pragma once

// What the trail says of the shown runs, as the side panel and the report
// give it: the load's fields and the table of events and alarms.

#include <QList>
#include <QPair>
#include <QString>
#include <QTimeZone>

#include "RunTrail.h"

namespace tkview {

// "Equipment", "Batch", "Part", "Customer", "Operator", "Note": those the
// runs give, the values of several runs joined by "; ".
QList<QPair<QString, QString>> loadLines(const RunTrail& trail);

struct EventRow {
    QString time;
    QString controller;
    QString text;
};
// A row per marker, in time order.
QList<EventRow> eventRows(const RunTrail& trail, const QTimeZone& zone);

// The load and the events as rich text for the window's side panel; empty
// without a trail.
QString trailHtml(const RunTrail& trail, const QTimeZone& zone);

} // namespace tkview
