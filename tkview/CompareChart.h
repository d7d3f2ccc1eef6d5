#pragma once

// Runs laid over each other on one chart, and the PDF report of them: the
// chart, then each run's summary side by side.

#include <QDateTime>
#include <QFont>
#include <QRectF>
#include <QString>

class QPainter;
class QPaintDevice;

namespace tkview {

struct Comparison;

// Draws the runs' temperatures (solid) and setpoints (dashed), a colour per
// run, over the time since each run's zero.
void paintComparison(QPainter& painter, const QRectF& area, const Comparison& comparison,
                     const QFont& font, const QPaintDevice* device, bool antialiased);

// Writes the report of comparison to fileName; an empty string or why it failed.
QString writeComparisonReport(const QString& fileName, const Comparison& comparison,
                              const QDateTime& madeAt);

// The chart alone, as a PNG of size.
QString writeComparisonPng(const QString& fileName, const Comparison& comparison,
                           const QSize& size);

} // namespace tkview
