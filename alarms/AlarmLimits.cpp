#include "AlarmLimits.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace alarms {

namespace {

struct Range {
    double min;
    double max;
    const char* unit;
};

// Temperatures as the controller's registers can hold them (tenths of a
// degree in 16 bits); times up to a week.
Range rangeOf(AlarmKey key) {
    switch (key) {
    case AlarmKey::HighLimit:
        return {-3276.8, 3276.7, "°C"};
    case AlarmKey::HighHysteresis:
        return {0, 3276.7, "°C"};
    case AlarmKey::DeviationBand:
        return {0.1, 3276.7, "°C"};
    case AlarmKey::DeviationDelay:
        return {0, 10080, "min"};
    case AlarmKey::HeatUpLimit:
        return {0.1, 10080, "min"};
    case AlarmKey::LinkLostAfter:
        return {1, 86400, "s"};
    }
    return {0, 0, ""};
}

} // namespace

QString keyName(AlarmKey key) {
    switch (key) {
    case AlarmKey::HighLimit:
        return QStringLiteral("HighLimit");
    case AlarmKey::HighHysteresis:
        return QStringLiteral("HighHysteresis");
    case AlarmKey::DeviationBand:
        return QStringLiteral("DeviationBand");
    case AlarmKey::DeviationDelay:
        return QStringLiteral("DeviationDelay");
    case AlarmKey::HeatUpLimit:
        return QStringLiteral("HeatUpLimit");
    case AlarmKey::LinkLostAfter:
        return QStringLiteral("LinkLostAfter");
    }
    return {};
}

QString valueRefusal(AlarmKey key, const QString& text, std::optional<double> number) {
    const QString quoted = keyName(key) + QStringLiteral(" \"") + text + QLatin1Char('"');
    if (!number)
        return quoted + QStringLiteral(" is not a number");
    const Range r = rangeOf(key);
    // NaN fails both comparisons, so it is tested on its own.
    if (std::isnan(*number) || *number < r.min || *number > r.max)
        return quoted +
               QStringLiteral(" out of range, %1 to %2 %3")
                   .arg(QString::number(r.min), QString::number(r.max), QString::fromUtf8(r.unit));
    return {};
}

std::optional<double> confNumber(const QString& text) {
    // As every number key is read: what follows the number (a unit) is left.
    static const QRegularExpression leading(
        QStringLiteral(R"(^\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?)"));
    const QRegularExpressionMatch match = leading.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = QLocale::c().toDouble(match.captured(0).trimmed(), &ok);
    // Only beyond a double's range does a match fail to read: out of every range.
    return ok ? value : HUGE_VAL;
}

} // namespace alarms
