#pragma once

// The PDF report to hand over with a batch: on A4 landscape, the files read
// (name, records, SHA-256), the period, the summary and the chart as vector
// graphics, with the program's version and the time it was made in the footer.

#include <QDateTime>
#include <QString>

#include "ChartExport.h"

namespace tkview {

// Writes the report of view to fileName; an empty string or why it failed.
QString writeReport(const QString& fileName, const Recordings& recordings, const ChartView& view,
                    const QDateTime& madeAt);

} // namespace tkview
