#pragma once

// The summary's figures as the panel beside the chart and the report show
// them: one label and one value per line.

#include <QList>
#include <QLocale>
#include <QPair>
#include <QString>
#include <QTimeZone>

#include "Summary.h"

namespace tkview {

// A duration as "2 d 03:04:05", "03:04:05" or "4.5 s".
QString durationText(std::int64_t ms);

// "1 file", "2 files": a count and its noun.
QString countText(qint64 count, const QString& noun);

// A time as "2026-12-08 21:33:01" in zone.
QString timeText(std::int64_t ms, const QTimeZone& zone);

// The lines of the summary: "First record", "Last record", "Duration",
// "Records", "Gaps", "Minimum", "Maximum", "Mean", "Largest overshoot",
// "Within ±B °C".
QList<QPair<QString, QString>> summaryLines(const Summary& summary, const QTimeZone& zone);

} // namespace tkview
