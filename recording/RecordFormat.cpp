#include "RecordFormat.h"

#include <cmath>

#include "LocaleFormats.h"

namespace recording {

QString recordFileNameFor(const QDateTime& start) {
    // The C locale keeps the name in ASCII digits whatever the user's locale.
    return QLatin1String("REC_") +
           QLocale::c().toString(start, QStringLiteral("yyyy-MM-dd_HH-mm-ss")) +
           QLatin1String(".csv");
}

QString headerLine() {
    return QLatin1String("Time;Setpoint;Temperature;Power;") + lineEnd;
}

QString rawNumber(float value) {
    // The registers are 16-bit whole numbers, so the rounding never changes a
    // decoded value; adding 0.0 turns a negative zero into "0".
    return QString::number(std::round(double(value)) + 0.0, 'f', 0);
}

QString recordLine(const QDateTime& now, float setpoint, float measure, float power,
                   const QLocale& locale) {
    const QChar sep = QLatin1Char(';');
    return QLatin1Char('"') + userShortDate(now.date(), locale) + QLatin1Char(' ') +
           userLongTime(now.time(), locale) + QLatin1Char('"') + sep + rawNumber(setpoint) + sep +
           rawNumber(measure) + sep + rawNumber(power) + sep + lineEnd;
}

} // namespace recording
