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
    QString number; // the marker's number on a printed chart
    QString time;
    QString controller;
    QString text;
};
// Events listed in a table at most: a trail with thousands of marks still
// gives a report of a few pages, which says how many were left out.
inline constexpr qsizetype listedEvents = 250;

// A row per marker, in time order, the first `limit` of them.
QList<EventRow> eventRows(const RunTrail& trail, const QTimeZone& zone,
                          qsizetype limit = listedEvents);

// "99,750 more events are in the audit trail, not listed here", or empty
// when the rows list every one.
QString eventsLeftOutText(const RunTrail& trail, qsizetype listed);

// The load and the events as rich text for the window's side panel; empty
// without a trail.
QString trailHtml(const RunTrail& trail, const QTimeZone& zone);

} // namespace tkview
