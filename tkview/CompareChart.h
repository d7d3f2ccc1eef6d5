#pragma once

// Runs laid over each other on one chart, and the PDF report of them: the
// chart, then each run's summary side by side.

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QFontMetricsF>
#include <QList>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <cstddef>

class QPainter;
class QPaintDevice;

namespace tkview {

struct Comparison;

// How a run is drawn: eight colours, then the same colours again with the
// temperature's line broken in another way, so that no two runs of 40 look
// alike.
struct RunLook {
    QColor colour;
    QList<qreal> dashes; // in line widths; empty for a solid line
};
RunLook runLook(std::size_t run);

// Text cut into lines of at most width: at blanks, and inside a word only
// where the word alone is wider.
QStringList wrappedLines(const QString& text, const QFontMetricsF& metrics, double width);

// Draws the runs' temperatures (each in its look) and setpoints (thin and
// dashed, in the run's colour) over the time since each run's zero.
void paintComparison(QPainter& painter, const QRectF& area, const Comparison& comparison,
                     const QFont& font, const QPaintDevice* device, bool antialiased);

// Writes the report of comparison to fileName; an empty string or why it failed.
QString writeComparisonReport(const QString& fileName, const Comparison& comparison,
                              const QDateTime& madeAt);

// The chart alone, as a PNG of size.
QString writeComparisonPng(const QString& fileName, const Comparison& comparison,
                           const QSize& size);

} // namespace tkview
