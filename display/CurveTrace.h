#pragma once

// The curve trace: every tick of timerTraceCurves stores the last setpoint and
// measured temperature in the history rings and redraws the graph from
// scratch (grid, temperature scale, time labels, the high alarm's limit as a
// thin orange line when set, red setpoint and green measured curves, newest
// sample on the right edge).

#include <QLocale>
#include <QString>
#include <QTime>

#include <cstdint>
#include <vector>

namespace display {

class DrawingSurface;

// The time of day stored with each sample: the locale's time format with
// hours, minutes and seconds, without a time-zone name.
QString traceTimeText(const QTime& time, const QLocale& locale = QLocale());

// The locale's time format that traceTimeText uses.
QString traceTimeFormat(const QLocale& locale = QLocale());

// One tick: stores Data::setpointRaw / 10 and Data::measureRaw / 10 with
// timeOfDay at Data::historyIndex, advances it, and draws the whole picture on
// surface, whose user scale must be 110 x 110. When Data::timeScale is 0,
// Data::yValueMax equals Data::yValueMin, or a point of the curves would not
// be a finite number, the tick draws only the grid and the temperature
// labels; the sample is stored all the same.
void traceTick(DrawingSurface& surface, const QString& timeOfDay);

// The picture of the last tick drawn again from the rings, storing nothing:
// the rings have just been exchanged for another controller's.
void traceRedraw(DrawingSurface& surface);

// The history of a controller not shown, kept as the rings of Data keep the
// shown one's: filled with no data at first.
struct HistoryRings {
    HistoryRings();
    std::vector<float> setpoint;
    std::vector<float> measure;
    std::vector<QString> time;
    int16_t index = 0;
};

// What a tick stores into Data's rings, stored into rings not shown.
void storeSample(HistoryRings& rings, float measureRaw, float setpointRaw,
                 const QString& timeOfDay);
// Exchanges the rings with Data's: the shown controller's go aside, the
// other's are shown.
void swapWithShown(HistoryRings& rings);

} // namespace display
