#include "SummaryText.h"

#include <QDateTime>

namespace tkview {

namespace {

QString degreesText(const std::optional<double>& value) {
    return value ? QString::number(*value, 'f', 1) + QStringLiteral(" °C") : QStringLiteral("–");
}

} // namespace

QString durationText(std::int64_t ms) {
    if (ms < 60'000)
        return QString::number(double(ms) / 1000.0, 'f', ms % 1000 == 0 ? 0 : 1) +
               QStringLiteral(" s");
    const std::int64_t seconds = ms / 1000;
    const QString clock = QStringLiteral("%1:%2:%3")
                              .arg(seconds / 3600 % 24, 2, 10, QLatin1Char('0'))
                              .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                              .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return seconds >= 86400 ? QStringLiteral("%1 d %2").arg(seconds / 86400).arg(clock) : clock;
}

QString countText(qint64 count, const QString& noun) {
    return QStringLiteral("%1 %2%3").arg(count).arg(noun,
                                                    count == 1 ? QString() : QStringLiteral("s"));
}

QString timeText(std::int64_t ms, const QTimeZone& zone) {
    return QDateTime::fromMSecsSinceEpoch(ms, zone).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QList<QPair<QString, QString>> summaryLines(const Summary& summary, const QTimeZone& zone) {
    QList<QPair<QString, QString>> lines;
    const bool any = summary.records > 0;
    const QString none = QStringLiteral("–");
    lines.append({QStringLiteral("First record"), any ? timeText(summary.firstMs, zone) : none});
    lines.append({QStringLiteral("Last record"), any ? timeText(summary.lastMs, zone) : none});
    lines.append({QStringLiteral("Duration"), durationText(summary.durationMs)});
    lines.append({QStringLiteral("Records"), QString::number(summary.records)});
    lines.append({QStringLiteral("Gaps"), summary.gapCount == 0
                                              ? QStringLiteral("none")
                                              : QStringLiteral("%1, %2 in all")
                                                    .arg(summary.gapCount)
                                                    .arg(durationText(summary.gapMs))});
    lines.append({QStringLiteral("Minimum"), degreesText(summary.minimum)});
    lines.append({QStringLiteral("Maximum"), degreesText(summary.maximum)});
    lines.append({QStringLiteral("Mean"), degreesText(summary.mean)});
    lines.append({QStringLiteral("Largest overshoot"),
                  summary.largestOvershoot ? QStringLiteral("%1 at %2")
                                                 .arg(degreesText(summary.largestOvershoot),
                                                      timeText(summary.largestOvershootAtMs, zone))
                                           : QStringLiteral("none")});
    const double share = summary.durationMs > 0
                             ? 100.0 * double(summary.withinBandMs) / double(summary.durationMs)
                             : 0.0;
    lines.append({QStringLiteral("Within ±%1 °C").arg(summary.bandDegrees),
                  QStringLiteral("%1 (%2 %)")
                      .arg(durationText(summary.withinBandMs))
                      .arg(share, 0, 'f', 1)});
    return lines;
}

} // namespace tkview
