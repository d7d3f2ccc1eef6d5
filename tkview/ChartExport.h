#pragma once

// The chart and the report as files, with or without a window. Each returns
// an empty string when done, or the reason it failed.

#include <QSize>
#include <QString>

#include "TimeWindow.h"

namespace tkview {

struct Recordings;

struct ChartView {
    TimeWindow window;
    bool showPower = true;
    double bandDegrees = 5.0;
};

QString writeChartPng(const QString& fileName, const Recordings& recordings, const ChartView& view,
                      const QSize& size);
QString writeChartSvg(const QString& fileName, const Recordings& recordings, const ChartView& view,
                      const QSize& size);
} // namespace tkview
